#ifndef TARN_TESTS_SOAK_OUTPUT_CHECK_H
#define TARN_TESTS_SOAK_OUTPUT_CHECK_H

// What one reader of the launcher's output received, checked as it comes:
// the engine's numbered lines ("line N " padded with N's last digit) must
// arrive whole, once and in order, and every number missing between two
// that arrived must be covered by the "Output was blocked: K lines
// dropped." notices that arrived in their place. K counts every dropped
// line, the launcher's and the echoes too, so K may exceed the numbers
// missing, never fall short of them.

#include <string>

struct OutputFigures {
    long long received = 0;     // numbered lines, whole
    long long missing = 0;      // numbers that did not arrive
    long long gaps = 0;
    long long unannounced = 0;  // missing numbers no notice covered
    long long announced = 0;    // the notices' K, summed
    long long notices = 0;
    long long malformed = 0;    // numbered lines not whole
    long long cutByCrash = 0;   // the last line of a crashed launcher, which tarn-run's note ends
    long long engineStarts = 0; // where the numbers began again
    long long refusals = 0;     // "Refused: line longer than ..."
    bool turnedAway = false;    // "Refused: too many clients."
    std::string firstMalformed;
};

class OutputCheck {
public:
    // fromFirst: the reader was there from the first line printed, so the
    // numbers must start at 1.
    OutputCheck(int lineBytes, bool fromFirst);

    void Feed(const char* bytes, size_t size);
    const OutputFigures& Figures() const { return figures_; }

private:
    void Line(std::string line);
    void Numbered(const std::string& line);
    void Malformed(const std::string& line);
    void Missing(long long count);

    int lineBytes_;
    long long last_ = -1;  // the last number received; -1 before any
    long long pending_ = 0;  // announced since the last numbered line
    std::string cut_;        // a numbered line cut short: whole only if a notice follows
    std::string partial_;
    OutputFigures figures_;
};

#endif
