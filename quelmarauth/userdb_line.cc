// userdb_line.cc: the strict parser of one account line. Anything doubtful
// makes the line not parse, so it can never match and is kept as it is.
#include "userdb_line.h"

#include <cstdint>
#include <cstring>

namespace {

inline constexpr std::size_t FIELD_COUNT = 6;

bool is_control(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

bool has_control(std::string_view text)
{
    for (char c : text) {
        if (is_control(c))
            return true;
    }
    return false;
}

// Empty (absent) or plain decimal digits that fit 32 bits: no sign, no
// blanks, nothing after.
bool parse_id(std::string_view text, bool &present, std::uint32_t &value)
{
    present = !text.empty();
    value = 0;
    std::uint64_t total = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        total = total * 10 + static_cast<std::uint64_t>(c - '0');
        if (total > UINT32_MAX)
            return false;
    }
    value = static_cast<std::uint32_t>(total);
    return true;
}

} // namespace

bool is_valid_account_name(std::string_view name)
{
    if (name.empty())
        return false;
    for (char c : name) {
        if (c == ':' || c == ' ' || is_control(c))
            return false;
    }
    return true;
}

std::string_view userdb_line_name(std::string_view line)
{
    return line.substr(0, line.find(':'));
}

bool parse_userdb_line(std::string_view line, userdb_fields &fields)
{
    fields = userdb_fields{};
    if (line.size() > USERDB_MAX_LINE || line.empty() || line.front() == '#')
        return false;
    std::string_view field[FIELD_COUNT];
    std::size_t offset[FIELD_COUNT] = {};
    std::size_t start = 0;
    for (std::size_t i = 0; i < FIELD_COUNT; ++i) {
        const std::size_t colon = line.find(':', start);
        const bool last = i + 1 == FIELD_COUNT;
        if (last != (colon == std::string_view::npos))
            return false; // too few or too many fields
        const std::size_t end = last ? line.size() : colon;
        field[i] = line.substr(start, end - start);
        offset[i] = start;
        start = end + 1;
    }
    if (!is_valid_account_name(field[0]))
        return false;
    for (const std::string_view &text : field) {
        if (has_control(text))
            return false;
    }
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    if (!parse_id(field[2], fields.has_uid, uid) || !parse_id(field[3], fields.has_gid, gid))
        return false;
    static_assert(sizeof(uid_t) >= sizeof(std::uint32_t) && sizeof(gid_t) >= sizeof(std::uint32_t),
                  "user and group ids of 32 bits must fit");
    fields.name = field[0];
    fields.hash = field[1];
    fields.hash_offset = offset[1];
    fields.uid = static_cast<uid_t>(uid);
    fields.gid = static_cast<gid_t>(gid);
    fields.home = field[4];
    fields.sysuser = field[5];
    return true;
}
