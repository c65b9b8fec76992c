// Clocks and medians: the arithmetic every figure shares.
#include "measure.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

std::int64_t now_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

double median_of(std::vector<double> samples) {
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    const std::size_t middle = samples.size() / 2;
    if (samples.size() % 2 == 1)
        return samples[middle];
    return (samples[middle - 1] + samples[middle]) / 2.0;
}

long current_rss_kib() {
    std::FILE *statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return 0;
    long size_pages = 0;
    long resident_pages = 0;
    const int fields = std::fscanf(statm, "%ld %ld", &size_pages, &resident_pages);
    std::fclose(statm);
    if (fields != 2)
        return 0;
    return resident_pages * (sysconf(_SC_PAGESIZE) / 1024);
}

long online_cores() {
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return cores < 1 ? 1 : cores;
}

double load_average() {
    double load = -1;
    return getloadavg(&load, 1) == 1 ? load : -1;
}
