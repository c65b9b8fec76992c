// The time one successful change takes beyond its hashes, on userdb files of
// growing size, against a plain durable rewrite of the same file.
#include "change_run.h"
#include "goals.h"
#include "measure.h"
#include "report.h"

#include <cstdio>
#include <span>
#include <vector>

namespace {

// At the smallest size the allowance is fixed rather than a copy's cost.
inline constexpr std::size_t SMALL_USERDB = 1000;
inline constexpr double SMALL_ALLOWANCE_MS = 3.0;

struct size_plan {
    std::size_t accounts;
    int runs;
};

bool measure_size(const bench_options &options, const size_plan &plan) {
    change_setup setup(options.base);
    if (!prepare_change(setup, CHEAP_SHA512CRYPT, plan.accounts))
        return false;

    std::vector<double> change_ms;
    std::vector<double> copy_ms;
    std::vector<double> synced_ms; // the same and a flush of the folder
    std::vector<double> hash_ms;
    // Run 0 warms the page cache and is not counted.
    for (int run = 0; run <= plan.runs; ++run) {
        child_result result;
        if (!run_change(run, spawn_style::spawned, result))
            return false;

        const std::int64_t copy_start = now_ns();
        const bool copied = copy_and_replace(setup.userdb_path, false);
        const std::int64_t synced_start = now_ns();
        const bool synced = copy_and_replace(setup.userdb_path, true);
        const std::int64_t synced_end = now_ns();
        if (!copied || !synced) {
            std::perror("zembrovald_bench: copying the userdb");
            return false;
        }

        const double hashes =
            time_change_hashes_ms(CHEAP_SHA512CRYPT, old_password_of(run), setup.stored[run % 2]);
        if (hashes < 0) {
            std::fprintf(stderr, "zembrovald_bench: libxcrypt refused a hash\n");
            return false;
        }
        if (run == 0)
            continue;
        change_ms.push_back(result.wall_ms);
        copy_ms.push_back(ms_between(copy_start, synced_start));
        synced_ms.push_back(ms_between(synced_start, synced_end));
        hash_ms.push_back(hashes);
    }

    const double change = median_of(change_ms);
    const double copy = median_of(copy_ms);
    const double synced = median_of(synced_ms);
    const double hashes = median_of(hash_ms);
    const double beyond = change - hashes;
    char accounts[32];
    with_separators(plan.accounts, accounts);
    note("%s accounts (%.1f MB, %lld bytes a line, %d runs): change %.2f ms, its 3 hashes "
         "%.2f ms, beyond them %.2f ms; read+write+fsync+rename %.2f ms, and with a folder "
         "fsync %.2f ms",
         accounts, static_cast<double>(setup.userdb_bytes) / 1e6,
         setup.userdb_bytes / static_cast<long long>(plan.accounts), plan.runs, change, hashes,
         beyond, copy, synced);

    report_row row{};
    format_field(row.goal, sizeof row.goal, "2 change beyond hashes, %s accounts", accounts);
    format_field(row.measured, sizeof row.measured, "%.2f ms", beyond);
    if (plan.accounts <= SMALL_USERDB) {
        format_field(row.baseline, sizeof row.baseline, "%.2f ms (fixed allowance)",
                     SMALL_ALLOWANCE_MS);
        row.ratio = beyond / SMALL_ALLOWANCE_MS;
    } else {
        format_field(row.baseline, sizeof row.baseline, "%.2f ms (read+write+fsync+rename)", copy);
        row.ratio = beyond / copy;
    }
    row.bound = 1.0;
    row.direction = better::lower;
    add_row(row);
    return true;
}

} // namespace

bool bench_change(const bench_options &options) {
    static constexpr size_plan FULL[] = {{1000, 31}, {100'000, 11}, {1'000'000, 5}};
    static constexpr size_plan QUICK[] = {{1000, 7}, {100'000, 3}};
    std::printf("2. one successful change beyond its hashes (sha512crypt, %lu rounds; "
                "changed account last; medians)\n",
                CHEAP_SHA512CRYPT.cost);
    std::fflush(stdout);
    for (const size_plan &plan :
         options.quick ? std::span<const size_plan>(QUICK) : std::span<const size_plan>(FULL))
        if (!measure_size(options, plan))
            return false;
    return true;
}
