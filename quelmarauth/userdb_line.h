// userdb_line.h: one line of the account file, split into its six fields.
//
//     name:hash:uid:gid:home:sysuser
#ifndef QUELMARAUTH_USERDB_LINE_H
#define QUELMARAUTH_USERDB_LINE_H

#include <sys/types.h>

#include <cstddef>
#include <string_view>

// Longer lines never match a name and are copied through as they are.
inline constexpr std::size_t USERDB_MAX_LINE = 4096;

struct userdb_fields {
    std::string_view name;
    std::string_view hash;
    std::size_t hash_offset = 0; // of the hash field within the line
    bool has_uid = false;
    uid_t uid = 0;
    bool has_gid = false;
    gid_t gid = 0;
    std::string_view home;
    std::string_view sysuser;
};

// Splits line (without its line feed). False for comments, blank lines and
// every line that is not exactly six well-formed fields: such a line never
// matches any name.
[[nodiscard]] bool parse_userdb_line(std::string_view line, userdb_fields &fields);

// The name field of line (the bytes before the first ':'), or the whole line
// when it has none. Cheap: used to skip lines of other accounts unparsed.
std::string_view userdb_line_name(std::string_view line);

// Whether name could be an account name at all (non-empty, no ':', no white
// space, no control characters).
bool is_valid_account_name(std::string_view name);

#endif
