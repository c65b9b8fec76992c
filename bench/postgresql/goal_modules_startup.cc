// Start-up of the account-file path with the store modules installed beside
// the library, against the same program and library with no modules folder
// at all: the library must not touch the modules unless a configuration
// names one. Both are copies in one temporary folder, so that neither pays
// for a slower file system.
#include "change_run.h"
#include "measure.h"
#include "pg_goals.h"
#include "report.h"
#include "temp_dir.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

inline constexpr double BOUND = 1.05;
// A login, then an empty new password: the library loads its configuration
// and checks one hash, and the process ends without a pause or a write.
inline constexpr const char *EXPECTED_OUTPUT = "200 zembrovald v1.1.2 hello, who are you?\r\n"
                                               "200 Your password please.\r\n"
                                               "200 Your new password please.\r\n"
                                               "500 New password required.\r\n";

// sbin/zembrovald and lib/libquelmarauth.so.1 under folder, as installed,
// and with_modules, the store modules in lib/quelmarauth/.
bool install_copy(const std::string &folder, bool with_modules, std::string &program) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::create_directories(folder + "/sbin", error);
    fs::create_directories(folder + "/lib", error);
    program = folder + "/sbin/zembrovald";
    if (error || !fs::copy_file(ZEMBROVALD_PATH, program, error) ||
        !fs::copy_file(QUELMARAUTH_LIBRARY_PATH, folder + "/lib/libquelmarauth.so.1", error))
        return false;
    if (!with_modules)
        return true;
    const fs::path modules = fs::path(QUELMARAUTH_LIBRARY_PATH).parent_path() / "quelmarauth";
    fs::copy(modules, folder + "/lib/quelmarauth", error);
    return !error && fs::exists(folder + "/lib/quelmarauth/postgresql.so");
}

bool run_batch(const char *const argv[], const char *input, int runs, std::vector<double> &samples) {
    for (int i = 0; i < runs; ++i) {
        child_result result;
        if (!run_child(argv, input, spawn_style::spawned, result) || !exited_with(result, 1) ||
            std::strcmp(result.output, EXPECTED_OUTPUT) != 0) {
            std::fprintf(stderr, "zembrovald_postgresql_bench: %s answered \"%s\" (status %d)\n", argv[0],
                         result.output, result.wait_status);
            return false;
        }
        samples.push_back(result.wall_ms);
    }
    return true;
}

} // namespace

bool bench_modules_startup(const char *base, bool quick) {
    const int total = quick ? 200 : 2000;
    const int batch = 25;
    std::printf("account-file start-up with the store modules installed, against none "
                "(%d runs each, interleaved in batches of %d)\n",
                total, batch);
    std::fflush(stdout);
    const test_support::temp_dir copies("zpgb");
    std::string built_program;
    std::string bare_program;
    bench_folder folder(base);
    char filler[HASH_SIZE];
    char stored[HASH_SIZE];
    if (!install_copy(copies.file("with"), true, built_program) ||
        !install_copy(copies.file("without"), false, bare_program) || !folder.ok() ||
        !use_config(folder, CHEAP_SHA512CRYPT) || !make_hash(CHEAP_SHA512CRYPT, "filler-password", filler) ||
        !make_hash(CHEAP_SHA512CRYPT, old_password_of(0), stored)) {
        std::fprintf(stderr, "zembrovald_postgresql_bench: cannot set up the copy and the account file\n");
        return false;
    }
    const tail_account account{"bench", stored};
    if (write_userdb(folder, 99, filler, &account, 1) == 0)
        return false;
    char input[128];
    std::snprintf(input, sizeof input, "user bench\npass %s\nnewpass\n", old_password_of(0));
    const char *const built[] = {built_program.c_str(), nullptr};
    const char *const bare[] = {bare_program.c_str(), nullptr};
    std::vector<double> built_ms;
    std::vector<double> bare_ms;
    // A warm-up batch of each, not counted.
    std::vector<double> ignored;
    if (!run_batch(built, input, batch, ignored) || !run_batch(bare, input, batch, ignored))
        return false;
    for (int done = 0; done < total; done += batch)
        if (!run_batch(built, input, batch, built_ms) || !run_batch(bare, input, batch, bare_ms))
            return false;
    unsetenv("QUELMARAUTH_CONFIG");
    const double with_modules = median_of(built_ms);
    const double without = median_of(bare_ms);
    note("with modules %.3f ms, without %.3f ms", with_modules, without);
    report_row row{};
    format_field(row.goal, sizeof row.goal, "account-file start-up, store modules installed");
    format_field(row.measured, sizeof row.measured, "%.3f ms", with_modules);
    format_field(row.baseline, sizeof row.baseline, "%.3f ms (no modules)", without);
    row.ratio = with_modules / without;
    row.bound = BOUND;
    row.direction = better::lower;
    add_row(row);
    return true;
}
