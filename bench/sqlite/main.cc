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

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace {

inline constexpr double BEYOND_BOUND = 1.5;
inline constexpr double GROWTH_BOUND = 1.2;
// The bare update changes an account of its own, so the two never meet.
inline constexpr const char *BARE_ACCOUNT = "bare";
inline constexpr const char *BARE_HASHES[2] = {"$6$rounds=1000$bare.salt.one$bare", "$6$rounds=1000$bare.salt.two$bare"};

// One database size: its folder, configuration and samples.
struct size_run {
    explicit size_run(const char *base, std::size_t count) : accounts(count), folder(base) {}

    std::size_t accounts;
    bench_folder folder;
    char config[PATH_MAX]{};
    char database[PATH_MAX]{};
    char stored[2][HASH_SIZE]{};
    long long bytes = 0;
    double fill_ms = 0;
    std::vector<double> change_ms;
    std::vector<double> bare_ms;
    std::vector<double> hash_ms;
};

bool run_bare_update(const char *database, int run, child_result &result) {
    const char *const argv[] = {BARE_UPDATE_PATH,     database, BARE_ACCOUNT, BARE_HASHES[(run + 1) % 2],
                                BARE_HASHES[run % 2], nullptr};
    if (!run_child(argv, "", spawn_style::spawned, result) || !exited_with(result, 0)) {
        std::fprintf(stderr, "zembrovald_sqlite_bench: %s failed (status %d)\n", BARE_UPDATE_PATH,
                     result.wait_status);
        return false;
    }
    return true;
}

bool prepare_size(size_run &size) {
    char filler[HASH_SIZE];
    // The filler's hash is never checked; yescrypt's gives rows of a
    // realistic length.
    if (!size.folder.ok() || !write_sqlite_config(size.folder, CHEAP_SHA512CRYPT, size.config) ||
        !make_hash(YESCRYPT, "filler-password", filler) ||
        !make_hash(CHEAP_SHA512CRYPT, old_password_of(0), size.stored[0]) ||
        !make_hash(CHEAP_SHA512CRYPT, old_password_of(1), size.stored[1]) ||
        !size.folder.file(DATABASE_NAME, size.database)) {
        std::fprintf(stderr, "zembrovald_sqlite_bench: cannot set up a folder and hashes\n");
        return false;
    }
    const tail_account tail[] = {{"bench", size.stored[0]}, {BARE_ACCOUNT, BARE_HASHES[0]}};
    const std::int64_t fill_start = now_ns();
    size.bytes = write_database(size.folder, size.accounts - 2, filler, tail, 2);
    size.fill_ms = ms_between(fill_start, now_ns());
    if (size.bytes == 0) {
        std::fprintf(stderr, "zembrovald_sqlite_bench: cannot make a database in %s\n", size.folder.path);
        return false;
    }
    return true;
}

// One change through the program and one bare update on this size's
// database, and this process's time for the change's hashes.
bool measure_once(size_run &size, int run) {
    child_result change;
    child_result bare;
    if (::setenv("QUELMARAUTH_CONFIG", size.config, 1) != 0 || !run_change(run, spawn_style::spawned, change) ||
        !run_bare_update(size.database, run, bare))
        return false;
    const double hashes = time_change_hashes_ms(CHEAP_SHA512CRYPT, old_password_of(run), size.stored[run % 2]);
    if (hashes < 0) {
        std::fprintf(stderr, "zembrovald_sqlite_bench: libxcrypt refused a hash\n");
        return false;
    }
    // Run 0 warms the page cache and is not counted.
    if (run > 0) {
        size.change_ms.push_back(change.wall_ms);
        size.bare_ms.push_back(bare.wall_ms);
        size.hash_ms.push_back(hashes);
    }
    return true;
}

double report_size(const size_run &size, int runs) {
    const double change = median_of(size.change_ms);
    const double bare = median_of(size.bare_ms);
    const double hashes = median_of(size.hash_ms);
    const double beyond = change - hashes;
    char accounts[32];
    with_separators(size.accounts, accounts);
    note("%s accounts (%.1f MB, made in %.0f ms, %d runs): change %.2f ms, its 3 hashes %.2f ms, "
         "beyond them %.2f ms; bare update process %.2f ms",
         accounts, static_cast<double>(size.bytes) / 1e6, size.fill_ms, runs, change, hashes, beyond, bare);

    report_row row{};
    format_field(row.goal, sizeof row.goal, "sqlite change beyond hashes, %s accounts", accounts);
    format_field(row.measured, sizeof row.measured, "%.2f ms", beyond);
    format_field(row.baseline, sizeof row.baseline, "%.2f ms (bare update process)", bare);
    row.ratio = beyond / bare;
    row.bound = BEYOND_BOUND;
    row.direction = better::lower;
    add_row(row);
    return beyond;
}

bool bench_sqlite_change(const char *base, bool quick) {
    static constexpr std::size_t FULL[] = {1000, 100'000, 1'000'000};
    // Making a million rows takes longer than a quick run may.
    static constexpr std::size_t QUICK[] = {1000, 100'000};
    const std::span<const std::size_t> counts =
        quick ? std::span<const std::size_t>(QUICK) : std::span<const std::size_t>(FULL);
    const int runs = quick ? 9 : 41;
    std::printf("sqlite store: one successful change beyond its hashes (%s, %lu rounds; sizes and the bare "
                "update take turns; medians)\n",
                CHEAP_SHA512CRYPT.config_name, CHEAP_SHA512CRYPT.cost);
    std::fflush(stdout);
    std::vector<std::unique_ptr<size_run>> sizes;
    for (const std::size_t count : counts) {
        sizes.push_back(std::make_unique<size_run>(base, count));
        if (!prepare_size(*sizes.back()))
            return false;
    }
    // Every size in turn within each run, so that a drift of the machine's
    // load or of the disk moves all of them alike.
    for (int run = 0; run <= runs; ++run)
        for (const auto &size : sizes)
            if (!measure_once(*size, run))
                return false;

    std::vector<double> beyond;
    for (const auto &size : sizes)
        beyond.push_back(report_size(*size, runs));

    char smallest[32];
    char largest[32];
    with_separators(counts.front(), smallest);
    with_separators(counts.back(), largest);
    report_row row{};
    format_field(row.goal, sizeof row.goal, "sqlite change beyond hashes, %s against %s accounts", largest,
                 smallest);
    format_field(row.measured, sizeof row.measured, "%.2f ms", beyond.back());
    format_field(row.baseline, sizeof row.baseline, "%.2f ms", beyond.front());
    row.ratio = beyond.back() / beyond.front();
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
