// sqlite_call.h: what every call of the sqlite store does first and last:
// find its database from the section, bind its parameters, run a change and
// count its rows, and word a database failure.
#ifndef QUELMARAUTH_SQLITE_CALL_H
#define QUELMARAUTH_SQLITE_CALL_H

#include <sqlite3.h>

#include <cstddef>

#include "sqlite_queries.h"
#include "store_module.h"

// The open database of the call's section (keys database and timeout).
sqlite3 *sqlite_for_call(const quelmarauth_store_call *call, char *error, std::size_t error_size);

// Binds text (null: SQL NULL) as parameter index; false when SQLite refuses.
bool sqlite_bind_text(sqlite_statement &statement, int index, const char *text);
// Binds an id (absent: SQL NULL) as an integer parameter.
bool sqlite_bind_id(sqlite_statement &statement, int index, int has_id, unsigned long id);

// Runs a change to its end: the rows it changed, or -1 when it failed.
long long sqlite_run_change(sqlite3 *db, sqlite_statement &statement);

// FAILED, with "database PATH: QUERY query: SQLite's reason" in error.
int sqlite_query_failed(const quelmarauth_store_call *call, sqlite3 *db, sqlite_query query, char *error,
                        std::size_t error_size);

// A column as NUL-terminated text, null for SQL NULL; false when the value
// holds a NUL byte, which no hash, name or folder can (or SQLite ran out of
// memory converting it).
bool sqlite_column(sqlite3_stmt *statement, int column, const char *&text);

#endif
