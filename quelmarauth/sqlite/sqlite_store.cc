// sqlite_store.cc: the "sqlite" store module: accounts are rows of a SQLite
// database, read and changed through queries the site may set. The library
// checks passwords and makes hashes; this module only reads and replaces
// the stored hash, treating it as opaque text.
#include "sqlite_store.h"

#include <cstring>

#include "sql_row.h"
#include "sqlite_call.h"

namespace {

const quelmarauth_store_key SQLITE_KEYS[] = {
    {"database", QUELMARAUTH_KEY_PATH}, {"lookup", QUELMARAUTH_KEY_TEXT}, {"update", QUELMARAUTH_KEY_TEXT},
    {"insert", QUELMARAUTH_KEY_TEXT},   {"delete", QUELMARAUTH_KEY_TEXT}, {"list", QUELMARAUTH_KEY_TEXT},
    {"timeout", QUELMARAUTH_KEY_TEXT},  {nullptr, QUELMARAUTH_KEY_TEXT},
};

int fetch_row(const quelmarauth_store_call *call, const char *user, quelmarauth_store_record *record, char *hash,
              std::size_t hash_size, char *error, std::size_t error_size)
{
    sqlite3 *db = sqlite_for_call(call, error, error_size);
    if (db == nullptr)
        return QUELMARAUTH_STORE_FAILED;
    sqlite_statement lookup;
    const int prepared = sqlite_prepare(db, call, sqlite_query::lookup, lookup, error, error_size);
    if (prepared != QUELMARAUTH_STORE_OK)
        return prepared;
    if (!sqlite_bind_text(lookup, 1, user))
        return sqlite_query_failed(call, db, sqlite_query::lookup, error, error_size);
    const int first = sqlite3_step(lookup.get());
    if (first == SQLITE_DONE)
        return QUELMARAUTH_STORE_DENIED;
    if (first != SQLITE_ROW)
        return sqlite_query_failed(call, db, sqlite_query::lookup, error, error_size);
    const char *columns[SQL_LOOKUP_COLUMNS] = {};
    for (int i = 0; i < SQL_LOOKUP_COLUMNS; ++i) {
        if (!sqlite_column(lookup.get(), i, columns[i])) {
            sql_error(error, error_size, "database %s: lookup query: column %d of %s holds a NUL byte",
                      sql_setting(call, "database"), i + 1, user);
            return QUELMARAUTH_STORE_FAILED;
        }
    }
    if (!sql_record_from_row(user, columns, record, hash, hash_size, error, error_size))
        return QUELMARAUTH_STORE_FAILED;
    // A second row means the name does not say which account is meant:
    // changing either could be the wrong one.
    const int second = sqlite3_step(lookup.get());
    if (second == SQLITE_DONE)
        return QUELMARAUTH_STORE_OK;
    *record = quelmarauth_store_record{};
    hash[0] = '\0';
    if (second == SQLITE_ROW) {
        sql_error(error, error_size, "database %s: lookup query: more than one row for %s",
                  sql_setting(call, "database"), user);
        return QUELMARAUTH_STORE_FAILED;
    }
    return sqlite_query_failed(call, db, sqlite_query::lookup, error, error_size);
}

int replace_row_hash(const quelmarauth_store_call *call, const char *user, const char *old_hash,
                     const char *new_hash, char *error, std::size_t error_size)
{
    sqlite3 *db = sqlite_for_call(call, error, error_size);
    if (db == nullptr)
        return QUELMARAUTH_STORE_FAILED;
    // In a transaction so that an update that matches several rows can be
    // taken back whole. Begun first, so that the statement is finalized
    // before the transaction ends.
    sqlite_transaction transaction(db);
    if (!transaction.begun())
        return sqlite_query_failed(call, db, sqlite_query::update, error, error_size);
    sqlite_statement update;
    const int prepared = sqlite_prepare(db, call, sqlite_query::update, update, error, error_size);
    if (prepared != QUELMARAUTH_STORE_OK)
        return prepared;
    if (!sqlite_bind_text(update, 1, user) || !sqlite_bind_text(update, 2, new_hash)
        || !sqlite_bind_text(update, 3, old_hash))
        return sqlite_query_failed(call, db, sqlite_query::update, error, error_size);
    const long long changed = sqlite_run_change(db, update);
    if (changed < 0)
        return sqlite_query_failed(call, db, sqlite_query::update, error, error_size);
    if (changed == 0) {
        sql_error(error, error_size, "the hash of %s changed meanwhile, or the account is gone", user);
        return QUELMARAUTH_STORE_DENIED;
    }
    if (changed > 1) {
        sql_error(error, error_size, "database %s: update query would change %lld rows for %s; none changed",
                  sql_setting(call, "database"), changed, user);
        return QUELMARAUTH_STORE_FAILED;
    }
    sqlite3_reset(update.get());
    if (!transaction.commit())
        return sqlite_query_failed(call, db, sqlite_query::update, error, error_size);
    return QUELMARAUTH_STORE_OK;
}

} // namespace

int sqlite_fetch(const quelmarauth_store_call *call, const char *user, quelmarauth_store_record *record,
                 char *hash, std::size_t hash_size, char *error, std::size_t error_size) noexcept
{
    try {
        return fetch_row(call, user, record, hash, hash_size, error, error_size);
    } catch (...) {
        sql_error(error, error_size, "internal failure");
        return QUELMARAUTH_STORE_FAILED;
    }
}

int sqlite_replace_hash(const quelmarauth_store_call *call, const char *user, const char *old_hash,
                        const char *new_hash, char *error, std::size_t error_size) noexcept
{
    try {
        return replace_row_hash(call, user, old_hash, new_hash, error, error_size);
    } catch (...) {
        sql_error(error, error_size, "internal failure");
        return QUELMARAUTH_STORE_FAILED;
    }
}

namespace {

const quelmarauth_store_module SQLITE_MODULE = {
    QUELMARAUTH_STORE_MODULE_ABI,
    "sqlite",
    SQLITE_KEYS,
    1,
    // The library checks passwords itself on fetch and replace_hash.
    nullptr,
    nullptr,
    nullptr,
    sqlite_fetch,
    sqlite_replace_hash,
    sqlite_add,
    sqlite_remove,
    sqlite_list,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const quelmarauth_store_module *quelmarauth_get_store_module(void)
{
    return &SQLITE_MODULE;
}
