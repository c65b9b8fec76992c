// api.cc: the three exported calls. Each loads the configuration, asks the
// store of the service, and turns the store's answer into the library's
// result here and nowhere else: 0 yes, negative no, positive store failure
// (with one diagnostic). Nothing is thrown past these functions.
#include <cstring>
#include <exception>

#include "config.h"
#include "diagnostic.h"
#include "quelmarauth.h"
#include "store.h"

namespace {

using account_callback = int (*)(const quelmarauth_account *, void *);

// Service names come from the caller and end up in diagnostics, so no
// control characters but the tab that service names may hold.
bool is_printable_service(const char *service)
{
    for (const char *c = service; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7f)
            return false;
    }
    return service[0] != '\0';
}

[[nodiscard]] bool prepare(const char *service, const char *user, const store_ops *&store, store_config &config,
                           error_text &error)
{
    if (service == nullptr || user == nullptr) {
        set_error(error, "called without a service or user name");
        return false;
    }
    if (!is_printable_service(service)) {
        set_error(error, "service name empty or with control characters");
        return false;
    }
    return load_config(config_file_path(), service, store, config, error);
}

int finish(store_result result, const error_text &error)
{
    if (!error.empty())
        write_diagnostic(error);
    switch (result) {
    case store_result::ok:
        return 0;
    case store_result::denied:
        return -1;
    case store_result::failed:
        return 1;
    }
    return 1;
}

int fail_internally(const char *call)
{
    error_text error;
    set_error(error, "%s: internal failure", call);
    write_diagnostic(error);
    return 1;
}

// The callback sees the record with absent fields as null pointers; the
// record lives for the callback's call only.
int hand_to_callback(const account_record &record, account_callback callback, void *arg)
{
    if (callback == nullptr)
        return 0;
    const uid_t uid = record.uid;
    const gid_t gid = record.gid;
    quelmarauth_account account{};
    account.name = record.name.c_str();
    account.sysuserid = record.has_uid ? &uid : nullptr;
    account.sysgroupid = record.has_gid ? &gid : nullptr;
    account.homedir = record.home.empty() ? nullptr : record.home.c_str();
    account.sysusername = record.sysuser.empty() ? nullptr : record.sysuser.c_str();
    return callback(&account, arg);
}

} // namespace

int auth_login(const char *service, const char *user, const char *password, account_callback callback,
               void *arg) noexcept
{
    try {
        error_text error;
        const store_ops *store = nullptr;
        store_config config;
        if (!prepare(service, user, store, config, error))
            return finish(store_result::failed, error);
        if (password == nullptr) {
            set_error(error, "called without a password");
            return finish(store_result::failed, error);
        }
        account_record record;
        const store_result result = store->login(config, user, password, record, error);
        if (result != store_result::ok)
            return finish(result, error);
        finish(result, error);
        return hand_to_callback(record, callback, arg);
    } catch (...) {
        return fail_internally("auth_login");
    }
}

int auth_getuserinfo(const char *service, const char *user, account_callback callback, void *arg) noexcept
{
    try {
        error_text error;
        const store_ops *store = nullptr;
        store_config config;
        if (!prepare(service, user, store, config, error))
            return finish(store_result::failed, error);
        account_record record;
        const store_result result = store->lookup(config, user, record, error);
        if (result != store_result::ok)
            return finish(result, error);
        finish(result, error);
        return hand_to_callback(record, callback, arg);
    } catch (...) {
        return fail_internally("auth_getuserinfo");
    }
}

int auth_passwd(const char *service, const char *user, const char *old_password, const char *new_password) noexcept
{
    try {
        error_text error;
        const store_ops *store = nullptr;
        store_config config;
        if (!prepare(service, user, store, config, error))
            return finish(store_result::failed, error);
        if (old_password == nullptr || new_password == nullptr) {
            set_error(error, "called without a password");
            return finish(store_result::failed, error);
        }
        return finish(store->passwd(config, user, old_password, new_password, error), error);
    } catch (...) {
        return fail_internally("auth_passwd");
    }
}
