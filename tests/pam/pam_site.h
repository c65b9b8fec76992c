// pam_site.h: a private PAM setup for one test: service files in a folder of
// their own (pam_wrapper), pam_matrix password files, a private account
// database (nss_wrapper), and the library configured with backend = pam.
#ifndef ZEMBROVALD_TESTS_PAM_SITE_H
#define ZEMBROVALD_TESTS_PAM_SITE_H

#include <string>
#include <vector>

#include "dialogue_text.h"
#include "process_runner.h"
#include "temp_dir.h"

namespace pam_test {

using namespace test_support::replies;

inline constexpr const char *PROGRAM = ZEMBROVALD_PROGRAM;


using test_support::change_input;

// A module line for every type (auth, account, password), or for one.
std::string matrix_stack(const std::string &matrix_path, const std::string &options = "");

// Path of a module of the system's PAM (pam_deny.so, pam_exec.so, ...).
std::string system_module(const std::string &name);

class pam_site {
  public:
    pam_site();

    // Empty when pam_wrapper, pam_matrix and nss_wrapper are all here;
    // otherwise what is missing (for GTEST_SKIP).
    [[nodiscard]] std::string unavailable() const;

    [[nodiscard]] const test_support::temp_dir &dir() const { return dir_; }
    [[nodiscard]] std::string file(const std::string &name) const { return dir_.file(name); }

    // The PAM service file name (a "other" service that denies is always there).
    void add_service(const std::string &name, const std::string &lines) const;
    // quelmarauth.conf, replacing the default "[*] backend = pam".
    void write_config(const std::string &text) const;
    // Replaces the private account database (passwd lines; groups follow).
    void write_accounts(const std::string &passwd) const;

    // The environment that runs the program against this site.
    [[nodiscard]] std::vector<std::string> env() const;
    // The program with args, the client's input and env() plus extra.
    [[nodiscard]] test_support::run_options run(const std::vector<std::string> &args,
                                                const std::string &input,
                                                const std::vector<std::string> &extra_env = {}) const;

  private:
    test_support::temp_dir dir_{"zpam"};
};

} // namespace pam_test

#endif
