// userdb_replace.cc: the program's change of one account's hash, which is
// made only over the very hash the old password was verified against.
#include "userdb_store.h"

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

} // namespace

store_result userdb_replace_hash(const char *path, std::string_view user, std::string_view verified_hash,
                                 std::string_view new_hash, error_text &error)
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
    return userdb_rewrite(path, edit, error);
}
