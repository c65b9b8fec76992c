// refusal_timing_test.cc: a refusal does not tell by its time whether the
// name exists or where it stands in a store of 100,000 accounts. Samples are
// taken in rounds and compared pairwise within a round, with bounds wide
// enough for a busy 2-core machine.
#include <gtest/gtest.h>

#include "refusal_timing.h"

namespace {

// A look-up that stopped at the name would answer for the first account in
// a fraction of the time it takes for the last one or an unknown name; a
// skipped hash would save a comparable share. Noise on a loaded machine
// moves the median of 30 paired ratios by far less than these bounds.
constexpr double LOW = 0.7;
constexpr double HIGH = 1.4;

TEST(RefusalTiming, UnknownNameAndPlaceInTheStoreCannotBeTold) {
    timing::timing_plan plan;
    plan.program = ZEMBROVALD_PROGRAM;
    const timing::timing_result result = timing::time_refusals(plan);
    if (!result.unavailable.empty()) {
        GTEST_SKIP() << result.unavailable;
    }
    EXPECT_TRUE(result.faults.empty())
        << result.faults.size() << " faults, first: " << result.faults.front();
    const timing::probe_figures &unknown = result.probes[timing::UNKNOWN_NAME];
    ASSERT_EQ(plan.samples, unknown.samples_ms.size());
    for (const timing::probe_figures &probe : result.probes) {
        ASSERT_EQ(plan.samples, probe.samples_ms.size()) << probe.what;
        const double ratio = timing::median_paired_ratio(probe.samples_ms, unknown.samples_ms);
        EXPECT_GE(ratio, LOW) << probe.what << ": " << ratio << " times an unknown name's ("
                              << probe.median_ms << " ms against " << unknown.median_ms << " ms)";
        EXPECT_LE(ratio, HIGH) << probe.what << ": " << ratio << " times an unknown name's ("
                               << probe.median_ms << " ms against " << unknown.median_ms << " ms)";
    }
    const double first_to_last =
        timing::median_paired_ratio(result.probes[1].samples_ms, result.probes[3].samples_ms);
    EXPECT_GE(first_to_last, LOW) << "first against last account";
    EXPECT_LE(first_to_last, HIGH) << "first against last account";
}

} // namespace
