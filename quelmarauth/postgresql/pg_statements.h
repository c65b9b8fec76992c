// pg_statements.h: the two ways the store runs its statements: a read that
// survives a server restart between two calls, and a change that must touch
// exactly one row or nothing.
#ifndef QUELMARAUTH_PG_STATEMENTS_H
#define QUELMARAUTH_PG_STATEMENTS_H

#include "pg_connection.h"

// Runs a statement that may safely run twice. When the kept connection
// turns out to be gone (the server restarted since the last call), it is
// run once more on a new one. connection is the one that answered.
pg_reply pg_run_read(const quelmarauth_store_call *call, const pg_statement &statement, PGconn *&connection,
                     char *error, std::size_t error_size);

enum class row_change {
    one,     // exactly one row changed, committed
    none,    // no row changed
    many,    // more than one would have changed: rolled back
    taken,   // a unique key refused the row (SQLSTATE 23505): rolled back
    failed,  // the database failed; error says why
};

// Runs statement in a transaction of its own, committed only when it
// changed exactly one row.
row_change pg_change_one_row(const quelmarauth_store_call *call, const pg_statement &statement, char *error,
                             std::size_t error_size);

#endif
