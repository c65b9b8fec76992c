// sqlite_queries.h: the queries a section sets or the defaults for the plain
// accounts table, and preparing them with their shape checked, so that a
// query written for another purpose fails with a reason instead of binding
// a password hash where a name belongs.
#ifndef QUELMARAUTH_SQLITE_QUERIES_H
#define QUELMARAUTH_SQLITE_QUERIES_H

#include <sqlite3.h>

#include <cstddef>

#include "sqlite_connection.h"
#include "store_module.h"

enum class sqlite_query { lookup, update, insert, remove, list };

// The configuration key of a query ("lookup", "update", ..., "delete").
const char *sqlite_query_key(sqlite_query query);

// Prepares query for the call's section. QUELMARAUTH_STORE_OK with the
// statement in statement; DENIED when a site schema has no such query
// (adding, removing and listing accounts are then the site's business);
// FAILED when the section sets no usable query, or the query does not
// compile or has the wrong number of parameters or columns.
int sqlite_prepare(sqlite3 *db, const quelmarauth_store_call *call, sqlite_query query,
                   sqlite_statement &statement, char *error, std::size_t error_size);

#endif
