// load_checks.cc: what a soak must have left behind, judged in one place for
// the CTest soak and the benchmark.
#include <cstdarg>
#include <cstdio>

#include "load_run.h"

namespace load {

namespace {

// The super-server's memory may move by a page or two as its allocator
// settles; a leak of one allocation per connection would be far more.
constexpr long SERVER_RSS_SLACK_KIB = 128;
// A run's peak memory varies with where the allocator lands; growth across
// the run by more than this is not noise.
constexpr double PROGRAM_RSS_GROWTH = 1.10;
constexpr long PROGRAM_RSS_SLACK_KIB = 256;
// sleep(3): never less, and not much more even on a loaded machine.
constexpr double PAUSE_MIN_MS = 3000;

[[gnu::format(printf, 1, 2)]] std::string format(const char *pattern, ...) {
    char text[200];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

} // namespace

std::vector<load_check> check_load(const load_plan &plan, const load_result &result) {
    std::vector<load_check> checks;
    std::string faults;
    for (std::size_t i = 0; i < result.faults.size() && i < 20; ++i)
        faults += "\n  " + result.faults[i];
    checks.push_back({"every reply as expected, every run ended as its client expects",
                      result.faults.empty(),
                      std::to_string(result.faults.size()) + " faults" + faults});
    checks.push_back(
        {"every connection made", result.connections == plan.connections,
         std::to_string(result.connections) + " of " + std::to_string(plan.connections)});
    checks.push_back({"every exit status 0 or 1",
                      result.exits_other == 0 && result.run_records >= result.connections,
                      std::to_string(result.exits_0) + " x 0, " + std::to_string(result.exits_1) +
                          " x 1, " + std::to_string(result.exits_other) + " other, " +
                          std::to_string(result.run_records) + " runs recorded"});
    checks.push_back({"every account holds the password of its last acknowledged change",
                      result.store_check.empty(),
                      result.store_check.empty() ? "" : result.store_check});
    checks.push_back({"no process left", result.children_gone && result.leftover_processes.empty(),
                      std::string(result.children_gone ? "" : "tcpserver still has children; ") +
                          std::to_string(result.leftover_processes.size()) +
                          " programs of the run alive"});
    checks.push_back(
        {"no descriptor leaked by the super-server",
         result.server_fds_before > 0 && result.server_fds_after <= result.server_fds_before,
         format("%d before, %d after", result.server_fds_before, result.server_fds_after)});
    checks.push_back(
        {"super-server memory flat",
         result.server_rss_before_kib > 0 &&
             result.server_rss_after_kib <= result.server_rss_before_kib + SERVER_RSS_SLACK_KIB,
         format("%ld KiB before, %ld KiB after", result.server_rss_before_kib,
                result.server_rss_after_kib)});
    checks.push_back(
        {"program memory flat across runs",
         result.program_rss_first_kib > 0 &&
             static_cast<double>(result.program_rss_last_kib) <=
                 static_cast<double>(result.program_rss_first_kib) * PROGRAM_RSS_GROWTH +
                     PROGRAM_RSS_SLACK_KIB,
         format("peak %ld KiB in the first tenth of changes, %ld KiB in the last, %ld KiB at most",
                result.program_rss_first_kib, result.program_rss_last_kib,
                result.program_rss_max_kib)});
    const kind_figures &wrong = result.kinds[static_cast<std::size_t>(client_kind::wrong_password)];
    const kind_figures &unknown = result.kinds[static_cast<std::size_t>(client_kind::unknown_user)];
    const bool paused = (wrong.connections == 0 || wrong.min_run_ms >= PAUSE_MIN_MS) &&
                        (unknown.connections == 0 || unknown.min_run_ms >= PAUSE_MIN_MS);
    checks.push_back({"a refused password holds its run for the 3 s pause", paused,
                      format("shortest run %.0f ms (wrong password), %.0f ms (unknown user)",
                             wrong.min_run_ms, unknown.min_run_ms)});
    return checks;
}

} // namespace load
