// Peak memory of the program during one change, on userdb files of growing
// size, against the hash method's own memory in a tiny process plus 3 MiB.
#include "change_run.h"
#include "goals.h"
#include "measure.h"
#include "report.h"

#include <cstdio>
#include <span>
#include <vector>

namespace {

inline constexpr double ALLOWANCE_MIB = 3.0;

struct size_plan {
    std::size_t accounts;
    int runs;
};

double mib(double kib) { return kib / 1024.0; }

bool measure_size(const bench_options &options, const size_plan &plan) {
    change_setup setup(options.base);
    if (!prepare_change(setup, YESCRYPT, plan.accounts))
        return false;

    std::vector<double> program_kib;
    std::vector<double> hash_kib;
    long own_kib = 0;
    for (int run = 0; run < plan.runs; ++run) {
        // Forked, not spawned: a child made with posix_spawn's shared memory
        // inherits this process's peak as its own.
        child_result result;
        own_kib = current_rss_kib();
        if (!run_change(run, spawn_style::forked, result))
            return false;
        program_kib.push_back(static_cast<double>(result.max_rss_kib));

        const char *const argv[] = {HASH_ONCE_PATH, setup.stored[0], nullptr};
        child_result hashed;
        if (!run_child(argv, "", spawn_style::forked, hashed) || !exited_with(hashed, 0)) {
            std::fprintf(stderr, "zembrovald_bench: %s failed\n", HASH_ONCE_PATH);
            return false;
        }
        hash_kib.push_back(static_cast<double>(hashed.max_rss_kib));
    }

    const double program = mib(median_of(program_kib));
    const double hash = mib(median_of(hash_kib));
    char accounts[32];
    with_separators(plan.accounts, accounts);
    note("%s accounts (%.1f MB, %lld bytes a line): zembrovald %.1f MiB, one yescrypt hash "
         "alone %.1f MiB (this process %.1f MiB, a floor for both)",
         accounts, static_cast<double>(setup.userdb_bytes) / 1e6,
         setup.userdb_bytes / static_cast<long long>(plan.accounts), program, hash,
         mib(static_cast<double>(own_kib)));

    report_row row{};
    format_field(row.goal, sizeof row.goal, "3 peak memory, %s accounts", accounts);
    format_field(row.measured, sizeof row.measured, "%.1f MiB", program);
    format_field(row.baseline, sizeof row.baseline, "%.1f MiB (hash %.1f + %.0f)",
                 hash + ALLOWANCE_MIB, hash, ALLOWANCE_MIB);
    row.ratio = program / (hash + ALLOWANCE_MIB);
    row.bound = 1.0;
    row.direction = better::lower;
    add_row(row);
    return true;
}

} // namespace

bool bench_memory(const bench_options &options) {
    static constexpr size_plan FULL[] = {{1000, 3}, {100'000, 3}, {1'000'000, 3}};
    static constexpr size_plan QUICK[] = {{1000, 1}, {100'000, 1}};
    std::printf("3. peak memory during one change (yescrypt, ru_maxrss; medians)\n");
    std::fflush(stdout);
    for (const size_plan &plan :
         options.quick ? std::span<const size_plan>(QUICK) : std::span<const size_plan>(FULL))
        if (!measure_size(options, plan))
            return false;
    return true;
}
