// private_etc.h: a throwaway copy of the machine's /etc that a program run by
// the test sees as /etc, in a mount namespace of its own: the real pam_unix
// reads and rewrites passwd and shadow there, never the machine's own.
#ifndef ZEMBROVALD_TESTS_PAM_PRIVATE_ETC_H
#define ZEMBROVALD_TESTS_PAM_PRIVATE_ETC_H

#include <sys/types.h>

#include <functional>
#include <string>

#include "temp_dir.h"

namespace pam_test {

class private_etc {
  public:
    // Copies /etc, owners and modes kept (shadow stays root:shadow 0640).
    private_etc();

    // Empty when a program can be run over the copy here; otherwise why not
    // (for GTEST_SKIP).
    [[nodiscard]] const std::string &unavailable() const { return unavailable_; }

    // A file in the copy, by its name under /etc ("shadow", "pam.d/login").
    [[nodiscard]] std::string file(const std::string &name) const;
    // A file beside the copy, readable by every user (configurations).
    [[nodiscard]] std::string outside(const std::string &name) const { return dir_.file(name); }

    // Appends the account to the copy's passwd, group and shadow; its group
    // has the account's id.
    void add_account(const std::string &name, uid_t uid, const std::string &hash) const;
    // Writes the copy's pam.d/name.
    void add_service(const std::string &name, const std::string &lines) const;

    // For run_options::child_setup: a private mount namespace with the copy
    // over /etc, then extra (if any) inside it, then, unless as_user is 0,
    // the user and group as_user without supplementary groups. A step that
    // fails ends the child with status 125 and says which on standard error.
    [[nodiscard]] std::function<void()> enter(uid_t as_user = 0,
                                              std::function<bool()> extra = {}) const;

  private:
    test_support::temp_dir dir_{"zetc"};
    std::string unavailable_;
};

} // namespace pam_test

#endif
