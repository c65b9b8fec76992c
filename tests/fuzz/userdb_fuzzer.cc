// userdb_fuzzer.cc: arbitrary bytes as the account file. Every line is
// parsed and held against a plain reading of the six-field format; an account
// is looked up and its hash replaced through the locked rewrite on a real
// file. The rewritten file must differ from the original only in that one
// hash field (every other byte, unparsable and over-long lines included, is
// the same), and a change that must not happen leaves the file as it was.
//
// The first two bytes steer the run: byte 0 picks the account and the way of
// changing it; byte 1 may put the file's own text behind padding, so that its
// lines straddle the scanner's buffer boundary.
#include "fuzz_check.h"
#include "userdb_line.h"
#include "userdb_scan.h"
#include "userdb_store.h"

#include <dirent.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

inline constexpr std::size_t FIELD_COUNT = 6;
inline constexpr std::string_view NEW_HASH = "$6$rounds=1000$fuzz$new.hash.of.the.run";
inline constexpr std::string_view UNKNOWN_NAME = "no-such-account";
inline constexpr std::size_t PAD_STEP = 37;   // bytes less padding per step of byte 1
inline constexpr std::size_t PAD_LINE = 1000; // a comment line of the padding

struct model_line {
    std::string_view text;
    std::size_t offset = 0;
    bool parses = false;
    std::string_view field[FIELD_COUNT];
    std::size_t hash_offset = 0;
};

bool is_control(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

bool plain_id(std::string_view text) {
    if (text.empty())
        return true;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX)
            return false;
    }
    return true;
}

std::uint32_t id_value(std::string_view text) {
    std::uint32_t value = 0;
    for (char c : text)
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    return value;
}

// name:hash:uid:gid:home:sysuser, read without the library's parser.
model_line read_model_line(std::string_view text, std::size_t offset) {
    model_line line;
    line.text = text;
    line.offset = offset;
    if (text.empty() || text.size() > USERDB_MAX_LINE || text.front() == '#')
        return line;
    std::size_t start = 0;
    std::size_t count = 0;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        if (count == FIELD_COUNT)
            return line; // a seventh field
        if (count == 1)
            line.hash_offset = start;
        line.field[count++] = text.substr(start, colon - start);
        if (colon == std::string_view::npos)
            break;
        start = colon + 1;
    }
    if (count != FIELD_COUNT || line.field[0].empty())
        return line;
    for (std::string_view field : line.field) {
        for (char c : field) {
            if (is_control(c))
                return line;
        }
    }
    if (line.field[0].find(' ') != std::string_view::npos || !plain_id(line.field[2])
        || !plain_id(line.field[3]))
        return line;
    line.parses = true;
    return line;
}

std::vector<model_line> model_lines(std::string_view file) {
    std::vector<model_line> lines;
    std::size_t offset = 0;
    while (offset < file.size()) {
        const std::size_t line_feed = file.find('\n', offset);
        const std::size_t end = line_feed == std::string_view::npos ? file.size() : line_feed;
        lines.push_back(read_model_line(file.substr(offset, end - offset), offset));
        offset = end + 1;
    }
    return lines;
}

void check_parse(const model_line &line) {
    userdb_fields fields;
    const bool parsed = parse_userdb_line(line.text, fields);
    if (parsed != line.parses)
        fuzz_fail("line '%s' %s, expected the opposite", shown(line.text).c_str(),
                  parsed ? "parses" : "does not parse");
    if (!parsed)
        return;
    if (fields.name != line.field[0] || fields.hash != line.field[1]
        || fields.hash_offset != line.hash_offset || fields.home != line.field[4]
        || fields.sysuser != line.field[5] || fields.has_uid != !line.field[2].empty()
        || fields.has_gid != !line.field[3].empty()
        || (fields.has_uid && fields.uid != id_value(line.field[2]))
        || (fields.has_gid && fields.gid != id_value(line.field[3])))
        fuzz_fail("line '%s' parsed into other fields", shown(line.text).c_str());
    if (line.text.substr(fields.hash_offset, fields.hash.size()) != fields.hash)
        fuzz_fail("hash of '%s' is not where its offset says", shown(line.text).c_str());
    if (!is_valid_account_name(fields.name) || userdb_line_name(line.text) != fields.name)
        fuzz_fail("line '%s' parsed with a name no account has", shown(line.text).c_str());
}

