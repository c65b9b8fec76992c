// sqlite_call.cc: the steps every call of the sqlite store shares.
#include "sqlite_call.h"

#include <cstring>

#include "sql_row.h"

sqlite3 *sqlite_for_call(const quelmarauth_store_call *call, char *error, std::size_t error_size)
{
    const char *path = sql_setting(call, "database");
    if (path == nullptr) {
        sql_error(error, error_size, "%s: service %s has backend = sqlite but no database", call->config_path,
                  call->service);
        return nullptr;
    }
    unsigned seconds = 0;
    if (!sql_timeout_seconds(call, seconds, error, error_size))
        return nullptr;
    return sqlite_database(path, seconds, error, error_size);
}

bool sqlite_bind_text(sqlite_statement &statement, int index, const char *text)
{
    if (text == nullptr)
        return sqlite3_bind_null(statement.get(), index) == SQLITE_OK;
    return sqlite3_bind_text(statement.get(), index, text, -1, SQLITE_STATIC) == SQLITE_OK;
}

bool sqlite_bind_id(sqlite_statement &statement, int index, int has_id, unsigned long id)
{
    if (has_id == 0)
        return sqlite3_bind_null(statement.get(), index) == SQLITE_OK;
    return sqlite3_bind_int64(statement.get(), index, static_cast<sqlite3_int64>(id)) == SQLITE_OK;
}

long long sqlite_run_change(sqlite3 *db, sqlite_statement &statement)
{
    if (sqlite3_step(statement.get()) != SQLITE_DONE)
        return -1;
    return sqlite3_changes64(db);
}

int sqlite_query_failed(const quelmarauth_store_call *call, sqlite3 *db, sqlite_query query, char *error,
                        std::size_t error_size)
{
    sql_error(error, error_size, "database %s: %s query: %s", sql_setting(call, "database"),
              sqlite_query_key(query), sqlite_failure(db));
    return QUELMARAUTH_STORE_FAILED;
}

bool sqlite_column(sqlite3_stmt *statement, int column, const char *&text)
{
    text = nullptr;
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return true;
    text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    if (text == nullptr)
        return false;
    const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
    return std::strlen(text) == bytes;
}
