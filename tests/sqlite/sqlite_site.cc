// sqlite_site.cc: the database, configuration and runs of a test's store.
#include "sqlite_site.h"

#include <sqlite3.h>

#include "crypt_hash.h"

namespace sqlite_test {

namespace {

// Opens the database for one piece of work and closes it again, so that the
// test holds no lock while the program runs.
class handle {
  public:
    explicit handle(const std::string &path, int flags = SQLITE_OPEN_READWRITE) {
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            sqlite3_close(db_);
            db_ = nullptr;
        }
        if (db_ != nullptr) {
            sqlite3_busy_timeout(db_, 10000);
        }
    }
    ~handle() { sqlite3_close(db_); }
    handle(const handle &) = delete;
    handle &operator=(const handle &) = delete;
    [[nodiscard]] sqlite3 *get() const { return db_; }

  private:
    sqlite3 *db_ = nullptr;
};

std::string run_sql(sqlite3 *db, const std::string &sql) {
    if (db == nullptr) {
        return "cannot open the database";
    }
    char *message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) {
        return "";
    }
    std::string text = message != nullptr ? message : "error";
    sqlite3_free(message);
    return text;
}

std::vector<account> build_standard_accounts() {
    return {
        {"alice", "alice-secret", "1001", "1001", "/home/alice", ""},
        {"bob", "bob-secret", "1002", "1002", "", ""},
        {"nouid", "nouid-secret", "", "", "", ""},
        {"low", "low-secret", "99", "99", "", ""},
    };
}

} // namespace

std::string shipped_schema() { return test_support::read_file(SHIPPED_SCHEMA_PATH); }

const std::vector<account> &standard_accounts() {
    static const std::vector<account> accounts = build_standard_accounts();
    return accounts;
}

std::string without_scheme(const std::string &hash) {
    if (!hash.empty() && hash[0] == '{') {
        const std::string::size_type end = hash.find('}');
        if (end != std::string::npos) {
            return hash.substr(end + 1);
        }
    }
    return hash;
}

sqlite_site::sqlite_site(const std::vector<account> &accounts, const std::string &schema,
                         const std::string &hash_prefix) {
    const handle db(database(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    EXPECT_EQ("", run_sql(db.get(), schema));
    for (const account &a : accounts) {
        sqlite3_stmt *insert = nullptr;
        sqlite3_prepare_v2(db.get(),
                           "INSERT INTO accounts (name, hash, uid, gid, home, sysuser) "
                           "VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                           -1, &insert, nullptr);
        const std::string hash = hash_prefix + test_support::make_hash(a.password);
        const std::string *texts[] = {&a.name, &hash, &a.uid, &a.gid, &a.home, &a.sysuser};
        for (int i = 0; i < 6; ++i) {
            const std::string &text = *texts[i];
            if (text.empty()) {
                sqlite3_bind_null(insert, i + 1);
            } else if (i == 2 || i == 3) {
                sqlite3_bind_int64(insert, i + 1, std::stoll(text));
            } else {
                sqlite3_bind_text(insert, i + 1, text.c_str(), -1, SQLITE_TRANSIENT);
            }
        }
        EXPECT_EQ(SQLITE_DONE, sqlite3_step(insert)) << sqlite3_errmsg(db.get());
        sqlite3_finalize(insert);
    }
    write_config("");
}

void sqlite_site::write_config(const std::string &section_lines) const {
    // A relative database path is taken from the configuration's folder.
    write_config_text("[*]\nbackend = sqlite\ndatabase = accounts.db\nhash = sha512crypt\n"
                      "cost = 1000\n" +
                      section_lines);
}

void sqlite_site::write_config_text(const std::string &text) const {
    test_support::write_file(config_path(), text);
}

std::string sqlite_site::exec(const std::string &sql) const {
    const handle db(database());
    return run_sql(db.get(), sql);
}

std::string sqlite_site::value(const std::string &sql) const {
    const handle db(database());
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        return "error: " + std::string(sqlite3_errmsg(db.get()));
    }
    std::string result;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, 0));
        result = text != nullptr ? text : "NULL";
    }
    sqlite3_finalize(statement);
    return result;
}

std::string sqlite_site::hash_of(const std::string &name) const {
    return value("SELECT hash FROM accounts WHERE name = '" + name + "'");
}

bool sqlite_site::password_is(const std::string &name, const std::string &password) const {
    return test_support::hash_matches(password, without_scheme(hash_of(name)));
}

std::vector<std::string> sqlite_site::env() const {
    return {"QUELMARAUTH_CONFIG=" + config_path()};
}

run_options sqlite_site::program(const std::string &input,
                                 const std::vector<std::string> &args) const {
    run_options options;
    options.argv = {PROGRAM};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = env();
    options.input = input;
    return options;
}

run_options sqlite_site::admin(const std::vector<std::string> &args,
                               const std::string &input) const {
    run_options options;
    options.argv = {ADMIN, "-c", config_path()};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.input = input;
    return options;
}

} // namespace sqlite_test
