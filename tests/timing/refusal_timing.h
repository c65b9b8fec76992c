// refusal_timing.h: what a client can time of a refused login: from sending
// the old password to the refusal's arrival. The pause comes after the
// refusal, so it is not part of what is timed; the client hangs up at once.
#ifndef ZEMBROVALD_TESTS_REFUSAL_TIMING_H
#define ZEMBROVALD_TESTS_REFUSAL_TIMING_H

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace timing {

// The refusals compared: a name the store does not hold, and a wrong
// password for accounts at the start, the middle and the end of the store.
inline constexpr std::size_t PROBE_COUNT = 4;
inline constexpr std::size_t UNKNOWN_NAME = 0;

struct timing_plan {
    std::string program;
    std::size_t accounts = 100000;
    std::size_t samples = 30; // of each probe
    unsigned seed = 1;
};

struct probe_figures {
    std::string what;
    std::vector<double> samples_ms; // one per round, in the order of the rounds
    double median_ms = 0, p10_ms = 0, p90_ms = 0;
};

struct timing_result {
    std::string unavailable;         // why it could not be measured here
    std::vector<std::string> faults; // replies that were not the refusal
    std::array<probe_figures, PROBE_COUNT> probes{};
};

// Takes the samples in rounds, each round one sample of every probe in a
// fresh random order, so that a change in the machine's speed moves all
// probes alike.
timing_result time_refusals(const timing_plan &plan);

// The median over the rounds of a's sample divided by b's sample of the same
// round: a slow spell of the machine slows both halves of a pair, so this
// holds steadier than a ratio of medians. 0 when the counts differ.
double median_paired_ratio(const std::vector<double> &a, const std::vector<double> &b);

// The rank-sum statistic of two samples (Mann-Whitney U, normal
// approximation): how many standard deviations apart their ranks lie.
// Beyond about 3, the two can be told apart.
double rank_sum_z(const std::vector<double> &a, const std::vector<double> &b);

} // namespace timing

#endif
