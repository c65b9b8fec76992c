// deploy_harness.h: what the recipe tests share: the shipped recipe files and
// the edits that fit them to a test (port, paths, user), the unprivileged user
// that owns a test store, the tools the recipes name, and a password client.
#ifndef ZEMBROVALD_TESTS_DEPLOY_DEPLOY_HARNESS_H
#define ZEMBROVALD_TESTS_DEPLOY_DEPLOY_HARNESS_H

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "store_fixture.h"

namespace deploy {

using test_support::account;
using test_support::store_fixture;

inline constexpr const char *PROGRAM = ZEMBROVALD_PROGRAM;

// Replies of a whole successful change, byte for byte.
inline constexpr const char *GREETING = "200 zembrovald v1.1.2 hello, who are you?\r\n";
inline constexpr const char *CHANGE_REPLIES =
    "200 zembrovald v1.1.2 hello, who are you?\r\n"
    "200 Your password please.\r\n"
    "200 Your new password please.\r\n"
    "200 Password changed, thank-you.\r\n"
    "200 Bye.\r\n";

// The accounts of every recipe test: alice changes her password.
const std::vector<account> &recipe_accounts();
inline constexpr const char *USER = "alice";
inline constexpr const char *OLD_PASSWORD = "old-secret";
inline constexpr const char *NEW_PASSWORD = "n3w-secret";
// The lines a client sends for that change, "quit" included.
std::string change_lines();

// The text of a shipped file under deploy/, e.g. "xinetd/zembrovald".
std::string recipe_text(const std::string &relative);
std::string recipe_path(const std::string &relative);

// Sets the value of every "key = value" line (blanks around '=' optional,
// leading blanks allowed) whose key is exactly `key`; the number of lines
// set, so that a test notices when the recipe no longer has the setting.
int set_setting(std::string &text, const std::string &key, const std::string &value);
// The value of the first such line, or empty.
std::string setting_of(const std::string &text, const std::string &key);
// Replaces every occurrence of `from`; how many there were.
int replace_all(std::string &text, const std::string &from, const std::string &to);

// A tool from its Debian package, at its usual place; empty when missing.
std::string tool(const char *name);

// The user a recipe runs the service as in a test: an unused system id that
// owns only the store's folder, when the test runs as root; otherwise the
// test's own user (nothing can be handed over then).
struct service_user {
    unsigned uid = 0;
    unsigned gid = 0;
    bool dedicated = false;
};
service_user test_service_user();

// Hands the store's folder and its files to the user and lets it through the
// folder's path; a failure message, or empty.
std::string hand_over(const store_fixture &store, const service_user &user);

// setpriv and its options that run a program as the user, with
// NoNewPrivileges as systemd would set it (only that, when the test is not
// root and cannot change its user).
std::vector<std::string> as_service_user(const std::string &setpriv, const service_user &user);

// Waits until the file holds the text, or the timeout passes; whether it does.
bool wait_for_text(const std::string &path, const std::string &text,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// The uid and gid that own a file, as "uid:gid"; empty when it is missing.
std::string owner_of(const std::string &path);

}  // namespace deploy

#endif
