// A change through the real program on a PostgreSQL store: each process
// opens its own connection (as one process per client connection does),
// and the figure is the whole change less its three hashes, against a 10 ms
// allowance, on tables of growing size.
#include "change_run.h"
#include "measure.h"
#include "pg_goals.h"
#include "pg_server.h"
#include "report.h"

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

namespace {

inline constexpr double ALLOWANCE_MS = 10.0;
inline constexpr double GROWTH_BOUND = 1.2;

struct size_plan {
    std::size_t accounts;
    int runs;
};

bool use_pg_config(const bench_folder &folder, const std::string &conninfo) {
    char path[PATH_MAX];
    if (!folder.file("quelmarauth.conf", path))
        return false;
    std::FILE *config = std::fopen(path, "w");
    if (config == nullptr)
        return false;
    std::fprintf(config, "[*]\nbackend = postgresql\nconnect = %s\nhash = %s\ncost = %lu\n", conninfo.c_str(),
                 CHEAP_SHA512CRYPT.config_name, CHEAP_SHA512CRYPT.cost);
    return std::fclose(config) == 0 && ::setenv("QUELMARAUTH_CONFIG", path, 1) == 0;
}

// The plain table with accounts - 1 fillers and the measured account last.
bool fill(pg_test::pg_client &db, std::size_t accounts, const char *filler, const char *stored) {
    return db.exec("DROP TABLE IF EXISTS accounts") &&
           db.exec("CREATE TABLE accounts (name TEXT PRIMARY KEY NOT NULL, hash TEXT NOT NULL, uid INTEGER, "
                   "gid INTEGER, home TEXT, sysuser TEXT)") &&
           db.exec("INSERT INTO accounts SELECT 'filler' || i, $1, 10000 + i, 10000 + i, '/home/filler' || i, NULL "
                   "FROM generate_series(1, $2::integer) AS i",
                   {filler, std::to_string(accounts - 1)}) &&
           db.exec("INSERT INTO accounts VALUES ('bench', $1, 9999, 9999, '/home/bench', NULL)", {stored}) &&
           db.exec("VACUUM ANALYZE accounts");
}

bool measure_size(pg_test::pg_client &db, const size_plan &plan, const char *filler, char (&stored)[2][HASH_SIZE],
                  double &beyond_ms) {
    const std::int64_t fill_start = now_ns();
    if (!fill(db, plan.accounts, filler, stored[0])) {
        std::fprintf(stderr, "zembrovald_postgresql_bench: cannot fill the table: %s\n", db.error().c_str());
        return false;
    }
    const double fill_ms = ms_between(fill_start, now_ns());
    std::vector<double> change_ms;
    std::vector<double> hash_ms;
    // Run 0 warms the server's caches and is not counted.
    for (int run = 0; run <= plan.runs; ++run) {
        child_result change;
        if (!run_change(run, spawn_style::spawned, change))
            return false;
        const double hashes = time_change_hashes_ms(CHEAP_SHA512CRYPT, old_password_of(run), stored[run % 2]);
        if (hashes < 0) {
            std::fprintf(stderr, "zembrovald_postgresql_bench: libxcrypt refused a hash\n");
            return false;
        }
        if (run == 0)
            continue;
        change_ms.push_back(change.wall_ms);
        hash_ms.push_back(hashes);
    }
    const double change = median_of(change_ms);
    const double hashes = median_of(hash_ms);
    beyond_ms = change - hashes;
    char accounts[32];
    with_separators(plan.accounts, accounts);
    note("%s accounts (filled in %.0f ms, %d runs): change %.2f ms, its 3 hashes %.2f ms, beyond them %.2f ms",
         accounts, fill_ms, plan.runs, change, hashes, beyond_ms);
    report_row row{};
    format_field(row.goal, sizeof row.goal, "postgresql change beyond hashes, %s accounts", accounts);
    format_field(row.measured, sizeof row.measured, "%.2f ms", beyond_ms);
    format_field(row.baseline, sizeof row.baseline, "%.0f ms allowance", ALLOWANCE_MS);
    row.ratio = beyond_ms / ALLOWANCE_MS;
    row.bound = 1.0;
    row.direction = better::lower;
    add_row(row);
    return true;
}

} // namespace

bool bench_pg_change(const char *base, bool quick) {
    static constexpr size_plan FULL[] = {{1000, 21}, {100'000, 21}, {1'000'000, 11}};
    static constexpr size_plan QUICK[] = {{1000, 7}, {100'000, 5}};
    const std::span<const size_plan> plans = quick ? std::span<const size_plan>(QUICK) : std::span<const size_plan>(FULL);
    std::printf("postgresql store: one successful change with a new connection per process, beyond its hashes "
                "(%s, %lu rounds; a server that flushes its commits; medians)\n",
                CHEAP_SHA512CRYPT.config_name, CHEAP_SHA512CRYPT.cost);
    std::fflush(stdout);
    const std::int64_t start = now_ns();
    const pg_test::pg_server server(true);
    if (!server.unavailable().empty()) {
        std::fprintf(stderr, "zembrovald_postgresql_bench: no server: %s\n", server.unavailable().c_str());
        return false;
    }
    note("server made and started in %.0f ms", ms_between(start, now_ns()));
    bench_folder folder(base);
    char filler[HASH_SIZE];
    char stored[2][HASH_SIZE];
    const std::string conninfo = server.conninfo("postgres");
    if (!folder.ok() || !use_pg_config(folder, conninfo) || !make_hash(YESCRYPT, "filler-password", filler) ||
        !make_hash(CHEAP_SHA512CRYPT, old_password_of(0), stored[0]) ||
        !make_hash(CHEAP_SHA512CRYPT, old_password_of(1), stored[1])) {
        std::fprintf(stderr, "zembrovald_postgresql_bench: cannot set up a folder and hashes under %s\n", base);
        return false;
    }
    pg_test::pg_client db(conninfo);
    std::vector<double> beyond(plans.size());
    for (std::size_t i = 0; i < plans.size(); ++i)
        if (!measure_size(db, plans[i], filler, stored, beyond[i]))
            return false;
    unsetenv("QUELMARAUTH_CONFIG");

    char smallest[32];
    char largest[32];
    with_separators(plans.front().accounts, smallest);
    with_separators(plans.back().accounts, largest);
    report_row row{};
    format_field(row.goal, sizeof row.goal, "postgresql change beyond hashes, %s against %s accounts", largest,
                 smallest);
    format_field(row.measured, sizeof row.measured, "%.2f ms", beyond.back());
    format_field(row.baseline, sizeof row.baseline, "%.2f ms", beyond.front());
    row.ratio = beyond.back() / beyond.front();
    row.bound = GROWTH_BOUND;
    row.direction = better::lower;
    add_row(row);
    return true;
}
