// pam_transaction.h: one PAM transaction for one user of one PAM service:
// authenticate with the old password, check the account, change the token.
#ifndef QUELMARAUTH_PAM_TRANSACTION_H
#define QUELMARAUTH_PAM_TRANSACTION_H

#include <security/pam_appl.h>

#include <cstddef>

#include "pam_conversation.h"

enum class pam_outcome { ok, denied, failed };

// Where a step writes why it failed: the module's error buffer.
struct reason_buffer {
    char *text;
    std::size_t size;
};

[[gnu::format(printf, 2, 3)]] void set_reason(reason_buffer reason, const char *format, ...);

class pam_transaction {
  public:
    pam_transaction(const char *user, const char *old_password);
    ~pam_transaction();
    pam_transaction(const pam_transaction &) = delete;
    pam_transaction &operator=(const pam_transaction &) = delete;

    // Starts the transaction for pam_service, with PAM_RHOST from the
    // super-server's environment.
    pam_outcome start(const char *pam_service, reason_buffer reason);

    // The old password through pam_authenticate, then pam_acct_mgmt. An
    // expired password passes: changing it is what such a user needs.
    pam_outcome authenticate(reason_buffer reason);

    // pam_chauthtok to new_password, after authenticate.
    pam_outcome change(const char *new_password, reason_buffer reason);

    // The user name as PAM holds it after authentication (modules may map
    // it), or null.
    const char *pam_user() const;

  private:
    pam_outcome judge(const char *step, int status, reason_buffer reason);

    const char *user_;
    conversation_state state_;
    pam_conv conversation_{answer_conversation, &state_};
    pam_handle_t *handle_ = nullptr;
    int last_status_ = PAM_SUCCESS;
};

#endif
