// store_fixture.h: a real account store for one test: a private folder with
// quelmarauth.conf and a userdb of real hashes, and the checks that after a
// run the file is untouched, or that only the expected hashes changed.
#ifndef ZEMBROVALD_TESTS_STORE_FIXTURE_H
#define ZEMBROVALD_TESTS_STORE_FIXTURE_H

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace test_support {

struct account {
    std::string name;
    std::string password;
    std::string uid; // decimal, or empty for none
    std::string gid;
    std::string home;
    std::string sysuser; // system account it maps to, or empty
};

// The userdb line of an account, with a fresh real hash of its password.
std::string userdb_line(const account &a);

class store_fixture {
  public:
    // section: the service the configuration serves ("*" for every one).
    explicit store_fixture(const std::vector<account> &accounts, const std::string &section = "*");

    [[nodiscard]] const temp_dir &dir() const { return dir_; }
    [[nodiscard]] std::string config_path() const { return dir_.file("quelmarauth.conf"); }
    [[nodiscard]] std::string userdb_path() const { return dir_.file("userdb"); }
    // The environment entry that points the library at this store.
    [[nodiscard]] std::string config_env() const { return "QUELMARAUTH_CONFIG=" + config_path(); }
    [[nodiscard]] std::string userdb() const { return read_file(userdb_path()); }
    [[nodiscard]] const std::string &original() const { return original_; }

    // Replaces the configuration text (the userdb keeps its place).
    void write_config(const std::string &text) const;

    // The userdb is byte for byte as written, and no file was left beside it.
    [[nodiscard]] testing::AssertionResult unchanged() const;
    // Exactly the named accounts have new hashes, each of its new password in
    // the configured method; every other byte is as written. An empty new
    // password stands for "any new hash" (when the test cannot know it).
    [[nodiscard]] testing::AssertionResult
    changed_only(const std::map<std::string, std::string> &new_passwords) const;
    // The named account's current hash is one of password.
    [[nodiscard]] bool password_is(const std::string &name, const std::string &password) const;

  private:
    [[nodiscard]] testing::AssertionResult no_stray_files() const;

    temp_dir dir_;
    std::string original_;
    std::vector<std::string> entries_;
};

// The config text for a userdb store at userdb_path serving section.
std::string userdb_config(const std::string &section, const std::string &userdb_path);

} // namespace test_support

#endif
