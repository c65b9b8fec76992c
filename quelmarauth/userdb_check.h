// userdb_check.h: why a line of the account file never matches any name,
// in words an administrator can act on.
#ifndef QUELMARAUTH_USERDB_CHECK_H
#define QUELMARAUTH_USERDB_CHECK_H

#include <string_view>

#include "diagnostic.h"

// True, with the reason in reason, when line (without its line feed) is
// neither a comment, a blank line nor an account line that parses, or is
// an account whose hash is empty.
[[nodiscard]] bool userdb_line_problem(std::string_view line, error_text &reason);

#endif
