// pg_store.cc: the "postgresql" store module: accounts are rows of a
// PostgreSQL database, read and changed with the site's statements (or
// those of the plain accounts table); the library checks the passwords and
// makes the hashes.
#include "pg_admin.h"
#include "pg_queries.h"
#include "pg_statements.h"
#include "sql_row.h"

namespace {

const quelmarauth_store_key PG_KEYS[] = {
    {"connect", QUELMARAUTH_KEY_TEXT}, {"lookup", QUELMARAUTH_KEY_TEXT}, {"update", QUELMARAUTH_KEY_TEXT},
    {"insert", QUELMARAUTH_KEY_TEXT},  {"delete", QUELMARAUTH_KEY_TEXT}, {"list", QUELMARAUTH_KEY_TEXT},
    {"timeout", QUELMARAUTH_KEY_TEXT}, {nullptr, QUELMARAUTH_KEY_TEXT},
};

// SQLSTATE of a text that is not valid in the database's encoding.
constexpr const char *NOT_IN_ENCODING = "22021";

int pg_fetch(const quelmarauth_store_call *call, const char *user, quelmarauth_store_record *record, char *hash,
             std::size_t hash_size, char *error, std::size_t error_size) noexcept
{
    try {
        const char *lookup = pg_query_text(call, pg_query::lookup, error, error_size);
        const char *values[] = {user};
        PGconn *connection = nullptr;
        const pg_reply reply = pg_run_read(call, {"lookup", lookup, 1, values}, connection, error, error_size);
        if (reply.lost)
            return QUELMARAUTH_STORE_FAILED;
        const PGresult *result = reply.result.get();
        if (PQresultStatus(result) != PGRES_TUPLES_OK) {
            // No account can have a name the database cannot even hold.
            if (pg_sqlstate_is(result, NOT_IN_ENCODING))
                return QUELMARAUTH_STORE_DENIED;
            pg_result_error(connection, result, "lookup", error, error_size);
            return QUELMARAUTH_STORE_FAILED;
        }
        if (PQnfields(result) != SQL_LOOKUP_COLUMNS) {
            sql_error(error, error_size,
                      "lookup on database '%s' returns %d columns, not %d (hash, uid, gid, home, sysuser)",
                      PQdb(connection), PQnfields(result), static_cast<int>(SQL_LOOKUP_COLUMNS));
            return QUELMARAUTH_STORE_FAILED;
        }
        const int rows = PQntuples(result);
        if (rows == 0)
            return QUELMARAUTH_STORE_DENIED;
        if (rows > 1) {
            sql_error(error, error_size, "lookup on database '%s' found %d accounts named %s", PQdb(connection), rows,
                      user);
            return QUELMARAUTH_STORE_FAILED;
        }
        const char *columns[SQL_LOOKUP_COLUMNS];
        for (int i = 0; i < SQL_LOOKUP_COLUMNS; ++i)
            columns[i] = PQgetisnull(result, 0, i) != 0 ? nullptr : PQgetvalue(result, 0, i);
        return sql_record_from_row(user, columns, record, hash, hash_size, error, error_size)
                   ? QUELMARAUTH_STORE_OK
                   : QUELMARAUTH_STORE_FAILED;
    } catch (...) {
        sql_error(error, error_size, "internal failure");
        return QUELMARAUTH_STORE_FAILED;
    }
}

int pg_replace_hash(const quelmarauth_store_call *call, const char *user, const char *old_hash, const char *new_hash,
                    char *error, std::size_t error_size) noexcept
{
    try {
        const char *update = pg_query_text(call, pg_query::update, error, error_size);
        if (update == nullptr)
            return QUELMARAUTH_STORE_FAILED;
        const char *values[] = {user, new_hash, old_hash};
        switch (pg_change_one_row(call, {"update", update, 3, values}, error, error_size)) {
        case row_change::one:
            return QUELMARAUTH_STORE_OK;
        case row_change::none:
            sql_error(error, error_size, "the hash of %s changed meanwhile, or the account is gone; nothing changed",
                      user);
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

const quelmarauth_store_module PG_MODULE = {
    QUELMARAUTH_STORE_MODULE_ABI,
    "postgresql",
    PG_KEYS,
    1,
    // The library checks passwords and makes hashes on top of fetch and
    // replace_hash.
    nullptr,
    nullptr,
    nullptr,
    pg_fetch,
    pg_replace_hash,
    pg_add,
    pg_remove,
    pg_list,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const quelmarauth_store_module *quelmarauth_get_store_module(void)
{
    return &PG_MODULE;
}
