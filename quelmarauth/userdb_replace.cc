// userdb_replace.cc: the program's change of one account's hash, which is
// made only over the very hash the old password was verified against.
#include "userdb_store.h"

#include <string>

#include "password_hash.h"
#include "userdb_line.h"
#include "userdb_rewrite.h"

namespace {

struct hash_replacement {
    const char *path;
    std::string_view user;
    std::string_view verified_hash;
    std::string_view new_hash;
};

edit_step replace_on_line(void *context, const scanned_line &line, userdb_splice &splice, error_text &error)
{
    const auto &change = *static_cast<const hash_replacement *>(context);
    userdb_fields fields;
    if (line.overlong || userdb_line_name(line.text) != change.user || !parse_userdb_line(line.text, fields))
        return edit_step::next;
    if (!equal_constant_time(fields.hash, change.verified_hash)) {
        set_error(error, "%s: hash of %.*s changed meanwhile; not changed", change.path,
                  static_cast<int>(change.user.size()), change.user.data());
        return edit_step::failed;
    }
    splice.offset = line.offset + static_cast<off_t>(fields.hash_offset);
    splice.end = splice.offset + static_cast<off_t>(fields.hash.size());
    splice.text = change.new_hash;
    return edit_step::change;
}

edit_step replace_at_end(void *context, bool, userdb_splice &, error_text &error)
{
    const auto &change = *static_cast<const hash_replacement *>(context);
    set_error(error, "%s: no account %.*s any more; not changed", change.path, static_cast<int>(change.user.size()),
              change.user.data());
    return edit_step::failed;
}

// The place a look-up found: the line must still start with the name and
// carry the verified hash there, after a line feed unless it is the first.
bool plan_shortcut(std::string_view user, std::string_view verified_hash, std::string_view new_hash,
                   const userdb_position &position, std::string &expected, userdb_shortcut &shortcut)
{
    const off_t hash_start = position.line_offset + static_cast<off_t>(user.size() + 1);
    if (!position.known || position.hash_end != hash_start + static_cast<off_t>(verified_hash.size()))
        return false;
    if (position.line_offset > 0)
        expected.push_back('\n');
    expected.append(user);
    expected.push_back(':');
    expected.append(verified_hash);
    expected.push_back(':');
    shortcut.file = position.file;
    shortcut.check_offset = position.line_offset > 0 ? position.line_offset - 1 : 0;
    shortcut.expected = expected;
    shortcut.splice.offset = hash_start;
    shortcut.splice.end = position.hash_end;
    shortcut.splice.text = new_hash;
    return true;
}

} // namespace

store_result userdb_replace_hash(const char *path, std::string_view user, std::string_view verified_hash,
                                 std::string_view new_hash, error_text &error, const userdb_position *position)
{
    // A hash with a ':' or a line feed would change the file's other fields
    // or lines; libxcrypt never makes one, and this makes sure of it.
    if (new_hash.empty() || !is_valid_account_name(new_hash)) {
        set_error(error, "%s: refusing a new hash that is empty or holds ':' or blanks; not changed", path);
        return store_result::failed;
    }
    hash_replacement change{path, user, verified_hash, new_hash};
    userdb_edit edit;
    edit.line = replace_on_line;
    edit.end = replace_at_end;
    edit.context = &change;
    std::string expected;
    userdb_shortcut shortcut;
    if (position != nullptr && plan_shortcut(user, verified_hash, new_hash, *position, expected, shortcut))
        edit.shortcut = &shortcut;
    return userdb_rewrite(path, edit, error);
}
