// load_soak_test.cc: a short soak through tcpserver -c 16: a few hundred
// connections of every kind, then the store, the exit statuses, the
// super-server's descriptors and memory, and the processes left are checked.
#include <gtest/gtest.h>

#include "load_run.h"

namespace {

TEST(LoadSoak, MixedClientsThroughTcpserverLeaveNothingWrong) {
    load::load_plan plan;
    plan.program = ZEMBROVALD_PROGRAM;
    plan.recorder = RUN_RECORDER_PROGRAM;
    plan.connections = 300;
    const load::load_result result = load::run_load(plan);
    if (!result.unavailable.empty()) {
        GTEST_SKIP() << result.unavailable;
    }
    for (const load::load_check &check : load::check_load(plan, result)) {
        EXPECT_TRUE(check.passed) << check.what << ": " << check.detail;
    }
    // Every kind of client came up at least once in this mix and seed.
    for (std::size_t k = 0; k < load::KIND_COUNT; ++k) {
        EXPECT_GT(result.kinds[k].connections, 0U)
            << load::kind_name(static_cast<load::client_kind>(k));
    }
}

} // namespace
