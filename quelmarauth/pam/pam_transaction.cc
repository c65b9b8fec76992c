// pam_transaction.cc: the PAM calls and how their results map to the
// library's three answers. A wrong password or an unknown user is a denial;
// PAM itself failing, or a module asking what cannot be answered, is a
// failure of the store and never passes for a wrong password.
#include "pam_transaction.h"

#include <cstdarg>
#include <cstdio>

#include "remote_host.h"

namespace {

// No null passwords, and no module output meant for a terminal.
inline constexpr int AUTH_FLAGS = PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK;

// The answers that say "not this user with this password" rather than
// "PAM could not tell".
bool is_denial(int status)
{
    switch (status) {
    case PAM_AUTH_ERR:
    case PAM_USER_UNKNOWN:
    case PAM_MAXTRIES:
    case PAM_CRED_INSUFFICIENT:
    case PAM_PERM_DENIED:
    case PAM_ACCT_EXPIRED:
    case PAM_AUTHTOK_ERR:          // a policy module refused the new password
    case PAM_AUTHTOK_RECOVERY_ERR: // the old password did not verify
        return true;
    default:
        return false;
    }
}

} // namespace

void set_reason(reason_buffer reason, const char *format, ...)
{
    if (reason.text == nullptr || reason.size == 0 || reason.text[0] != '\0')
        return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason.text, reason.size, format, args);
    va_end(args);
}

pam_transaction::pam_transaction(const char *user, const char *old_password) : user_(user)
{
    state_.old_password = old_password;
}

pam_transaction::~pam_transaction()
{
    if (handle_ != nullptr)
        pam_end(handle_, last_status_);
}

pam_outcome pam_transaction::start(const char *pam_service, reason_buffer reason)
{
    last_status_ = pam_start(pam_service, user_, &conversation_, &handle_);
    if (last_status_ != PAM_SUCCESS || handle_ == nullptr) {
        set_reason(reason, "cannot start PAM service '%s': %s", pam_service,
                   pam_strerror(handle_, last_status_));
        return pam_outcome::failed;
    }
    const char *host = remote_host_from_environment();
    if (host != nullptr) {
        last_status_ = pam_set_item(handle_, PAM_RHOST, host);
        if (last_status_ != PAM_SUCCESS) {
            set_reason(reason, "cannot set PAM_RHOST: %s", pam_strerror(handle_, last_status_));
            return pam_outcome::failed;
        }
    }
    return pam_outcome::ok;
}

pam_outcome pam_transaction::judge(const char *step, int status, reason_buffer reason)
{
    last_status_ = status;
    if (state_.refused) {
        set_reason(reason, "%s: a module asked \"%s\", which is not a password prompt this store answers",
                   step, state_.refused_prompt);
        return pam_outcome::failed;
    }
    if (status == PAM_SUCCESS)
        return pam_outcome::ok;
    const bool denied = is_denial(status);
    // A denial of a login is the everyday wrong password: nothing to log.
    if (!denied || state_.phase == conversation_phase::change) {
        if (state_.last_message[0] != '\0')
            set_reason(reason, "%s for '%s': %s (%s)", step, user_, pam_strerror(handle_, status),
                       state_.last_message);
        else
            set_reason(reason, "%s for '%s': %s", step, user_, pam_strerror(handle_, status));
    }
    return denied ? pam_outcome::denied : pam_outcome::failed;
}

pam_outcome pam_transaction::authenticate(reason_buffer reason)
{
    state_.phase = conversation_phase::authenticate;
    state_.new_password = nullptr;
    const pam_outcome outcome = judge("pam_authenticate", pam_authenticate(handle_, AUTH_FLAGS), reason);
    if (outcome != pam_outcome::ok)
        return outcome;
    const int status = pam_acct_mgmt(handle_, AUTH_FLAGS);
    return judge("pam_acct_mgmt", status == PAM_NEW_AUTHTOK_REQD ? PAM_SUCCESS : status, reason);
}

pam_outcome pam_transaction::change(const char *new_password, reason_buffer reason)
{
    state_.phase = conversation_phase::change;
    state_.new_password = new_password;
    state_.last_message[0] = '\0';
    const pam_outcome outcome = judge("pam_chauthtok", pam_chauthtok(handle_, PAM_SILENT), reason);
    state_.new_password = nullptr;
    return outcome;
}

const char *pam_transaction::pam_user() const
{
    const void *item = nullptr;
    if (handle_ == nullptr || pam_get_item(handle_, PAM_USER, &item) != PAM_SUCCESS)
        return nullptr;
    return static_cast<const char *>(item);
}
