// Soak run of the real launcher: a million frames on a pseudo-terminal with
// bursts of typed input and an engine restart every 5000 frames. Prints the
// launcher's resident memory and open descriptors at the start and the end;
// both should stay flat.
#include "monotonic.h"
#include "pty_job.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr int kFramesPerStart = 5000;

struct Sample {
    long residentKilobytes = -1;
    int descriptors = -1;
};

Sample Measure(pid_t pid)
{
    Sample sample;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            sample.residentKilobytes = std::atol(line.c_str() + 6);
    if (DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        sample.descriptors = 0;
        while (dirent* entry = readdir(fds))
            if (entry->d_name[0] != '.')
                ++sample.descriptors;
        closedir(fds);
    }
    return sample;
}

// A burst of typing: a command, cursor keys, a history recall and edits.
const std::string kBurst = "echo soak test line\r\x1b[A\x1b[D\x1b[D\x7f\x7fxy\x1bOC\r";

}  // namespace

int main(int argc, char** argv)
{
    long totalFrames = argc > 1 ? std::atol(argv[1]) : 1000000;
    long starts = totalFrames / kFramesPerStart;
    ServerDir dir;
    PtyOptions options;
    options.environment = {{"TARN_TEST_FRAMES", std::to_string(kFramesPerStart)},
                           {"TARN_TEST_CODES", "0"},
                           {"TARN_TEST_LAST_START", std::to_string(starts)},
                           {"TARN_TEST_QUIET", "1"},
                           {"TARN_TEST_NET_SLEEP_US", "20"}};
    long long begin = MonotonicNanoseconds();
    PtyJob job(dir, {"-pingboost", "3"}, options);
    if (!job.WaitRaw()) {
        std::printf("soak: the launcher did not start\n");
        return 1;
    }
    job.ReadFor(500);
    Sample first = Measure(job.Launcher());
    Sample last = first;
    std::string end;
    int bursts = 0;
    while (end.empty()) {
        job.Type(kBurst);
        ++bursts;
        job.ReadFor(20);  // keeps the terminal's output drained
        Sample now = Measure(job.Launcher());
        if (now.residentKilobytes > 0)
            last = now;
        end = job.NextEvent(80);
    }
    double seconds = (MonotonicNanoseconds() - begin) / 1e9;
    size_t starts_seen = Matching(dir.Log(), "initialize cycle=").size();
    size_t lines = Matching(dir.Log(), "submit").size();
    std::printf("| | start | end |\n|---|---|---|\n");
    std::printf("| resident memory (kB) | %ld | %ld |\n", first.residentKilobytes, last.residentKilobytes);
    std::printf("| open descriptors | %d | %d |\n", first.descriptors, last.descriptors);
    std::printf("\nframes: %zu in %zu engine starts, %.1f s; typed bursts: %d, lines handed to the engine: %zu; end: %s\n",
                starts_seen * kFramesPerStart, starts_seen, seconds, bursts, lines, end.c_str());
    bool flat = last.residentKilobytes <= first.residentKilobytes + 256 &&
                last.descriptors == first.descriptors && end == "exited 0" &&
                starts_seen == static_cast<size_t>(starts);
    std::printf("%s\n", flat ? "soak: flat" : "soak: NOT flat or not finished");
    return flat ? 0 : 1;
}
