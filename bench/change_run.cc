// One password change through the real program over pipes.
#include "change_run.h"

#include <cstdio>
#include <cstring>

namespace {

inline constexpr const char *ACCOUNT = "bench";
inline constexpr const char *PASSWORDS[2] = {"Bench-pass-1", "Bench-pass-2"};

} // namespace

const char *old_password_of(int run) { return PASSWORDS[run % 2]; }

bool prepare_change(change_setup &setup, const hash_method &method, std::size_t accounts) {
    // The filler's hash is never checked, so its method does not matter to
    // the time; yescrypt's, the default, gives lines of a realistic length.
    char filler[HASH_SIZE];
    if (!setup.folder.ok() || !use_config(setup.folder, method) ||
        !make_hash(YESCRYPT, "filler-password", filler) ||
        !make_hash(method, PASSWORDS[0], setup.stored[0]) ||
        !make_hash(method, PASSWORDS[1], setup.stored[1])) {
        std::fprintf(stderr, "zembrovald_bench: cannot set up a folder and hashes under %s\n",
                     setup.folder.ok() ? setup.folder.path : "the base folder");
        return false;
    }
    const tail_account account{ACCOUNT, setup.stored[0]};
    setup.userdb_bytes = write_userdb(setup.folder, accounts - 1, filler, &account, 1);
    if (setup.userdb_bytes == 0 || !setup.folder.file(USERDB_NAME, setup.userdb_path)) {
        std::fprintf(stderr, "zembrovald_bench: cannot write a userdb in %s\n", setup.folder.path);
        return false;
    }
    return true;
}

bool run_change(int run, spawn_style style, child_result &result) {
    char input[256];
    std::snprintf(input, sizeof input, "user %s\npass %s\nnewpass %s\nquit\n", ACCOUNT,
                  PASSWORDS[run % 2], PASSWORDS[(run + 1) % 2]);
    static const char *const ARGV[] = {ZEMBROVALD_PATH, nullptr};
    if (!run_child(ARGV, input, style, result)) {
        std::fprintf(stderr, "zembrovald_bench: cannot run %s\n", ZEMBROVALD_PATH);
        return false;
    }
    if (!exited_with(result, 0) ||
        std::strstr(result.output, "200 Password changed, thank-you.\r\n") == nullptr) {
        std::fprintf(stderr, "zembrovald_bench: the change was not made (status %d):\n%s\n",
                     result.wait_status, result.output);
        return false;
    }
    return true;
}
