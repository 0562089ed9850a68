#ifndef TARN_TESTS_SOAK_STDOUT_READER_H
#define TARN_TESTS_SOAK_STDOUT_READER_H

// The reader of the launcher's standard output, the pseudo-terminal: it
// reads everything there is, or 1 KiB every 20 ms, or nothing, as the
// schedule says.

#include "output_check.h"
#include "pty_job.h"
#include "schedule.h"

class StdoutReader {
public:
    StdoutReader(PtyJob& job, const Schedule& schedule, int lineBytes)
        : job_(job), schedule_(schedule), check_(lineBytes, true)
    {
    }

    void Step(long long nowMs)
    {
        while (span_ + 1 < schedule_.paces.size() && nowMs >= schedule_.paces[span_].untilMs)
            ++span_;
        ReaderPace pace = schedule_.paces[span_].pace;
        if (pace == ReaderPace::kFast)
            Drain();
        else if (pace == ReaderPace::kSlow && nowMs >= nextSlowReadMs_) {
            Take(kSlowBytes);
            nextSlowReadMs_ = nowMs + kSlowEveryMs;
        }
    }

    void Drain()
    {
        while (Take(65536) > 0) {
        }
    }

    const OutputFigures& Figures() const { return check_.Figures(); }

private:
    static constexpr size_t kSlowBytes = 1024;
    static constexpr long long kSlowEveryMs = 20;

    size_t Take(size_t most)
    {
        std::string read = job_.ReadSome(most);
        check_.Feed(read.data(), read.size());
        return read.size();
    }

    PtyJob& job_;
    const Schedule& schedule_;
    OutputCheck check_;
    size_t span_ = 0;
    long long nextSlowReadMs_ = 0;
};

#endif
