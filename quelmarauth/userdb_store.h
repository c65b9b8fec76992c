// userdb_store.h: finding an account in the account file, and replacing its
// hash under the file's lock.
#ifndef QUELMARAUTH_USERDB_STORE_H
#define QUELMARAUTH_USERDB_STORE_H

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "diagnostic.h"
#include "store.h"

// The account file a configuration names (its key userdb, else "userdb"
// beside the configuration file).
std::string userdb_file_path(const store_config &config);

struct userdb_fields;

// The account a parsed line describes.
void record_from_fields(const userdb_fields &fields, account_record &record);

// Where a look-up found an account's hash, in which file: the file as it was
// when the look-up opened it (its inode, size and times), so that a change
// can tell whether it is still the very same file.
struct userdb_position {
    bool known = false;
    struct stat file {};
    off_t line_offset = 0; // start of the account's line
    off_t hash_end = 0;    // the byte after its hash field (a ':')
};

// Reads the whole file whatever the name, so that the time taken does not
// tell whether or where the name is. ok: the first line that parses and
// carries user, in record, and where it stands in position (if not null);
// denied: no such line; failed: the file could not be read (reason in
// error).
store_result userdb_lookup(const char *path, const char *user, account_record &record, error_text &error,
                           userdb_position *position = nullptr);

// Under the lock on "<path>.lock", in one pass over the file: finds the first
// line of user, confirms that its hash field is still exactly verified_hash,
// and writes a copy of the file with only that field replaced by new_hash,
// which then takes the file's place. When the file is still the one a
// look-up saw (position), the line is confirmed where the look-up found it
// and the rest copied without being scanned again. ok: changed; failed: not
// changed, the file untouched (reason in error). ok with a reason in error:
// changed, but the folder could not be flushed.
store_result userdb_replace_hash(const char *path, std::string_view user, std::string_view verified_hash,
                                 std::string_view new_hash, error_text &error,
                                 const userdb_position *position = nullptr);

#endif
