#ifndef TARN_TESTS_SOAK_PROCESS_SAMPLE_H
#define TARN_TESTS_SOAK_PROCESS_SAMPLE_H

// A process's resident memory and open descriptors, from /proc.

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/types.h>

struct ProcessSample {
    pid_t pid = -1;
    long residentKilobytes = -1;
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
