// sqlite_admin.cc: adding, removing and listing accounts for the
// administration command, on the plain accounts table or through the
// site's own insert, delete and list queries.
#include <cstring>

#include "sql_row.h"
#include "sqlite_call.h"
#include "sqlite_store.h"

namespace {

const char *present(const char *text) { return text[0] != '\0' ? text : nullptr; }

// 1 when lookup finds name, 0 when it does not, -1 when it failed (reason
// in error).
int account_exists(sqlite3 *db, const quelmarauth_store_call *call, const char *name, char *error,
                   std::size_t error_size)
{
    sqlite_statement lookup;
    const int prepared = sqlite_prepare(db, call, sqlite_query::lookup, lookup, error, error_size);
    if (prepared != QUELMARAUTH_STORE_OK)
        return -1;
    if (!sqlite_bind_text(lookup, 1, name)) {
        sqlite_query_failed(call, db, sqlite_query::lookup, error, error_size);
        return -1;
    }
    const int step = sqlite3_step(lookup.get());
    if (step == SQLITE_ROW)
        return 1;
    if (step == SQLITE_DONE)
        return 0;
    sqlite_query_failed(call, db, sqlite_query::lookup, error, error_size);
    return -1;
}

int add_row(const quelmarauth_store_call *call, const quelmarauth_store_record *record, const char *hash,
            char *error, std::size_t error_size)
{
    sqlite3 *db = sqlite_for_call(call, error, error_size);
    if (db == nullptr)
        return QUELMARAUTH_STORE_FAILED;
    // The look-up and the insert under one write lock, so that a name taken
    // meanwhile is not added twice where the table does not forbid it.
    sqlite_transaction transaction(db);
    if (!transaction.begun())
        return sqlite_query_failed(call, db, sqlite_query::insert, error, error_size);
    sqlite_statement insert;
    const int prepared = sqlite_prepare(db, call, sqlite_query::insert, insert, error, error_size);
    if (prepared != QUELMARAUTH_STORE_OK)
        return prepared;
    const int exists = account_exists(db, call, record->name, error, error_size);
    if (exists < 0)
        return QUELMARAUTH_STORE_FAILED;
    if (exists > 0) {
        sql_error(error, error_size, "account %s exists", record->name);
        return QUELMARAUTH_STORE_DENIED;
    }
    // Absent fields are NULL, as lookup reports them.
    if (!sqlite_bind_text(insert, 1, record->name) || !sqlite_bind_text(insert, 2, hash)
        || !sqlite_bind_id(insert, 3, record->has_uid, record->uid)
        || !sqlite_bind_id(insert, 4, record->has_gid, record->gid)
        || !sqlite_bind_text(insert, 5, present(record->home))
        || !sqlite_bind_text(insert, 6, present(record->sysuser)))
        return sqlite_query_failed(call, db, sqlite_query::insert, error, error_size);
    const long long added = sqlite_run_change(db, insert);
    if (added < 0)
        return sqlite_query_failed(call, db, sqlite_query::insert, error, error_size);
    if (added != 1) {
        sql_error(error, error_size, "database %s: insert query added %lld rows for %s; none kept",
                  sql_setting(call, "database"), added, record->name);
        return QUELMARAUTH_STORE_FAILED;
    }
    sqlite3_reset(insert.get());
    if (!transaction.commit())
        return sqlite_query_failed(call, db, sqlite_query::insert, error, error_size);
    return QUELMARAUTH_STORE_OK;
}

int remove_row(const quelmarauth_store_call *call, const char *user, char *error, std::size_t error_size)
{
    sqlite3 *db = sqlite_for_call(call, error, error_size);
    if (db == nullptr)
        return QUELMARAUTH_STORE_FAILED;
    sqlite_transaction transaction(db);
    if (!transaction.begun())
        return sqlite_query_failed(call, db, sqlite_query::remove, error, error_size);
    sqlite_statement remove;
    const int prepared = sqlite_prepare(db, call, sqlite_query::remove, remove, error, error_size);
    if (prepared != QUELMARAUTH_STORE_OK)
        return prepared;
    if (!sqlite_bind_text(remove, 1, user))
        return sqlite_query_failed(call, db, sqlite_query::remove, error, error_size);
    const long long removed = sqlite_run_change(db, remove);
    if (removed < 0)
        return sqlite_query_failed(call, db, sqlite_query::remove, error, error_size);
    if (removed == 0) {
        sql_error(error, error_size, "no account %s", user);
        return QUELMARAUTH_STORE_DENIED;
    }
    if (removed > 1) {
        sql_error(error, error_size, "database %s: delete query would remove %lld rows for %s; none removed",
                  sql_setting(call, "database"), removed, user);
        return QUELMARAUTH_STORE_FAILED;
    }
    sqlite3_reset(remove.get());
    if (!transaction.commit())
        return sqlite_query_failed(call, db, sqlite_query::remove, error, error_size);
    return QUELMARAUTH_STORE_OK;
}

int list_rows(const quelmarauth_store_call *call,
              int (*visit)(void *arg, const quelmarauth_store_record *record, const char *hash), void *arg,
              char *error, std::size_t error_size)
{
    sqlite3 *db = sqlite_for_call(call, error, error_size);
    if (db == nullptr)
        return QUELMARAUTH_STORE_FAILED;
    sqlite_statement list;
    const int prepared = sqlite_prepare(db, call, sqlite_query::list, list, error, error_size);
    if (prepared != QUELMARAUTH_STORE_OK)
        return prepared;
    for (;;) {
        const int step = sqlite3_step(list.get());
        if (step == SQLITE_DONE)
            return QUELMARAUTH_STORE_OK;
        if (step != SQLITE_ROW)
            return sqlite_query_failed(call, db, sqlite_query::list, error, error_size);
        // Column 0 is the name; the rest are a lookup's row.
        const char *columns[1 + SQL_LOOKUP_COLUMNS] = {};
        for (int i = 0; i < 1 + SQL_LOOKUP_COLUMNS; ++i) {
            if (!sqlite_column(list.get(), i, columns[i])) {
                sql_error(error, error_size, "database %s: list query: column %d holds a NUL byte",
                          sql_setting(call, "database"), i + 1);
                return QUELMARAUTH_STORE_FAILED;
            }
        }
        if (columns[0] == nullptr || columns[0][0] == '\0') {
            sql_error(error, error_size, "database %s: list query: a row without a name",
                      sql_setting(call, "database"));
            return QUELMARAUTH_STORE_FAILED;
        }
        quelmarauth_store_record record{};
        char hash[QUELMARAUTH_STORE_HASH_SIZE];
        if (!sql_record_from_row(columns[0], columns + 1, &record, hash, sizeof hash, error, error_size))
            return QUELMARAUTH_STORE_FAILED;
        if (visit(arg, &record, hash) != 0) {
            sql_error(error, error_size, "listing stopped early");
            return QUELMARAUTH_STORE_FAILED;
        }
    }
}

} // namespace

int sqlite_add(const quelmarauth_store_call *call, const quelmarauth_store_record *record, const char *hash,
               char *error, std::size_t error_size) noexcept
{
    try {
        return add_row(call, record, hash, error, error_size);
    } catch (...) {
        sql_error(error, error_size, "internal failure");
        return QUELMARAUTH_STORE_FAILED;
    }
}

int sqlite_remove(const quelmarauth_store_call *call, const char *user, char *error, std::size_t error_size) noexcept
{
    try {
        return remove_row(call, user, error, error_size);
    } catch (...) {
        sql_error(error, error_size, "internal failure");
        return QUELMARAUTH_STORE_FAILED;
    }
}

int sqlite_list(const quelmarauth_store_call *call,
                int (*visit)(void *arg, const quelmarauth_store_record *record, const char *hash), void *arg,
                char *error, std::size_t error_size) noexcept
{
    try {
        return list_rows(call, visit, arg, error, error_size);
    } catch (...) {
        sql_error(error, error_size, "internal failure");
        return QUELMARAUTH_STORE_FAILED;
    }
}
