// userdb_store.h: finding an account in the account file, and replacing its
// hash under the file's lock.
#ifndef QUELMARAUTH_USERDB_STORE_H
#define QUELMARAUTH_USERDB_STORE_H

#include <string>
#include <string_view>

#include "diagnostic.h"
#include "store.h"

// The account file a configuration names (its key userdb, else "userdb"
// beside the configuration file).
std::string userdb_file_path(const store_config &config);

// Reads the whole file whatever the name, so that the time taken does not
// tell whether or where the name is. ok: the first line that parses and
// carries user, in record; denied: no such line; failed: the file could not
// be read (reason in error).
store_result userdb_lookup(const char *path, const char *user, account_record &record, error_text &error);

// Under the lock on "<path>.lock", in one pass over the file: finds the first
// line of user, confirms that its hash field is still exactly verified_hash,
// and writes a copy of the file with only that field replaced by new_hash,
// which then takes the file's place. ok: changed; failed: not changed, the
// file untouched (reason in error). ok with a reason in error: changed, but
// the folder could not be flushed.
store_result userdb_replace_hash(const char *path, std::string_view user, std::string_view verified_hash,
                                 std::string_view new_hash, error_text &error);

#endif
