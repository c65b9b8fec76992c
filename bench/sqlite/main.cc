// zembrovald_sqlite_bench: one password change through the real program on a
// SQLite store of growing size, beside the least a process can do to make the
// same change: open the database, update one row in a transaction, exit.
//
// "A change beyond its hashes" is the whole process as a client meets it
// (start, greeting, the three store calls, the commit and its flushes, the
// exit) less the time its three hashes take (two checks of the old password
// and the new hash, timed in this process on the same hashes). The bare
// update pays the same start of a process, the same loading of libsqlite3
// and the same commit, so the difference is what the program and its
// library add.
#include "change_run.h"
#include "measure.h"
#include "report.h"
#include "sqlite_fixture.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

namespace {

inline constexpr double BEYOND_BOUND = 1.5;
inline constexpr double GROWTH_BOUND = 1.2;
// The bare update changes an account of its own, so the two never meet.
inline constexpr const char *BARE_ACCOUNT = "bare";
inline constexpr const char *BARE_HASHES[2] = {"$6$rounds=1000$bare.salt.one$bare", "$6$rounds=1000$bare.salt.two$bare"};

struct size_plan {
    std::size_t accounts;
    int runs;
};

struct size_figures {
    double beyond_ms = 0;
};

bool run_bare_update(const char *database, int run, child_result &result) {
    const char *const argv[] = {BARE_UPDATE_PATH, database,           BARE_ACCOUNT, BARE_HASHES[(run + 1) % 2],
                                BARE_HASHES[run % 2], nullptr};
    if (!run_child(argv, "", spawn_style::spawned, result) || !exited_with(result, 0)) {
        std::fprintf(stderr, "zembrovald_sqlite_bench: %s failed (status %d)\n", BARE_UPDATE_PATH,
                     result.wait_status);
        return false;
    }
    return true;
}

bool measure_size(const char *base, const size_plan &plan, size_figures &figures) {
    bench_folder folder(base);
    char filler[HASH_SIZE];
    char stored[2][HASH_SIZE];
    char database[PATH_MAX];
    // The filler's hash is never checked; yescrypt's gives rows of a
    // realistic length.
    if (!folder.ok() || !use_sqlite_config(folder, CHEAP_SHA512CRYPT) ||
        !make_hash(YESCRYPT, "filler-password", filler) ||
        !make_hash(CHEAP_SHA512CRYPT, old_password_of(0), stored[0]) ||
        !make_hash(CHEAP_SHA512CRYPT, old_password_of(1), stored[1]) || !folder.file(DATABASE_NAME, database)) {
        std::fprintf(stderr, "zembrovald_sqlite_bench: cannot set up a folder and hashes under %s\n", base);
        return false;
    }
    const tail_account tail[] = {{"bench", stored[0]}, {BARE_ACCOUNT, BARE_HASHES[0]}};
    const std::int64_t fill_start = now_ns();
    const long long bytes = write_database(folder, plan.accounts - 2, filler, tail, 2);
    const double fill_ms = ms_between(fill_start, now_ns());
    if (bytes == 0) {
        std::fprintf(stderr, "zembrovald_sqlite_bench: cannot make a database in %s\n", folder.path);
        return false;
    }

    std::vector<double> change_ms;
    std::vector<double> bare_ms;
    std::vector<double> hash_ms;
    // Run 0 warms the page cache and is not counted; the two kinds of run
    // take turns, so that a drift of the machine moves both alike.
    for (int run = 0; run <= plan.runs; ++run) {
        child_result change;
        child_result bare;
        if (!run_change(run, spawn_style::spawned, change) || !run_bare_update(database, run, bare))
            return false;
        const double hashes = time_change_hashes_ms(CHEAP_SHA512CRYPT, old_password_of(run), stored[run % 2]);
        if (hashes < 0) {
            std::fprintf(stderr, "zembrovald_sqlite_bench: libxcrypt refused a hash\n");
            return false;
        }
        if (run == 0)
            continue;
        change_ms.push_back(change.wall_ms);
        bare_ms.push_back(bare.wall_ms);
        hash_ms.push_back(hashes);
    }

    const double change = median_of(change_ms);
    const double bare = median_of(bare_ms);
    const double hashes = median_of(hash_ms);
    figures.beyond_ms = change - hashes;
    char accounts[32];
    with_separators(plan.accounts, accounts);
    note("%s accounts (%.1f MB, made in %.0f ms, %d runs): change %.2f ms, its 3 hashes %.2f ms, "
         "beyond them %.2f ms; bare update process %.2f ms",
         accounts, static_cast<double>(bytes) / 1e6, fill_ms, plan.runs, change, hashes, figures.beyond_ms, bare);

    report_row row{};
    format_field(row.goal, sizeof row.goal, "sqlite change beyond hashes, %s accounts", accounts);
    format_field(row.measured, sizeof row.measured, "%.2f ms", figures.beyond_ms);
    format_field(row.baseline, sizeof row.baseline, "%.2f ms (bare update process)", bare);
    row.ratio = figures.beyond_ms / bare;
    row.bound = BEYOND_BOUND;
    row.direction = better::lower;
    add_row(row);
    return true;
}

bool bench_sqlite_change(const char *base, bool quick) {
    static constexpr size_plan FULL[] = {{1000, 41}, {100'000, 21}, {1'000'000, 11}};
    // Making a million rows takes longer than a quick run may.
    static constexpr size_plan QUICK[] = {{1000, 9}, {100'000, 5}};
    const std::span<const size_plan> plans = quick ? std::span<const size_plan>(QUICK) : std::span<const size_plan>(FULL);
    std::printf("sqlite store: one successful change beyond its hashes (%s, %lu rounds; medians)\n",
                CHEAP_SHA512CRYPT.config_name, CHEAP_SHA512CRYPT.cost);
    std::fflush(stdout);
    std::vector<size_figures> figures(plans.size());
    for (std::size_t i = 0; i < plans.size(); ++i)
        if (!measure_size(base, plans[i], figures[i]))
            return false;

    char smallest[32];
    char largest[32];
    with_separators(plans.front().accounts, smallest);
    with_separators(plans.back().accounts, largest);
    report_row row{};
    format_field(row.goal, sizeof row.goal, "sqlite change beyond hashes, %s against %s accounts", largest, smallest);
    format_field(row.measured, sizeof row.measured, "%.2f ms", figures.back().beyond_ms);
    format_field(row.baseline, sizeof row.baseline, "%.2f ms", figures.front().beyond_ms);
    row.ratio = figures.back().beyond_ms / figures.front().beyond_ms;
    row.bound = GROWTH_BOUND;
    row.direction = better::lower;
    add_row(row);
    return true;
}

void usage(std::FILE *out) {
    std::fputs("usage: zembrovald_sqlite_bench [--quick] [--dir FOLDER]\n"
               "  --quick       1,000 and 100,000 accounts, few runs, for CI\n"
               "  --dir FOLDER  where to make the temporary databases (default: $TMPDIR or /tmp)\n"
               "Exit status: 0 when every figure was measured (PASS or MISS),\n"
               "1 when a measurement failed, 2 on a bad command line.\n",
               out);
}

} // namespace

int main(int argc, char **argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const char *base = "/tmp";
    if (const char *tmpdir = std::getenv("TMPDIR"); tmpdir != nullptr && tmpdir[0] != '\0')
        base = tmpdir;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            base = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "zembrovald_sqlite_bench: unknown argument \"%s\"\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }
    std::printf("zembrovald_sqlite_bench%s: %s\n%ld cores, load average %.2f at the start\n", quick ? " --quick" : "",
                ZEMBROVALD_PATH, online_cores(), load_average());
    const bool measured = bench_sqlite_change(base, quick);
    std::printf("load average %.2f at the end\n\n", load_average());
    const int misses = print_report();
    std::printf("\n%d goal%s missed%s\n", misses, misses == 1 ? "" : "s",
                measured ? "" : "; some figures could not be measured");
    return measured ? 0 : 1;
}
