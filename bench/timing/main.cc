// zembrovald_timing_bench: the time from sending a wrong old password to the
// refusal, for an unknown name and for accounts at the start, middle and end
// of a store of 100,000, with medians, spread and whether any two differ.
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "refusal_timing.h"

namespace {

constexpr std::size_t FULL_SAMPLES = 200;
constexpr std::size_t QUICK_SAMPLES = 30;
// Rank sums further apart than this many standard deviations would arise by
// chance about once in 370 comparisons.
constexpr double TOLD_APART_Z = 3.0;

void usage(std::FILE *out) {
    std::fputs("usage: zembrovald_timing_bench [--quick] [--samples N] [--program PATH]\n"
               "  --quick         30 samples of each refusal instead of 200, for CI\n"
               "  --samples N     that many samples of each\n"
               "  --program PATH  another build of zembrovald, to compare two\n"
               "Exit status: 0 when measured (whatever the verdict), 1 when a refusal\n"
               "could not be measured, 2 on a bad command line.\n",
               out);
}

} // namespace

int main(int argc, char **argv) {
    std::signal(SIGPIPE, SIG_IGN);
    timing::timing_plan plan;
    plan.program = ZEMBROVALD_PATH;
    plan.samples = FULL_SAMPLES;
    for (int i = 1; i < argc; ++i) {
        char *end = nullptr;
        if (std::strcmp(argv[i], "--quick") == 0) {
            plan.samples = QUICK_SAMPLES;
        } else if (std::strcmp(argv[i], "--samples") == 0 && i + 1 < argc &&
                   (plan.samples = std::strtoul(argv[i + 1], &end, 10)) > 0 && *end == '\0') {
            ++i;
        } else if (std::strcmp(argv[i], "--program") == 0 && i + 1 < argc) {
            plan.program = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "zembrovald_timing_bench: bad argument \"%s\"\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }
    double load_before[1] = {-1};
    getloadavg(load_before, 1);
    std::printf("refusal timing: %zu samples of each, %zu accounts, sha512crypt 1000 rounds "
                "(load %.2f)\n",
                plan.samples, plan.accounts, load_before[0]);
    std::fflush(stdout);
    const timing::timing_result result = timing::time_refusals(plan);
    if (!result.unavailable.empty()) {
        std::fprintf(stderr, "zembrovald_timing_bench: cannot run: %s\n",
                     result.unavailable.c_str());
        return 1;
    }
    if (!result.faults.empty()) {
        std::fprintf(stderr, "zembrovald_timing_bench: %zu refusals went wrong, first: %s\n",
                     result.faults.size(), result.faults.front().c_str());
        return 1;
    }
    const timing::probe_figures &unknown = result.probes[timing::UNKNOWN_NAME];
    std::printf("\n%-32s %9s %9s %9s %8s %8s %8s\n", "refusal", "median ms", "p10 ms", "p90 ms",
                "ratio", "paired", "z");
    bool told_apart = false;
    for (const timing::probe_figures &probe : result.probes) {
        const double z = timing::rank_sum_z(probe.samples_ms, unknown.samples_ms);
        std::printf("%-32s %9.2f %9.2f %9.2f %8.3f %8.3f %8.2f\n", probe.what.c_str(),
                    probe.median_ms, probe.p10_ms, probe.p90_ms,
                    probe.median_ms / unknown.median_ms,
                    timing::median_paired_ratio(probe.samples_ms, unknown.samples_ms), z);
        told_apart = told_apart || std::fabs(z) > TOLD_APART_Z;
    }
    for (std::size_t a = 1; a < timing::PROBE_COUNT; ++a) {
        for (std::size_t b = a + 1; b < timing::PROBE_COUNT; ++b) {
            const double z =
                timing::rank_sum_z(result.probes[a].samples_ms, result.probes[b].samples_ms);
            told_apart = told_apart || std::fabs(z) > TOLD_APART_Z;
            std::printf("%s against %s: z %.2f\n", result.probes[a].what.c_str(),
                        result.probes[b].what.c_str(), z);
        }
    }
    std::printf("\nratio: median against the unknown name's; paired: median of the ratios "
                "within a round; z: rank-sum statistic against the unknown name (|z| > %.0f: can "
                "be told apart)\n",
                TOLD_APART_Z);
    std::printf("verdict: %s\n", told_apart ? "some refusals CAN be told apart by time"
                                            : "the refusals cannot be told apart by time");
    return 0;
}
