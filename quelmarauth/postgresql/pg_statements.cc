// pg_statements.cc: a repeatable read, and the one-row transaction.
#include "pg_statements.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "sql_row.h"

namespace {

owned_result run_plain(PGconn *connection, const char *what, const char *text, char *error, std::size_t error_size)
{
    pg_reply reply = pg_run(connection, {what, text, 0, nullptr}, error, error_size);
    if (reply.lost)
        return nullptr;
    if (PQresultStatus(reply.result.get()) != PGRES_COMMAND_OK) {
        pg_result_error(connection, reply.result.get(), what, error, error_size);
        return nullptr;
    }
    return std::move(reply.result);
}

// After a failed or unwanted change; a rollback that fails too leaves a
// connection the next call must not use.
void roll_back(PGconn *connection)
{
    char ignored[QUELMARAUTH_STORE_TEXT_SIZE];
    if (run_plain(connection, "ROLLBACK", "ROLLBACK", ignored, sizeof ignored) == nullptr)
        pg_disconnect();
}

// The rows a statement changed, as the server counts them.
bool rows_changed(const PGresult *result, unsigned long &rows)
{
    const char *text = PQcmdTuples(const_cast<PGresult *>(result));
    if (text == nullptr || text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    char *end = nullptr;
    rows = std::strtoul(text, &end, 10);
    return errno == 0 && *end == '\0';
}

} // namespace

pg_reply pg_run_read(const quelmarauth_store_call *call, const pg_statement &statement, PGconn *&connection,
                     char *error, std::size_t error_size)
{
    for (int attempt = 0;; ++attempt) {
        bool reused = false;
        connection = pg_connect(call, reused, error, error_size);
        if (connection == nullptr) {
            pg_reply failed;
            failed.lost = true;
            return failed;
        }
        pg_reply reply = pg_run(connection, statement, error, error_size);
        // A new connection that fails, or a wait that ran out, would only
        // fail again, and take as long.
        if (!reply.lost || reply.timed_out || !reused || attempt > 0)
            return reply;
        error[0] = '\0';
    }
}

row_change pg_change_one_row(const quelmarauth_store_call *call, const pg_statement &statement, char *error,
                             std::size_t error_size)
{
    PGconn *connection = nullptr;
    // Nothing has happened before BEGIN, so it is safe to repeat.
    pg_reply begun = pg_run_read(call, {"BEGIN", "BEGIN", 0, nullptr}, connection, error, error_size);
    if (begun.lost)
        return row_change::failed;
    if (PQresultStatus(begun.result.get()) != PGRES_COMMAND_OK) {
        pg_result_error(connection, begun.result.get(), "BEGIN", error, error_size);
        pg_disconnect();
        return row_change::failed;
    }
    // A connection lost from here on ends the transaction on the server,
    // which rolls it back.
    pg_reply changed = pg_run(connection, statement, error, error_size);
    if (changed.lost)
        return row_change::failed;
    const ExecStatusType status = PQresultStatus(changed.result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        const bool taken = pg_sqlstate_is(changed.result.get(), "23505");
        pg_result_error(connection, changed.result.get(), statement.what, error, error_size);
        roll_back(connection);
        return taken ? row_change::taken : row_change::failed;
    }
    unsigned long rows = 0;
    if (!rows_changed(changed.result.get(), rows)) {
        sql_error(error, error_size, "%s on database '%s' does not say how many rows it changed (%s)", statement.what,
                  PQdb(connection), PQcmdStatus(changed.result.get()));
        roll_back(connection);
        return row_change::failed;
    }
    if (rows != 1) {
        if (rows > 1)
            sql_error(error, error_size, "%s on database '%s' would change %lu rows, not one; nothing changed",
                      statement.what, PQdb(connection), rows);
        roll_back(connection);
        return rows == 0 ? row_change::none : row_change::many;
    }
    pg_reply committed = pg_run(connection, {"COMMIT", "COMMIT", 0, nullptr}, error, error_size);
    if (committed.lost)
        return row_change::failed;
    // A transaction the server had already aborted answers COMMIT with
    // "ROLLBACK".
    if (PQresultStatus(committed.result.get()) != PGRES_COMMAND_OK
        || std::strcmp(PQcmdStatus(committed.result.get()), "COMMIT") != 0) {
        if (PQresultStatus(committed.result.get()) != PGRES_COMMAND_OK)
            pg_result_error(connection, committed.result.get(), "COMMIT", error, error_size);
        else
            sql_error(error, error_size, "COMMIT on database '%s' rolled back", PQdb(connection));
        pg_disconnect();
        return row_change::failed;
    }
    return row_change::one;
}
