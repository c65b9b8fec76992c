// userdb_check.cc: the reasons behind a line that parse_userdb_line refuses,
// looked for in the order an administrator would fix them.
#include "userdb_check.h"

#include <cstddef>

#include "userdb_line.h"

namespace {

inline constexpr std::size_t FIELD_COUNT = 6;
inline constexpr const char *FIELD_NAMES[FIELD_COUNT] = {"name", "hash", "uid", "gid", "home", "sysuser"};

bool is_control(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

bool is_blank_line(std::string_view line)
{
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

bool is_id(std::string_view text)
{
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long long>(c - '0');
        if (value > 0xffffffffULL)
            return false;
    }
    return true;
}

} // namespace

bool userdb_line_problem(std::string_view line, error_text &reason)
{
    if (line.size() > USERDB_MAX_LINE) {
        set_error(reason, "line longer than %zu bytes", USERDB_MAX_LINE);
        return true;
    }
    if (is_blank_line(line) || line.front() == '#')
        return false;
    userdb_fields parsed;
    if (parse_userdb_line(line, parsed)) {
        if (parsed.hash.empty()) {
            set_error(reason, "account %.*s has an empty hash and can never log in", static_cast<int>(parsed.name.size()),
                      parsed.name.data());
            return true;
        }
        return false;
    }
    if (line.back() == '\r') {
        set_error(reason, "line ends in a carriage return");
        return true;
    }
    std::string_view field[FIELD_COUNT];
    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = line.find(':', start);
        if (count < FIELD_COUNT)
            field[count] = line.substr(start, colon == std::string_view::npos ? colon : colon - start);
        ++count;
        if (colon == std::string_view::npos)
            break;
        start = colon + 1;
    }
    if (count != FIELD_COUNT) {
        set_error(reason, "%zu fields found, not the 6 of name:hash:uid:gid:home:sysuser", count);
        return true;
    }
    for (std::size_t i = 0; i < FIELD_COUNT; ++i) {
        for (char c : field[i]) {
            if (is_control(c)) {
                set_error(reason, "control character in the %s field", FIELD_NAMES[i]);
                return true;
            }
        }
    }
    if (!is_valid_account_name(field[0])) {
        set_error(reason, "invalid account name (empty, or with blanks)");
        return true;
    }
    for (std::size_t i : {std::size_t{2}, std::size_t{3}}) {
        if (!is_id(field[i])) {
            set_error(reason, "%s is not empty nor a decimal number up to 4294967295", FIELD_NAMES[i]);
            return true;
        }
    }
    set_error(reason, "line does not parse");
    return true;
}
