// sql_row.h: what the database stores share: reading a section's settings,
// and turning the texts of a result row into an account record.
//
// Columns arrive as NUL-terminated texts, a null pointer for SQL NULL,
// whatever the database: both SQLite and libpq hand integers over as text
// too, so one routine checks them all the same way.
#ifndef QUELMARAUTH_SQL_ROW_H
#define QUELMARAUTH_SQL_ROW_H

#include <cstddef>

#include "store_module.h"

// The columns a lookup returns, in this order.
enum sql_lookup_column : int { SQL_HASH = 0, SQL_UID, SQL_GID, SQL_HOME, SQL_SYSUSER, SQL_LOOKUP_COLUMNS };

// The value of key in the section, or null when it does not set it.
const char *sql_setting(const quelmarauth_store_call *call, const char *key);

// Seconds the store waits for its database (connect, busy, statement): the
// section's "timeout", else 10. False when the value is not a whole number
// of seconds from 1 to 3600 (reason in error).
bool sql_timeout_seconds(const quelmarauth_store_call *call, unsigned &seconds, char *error,
                         std::size_t error_size);

// Fills record (name = user) and hash from a lookup row. An absent hash is
// written as empty, which never verifies. False, with the reason, when a
// column does not fit or a user or group id is not one.
bool sql_record_from_row(const char *user, const char *const columns[SQL_LOOKUP_COLUMNS],
                         quelmarauth_store_record *record, char *hash, std::size_t hash_size, char *error,
                         std::size_t error_size);

// Writes an id for a query parameter: empty text for an absent one.
void sql_id_text(int has_id, unsigned long id, char (&text)[24]);

// printf into error, always NUL-terminated, cut at error_size.
void sql_error(char *error, std::size_t error_size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

#endif
