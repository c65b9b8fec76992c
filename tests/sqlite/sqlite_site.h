// sqlite_site.h: a real SQLite account store for one test: a private folder
// with a database made from the shipped schema (or a site's own), accounts
// with real hashes, the configuration that serves it, and runs of the
// program and the administration command against it.
#ifndef ZEMBROVALD_TESTS_SQLITE_SITE_H
#define ZEMBROVALD_TESTS_SQLITE_SITE_H

#include <string>
#include <vector>

#include "dialogue_text.h"
#include "process_runner.h"
#include "store_fixture.h"
#include "temp_dir.h"

namespace sqlite_test {

using namespace test_support::replies;

using test_support::account;
using test_support::run_options;
using test_support::run_result;

inline constexpr const char *PROGRAM = ZEMBROVALD_PROGRAM;
inline constexpr const char *ADMIN = ADMIN_PROGRAM;


// The plain accounts table, as deploy/ ships it.
std::string shipped_schema();

using test_support::change_input;

// alice (uid 1001), bob (uid 1002), nouid (no ids at all), low (uid 99).
const std::vector<account> &standard_accounts();

class sqlite_site {
  public:
    // A database "accounts.db" made with schema, holding accounts (hashes
    // made with hash_prefix before the crypt hash, e.g. "{SHA512-CRYPT}"),
    // and "[*] backend = sqlite" with cheap new hashes.
    explicit sqlite_site(const std::vector<account> &accounts = standard_accounts(),
                         const std::string &schema = shipped_schema(),
                         const std::string &hash_prefix = "");

    [[nodiscard]] const test_support::temp_dir &dir() const { return dir_; }
    [[nodiscard]] std::string file(const std::string &name) const { return dir_.file(name); }
    [[nodiscard]] std::string database() const { return dir_.file("accounts.db"); }
    [[nodiscard]] std::string config_path() const { return dir_.file("quelmarauth.conf"); }

    // The section lines after "backend = sqlite" (database, queries...).
    void write_config(const std::string &section_lines) const;
    // The whole configuration file.
    void write_config_text(const std::string &text) const;

    // Runs SQL on the database; empty, or SQLite's error.
    std::string exec(const std::string &sql) const;
    // The first column of the first row as text; "NULL" for SQL NULL, "" for no row.
    std::string value(const std::string &sql) const;
    // The stored hash of name (as stored, prefix included).
    [[nodiscard]] std::string hash_of(const std::string &name) const;
    // The stored hash, its {SCHEME} prefix taken off, is one of password.
    [[nodiscard]] bool password_is(const std::string &name, const std::string &password) const;

    [[nodiscard]] std::vector<std::string> env() const;
    // zembrovald args..., input on standard input.
    [[nodiscard]] run_options program(const std::string &input,
                                      const std::vector<std::string> &args = {"--stderr"}) const;
    // quelmarauth -c <configuration> args...
    [[nodiscard]] run_options admin(const std::vector<std::string> &args,
                                    const std::string &input = "") const;

  private:
    test_support::temp_dir dir_{"zsq"};
};

// The hash without a leading {SCHEME}.
std::string without_scheme(const std::string &hash);

} // namespace sqlite_test

#endif
