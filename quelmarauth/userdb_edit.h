// userdb_edit.h: the administrator's changes of the account file, each one
// locked pass of userdb_rewrite that waits for the lock a bounded time.
// denied: refused (reason in error, no path in it); failed: the store failed.
#ifndef QUELMARAUTH_USERDB_EDIT_H
#define QUELMARAUTH_USERDB_EDIT_H

#include <string_view>

#include "diagnostic.h"
#include "password_hash.h"
#include "store.h"

// Appends record as a new last line; denied when a line of that name
// counts already, or the record's fields cannot make a line that parses.
store_result userdb_add_account(const char *path, const account_record &record, error_text &error);

// Removes the first line that counts for user, line feed included.
store_result userdb_remove_account(const char *path, std::string_view user, error_text &error);

// Replaces user's hash field by hash (made with method), whatever it held;
// a field that held a {SCHEME} prefix gets the prefix of method.
store_result userdb_set_hash(const char *path, std::string_view user, std::string_view hash, hash_method method,
                             error_text &error);

// Puts '!' in front of user's hash, or takes one away.
store_result userdb_set_locked(const char *path, std::string_view user, bool locked, error_text &error);

// The line of record, without its line feed, or false (reason in error)
// when it would not parse back into the same record.
[[nodiscard]] bool format_userdb_line(const account_record &record, std::string &line, error_text &error);

#endif
