// pg_site.cc: a database per test on the shared server, and runs of the
// program and the command against it.
#include "pg_site.h"

#include <unistd.h>

#include "crypt_hash.h"

namespace pg_test {

namespace {

constexpr const char *ACCOUNTS_TABLE = "CREATE TABLE accounts (name TEXT PRIMARY KEY NOT NULL, hash TEXT NOT NULL, "
                                       "uid INTEGER, gid INTEGER, home TEXT, sysuser TEXT)";

std::string next_schema_name()
{
    static int made = 0;
    return "site_" + std::to_string(++made);
}

// A schema per site rather than a database: it takes milliseconds to make.
std::string make_schema(const std::string &name)
{
    pg_server &server = shared_server();
    if (!server.unavailable().empty())
        return server.unavailable();
    pg_client admin(server.conninfo("postgres"));
    if (!admin.exec("CREATE SCHEMA " + name + "; GRANT USAGE ON SCHEMA " + name + " TO " + GUARDED_ROLE))
        return "CREATE SCHEMA: " + admin.error();
    return "";
}

// The site's tables by their plain names, as a site's own database has them.
std::string in_schema(const std::string &conninfo, const std::string &schema, const std::string &application)
{
    return conninfo + " application_name=" + application + " options='-c search_path=" + schema + "'";
}

std::string or_null(const std::string &text) { return text.empty() ? NULL_TEXT : text; }

} // namespace

const std::vector<account> &standard_accounts()
{
    static const std::vector<account> accounts = {
        {"alice", "alice-secret", "1001", "1001", "/home/alice", ""},
        {"bob", "bob-secret", "", "", "", "vmail"},
        {"carol", "carol-secret", "", "", "", ""},
    };
    return accounts;
}

pg_site::pg_site(const std::vector<account> &accounts)
    : schema_(next_schema_name()), unavailable_(make_schema(schema_)),
      db_(in_schema(shared_server().conninfo("postgres"), schema_, "tester"))
{
    if (!unavailable_.empty())
        return;
    if (!db_.exec(ACCOUNTS_TABLE)) {
        unavailable_ = "CREATE TABLE: " + db_.error();
        return;
    }
    for (const account &a : accounts) {
        // Absent fields are SQL NULL, as a site's own tools would leave them.
        if (!db_.exec("INSERT INTO accounts VALUES ($1, $2, NULLIF($3, '<null>')::integer, "
                      "NULLIF($4, '<null>')::integer, NULLIF($5, '<null>'), NULLIF($6, '<null>'))",
                      {a.name, test_support::make_hash(a.password), or_null(a.uid), or_null(a.gid), or_null(a.home),
                       or_null(a.sysuser)})) {
            unavailable_ = "INSERT: " + db_.error();
            return;
        }
    }
    write_config(section());
}

std::string pg_site::conninfo(const std::string &role) const
{
    return in_schema(shared_server().conninfo("postgres", role), schema_, schema_);
}

std::string pg_site::hash_of(const std::string &name)
{
    return db_.value("SELECT coalesce(hash, '<null>') FROM accounts WHERE name = $1", {name});
}

bool pg_site::set_hash(const std::string &name, const std::string &hash)
{
    return db_.exec("UPDATE accounts SET hash = $2 WHERE name = $1", {name, hash});
}

void pg_site::write_config(const std::string &text) const { test_support::write_file(config_path(), text); }

std::string pg_site::section(const std::string &extra, const std::string &connect) const
{
    return "[*]\nbackend = postgresql\nconnect = " + (connect.empty() ? conninfo() : connect) + "\n" + CHEAP_HASH +
           extra;
}

test_support::run_options pg_site::run(const std::vector<std::string> &args, const std::string &input,
                                       const std::vector<std::string> &extra_env) const
{
    test_support::run_options options;
    options.argv = {PROGRAM};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = {"QUELMARAUTH_CONFIG=" + config_path()};
    options.env.insert(options.env.end(), extra_env.begin(), extra_env.end());
    // libpq would take these from the test's environment.
    options.unset_env = {"PGHOST", "PGPORT", "PGUSER", "PGDATABASE", "PGOPTIONS", "PGPASSWORD", "PGSERVICE"};
    options.input = input;
    return options;
}

test_support::run_options pg_site::admin(const std::vector<std::string> &args, const std::string &input) const
{
    test_support::run_options options;
    options.argv = {ADMIN, "-c", config_path()};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.unset_env = {"QUELMARAUTH_CONFIG", "PGHOST", "PGPORT", "PGUSER", "PGDATABASE", "PGOPTIONS",
                         "PGPASSWORD", "PGSERVICE"};
    options.input = input;
    return options;
}

} // namespace pg_test
