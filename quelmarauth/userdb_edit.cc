// userdb_edit.cc: adding, removing, re-hashing, locking and unlocking one
// account, by naming the one splice of the locked rewrite. The account a
// change touches is the one that counts: the first line of its name that
// parses, as for a login.
#include "userdb_edit.h"

#include <cstdint>
#include <string>

#include "hash_scheme.h"
#include "store_admin.h"
#include "userdb_line.h"
#include "wiped_buffer.h"
#include "userdb_rewrite.h"

namespace {

enum class account_change { remove, set_hash, lock, unlock };

struct account_edit {
    std::string_view user;
    account_change change;
    std::string_view hash;     // for set_hash
    std::string_view prefixed; // the same with its scheme, for a hash stored with one
};

bool is_users_line(const scanned_line &line, std::string_view user, userdb_fields &fields)
{
    return !line.overlong && userdb_line_name(line.text) == user && parse_userdb_line(line.text, fields);
}

edit_step edit_on_line(void *context, const scanned_line &line, userdb_splice &splice, error_text &error)
{
    const auto &edit = *static_cast<const account_edit *>(context);
    userdb_fields fields;
    if (!is_users_line(line, edit.user, fields))
        return edit_step::next;
    const int length = static_cast<int>(edit.user.size());
    const off_t hash_at = line.offset + static_cast<off_t>(fields.hash_offset);
    const bool locked = fields.hash.starts_with('!');
    switch (edit.change) {
    case account_change::remove:
        // The line feed goes too; a last line without one has none to take.
        splice.offset = line.offset;
        splice.end = line.offset + static_cast<off_t>(line.text.size()) + 1;
        return edit_step::change;
    case account_change::set_hash:
        splice.offset = hash_at;
        splice.end = hash_at + static_cast<off_t>(fields.hash.size());
        // A hash stored with a scheme prefix keeps one, so that the mail
        // stack reading the same file still understands it.
        splice.text = split_scheme(fields.hash).scheme.empty() ? edit.hash : edit.prefixed;
        return edit_step::change;
    case account_change::lock:
        if (locked) {
            set_error(error, "account %.*s is already locked", length, edit.user.data());
            return edit_step::denied;
        }
        splice.offset = splice.end = hash_at;
        splice.text = "!";
        return edit_step::change;
    case account_change::unlock:
        if (!locked) {
            set_error(error, "account %.*s is not locked", length, edit.user.data());
            return edit_step::denied;
        }
        splice.offset = hash_at;
        splice.end = hash_at + 1;
        return edit_step::change;
    }
    return edit_step::failed;
}

edit_step edit_at_end(void *context, bool, userdb_splice &, error_text &error)
{
    const auto &edit = *static_cast<const account_edit *>(context);
    set_error(error, "no account %.*s", static_cast<int>(edit.user.size()), edit.user.data());
    return edit_step::denied;
}

store_result run_account_edit(const char *path, const account_edit &change, error_text &error)
{
    account_edit copy = change;
    userdb_edit edit;
    edit.line = edit_on_line;
    edit.end = edit_at_end;
    edit.context = &copy;
    edit.lock_wait_seconds = ADMIN_LOCK_WAIT_SECONDS;
    return userdb_rewrite(path, edit, error);
}

struct account_addition {
    std::string_view name;
    std::string text; // the new line and its line feed, and room for one before it
};

edit_step add_on_line(void *context, const scanned_line &line, userdb_splice &, error_text &error)
{
    const auto &addition = *static_cast<const account_addition *>(context);
    userdb_fields fields;
    if (!is_users_line(line, addition.name, fields))
        return edit_step::next;
    set_error(error, "account %.*s exists", static_cast<int>(addition.name.size()), addition.name.data());
    return edit_step::denied;
}

edit_step add_at_end(void *context, bool ends_with_line_feed, userdb_splice &splice, error_text &)
{
    const auto &addition = *static_cast<const account_addition *>(context);
    // A last line without its line feed gets one, or the new account would
    // join it.
    splice.text = addition.text;
    if (ends_with_line_feed)
        splice.text.remove_prefix(1);
    return edit_step::change;
}

bool has_forbidden_byte(std::string_view text)
{
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ':' || byte < 0x20 || byte == 0x7f)
            return true;
    }
    return false;
}

} // namespace

bool format_userdb_line(const account_record &record, std::string &line, error_text &error)
{
    if (!is_valid_account_name(record.name)) {
        set_error(error, "invalid account name");
        return false;
    }
    if (record.hash.size() == 0 || !is_valid_account_name(record.hash.view())) {
        set_error(error, "invalid hash for %s", record.name.c_str());
        return false;
    }
    if (has_forbidden_byte(record.home) || has_forbidden_byte(record.sysuser)) {
        set_error(error, "home and system user of %s must hold no ':' and no control characters",
                  record.name.c_str());
        return false;
    }
    line = record.name;
    line += ':';
    line += record.hash.view();
    line += ':';
    if (record.has_uid)
        line += std::to_string(static_cast<std::uint32_t>(record.uid));
    line += ':';
    if (record.has_gid)
        line += std::to_string(static_cast<std::uint32_t>(record.gid));
    line += ':';
    line += record.home;
    line += ':';
    line += record.sysuser;
    userdb_fields fields;
    if (line.size() > USERDB_MAX_LINE || !parse_userdb_line(line, fields)) {
        set_error(error, "the line of %s would be longer than %zu bytes or would not parse", record.name.c_str(),
                  USERDB_MAX_LINE);
        explicit_bzero(line.data(), line.size());
        line.clear();
        return false;
    }
    return true;
}

store_result userdb_add_account(const char *path, const account_record &record, error_text &error)
{
    account_addition addition;
    addition.name = record.name;
    std::string line;
    if (!format_userdb_line(record, line, error))
        return store_result::denied;
    addition.text = "\n" + line + "\n";
    explicit_bzero(line.data(), line.size());
    userdb_edit edit;
    edit.line = add_on_line;
    edit.end = add_at_end;
    edit.context = &addition;
    edit.lock_wait_seconds = ADMIN_LOCK_WAIT_SECONDS;
    const store_result result = userdb_rewrite(path, edit, error);
    explicit_bzero(addition.text.data(), addition.text.size());
    return result;
}

store_result userdb_remove_account(const char *path, std::string_view user, error_text &error)
{
    return run_account_edit(path, {user, account_change::remove, {}, {}}, error);
}

store_result userdb_set_hash(const char *path, std::string_view user, std::string_view hash, hash_method method,
                             error_text &error)
{
    if (hash.empty() || !is_valid_account_name(hash)) {
        set_error(error, "refusing a new hash that is empty or holds ':' or blanks");
        return store_result::failed;
    }
    wiped_buffer prefixed;
    prefixed.assign(std::string(scheme_of_method(method)) + std::string(hash));
    return run_account_edit(path, {user, account_change::set_hash, hash, prefixed.view()}, error);
}

store_result userdb_set_locked(const char *path, std::string_view user, bool locked, error_text &error)
{
    return run_account_edit(path, {user, locked ? account_change::lock : account_change::unlock, {}, {}}, error);
}
