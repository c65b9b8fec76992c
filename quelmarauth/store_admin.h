// store_admin.h: what an administrator can do with a store's accounts
// besides what the program asks. Each function may be null when the store
// cannot do it (a store whose accounts belong to the system's own tools).
// denied: refused, with the reason in error; failed: the store failed.
// Changes wait for another change of the store a bounded time, never forever.
#ifndef QUELMARAUTH_STORE_ADMIN_H
#define QUELMARAUTH_STORE_ADMIN_H

#include <string_view>

#include "diagnostic.h"
#include "store.h"

// How long a change waits for another one to finish.
inline constexpr int ADMIN_LOCK_WAIT_SECONDS = 10;

using account_visitor = void (*)(void *arg, const account_record &record);
using problem_visitor = void (*)(void *arg, const char *file, unsigned long line, const char *reason);

struct store_admin_ops {
    // Adds record (its hash already made) as a new account; denied when an
    // account of that name exists or the record cannot be stored.
    store_result (*add)(const store_config &config, const account_record &record, error_text &error);

    // Removes the account user (the one that counts, when there are more).
    store_result (*remove)(const store_config &config, const char *user, error_text &error);

    // Replaces user's stored hash by hash (made with config's method), without
    // asking for the old password; a stored hash with a {SCHEME} prefix keeps
    // the style, with the prefix of the method.
    store_result (*set_hash)(const store_config &config, const char *user, std::string_view hash,
                             error_text &error);

    // Locks (puts '!' in front of the stored hash) or unlocks (takes it away);
    // denied when the account already is in that state.
    store_result (*set_locked)(const store_config &config, const char *user, bool locked, error_text &error);

    // Hands every account that counts to visit, in the store's order.
    store_result (*list)(const store_config &config, account_visitor visit, void *arg, error_text &error);

    // Hands every problem of the store to report, naming file and line; ok
    // even when there were problems.
    store_result (*check)(const store_config &config, problem_visitor report, void *arg, error_text &error);
};

// The account file store's.
extern const store_admin_ops USERDB_ADMIN;

#endif