// Comment lines before the file's own text, ending a little before the
// scanner's first buffer ends.
std::string padding(std::uint8_t steer) {
    if ((steer & 0x80) == 0)
        return {};
    const std::size_t size = SCAN_BUFFER_SIZE - (steer & 0x7f) * PAD_STEP;
    std::string pad;
    while (pad.size() < size) {
        const std::size_t line = size - pad.size() < PAD_LINE ? size - pad.size() : PAD_LINE;
        pad.push_back('#');
        pad.append(line - 1, '-');
        pad.back() = '\n';
    }
    return pad;
}

// Only the file and its lock may be left in the folder.
void check_no_leftovers() {
    DIR *listing = ::opendir(fuzz_folder().c_str());
    if (listing == nullptr)
        fuzz_fail("cannot list %s", fuzz_folder().c_str());
    while (const dirent *item = ::readdir(listing)) {
        const std::string_view name = item->d_name;
        if (name != "." && name != ".." && name != "userdb" && name != "userdb.lock")
            fuzz_fail("left %s behind", shown(name).c_str());
    }
    ::closedir(listing);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2)
        return -1;
    const std::uint8_t choice = data[0];
    const std::string file =
        padding(data[1]) + std::string(reinterpret_cast<const char *>(data) + 2, size - 2);
    const std::vector<model_line> lines = model_lines(file);
    std::vector<const model_line *> accounts; // the first parsing line of each name
    for (const model_line &line : lines) {
        check_parse(line);
        bool seen = false;
        for (const model_line *account : accounts)
            seen = seen || account->field[0] == line.field[0];
        if (line.parses && !seen)
            accounts.push_back(&line);
    }

    const model_line *target = accounts.empty() ? nullptr : accounts[choice % accounts.size()];
    const std::string user(target != nullptr ? target->field[0] : UNKNOWN_NAME);
    const std::string path = write_fuzz_file("userdb", file);

    account_record record;
    error_text error;
    userdb_position position;
    const store_result found = userdb_lookup(path.c_str(), user.c_str(), record, error, &position);
    if (found != (target != nullptr ? store_result::ok : store_result::denied))
        fuzz_fail("look-up of '%s' answered %d (%s)", shown(user).c_str(), static_cast<int>(found),
                  error.text);
    if (target != nullptr
        && (record.name != user || std::string_view(record.hash.c_str()) != target->field[1]
            || record.home != target->field[4] || record.sysuser != target->field[5]))
        fuzz_fail("look-up of '%s' found another account", shown(user).c_str());

    // A change over a hash other than the one verified must not happen.
    const bool stale = (choice & 0x40) != 0;
    const bool use_position = (choice & 0x80) != 0;
    const std::string verified =
        target == nullptr ? std::string("$6$x$y") : std::string(target->field[1]) + (stale ? "~" : "");
    error_text change_error;
    const store_result changed =
        userdb_replace_hash(path.c_str(), user, verified, NEW_HASH, change_error,
                            use_position ? &position : nullptr);
    const std::string after = read_fuzz_file(path);
    check_no_leftovers();

    if (target == nullptr || stale) {
        if (changed != store_result::failed)
            fuzz_fail("a change of '%s' that must not happen answered %d", shown(user).c_str(),
                      static_cast<int>(changed));
        if (after != file)
            fuzz_fail("a refused change of '%s' altered the file", shown(user).c_str());
        return 0;
    }
    if (changed != store_result::ok || change_error.text[0] != '\0')
        fuzz_fail("change of '%s' answered %d (%s)", shown(user).c_str(), static_cast<int>(changed),
                  change_error.text);
    const std::size_t hash_start = target->offset + target->hash_offset;
    std::string expected = file;
    expected.replace(hash_start, target->field[1].size(), NEW_HASH);
    if (after != expected)
        fuzz_fail("change of '%s' at %zu rewrote more than its hash field", shown(user).c_str(),
                  hash_start);
    return 0;
}
