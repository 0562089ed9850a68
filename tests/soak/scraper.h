#ifndef TARN_TESTS_SOAK_SCRAPER_H
#define TARN_TESTS_SOAK_SCRAPER_H

// Scrapes the metrics endpoint every 100 ms, the text page and now and
// then the protobuf one, and sends a junk request every second. A scrape
// is valid when it is answered 200 and parses, and when no counter of the
// text page went down since the scrape before within the same launcher
// process. A launcher that is between processes is counted apart.

#include <map>
#include <string>

struct ScrapeFigures {
    long long valid = 0;
    long long invalid = 0;
    long long launcherAway = 0;  // nothing listened: tarn-run was restarting it
    long long counterFalls = 0;
    long long junkAnswered = 0;  // with the status expected
    long long junkWrong = 0;
    std::string firstProblem;
};

class Scraper {
public:
    explicit Scraper(int port) : port_(port) {}

    void Step(long long nowMs);
    const ScrapeFigures& Figures() const { return figures_; }

private:
    void Scrape(bool protobuf);
    void Junk();
    bool TextPageValid(const std::string& body);
    void Problem(const std::string& what);

    int port_;
    long long nextScrapeMs_ = 0;
    long long nextJunkMs_ = 500;
    long long scrapes_ = 0;
    int junkKind_ = 0;
    std::string processStart_;  // tarn_start_time_seconds of the last page
    std::map<std::string, double> counters_;
    ScrapeFigures figures_;
};

#endif
