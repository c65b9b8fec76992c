// sqlite_queries.cc: which query text applies, and its shape.
#include "sqlite_queries.h"

#include <cstring>

#include "sql_row.h"

namespace {

struct query_shape {
    const char *key;
    const char *default_text; // for the plain accounts table (deploy/sqlite-accounts.sql)
    int parameters;           // ?1 .. ?N, bound in this order
    const char *parameter_names;
    int columns; // result columns; 0 for the queries that change rows
    const char *verb;
};

// Indexed by sqlite_query.
constexpr query_shape SHAPES[] = {
    {"lookup", "SELECT hash, uid, gid, home, sysuser FROM accounts WHERE name = ?1", 1, "name", SQL_LOOKUP_COLUMNS,
     nullptr},
    {"update", "UPDATE accounts SET hash = ?2 WHERE name = ?1 AND hash = ?3", 3, "name, new hash, old hash", 0,
     nullptr},
    {"insert", "INSERT INTO accounts (name, hash, uid, gid, home, sysuser) VALUES (?1, ?2, ?3, ?4, ?5, ?6)", 6,
     "name, hash, uid, gid, home, sysuser", 0, "add"},
    {"delete", "DELETE FROM accounts WHERE name = ?1", 1, "name", 0, "remove"},
    {"list", "SELECT name, hash, uid, gid, home, sysuser FROM accounts ORDER BY name", 0, "none", 6, "list"},
};

const query_shape &shape_of(sqlite_query query) { return SHAPES[static_cast<int>(query)]; }

// Only blanks and semicolons may follow the one statement: a second
// statement would never run, and the site should hear so.
bool only_blanks_after(const char *tail)
{
    for (const char *c = tail; c != nullptr && *c != '\0'; ++c) {
        if (std::strchr(" \t\r\n;", *c) == nullptr)
            return false;
    }
    return true;
}

} // namespace

const char *sqlite_query_key(sqlite_query query) { return shape_of(query).key; }

int sqlite_prepare(sqlite3 *db, const quelmarauth_store_call *call, sqlite_query query,
                   sqlite_statement &statement, char *error, std::size_t error_size)
{
    const query_shape &shape = shape_of(query);
    const char *text = sql_setting(call, shape.key);
    if (text == nullptr) {
        // A section with its own lookup describes a schema of its own: the
        // plain table's queries would change some other table, or none.
        if (sql_setting(call, "lookup") == nullptr) {
            text = shape.default_text;
        } else if (shape.verb != nullptr) {
            sql_error(error, error_size,
                      "the configuration of service %s has no %s query; %s accounts with the site's own tools",
                      call->service, shape.key, shape.verb);
            return QUELMARAUTH_STORE_DENIED;
        } else {
            sql_error(error, error_size, "%s: service %s sets its own lookup query but no %s query",
                      call->config_path, call->service, shape.key);
            return QUELMARAUTH_STORE_FAILED;
        }
    }
    const char *tail = nullptr;
    if (sqlite3_prepare_v3(db, text, -1, 0, statement.out(), &tail) != SQLITE_OK) {
        sql_error(error, error_size, "database %s: %s query: %s", sql_setting(call, "database"), shape.key,
                  sqlite_failure(db));
        return QUELMARAUTH_STORE_FAILED;
    }
    if (statement.get() == nullptr || !only_blanks_after(tail)) {
        sql_error(error, error_size, "%s: service %s: %s query: must be exactly one SQL statement",
                  call->config_path, call->service, shape.key);
        return QUELMARAUTH_STORE_FAILED;
    }
    const int parameters = sqlite3_bind_parameter_count(statement.get());
    if (parameters != shape.parameters) {
        sql_error(error, error_size, "%s: service %s: %s query: takes %d parameters; it must take %d (%s)",
                  call->config_path, call->service, shape.key, parameters, shape.parameters,
                  shape.parameter_names);
        return QUELMARAUTH_STORE_FAILED;
    }
    const int columns = sqlite3_column_count(statement.get());
    if (columns != shape.columns) {
        sql_error(error, error_size, "%s: service %s: %s query: returns %d columns; it must return %d",
                  call->config_path, call->service, shape.key, columns, shape.columns);
        return QUELMARAUTH_STORE_FAILED;
    }
    return QUELMARAUTH_STORE_OK;
}
