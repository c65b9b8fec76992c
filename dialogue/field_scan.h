// The words the dialogue takes from its client lines: the keyword at the very
// start of the line, white space, then one word, capped in length.
#pragma once

#include "line_io.h"

inline constexpr std::size_t MAX_USER_WORD = 64;      // cap of the user name's scan
inline constexpr std::size_t MAX_PASSWORD_WORD = 128; // cap of each password's scan

// "user NAME": the name, or an empty field when the line is not one.
void scan_user(const char *line, client_line user);

// "pass PASSWORD": the old password, or an empty field.
void scan_old_password(const char *line, client_line password);

// "newpass PASSWORD": the new password, or an empty field. Returns whether
// anything but white space follows the word.
[[nodiscard]] bool scan_new_password(const char *line, client_line password);
