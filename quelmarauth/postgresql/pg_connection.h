// pg_connection.h: the one connection a process keeps to its database across
// the calls of one client connection, and statements run on it with every
// wait bounded.
#ifndef QUELMARAUTH_PG_CONNECTION_H
#define QUELMARAUTH_PG_CONNECTION_H

#include <libpq-fe.h>

#include <cstddef>
#include <memory>

#include "store_module.h"

struct owned_result_clear {
    void operator()(PGresult *result) const noexcept { PQclear(result); }
};
using owned_result = std::unique_ptr<PGresult, owned_result_clear>;

struct pg_statement {
    const char *what; // names it in errors: "lookup", "BEGIN", ...
    const char *text;
    int count;
    const char *const *values; // text format; a null entry binds SQL NULL
};

// The connection for the section's connect string and timeout: the one an
// earlier call of this process opened when it is still good and was made
// for the same settings, else a new one. Null, with the reason, when none
// can be had.
// reused tells which.
PGconn *pg_connect(const quelmarauth_store_call *call, bool &reused, char *error, std::size_t error_size);

// Closes the kept connection, so that the next call starts afresh.
void pg_disconnect();

struct pg_reply {
    owned_result result;     // the server's answer, error results included
    bool lost = false;      // no answer: the connection failed or the wait ran out
    bool timed_out = false; // the wait ran out
};

// Sends statement and waits for its answer no longer than the section's
// timeout and a grace for the server's own statement timeout to answer
// first. A lost connection is closed, with the reason in error.
pg_reply pg_run(PGconn *connection, const pg_statement &statement, char *error, std::size_t error_size);

// The reason of an error result, "WHAT on database 'DB': MESSAGE (SQLSTATE)".
void pg_result_error(PGconn *connection, const PGresult *result, const char *what, char *error,
                     std::size_t error_size);

// Whether result failed with this SQLSTATE code.
bool pg_sqlstate_is(const PGresult *result, const char *code);

#endif
