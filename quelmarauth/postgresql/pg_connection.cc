// pg_connection.cc: connecting with the site's own connection string, the
// kept connection, and statements with a bounded wait.
#include "pg_connection.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "sql_row.h"

namespace {

// Beyond the server's statement timeout, for its cancellation to arrive
// before the client gives up on the connection.
inline constexpr unsigned GRACE_SECONDS = 5;
inline constexpr std::size_t OPTION_SIZE = 1024;

struct kept_connection {
    PGconn *connection = nullptr;
    std::string conninfo;
    unsigned seconds = 0;
    pid_t pid = 0;

    kept_connection() = default;
    kept_connection(const kept_connection &) = delete;
    kept_connection &operator=(const kept_connection &) = delete;
    // At exit (or when the module is unloaded) the server is told goodbye
    // rather than left to find a dropped socket.
    ~kept_connection()
    {
        if (connection != nullptr && pid == getpid())
            PQfinish(connection);
    }
};

kept_connection &kept()
{
    static kept_connection state;
    return state;
}

// libpq's messages end in a newline and may span lines; the log wants one.
void flatten(char *text)
{
    char *to = text;
    bool blank = false;
    for (const char *from = text; *from != '\0'; ++from) {
        const bool space = *from == '\n' || *from == '\t' || *from == ' ' || *from == '\r';
        if (space) {
            blank = to != text;
            continue;
        }
        if (blank)
            *to++ = ' ';
        blank = false;
        *to++ = *from;
    }
    *to = '\0';
}

void connection_error(PGconn *connection, const char *what, char *error, std::size_t error_size)
{
    const char *db = connection != nullptr ? PQdb(connection) : nullptr;
    sql_error(error, error_size, "%s on database '%s': %s", what, db != nullptr ? db : "",
              connection != nullptr ? PQerrorMessage(connection) : "out of memory");
    flatten(error);
}

struct conninfo_options {
    bool has_connect_timeout = false;
    std::string options;
};

// What the site's string says about the settings the store adds, so that the
// site's own choice wins.
bool read_conninfo(const char *conninfo, conninfo_options &out)
{
    char *message = nullptr;
    PQconninfoOption *parsed = PQconninfoParse(conninfo, &message);
    // The message may quote the string, and with it a password: never shown.
    if (message != nullptr)
        PQfreemem(message);
    if (parsed == nullptr)
        return false;
    for (const PQconninfoOption *option = parsed; option->keyword != nullptr; ++option) {
        if (option->val == nullptr)
            continue;
        if (std::strcmp(option->keyword, "connect_timeout") == 0)
            out.has_connect_timeout = true;
        else if (std::strcmp(option->keyword, "options") == 0)
            out.options = option->val;
    }
    PQconninfoFree(parsed);
    return true;
}

PGconn *open_connection(const quelmarauth_store_call *call, const char *conninfo, unsigned seconds, char *error,
                        std::size_t error_size)
{
    conninfo_options site;
    if (!read_conninfo(conninfo, site)) {
        sql_error(error, error_size, "%s: the connect string of service %s is not a libpq connection string",
                  call->config_path, call->service);
        return nullptr;
    }
    char timeout_text[16];
    std::snprintf(timeout_text, sizeof timeout_text, "%u", seconds);
    // The site's own options come last, so that its statement_timeout wins.
    char options[OPTION_SIZE];
    const int length = std::snprintf(options, sizeof options, "-c statement_timeout=%u000%s%s", seconds,
                                     site.options.empty() ? "" : " ", site.options.c_str());
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof options) {
        sql_error(error, error_size, "%s: the options of service %s's connect string are too long", call->config_path,
                  call->service);
        return nullptr;
    }
    const char *keywords[5] = {"dbname", "options", "fallback_application_name", nullptr, nullptr};
    const char *values[5] = {conninfo, options, "quelmarauth", nullptr, nullptr};
    if (!site.has_connect_timeout) {
        keywords[3] = "connect_timeout";
        values[3] = timeout_text;
    }
    PGconn *connection = PQconnectdbParams(keywords, values, 1);
    if (connection == nullptr || PQstatus(connection) != CONNECTION_OK) {
        connection_error(connection, "connecting", error, error_size);
        PQfinish(connection);
        return nullptr;
    }
    return connection;
}

