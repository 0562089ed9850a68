#include "scraper.h"

#include "http_client.h"

#include <cstdlib>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Short: the soak's one loop waits for it, and every client with it, so a
// wait through an engine restart would stall the readers into a cut.
constexpr int kAnswerMs = 250;
const char kProtobufAccept[] =
    "application/vnd.google.protobuf;proto=io.prometheus.client.MetricFamily;encoding=delimited";

struct Junk {
    std::string request;
    const char* status;
};

const Junk kJunk[] = {
    {"GET /elsewhere HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "HTTP/1.1 404 "},
    {"DELETE /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "HTTP/1.1 405 "},
    {"GET /metrics HTTP/1.1\r\nX-Soak: " + std::string(5000, 'j') + "\r\n\r\n", "HTTP/1.1 431 "},
    {"\x16\x03\x01 not http at all\r\n\r\n", "HTTP/1.1 400 "},
};

// The answer to request, or "" when nothing listens.
std::string Exchange(int port, const std::string& request)
{
    int fd = ConnectLoopback(port);
    if (fd < 0)
        return "";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
        close(fd);
        return "";
    }
    return ReadUntilClosed(fd, kAnswerMs);
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsCounter(const std::string& name)
{
    std::string bare = name.substr(0, name.find('{'));
    return EndsWith(bare, "_total") || EndsWith(bare, "_count") || EndsWith(bare, "_bucket") ||
           EndsWith(bare, "_sum");
}

// Length-delimited messages that fill the body exactly.
bool DelimitedWhole(const std::string& body)
{
    size_t at = 0;
    int messages = 0;
    while (at < body.size()) {
        unsigned long long length = 0;
        int shift = 0;
        for (; at < body.size() && shift < 64; shift += 7) {
            unsigned char byte = static_cast<unsigned char>(body[at++]);
            length |= static_cast<unsigned long long>(byte & 0x7f) << shift;
            if (!(byte & 0x80))
                break;
        }
        if (length == 0 || length > body.size() - at)
            return false;
        at += length;
        ++messages;
    }
    return messages > 0;
}

}  // namespace

void Scraper::Step(long long nowMs)
{
    if (nowMs >= nextScrapeMs_) {
        Scrape(++scrapes_ % 10 == 0);
        nextScrapeMs_ = nowMs + 100;
    }
    if (nowMs >= nextJunkMs_) {
        Junk();
        nextJunkMs_ = nowMs + 1000;
    }
}

void Scraper::Scrape(bool protobuf)
{
    std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (protobuf)
        request += std::string("Accept: ") + kProtobufAccept + "\r\n";
    std::string answer = Exchange(port_, request + "\r\n");
    if (answer.empty()) {
        ++figures_.launcherAway;
        return;
    }
    size_t head = answer.find("\r\n\r\n");
    std::string body = head == std::string::npos ? "" : answer.substr(head + 4);
    bool ok = answer.rfind("HTTP/1.1 200 ", 0) == 0 && head != std::string::npos;
    if (ok && protobuf)
        ok = answer.find("Content-Type: application/vnd.google.protobuf") < head && DelimitedWhole(body);
    else if (ok)
        ok = TextPageValid(body);
    if (ok)
        ++figures_.valid;
    else
        Problem("scrape: " + answer.substr(0, 200));
}

// Every line a comment or "NAME[{LABELS}] NUMBER"; the counters compared
// with the page before when it came from the same process.
bool Scraper::TextPageValid(const std::string& body)
{
    std::map<std::string, double> counters;
    std::string start;
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        size_t space = line.rfind(' ');
        char* end = nullptr;
        double value = space == std::string::npos ? 0 : std::strtod(line.c_str() + space + 1, &end);
        if (space == std::string::npos || space == 0 || *end != '\0')
            return false;
        std::string name = line.substr(0, space);
        if (name == "tarn_start_time_seconds")
            start = line.substr(space + 1);
        if (IsCounter(name))
            counters[name] = value;
    }
    if (start.empty() || counters.find("tarn_frames_total") == counters.end())
        return false;
    if (start == processStart_) {
        for (const auto& [name, value] : counters) {
            auto before = counters_.find(name);
            if (before != counters_.end() && value < before->second) {
                ++figures_.counterFalls;
                Problem("counter fell: " + name);
            }
        }
    }
    processStart_ = start;
    counters_ = counters;
    return true;
}

void Scraper::Junk()
{
    const struct Junk& junk = kJunk[junkKind_++ % (sizeof(kJunk) / sizeof(kJunk[0]))];
    std::string answer = Exchange(port_, junk.request);
    if (answer.empty())
        return;
    if (answer.rfind(junk.status, 0) == 0 || answer.rfind("HTTP/1.1 503 ", 0) == 0)
        ++figures_.junkAnswered;
    else {
        ++figures_.junkWrong;
        Problem("junk: " + answer.substr(0, 100));
    }
}

void Scraper::Problem(const std::string& what)
{
    if (figures_.firstProblem.empty())
        figures_.firstProblem = what;
    if (what.rfind("scrape", 0) == 0)
        ++figures_.invalid;
}
