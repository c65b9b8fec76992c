// store.h: the interface every account store implements.
//
// A store is a named table of functions, chosen per service by the `backend`
// key of the configuration. The built-in store is userdb; the others (PAM,
// SQLite, PostgreSQL) are modules opened on demand (store_module.h) that the
// library adapts to the same table. Each function answers with a
// store_result and, on failed, a reason in error; api.cc turns these into
// the library's results and writes the one diagnostic. Stores never log
// themselves and never throw.
#ifndef QUELMARAUTH_STORE_H
#define QUELMARAUTH_STORE_H

#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostic.h"
#include "password_hash.h"
#include "wiped_buffer.h"

enum class store_result {
    ok,     // right password / account found / password changed
    denied, // wrong password or no such account: the caller cannot tell which
    failed  // the store itself failed; error says why
};

// One account as a store found it. Empty home and sysuser mean absent.
struct account_record {
    std::string name;
    wiped_buffer hash; // the stored hash, byte for byte (stores that keep hashes)
    bool has_uid = false;
    uid_t uid = 0;
    bool has_gid = false;
    gid_t gid = 0;
    std::string home;
    std::string sysuser;
};

// The configuration of the section that serves a service, already checked.
struct store_config {
    std::string service;       // the service the program named
    std::string config_path;   // the configuration file, for diagnostics
    std::string config_folder; // relative paths are resolved against it
    hash_settings hashing;     // method and cost for new hashes
    // The section's keys other than backend, hash and cost, with their values
    // (values of path keys already made absolute).
    std::vector<std::pair<std::string, std::string>> settings;

    // The value of key, or null when the section does not set it.
    const std::string *find(std::string_view key) const;
};

enum class key_kind { text, path };

struct store_key {
    const char *name;
    key_kind kind;
};

struct store_admin_ops;

struct store_ops {
    const char *name; // as written after "backend ="

    // Keys this store accepts besides backend, hash and cost; ends with
    // {nullptr, ...}.
    const store_key *keys;

    // Whether the store keeps hashes the library makes, and so takes the
    // keys hash and cost.
    bool writes_hashes;

    // Verifies password for user; on ok fills record.
    store_result (*login)(const store_config &config, const char *user, const char *password,
                          account_record &record, error_text &error);

    // Finds user; on ok fills record.
    store_result (*lookup)(const store_config &config, const char *user, account_record &record,
                           error_text &error);

    // Verifies old_password itself, then replaces the stored hash by one of
    // new_password made with config.hashing.
    store_result (*passwd)(const store_config &config, const char *user, const char *old_password,
                           const char *new_password, error_text &error);

    // What an administrator can do besides (store_admin.h); null when the
    // store's accounts are kept by other tools.
    const store_admin_ops *admin = nullptr;
};

// The store called name, or null when there is none. A store other than the
// built-in ones is loaded from its module on first use; why that failed goes
// to reason.
const store_ops *find_store(std::string_view name);
const store_ops *find_store(std::string_view name, error_text &reason);

// The built-in account file store.
extern const store_ops USERDB_STORE;

#endif
