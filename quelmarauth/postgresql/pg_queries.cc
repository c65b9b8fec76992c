// pg_queries.cc: default statements for the plain accounts table (schema in
// deploy/postgresql-accounts.sql), and the rule for sites with their own.
#include "pg_queries.h"

#include "sql_row.h"

namespace {

struct query_default {
    const char *key;
    const char *text;
    const char *site_tools; // what a site schema does instead, for the refusal
};

// Indexed by pg_query. Parameters: lookup(name), update(name, new hash, old
// hash), insert(name, hash, uid, gid, home, sysuser), delete(name).
constexpr query_default DEFAULTS[] = {
    {"lookup", "SELECT hash, uid, gid, home, sysuser FROM accounts WHERE name = $1", nullptr},
    {"update", "UPDATE accounts SET hash = $2 WHERE name = $1 AND hash = $3", nullptr},
    {"insert",
     "INSERT INTO accounts (name, hash, uid, gid, home, sysuser) VALUES ($1, $2, $3, $4, $5, $6)",
     "add accounts"},
    {"delete", "DELETE FROM accounts WHERE name = $1", "remove accounts"},
    {"list", "SELECT name, hash, uid, gid, home, sysuser FROM accounts ORDER BY name", "list accounts"},
};
static_assert(sizeof DEFAULTS / sizeof DEFAULTS[0] == static_cast<std::size_t>(pg_query::list) + 1,
              "one default for every statement");

} // namespace

const char *pg_query_key(pg_query which) { return DEFAULTS[static_cast<std::size_t>(which)].key; }

const char *pg_query_text(const quelmarauth_store_call *call, pg_query which, char *error,
                          std::size_t error_size)
{
    const query_default &entry = DEFAULTS[static_cast<std::size_t>(which)];
    if (const char *own = sql_setting(call, entry.key); own != nullptr)
        return own;
    if (sql_setting(call, "lookup") == nullptr)
        return entry.text;
    if (entry.site_tools == nullptr) {
        // A site's lookup beside the default update would change a table
        // the lookup never read.
        sql_error(error, error_size, "the configuration of service %s has its own lookup query but no %s query",
                  call->service, entry.key);
        return nullptr;
    }
    sql_error(error, error_size, "the configuration of service %s has no %s query; %s with the site's own tools",
              call->service, entry.key, entry.site_tools);
    return nullptr;
}
