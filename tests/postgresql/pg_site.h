// pg_site.h: what the PostgreSQL store's tests share: the one server of the
// test program, and for each test a schema of its own with the plain
// accounts table, a configuration that points the library at it, and runs
// of the real program and the real administration command.
#ifndef ZEMBROVALD_TESTS_PG_SITE_H
#define ZEMBROVALD_TESTS_PG_SITE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pg_server.h"
#include "dialogue_text.h"
#include "process_runner.h"
#include "store_fixture.h"
#include "temp_dir.h"

namespace pg_test {

using namespace test_support::replies;

using test_support::account;

inline constexpr const char *PROGRAM = ZEMBROVALD_PROGRAM;
inline constexpr const char *ADMIN = ADMIN_PROGRAM;


// The server every test of this program shares; started once, stopped at
// the end (pg_main.cc).
pg_server &shared_server();

using test_support::change_input;

// alice (uid 1001), bob (uid 1002, sysuser), carol (no ids at all).
const std::vector<account> &standard_accounts();

// The keys of a section that sha512crypt-hashes cheaply, for fast tests.
inline constexpr const char *CHEAP_HASH = "hash = sha512crypt\ncost = 1000\n";

class pg_site {
  public:
    // A new schema holding the accounts table with these accounts; the
    // store's connection string selects it, and names its connections after it.
    explicit pg_site(const std::vector<account> &accounts = standard_accounts());

    // Empty when the server runs and the schema was made; else why not.
    [[nodiscard]] const std::string &unavailable() const { return unavailable_; }
    // The schema's name, also the application name of the store's connections.
    [[nodiscard]] const std::string &name() const { return schema_; }
    [[nodiscard]] std::string conninfo(const std::string &role = "postgres") const;
    [[nodiscard]] const test_support::temp_dir &dir() const { return dir_; }
    [[nodiscard]] std::string config_path() const { return dir_.file("quelmarauth.conf"); }

    // A superuser connection to this site's schema.
    pg_client &db() { return db_; }
    // The stored hash of name, or NULL_TEXT / "" (no such row).
    std::string hash_of(const std::string &name);
    // Stores hash for name, as an administrator would.
    bool set_hash(const std::string &name, const std::string &hash);

    // Replaces the configuration; the default is "[*] backend = postgresql,
    // connect = <this database>" with CHEAP_HASH.
    void write_config(const std::string &text) const;
    // The default section's lines, with extra keys after them; connect, when
    // given, in place of this site's.
    [[nodiscard]] std::string section(const std::string &extra = "", const std::string &connect = "") const;

    // The program with args and input against this site's configuration.
    [[nodiscard]] test_support::run_options run(const std::vector<std::string> &args, const std::string &input,
                                                const std::vector<std::string> &extra_env = {}) const;
    // The administration command: quelmarauth -c <configuration> args.
    [[nodiscard]] test_support::run_options admin(const std::vector<std::string> &args,
                                                  const std::string &input = "") const;

  private:
    test_support::temp_dir dir_{"zpgs"};
    std::string schema_;
    std::string unavailable_;
    pg_client db_;
};

// Skips the test when the site cannot be had.
#define PG_SITE_OR_SKIP(site)                                                                                       \
    if (!(site).unavailable().empty())                                                                              \
    GTEST_SKIP() << (site).unavailable()

} // namespace pg_test

#endif
