// pam_store.cc: the "pam" store module: passwords checked and changed
// through the platform's PAM stack, so that a site's own policy modules are
// in force; accounts are the system's (getpwnam).
#include <pwd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "pam_transaction.h"
#include "store_module.h"

namespace {

const quelmarauth_store_key PAM_KEYS[] = {
    {"pam_service", QUELMARAUTH_KEY_TEXT},
    {nullptr, QUELMARAUTH_KEY_TEXT},
};

inline constexpr std::size_t PASSWD_BUFFER_SIZE = 16384;
inline constexpr std::size_t MAX_PASSWD_BUFFER = 1 << 20;

// The PAM service: pam_service when the section sets it, else the service
// the program named.
const char *pam_service_of(const quelmarauth_store_call *call)
{
    for (std::size_t i = 0; i < call->setting_count; ++i) {
        if (std::strcmp(call->settings[i].key, "pam_service") == 0)
            return call->settings[i].value;
    }
    return call->service;
}

// PAM opens a file of this name in its configuration folder.
bool is_pam_service_name(const char *name)
{
    if (name == nullptr || name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return false;
    for (const char *c = name; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (*c == '/' || byte < 0x20 || byte == 0x7f)
            return false;
    }
    return true;
}

template <std::size_t SIZE>
bool copy_field(char (&to)[SIZE], const char *from)
{
    if (from == nullptr || std::strlen(from) >= SIZE)
        return false;
    std::strcpy(to, from);
    return true;
}

enum class account_found { yes, no, failed };

// The system account of name; errno-style failures of the account database
// other than "not there" are failures, not unknown users.
account_found find_system_account(const char *name, quelmarauth_store_record &record, reason_buffer reason)
{
    std::vector<char> buffer(PASSWD_BUFFER_SIZE);
    for (;;) {
        passwd entry{};
        passwd *result = nullptr;
        const int status = getpwnam_r(name, &entry, buffer.data(), buffer.size(), &result);
        if (status == ERANGE && buffer.size() < MAX_PASSWD_BUFFER) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (result != nullptr) {
            if (!copy_field(record.name, name))
                return account_found::no;
            record.has_uid = 1;
            record.uid = entry.pw_uid;
            record.has_gid = 1;
            record.gid = entry.pw_gid;
            copy_field(record.home, entry.pw_dir);
            return account_found::yes;
        }
        if (status == 0 || status == ENOENT || status == ESRCH || status == EBADF || status == EPERM)
            return account_found::no;
        set_reason(reason, "getpwnam_r for '%s': %s", name, std::strerror(status));
        return account_found::failed;
    }
}

int status_of(pam_outcome outcome)
{
    switch (outcome) {
    case pam_outcome::ok:
        return QUELMARAUTH_STORE_OK;
    case pam_outcome::denied:
        return QUELMARAUTH_STORE_DENIED;
    case pam_outcome::failed:
        return QUELMARAUTH_STORE_FAILED;
    }
    return QUELMARAUTH_STORE_FAILED;
}

pam_outcome start_and_authenticate(pam_transaction &transaction, const quelmarauth_store_call *call,
                                   reason_buffer reason)
{
    const char *service = pam_service_of(call);
    if (!is_pam_service_name(service)) {
        set_reason(reason, "'%s' cannot name a PAM service", service != nullptr ? service : "");
        return pam_outcome::failed;
    }
    const pam_outcome started = transaction.start(service, reason);
    return started == pam_outcome::ok ? transaction.authenticate(reason) : started;
}

int pam_login(const quelmarauth_store_call *call, const char *user, const char *password,
              quelmarauth_store_record *record, char *error, std::size_t error_size) noexcept
{
    try {
        const reason_buffer reason{error, error_size};
        pam_transaction transaction(user, password);
        const pam_outcome outcome = start_and_authenticate(transaction, call, reason);
        if (outcome != pam_outcome::ok)
            return status_of(outcome);
        // The record is the system account: its id when the account database
        // knows the name PAM ended up with, the name alone otherwise.
        const char *name = transaction.pam_user() != nullptr ? transaction.pam_user() : user;
        char lookup_error[64] = "";
        if (find_system_account(name, *record, {lookup_error, sizeof lookup_error}) != account_found::yes) {
            *record = quelmarauth_store_record{};
            if (!copy_field(record->name, name))
                copy_field(record->name, "");
        }
        return QUELMARAUTH_STORE_OK;
    } catch (...) {
        set_reason({error, error_size}, "internal failure");
        return QUELMARAUTH_STORE_FAILED;
    }
}

int pam_lookup(const quelmarauth_store_call *, const char *user, quelmarauth_store_record *record, char *error,
               std::size_t error_size) noexcept
{
    try {
        switch (find_system_account(user, *record, {error, error_size})) {
        case account_found::yes:
            return QUELMARAUTH_STORE_OK;
        case account_found::no:
            return QUELMARAUTH_STORE_DENIED;
        case account_found::failed:
            return QUELMARAUTH_STORE_FAILED;
        }
        return QUELMARAUTH_STORE_FAILED;
    } catch (...) {
        set_reason({error, error_size}, "internal failure");
        return QUELMARAUTH_STORE_FAILED;
    }
}

int pam_passwd(const quelmarauth_store_call *call, const char *user, const char *old_password,
               const char *new_password, char *error, std::size_t error_size) noexcept
{
    try {
        const reason_buffer reason{error, error_size};
        if (new_password[0] == '\0')
            return QUELMARAUTH_STORE_DENIED;
        // Authenticated again in this transaction: an earlier login proves
        // nothing about this call.
        pam_transaction transaction(user, old_password);
        const pam_outcome outcome = start_and_authenticate(transaction, call, reason);
        if (outcome != pam_outcome::ok)
            return status_of(outcome);
        return status_of(transaction.change(new_password, reason));
    } catch (...) {
        set_reason({error, error_size}, "internal failure");
        return QUELMARAUTH_STORE_FAILED;
    }
}

const quelmarauth_store_module PAM_MODULE = {
    QUELMARAUTH_STORE_MODULE_ABI, "pam", PAM_KEYS, 0, pam_login, pam_lookup, pam_passwd,
    // The system's own tools keep these accounts.
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const quelmarauth_store_module *quelmarauth_get_store_module(void)
{
    return &PAM_MODULE;
}
