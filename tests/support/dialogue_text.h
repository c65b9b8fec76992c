// dialogue_text.h: the program's replies, byte for byte, and the client's
// lines of a whole change, for every suite that talks to the real program.
#ifndef ZEMBROVALD_TESTS_DIALOGUE_TEXT_H
#define ZEMBROVALD_TESTS_DIALOGUE_TEXT_H

#include <string>

namespace test_support::replies {

inline constexpr const char *GREETING = "200 zembrovald v1.1.2 hello, who are you?\r\n";
inline constexpr const char *PASS_PLEASE = "200 Your password please.\r\n";
inline constexpr const char *NEWPASS_PLEASE = "200 Your new password please.\r\n";
inline constexpr const char *CHANGED = "200 Password changed, thank-you.\r\n";
inline constexpr const char *BYE = "200 Bye.\r\n";
inline constexpr const char *USER_TOO_LONG = "500 Username too long (max 64).\r\n";
inline constexpr const char *USER_REQUIRED = "500 Username required.\r\n";
inline constexpr const char *PASS_TOO_LONG = "500 Password length exceeded (max 128).\r\n";
inline constexpr const char *PASS_REQUIRED = "500 Password required.\r\n";
inline constexpr const char *WRONG_OLD = "500 Old password is incorrect or user not found.\r\n";
inline constexpr const char *SERVER_ERROR = "500 Server error, password not changed.\r\n";
inline constexpr const char *NEWPASS_REQUIRED = "500 New password required.\r\n";
inline constexpr const char *NEWPASS_SPACES = "500 New password must not contain spaces.\r\n";
inline constexpr const char *RESTRICTED = "500 Restricted or non-existant uid.\r\n";
inline constexpr const char *QUIT_REQUIRED = "500 Quit required.\r\n";

} // namespace test_support::replies

namespace test_support {

// The client's lines of a whole change, quit included.
inline std::string change_input(const std::string &user, const std::string &old_password,
                                const std::string &new_password) {
    return "user " + user + "\npass " + old_password + "\nnewpass " + new_password + "\nquit\n";
}

} // namespace test_support

#endif
