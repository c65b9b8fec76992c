// Clocks and medians: the arithmetic every figure shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Monotonic time in nanoseconds.
std::int64_t now_ns();

inline double ms_between(std::int64_t start_ns, std::int64_t end_ns) {
    return static_cast<double>(end_ns - start_ns) / 1e6;
}

// The median of the samples (the mean of the middle two for an even count);
// 0 for none. Medians, not means: one descheduled run must not move a figure.
double median_of(std::vector<double> samples);

// Resident memory of this process right now, in KiB (0 if unknown).
long current_rss_kib();

// The number of processors online, at least 1.
long online_cores();

// The one-minute load average, or -1 if unknown.
double load_average();
