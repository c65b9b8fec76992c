// pg_admin.cc: adding, removing and listing accounts on a PostgreSQL store.
#include "pg_admin.h"

#include "pg_queries.h"
#include "pg_statements.h"
#include "sql_row.h"

namespace {

inline constexpr int LIST_COLUMNS = 1 + SQL_LOOKUP_COLUMNS; // name, then a lookup's columns

// An absent field binds SQL NULL: an empty text would not even fit an
// integer column.
const char *text_or_null(const char *text) { return text[0] != '\0' ? text : nullptr; }

} // namespace

int pg_add(const quelmarauth_store_call *call, const quelmarauth_store_record *record, const char *hash,
           char *error, std::size_t error_size) noexcept
{
    try {
        const char *insert = pg_query_text(call, pg_query::insert, error, error_size);
        if (insert == nullptr)
            return QUELMARAUTH_STORE_DENIED;
        char uid[24];
        char gid[24];
        sql_id_text(record->has_uid, record->uid, uid);
        sql_id_text(record->has_gid, record->gid, gid);
        const char *values[] = {record->name,       hash, text_or_null(uid), text_or_null(gid),
                                text_or_null(record->home), text_or_null(record->sysuser)};
        switch (pg_change_one_row(call, {"insert", insert, 6, values}, error, error_size)) {
        case row_change::one:
            return QUELMARAUTH_STORE_OK;
        case row_change::taken:
            sql_error(error, error_size, "account %s exists", record->name);
            return QUELMARAUTH_STORE_DENIED;
        case row_change::none:
            sql_error(error, error_size, "the insert query added no account named %s", record->name);
            return QUELMARAUTH_STORE_DENIED;
        case row_change::many:
        case row_change::failed:
            return QUELMARAUTH_STORE_FAILED;
        }
        return QUELMARAUTH_STORE_FAILED;
    } catch (...) {
        sql_error(error, error_size, "internal failure");
        return QUELMARAUTH_STORE_FAILED;
    }
}

int pg_remove(const quelmarauth_store_call *call, const char *user, char *error, std::size_t error_size) noexcept
{
    try {
        const char *remove = pg_query_text(call, pg_query::remove, error, error_size);
        if (remove == nullptr)
            return QUELMARAUTH_STORE_DENIED;
        const char *values[] = {user};
        switch (pg_change_one_row(call, {"delete", remove, 1, values}, error, error_size)) {
        case row_change::one:
            return QUELMARAUTH_STORE_OK;
        case row_change::none:
            sql_error(error, error_size, "no account %s", user);
            return QUELMARAUTH_STORE_DENIED;
        case row_change::many:
        case row_change::taken:
        case row_change::failed:
            return QUELMARAUTH_STORE_FAILED;
        }
        return QUELMARAUTH_STORE_FAILED;
    } catch (...) {
        sql_error(error, error_size, "internal failure");
        return QUELMARAUTH_STORE_FAILED;
    }
}

int pg_list(const quelmarauth_store_call *call,
            int (*visit)(void *arg, const quelmarauth_store_record *record, const char *hash), void *arg,
            char *error, std::size_t error_size) noexcept
{
    try {
        const char *list = pg_query_text(call, pg_query::list, error, error_size);
        if (list == nullptr)
            return QUELMARAUTH_STORE_DENIED;
        PGconn *connection = nullptr;
        const pg_reply reply = pg_run_read(call, {"list", list, 0, nullptr}, connection, error, error_size);
        if (reply.lost)
            return QUELMARAUTH_STORE_FAILED;
        const PGresult *result = reply.result.get();
        if (PQresultStatus(result) != PGRES_TUPLES_OK) {
            pg_result_error(connection, result, "list", error, error_size);
            return QUELMARAUTH_STORE_FAILED;
        }
        if (PQnfields(result) != LIST_COLUMNS) {
            sql_error(error, error_size,
                      "list on database '%s' returns %d columns, not %d (name, hash, uid, gid, home, sysuser)",
                      PQdb(connection), PQnfields(result), LIST_COLUMNS);
            return QUELMARAUTH_STORE_FAILED;
        }
        for (int row = 0; row < PQntuples(result); ++row) {
            const char *columns[LIST_COLUMNS];
            for (int i = 0; i < LIST_COLUMNS; ++i)
                columns[i] = PQgetisnull(result, row, i) != 0 ? nullptr : PQgetvalue(result, row, i);
            if (columns[0] == nullptr) {
                sql_error(error, error_size, "list on database '%s' gave row %d without a name", PQdb(connection),
                          row + 1);
                return QUELMARAUTH_STORE_FAILED;
            }
            quelmarauth_store_record record{};
            char hash[QUELMARAUTH_STORE_HASH_SIZE];
            if (!sql_record_from_row(columns[0], columns + 1, &record, hash, sizeof hash, error, error_size))
                return QUELMARAUTH_STORE_FAILED;
            if (visit(arg, &record, hash) != 0)
                return QUELMARAUTH_STORE_FAILED;
        }
        return QUELMARAUTH_STORE_OK;
    } catch (...) {
        sql_error(error, error_size, "internal failure");
        return QUELMARAUTH_STORE_FAILED;
    }
}