int milliseconds_left(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until libpq holds a whole result (or knows the connection is gone).
bool wait_for_result(PGconn *connection, std::chrono::steady_clock::time_point deadline)
{
    while (PQisBusy(connection) != 0) {
        const int left = milliseconds_left(deadline);
        if (left == 0)
            return false;
        pollfd ready{PQsocket(connection), POLLIN, 0};
        if (poll(&ready, 1, left) < 0 && errno != EINTR)
            return false;
        if (PQconsumeInput(connection) == 0)
            return true; // PQgetResult reports the failure
    }
    return true;
}

} // namespace

void pg_disconnect()
{
    kept_connection &state = kept();
    // A connection inherited across fork belongs to the parent: saying
    // goodbye on it would end the parent's session.
    if (state.connection != nullptr && state.pid == getpid())
        PQfinish(state.connection);
    state.connection = nullptr;
    state.conninfo.clear();
}

PGconn *pg_connect(const quelmarauth_store_call *call, bool &reused, char *error, std::size_t error_size)
{
    reused = false;
    const char *conninfo = sql_setting(call, "connect");
    if (conninfo == nullptr) {
        sql_error(error, error_size, "%s: service %s has backend = postgresql but no connect key", call->config_path,
                  call->service);
        return nullptr;
    }
    unsigned seconds = 0;
    if (!sql_timeout_seconds(call, seconds, error, error_size))
        return nullptr;
    kept_connection &state = kept();
    if (state.connection != nullptr && state.pid == getpid() && state.seconds == seconds && state.conninfo == conninfo
        && PQstatus(state.connection) == CONNECTION_OK && PQtransactionStatus(state.connection) == PQTRANS_IDLE) {
        reused = true;
        return state.connection;
    }
    pg_disconnect();
    PGconn *connection = open_connection(call, conninfo, seconds, error, error_size);
    if (connection == nullptr)
        return nullptr;
    state.connection = connection;
    state.conninfo = conninfo;
    state.seconds = seconds;
    state.pid = getpid();
    return connection;
}

pg_reply pg_run(PGconn *connection, const pg_statement &statement, char *error, std::size_t error_size)
{
    pg_reply reply;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kept().seconds + GRACE_SECONDS);
    if (PQsendQueryParams(connection, statement.text, statement.count, nullptr, statement.values, nullptr, nullptr,
                          0)
        == 0) {
        connection_error(connection, statement.what, error, error_size);
        reply.lost = true;
        pg_disconnect();
        return reply;
    }
    // One statement gives one result; the rest (none) is read to leave the
    // connection ready for the next call.
    for (;;) {
        if (!wait_for_result(connection, deadline)) {
            sql_error(error, error_size, "%s on database '%s': no answer within %u seconds", statement.what,
                      PQdb(connection), kept().seconds + GRACE_SECONDS);
            reply.result.reset();
            reply.lost = true;
            reply.timed_out = true;
            pg_disconnect();
            return reply;
        }
        PGresult *result = PQgetResult(connection);
        if (result == nullptr)
            break;
        if (reply.result == nullptr)
            reply.result.reset(result);
        else
            PQclear(result);
    }
    if (reply.result == nullptr || PQstatus(connection) != CONNECTION_OK) {
        connection_error(connection, statement.what, error, error_size);
        reply.result.reset();
        reply.lost = true;
        pg_disconnect();
    }
    return reply;
}

void pg_result_error(PGconn *connection, const PGresult *result, const char *what, char *error,
                     std::size_t error_size)
{
    const char *message = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    const char *state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    if (message == nullptr)
        message = PQresStatus(PQresultStatus(result));
    sql_error(error, error_size, "%s on database '%s': %s (SQLSTATE %s)", what, PQdb(connection), message,
              state != nullptr ? state : "none");
    flatten(error);
}

bool pg_sqlstate_is(const PGresult *result, const char *code)
{
    const char *state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    return state != nullptr && std::strcmp(state, code) == 0;
}
