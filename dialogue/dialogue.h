// The password-change conversation with one client.
#pragma once

#include "quelmarauth.h"

#include <cstddef>

inline constexpr std::size_t MAX_USERNAME = 64;  // longest user line
inline constexpr std::size_t MAX_PASSWORD = 128; // longest pass and newpass line
inline constexpr unsigned MIN_UID = 100;         // lower system user ids are refused
inline constexpr unsigned FAILURE_DELAY = 3;     // seconds, after a refused password

// Greets the client, takes user name, old and new password, changes the
// password for service_name, and takes the client's quit. Never returns:
// every path ends the process, with 0 after "200 Bye." and 1 otherwise.
[[noreturn]] void run_dialogue(const char *service_name);

// Callback for auth_login: the right password is all it takes.
int accept_login(const struct quelmarauth_account *account, void *arg);

// Callback for auth_getuserinfo; arg carries the minimum user id as a value.
// Returns 0 if the account may change its password, -1 if its system user id
// is below the minimum, -2 if its system user cannot be looked up.
int check_min_uid(const struct quelmarauth_account *account, void *arg);
