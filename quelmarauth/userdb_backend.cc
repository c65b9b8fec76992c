// userdb_backend.cc: the built-in store, accounts in a text file. It keeps
// the account its last look-up found, because the program asks about the
// same account three times in a row and the file may be large.
#include <string>

#include "hash_scheme.h"
#include "password_hash.h"
#include "store.h"
#include "store_admin.h"
#include "userdb_store.h"

namespace {

const store_key USERDB_KEYS[] = {
    {"userdb", key_kind::path},
    {nullptr, key_kind::text},
};

inline constexpr const char *DEFAULT_USERDB = "userdb";

struct kept_account {
    std::string path;
    std::string user;
    bool valid = false;
    account_record record;
    userdb_position position; // where the record stood, for the change
};

kept_account &kept()
{
    static kept_account account;
    return account;
}

void copy_public_fields(const account_record &from, account_record &to)
{
    to.name = from.name;
    to.has_uid = from.has_uid;
    to.uid = from.uid;
    to.has_gid = from.has_gid;
    to.gid = from.gid;
    to.home = from.home;
    to.sysuser = from.sysuser;
}

// Looks user up afresh, or takes the account kept from the last look-up of
// the same name in the same file. The kept account is only a starting
// point: a change confirms its hash under the lock before replacing it.
store_result find_account(const std::string &path, const char *user, bool may_reuse, const account_record *&found,
                          error_text &error)
{
    kept_account &account = kept();
    found = nullptr;
    if (may_reuse && account.valid && account.path == path && account.user == user) {
        found = &account.record;
        return store_result::ok;
    }
    account.valid = false;
    account.record = account_record{};
    const store_result result = userdb_lookup(path.c_str(), user, account.record, error, &account.position);
    if (result == store_result::ok) {
        account.path = path;
        account.user = user;
        account.valid = true;
        found = &account.record;
    }
    return result;
}

// A store failure is reported at once; otherwise the password is checked
// against the account's hash or, for no account, against a dummy.
store_result check_password(const store_config &config, const char *password, store_result found_result,
                            const account_record *found, error_text &error)
{
    if (found_result == store_result::failed)
        return store_result::failed;
    const char *stored = found != nullptr ? found->hash.c_str() : nullptr;
    switch (verify_password(password, stored, config.hashing, error)) {
    case verify_result::match:
        return store_result::ok;
    case verify_result::mismatch:
        return store_result::denied;
    case verify_result::failed:
        return store_result::failed;
    }
    return store_result::failed;
}

store_result userdb_login(const store_config &config, const char *user, const char *password,
                          account_record &record, error_text &error)
{
    const account_record *found = nullptr;
    const store_result result = find_account(userdb_file_path(config), user, false, found, error);
    const store_result checked = check_password(config, password, result, found, error);
    if (checked == store_result::ok && found != nullptr)
        copy_public_fields(*found, record);
    return checked;
}

store_result userdb_lookup_account(const store_config &config, const char *user, account_record &record,
                                   error_text &error)
{
    const account_record *found = nullptr;
    const store_result result = find_account(userdb_file_path(config), user, true, found, error);
    if (result == store_result::ok && found != nullptr)
        copy_public_fields(*found, record);
    return result;
}

store_result userdb_passwd(const store_config &config, const char *user, const char *old_password,
                           const char *new_password, error_text &error)
{
    const std::string path = userdb_file_path(config);
    const account_record *found = nullptr;
    const store_result result = find_account(path, user, true, found, error);
    const store_result checked = check_password(config, old_password, result, found, error);
    if (checked != store_result::ok || found == nullptr)
        return checked;
    if (new_password[0] == '\0')
        return store_result::denied;
    // The new hash is made before the lock is taken: a slow hash must not
    // hold up every other change of the file.
    new_hash replacement;
    if (!make_hash(new_password, config.hashing, replacement, error)
        || !style_like(found->hash.view(), config.hashing.method, replacement, error))
        return store_result::failed;
    // The verified hash is copied: the kept account is dropped below.
    wiped_buffer verified;
    verified.assign(found->hash.view());
    const userdb_position position = kept().position;
    kept().valid = false;
    return userdb_replace_hash(path.c_str(), user, verified.view(), replacement.view(), error, &position);
}

} // namespace

std::string userdb_file_path(const store_config &config)
{
    const std::string *configured = config.find("userdb");
    return configured != nullptr ? *configured : config.config_folder + "/" + DEFAULT_USERDB;
}

const store_ops USERDB_STORE = {
    "userdb", USERDB_KEYS, true, userdb_login, userdb_lookup_account, userdb_passwd, &USERDB_ADMIN,
};
