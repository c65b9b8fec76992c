// One account's password changed through the real program over pipes, on a
// userdb of a chosen size: the set-up and the run shared by the change-time
// and memory figures.
#pragma once

#include "child_run.h"
#include "hashes.h"
#include "userdb_fixture.h"

#include <climits>
#include <cstddef>

struct change_setup {
    bench_folder folder;
    char userdb_path[PATH_MAX]{};
    long long userdb_bytes = 0;
    // This process's own hashes of the two passwords the account switches
    // between, with the configured method: what the hash time is taken on.
    char stored[2][HASH_SIZE]{};

    explicit change_setup(const char *base) : folder(base) {}
};

// Makes the configuration and a userdb of accounts lines, the changed
// account last. False (with a message) on failure.
[[nodiscard]] bool prepare_change(change_setup &setup, const hash_method &method,
                                  std::size_t accounts);

// Runs the whole dialogue once; run numbers alternate the passwords, so run
// n + 1 changes back what run n set. False (with a message) unless the
// program reports the change and ends with status 0.
[[nodiscard]] bool run_change(int run, spawn_style style, child_result &result);

// The password run n starts from.
const char *old_password_of(int run);
