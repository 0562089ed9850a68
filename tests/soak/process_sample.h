#ifndef TARN_TESTS_SOAK_PROCESS_SAMPLE_H
#define TARN_TESTS_SOAK_PROCESS_SAMPLE_H

// A process's resident memory and open descriptors, from /proc.
//
// Under qemu-i386-static the process is qemu's: the i386 program's own
// memory is what is resident in the mappings below 4 GiB, its address
// space; qemu's translated code and bookkeeping lie above, and grow with
// every library the program loads anew.

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/types.h>

struct ProcessSample {
    pid_t pid = -1;
    long residentKilobytes = -1;
    long lowKilobytes = -1;  // resident in mappings below 4 GiB
    int descriptors = -1;
    long long atMs = 0;
};

inline ProcessSample Sample(pid_t pid, long long atMs)
{
    ProcessSample sample;
    sample.pid = pid;
    sample.atMs = atMs;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            sample.residentKilobytes = std::atol(line.c_str() + 6);
    std::ifstream maps("/proc/" + std::to_string(pid) + "/smaps");
    bool low = false;
    for (std::string line; std::getline(maps, line);) {
        if (line.rfind("Rss:", 0) == 0 && low)
            sample.lowKilobytes += std::atol(line.c_str() + 4);
        else if (line.find('-') < line.find(' ') && line.find(' ') != std::string::npos) {
            low = std::strtoull(line.c_str(), nullptr, 16) < (1ULL << 32);
            sample.lowKilobytes = sample.lowKilobytes < 0 ? 0 : sample.lowKilobytes;
        }
    }
    if (DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        sample.descriptors = 0;
        while (dirent* entry = readdir(fds))
            if (entry->d_name[0] != '.')
                ++sample.descriptors;
        closedir(fds);
    }
    return sample;
}

#endif
