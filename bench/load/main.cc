// zembrovald_load_bench: a soak through tcpserver -c 16 with a mix of real
// clients, its rates beside what the processors allow for the hashing, and
// the checks of what it left behind.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "load_run.h"

namespace {

constexpr std::size_t FULL_CONNECTIONS = 2000;
constexpr std::size_t QUICK_CONNECTIONS = 300;

void usage(std::FILE *out) {
    std::fputs("usage: zembrovald_load_bench [--quick] [--connections N] [--seed N]\n"
               "  --quick          300 connections instead of 2,000, for CI\n"
               "  --connections N  that many connections\n"
               "  --seed N         another mix of clients (default 1)\n"
               "Exit status: 0 when every check passed, 1 when one failed or the soak\n"
               "could not run, 2 on a bad command line.\n",
               out);
}

bool parse_count(const char *text, unsigned long &value) {
    char *end = nullptr;
    value = std::strtoul(text, &end, 10);
    return end != text && *end == '\0' && value > 0;
}

} // namespace

int main(int argc, char **argv) {
    // A client whose server went away must see a failed send, not die.
    std::signal(SIGPIPE, SIG_IGN);
    load::load_plan plan;
    plan.program = ZEMBROVALD_PATH;
    plan.recorder = RUN_RECORDER_PATH;
    plan.connections = FULL_CONNECTIONS;
    for (int i = 1; i < argc; ++i) {
        unsigned long value = 0;
        if (std::strcmp(argv[i], "--quick") == 0) {
            plan.connections = QUICK_CONNECTIONS;
        } else if (std::strcmp(argv[i], "--connections") == 0 && i + 1 < argc &&
                   parse_count(argv[i + 1], value)) {
            plan.connections = value;
            ++i;
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc &&
                   parse_count(argv[i + 1], value)) {
            plan.seed = static_cast<unsigned>(value);
            ++i;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "zembrovald_load_bench: bad argument \"%s\"\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }
    double load_before[1] = {-1};
    getloadavg(load_before, 1);
    std::printf("soak: %zu connections, %u at a time through tcpserver -c %u, %zu accounts, "
                "sha512crypt 1000 rounds, seed %u (load %.2f)\n",
                plan.connections, plan.clients, plan.clients, plan.accounts, plan.seed,
                load_before[0]);
    std::fflush(stdout);
    const load::load_result result = load::run_load(plan);
    if (!result.unavailable.empty()) {
        std::fprintf(stderr, "zembrovald_load_bench: cannot run: %s\n", result.unavailable.c_str());
        return 1;
    }

    std::printf("\n%-24s %8s %14s\n", "client kind", "count", "median run ms");
    for (std::size_t k = 0; k < load::KIND_COUNT; ++k) {
        const load::kind_figures &figures = result.kinds[k];
        std::printf("%-24s %8zu %14.1f\n", load::kind_name(static_cast<load::client_kind>(k)),
                    figures.connections, figures.median_run_ms);
    }
    const std::size_t changes = result.changes_acknowledged + result.uncertain_applied;
    const double limit = static_cast<double>(result.cores) * 1000.0 / result.change_hashes_ms;
    std::printf("\n%zu connections in %.1f s: %.1f connections/s\n", result.connections,
                result.seconds, static_cast<double>(result.connections) / result.seconds);
    std::printf("%zu changes (%zu acknowledged, %zu of %zu unanswered ones applied): %.1f "
                "changes/s\n",
                changes, result.changes_acknowledged, result.uncertain_applied,
                result.uncertain_applied + result.uncertain_dropped,
                static_cast<double>(changes) / result.seconds);
    std::printf("hashing limit: %ld cores / %.2f ms for the 3 hashes of a change = %.0f "
                "changes/s\n",
                result.cores, result.change_hashes_ms, limit);
    std::printf("tcpserver: %d descriptors before, %d after; %ld KiB resident before, %ld KiB "
                "after\n",
                result.server_fds_before, result.server_fds_after, result.server_rss_before_kib,
                result.server_rss_after_kib);
    std::printf("program peak memory: %ld KiB (first tenth of changes), %ld KiB (last tenth), "
                "%ld KiB at most\n\n",
                result.program_rss_first_kib, result.program_rss_last_kib,
                result.program_rss_max_kib);

    int failed = 0;
    for (const load::load_check &check : load::check_load(plan, result)) {
        std::printf("%-6s %s: %s\n", check.passed ? "ok" : "FAILED", check.what.c_str(),
                    check.detail.c_str());
        failed += check.passed ? 0 : 1;
    }
    return failed == 0 ? 0 : 1;
}
