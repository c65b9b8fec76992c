// The module itself, opened as the library opens it and called directly:
// what fetch and replace_hash read and change, the one kept connection, and
// the reason of every failure (never a secret of the connection string).
#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "crypt_hash.h"
#include "pg_site.h"
#include "store_module.h"

namespace pg_test {
namespace {

class module_handle {
  public:
    module_handle() : handle_(dlopen(POSTGRESQL_MODULE, RTLD_NOW | RTLD_LOCAL))
    {
        if (handle_ == nullptr)
            return;
        const auto entry = reinterpret_cast<quelmarauth_store_module_entry>(
            dlsym(handle_, QUELMARAUTH_STORE_MODULE_SYMBOL));
        module_ = entry != nullptr ? entry() : nullptr;
    }
    ~module_handle()
    {
        if (handle_ != nullptr)
            dlclose(handle_);
    }
    module_handle(const module_handle &) = delete;
    module_handle &operator=(const module_handle &) = delete;
    const quelmarauth_store_module *operator->() const { return module_; }
    [[nodiscard]] bool loaded() const { return module_ != nullptr; }

  private:
    void *handle_;
    const quelmarauth_store_module *module_ = nullptr;
};

// One module for the whole program, as one process of the program has.
const module_handle &module()
{
    static const module_handle handle;
    return handle;
}

// A call for a section with these keys.
class section_call {
  public:
    explicit section_call(std::vector<std::pair<std::string, std::string>> keys) : keys_(std::move(keys))
    {
        for (const auto &[key, value] : keys_)
            settings_.push_back({key.c_str(), value.c_str()});
        call_.service = "login";
        call_.config_path = "/etc/quelmarauth/quelmarauth.conf";
        call_.settings = settings_.data();
        call_.setting_count = settings_.size();
        call_.hash_method = "sha512crypt";
    }
    const quelmarauth_store_call *operator&() const { return &call_; }

  private:
    std::vector<std::pair<std::string, std::string>> keys_;
    std::vector<quelmarauth_store_setting> settings_;
    quelmarauth_store_call call_{};
};

struct fetched {
    int status = -1;
    quelmarauth_store_record record{};
    std::string hash;
    std::string error;
};

fetched fetch(const section_call &call, const char *user)
{
    fetched out;
    char hash[QUELMARAUTH_STORE_HASH_SIZE] = "UNSET";
    char error[QUELMARAUTH_STORE_TEXT_SIZE] = "";
    out.status = module()->fetch(&call, user, &out.record, hash, sizeof hash, error, sizeof error);
    out.hash = hash;
    out.error = error;
    return out;
}

std::pair<int, std::string> replace(const section_call &call, const char *user, const std::string &old_hash,
                                    const std::string &new_hash)
{
    char error[QUELMARAUTH_STORE_TEXT_SIZE] = "";
    const int status = module()->replace_hash(&call, user, old_hash.c_str(), new_hash.c_str(), error, sizeof error);
    return {status, error};
}

// The backends the store opened for this site.
rows store_backends(pg_site &site)
{
    rows result;
    site.db().exec("SELECT pid FROM pg_stat_activity WHERE application_name = $1", {site.name()}, &result);
    return result;
}

TEST(PostgresqlModule, ExportsTheStoreOfRows)
{
    ASSERT_TRUE(module().loaded()) << dlerror();
    EXPECT_EQ(QUELMARAUTH_STORE_MODULE_ABI, static_cast<int>(module()->abi_version));
    EXPECT_STREQ("postgresql", module()->name);
    EXPECT_NE(0, module()->writes_hashes);
    // The library checks the passwords: the module only reads and writes rows.
    EXPECT_EQ(nullptr, module()->login);
    EXPECT_EQ(nullptr, module()->passwd);
    EXPECT_NE(nullptr, module()->fetch);
    EXPECT_NE(nullptr, module()->replace_hash);
    std::string keys;
    for (const quelmarauth_store_key *key = module()->keys; key->name != nullptr; ++key)
        keys += std::string(key->name) + " ";
    EXPECT_EQ("connect lookup update insert delete list timeout ", keys);
}

TEST(PostgresqlModule, FetchGivesTheRowAsStored)
{
    pg_site site;
    PG_SITE_OR_SKIP(site);
    ASSERT_TRUE(module().loaded());
    const section_call call({{"connect", site.conninfo()}});
    const struct {
        const char *user;
        int status;
        int has_uid;
        uid_t uid;
        const char *home;
        const char *sysuser;
    } CASES[] = {
        {"alice", QUELMARAUTH_STORE_OK, 1, 1001, "/home/alice", ""},
        {"bob", QUELMARAUTH_STORE_OK, 0, 0, "", "vmail"}, // NULL uid, gid and home
        {"carol", QUELMARAUTH_STORE_OK, 0, 0, "", ""},
        {"dave", QUELMARAUTH_STORE_DENIED, 0, 0, "", ""},
        {"Alice", QUELMARAUTH_STORE_DENIED, 0, 0, "", ""},       // names are exact
        {"alice' OR 'x'='x", QUELMARAUTH_STORE_DENIED, 0, 0, "", ""}, // bound, never pasted
        {"\xff\xfe", QUELMARAUTH_STORE_DENIED, 0, 0, "", ""},    // not UTF-8: no such name can exist
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.user);
        const fetched f = fetch(call, c.user);
        EXPECT_EQ(c.status, f.status) << f.error;
        if (c.status != QUELMARAUTH_STORE_OK)
            continue;
        EXPECT_EQ(site.hash_of(c.user), f.hash);
        EXPECT_STREQ(c.user, f.record.name);
        EXPECT_EQ(c.has_uid, f.record.has_uid);
        EXPECT_EQ(c.uid, f.record.uid);
        EXPECT_STREQ(c.home, f.record.home);
        EXPECT_STREQ(c.sysuser, f.record.sysuser);
        EXPECT_EQ("", f.error);
    }
}

TEST(PostgresqlModule, ReplacesOnlyTheHashItWasGiven)
{
    pg_site site;
    PG_SITE_OR_SKIP(site);
    ASSERT_TRUE(module().loaded());
    const section_call call({{"connect", site.conninfo()}});
    const std::string stored = site.hash_of("alice");
    const std::string bob = site.hash_of("bob");

    // A hash that is no longer the stored one: an administrator changed it.
    auto [status, error] = replace(call, "alice", "$6$rounds=1000$other$hash", "$6$new");
    EXPECT_EQ(QUELMARAUTH_STORE_DENIED, status);
    EXPECT_NE(std::string::npos, error.find("changed meanwhile")) << error;
    EXPECT_EQ(stored, site.hash_of("alice"));

    std::tie(status, error) = replace(call, "nobody-here", stored, "$6$new");
    EXPECT_EQ(QUELMARAUTH_STORE_DENIED, status);

    std::tie(status, error) = replace(call, "alice", stored, "$6$new");
    EXPECT_EQ(QUELMARAUTH_STORE_OK, status) << error;
    EXPECT_EQ("$6$new", site.hash_of("alice"));
    EXPECT_EQ(bob, site.hash_of("bob"));
}

// A site schema without a unique name: a statement that finds or would
// change two rows fails, and changes nothing.
TEST(PostgresqlModule, TwoRowsOfOneNameFailAndChangeNothing)
{
    pg_site site;
    PG_SITE_OR_SKIP(site);
    ASSERT_TRUE(module().loaded());
    ASSERT_TRUE(site.db().exec("CREATE TABLE twice (login TEXT, secret TEXT); "
                               "INSERT INTO twice VALUES ('alice', 'h1'), ('alice', 'h1'), ('bob', 'h2')"));
    const section_call call({{"connect", site.conninfo()},
                             {"lookup", "SELECT secret, NULL, NULL, NULL, NULL FROM twice WHERE login = $1"},
                             {"update", "UPDATE twice SET secret = $2 WHERE login = $1 AND secret = $3"}});
    const fetched f = fetch(call, "alice");
    EXPECT_EQ(QUELMARAUTH_STORE_FAILED, f.status);
    EXPECT_NE(std::string::npos, f.error.find("found 2 accounts named alice")) << f.error;
    EXPECT_EQ(QUELMARAUTH_STORE_OK, fetch(call, "bob").status);

    const auto [status, error] = replace(call, "alice", "h1", "h3");
    EXPECT_EQ(QUELMARAUTH_STORE_FAILED, status);
    EXPECT_NE(std::string::npos, error.find("would change 2 rows, not one; nothing changed")) << error;
    EXPECT_EQ("2", site.db().value("SELECT count(*) FROM twice WHERE secret = 'h1'"));
    // The rolled-back transaction leaves the connection fit for the next call.
    EXPECT_EQ(QUELMARAUTH_STORE_OK, replace(call, "bob", "h2", "h4").first);
    EXPECT_EQ("h4", site.db().value("SELECT secret FROM twice WHERE login = 'bob'"));
}

// The three calls of one dialogue share one connection; a changed
// configuration gets one of its own, and the old one is closed.
TEST(PostgresqlModule, KeepsOneConnectionAcrossCalls)
{
    pg_site site;
    pg_site other;
    PG_SITE_OR_SKIP(site);
    ASSERT_TRUE(module().loaded());
    const section_call call({{"connect", site.conninfo()}});
    ASSERT_EQ(QUELMARAUTH_STORE_OK, fetch(call, "alice").status);
    const rows first = store_backends(site);
    ASSERT_EQ(1U, first.size());
    ASSERT_EQ(QUELMARAUTH_STORE_OK, fetch(call, "alice").status);
    ASSERT_EQ(QUELMARAUTH_STORE_OK, replace(call, "alice", site.hash_of("alice"), "$6$x").first);
    EXPECT_EQ(first, store_backends(site));

    const section_call elsewhere({{"connect", other.conninfo()}});
    ASSERT_EQ(QUELMARAUTH_STORE_OK, fetch(elsewhere, "alice").status);
    EXPECT_EQ(1U, store_backends(other).size());
    // The old backend needs a moment to go once its client said goodbye.
    for (int i = 0; i < 200 && !store_backends(site).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(store_backends(site).empty());
}

// A server restarted between two calls of one process: the kept connection
// is gone, and the next call opens a new one instead of failing.
TEST(PostgresqlModule, ReconnectsOnceAfterARestart)
{
    pg_site site;
    PG_SITE_OR_SKIP(site);
    ASSERT_TRUE(module().loaded());
    const section_call call({{"connect", site.conninfo()}});
    ASSERT_EQ(QUELMARAUTH_STORE_OK, fetch(call, "alice").status);
    ASSERT_TRUE(shared_server().stop());
    const fetched down = fetch(call, "alice");
    EXPECT_EQ(QUELMARAUTH_STORE_FAILED, down.status);
    EXPECT_NE(std::string::npos, down.error.find("connecting on database")) << down.error;
    ASSERT_TRUE(shared_server().start()) << shared_server().unavailable();
    const fetched up = fetch(call, "alice");
    EXPECT_EQ(QUELMARAUTH_STORE_OK, up.status) << up.error;

    // Again with the connection kept open across the restart.
    ASSERT_TRUE(shared_server().stop());
    ASSERT_TRUE(shared_server().start());
    const std::string stored = site.hash_of("alice");
    const auto [status, error] = replace(call, "alice", stored, "$6$after-restart");
    EXPECT_EQ(QUELMARAUTH_STORE_OK, status) << error;
    EXPECT_EQ("$6$after-restart", site.hash_of("alice"));
}

// Every failure is FAILED with a reason that names the database's error,
// within a bounded time, and never shows a password of the connection string.
TEST(PostgresqlModule, FailuresNameTheCauseAndNoSecret)
{
    pg_site site;
    PG_SITE_OR_SKIP(site);
    ASSERT_TRUE(module().loaded());
    const test_support::temp_dir nothing_there("zpgn");
    const std::string secret = std::string("password=") + GUARDED_PASSWORD;
    const struct {
        const char *what;
        std::vector<std::pair<std::string, std::string>> keys;
        const char *reason; // a part of the error
    } CASES[] = {
        {"missing table",
         {{"connect", site.conninfo()}, {"lookup", "SELECT hash, uid, gid, home, sysuser FROM nowhere WHERE name = $1"}},
         "relation \"nowhere\" does not exist (SQLSTATE 42P01)"},
        {"query error", {{"connect", site.conninfo()}, {"lookup", "SELEKT $1"}}, "syntax error at or near"},
        {"five columns", {{"connect", site.conninfo()}, {"lookup", "SELECT hash FROM accounts WHERE name = $1"}},
         "returns 1 columns, not 5"},
        {"not an id",
         {{"connect", site.conninfo()}, {"lookup", "SELECT hash, 'x', NULL, NULL, NULL FROM accounts WHERE name = $1"}},
         "user or group id of alice is not a number"},
        {"no server",
         {{"connect", "host=" + nothing_there.path() + " dbname=postgres user=postgres " + secret}},
         "connecting on database 'postgres': connection to server on socket"},
        {"authentication refused",
         {{"connect", site.conninfo(GUARDED_ROLE) + " password=wrong-" + GUARDED_PASSWORD}},
         "password authentication failed for user \"guarded\""},
        {"no such database", {{"connect", shared_server().conninfo("nosuchdb") + " " + secret}},
         "database \"nosuchdb\" does not exist"},
        {"not a connection string", {{"connect", "host=x " + secret + " bogus"}},
         "the connect string of service login is not a libpq connection string"},
        {"statement timeout",
         {{"connect", site.conninfo()},
          {"timeout", "1"},
          {"lookup", "SELECT hash, uid, gid, home, sysuser FROM accounts, pg_sleep(5) WHERE name = $1"}},
         "canceling statement due to statement timeout (SQLSTATE 57014)"},
        {"no connect key", {{"timeout", "3"}}, "service login has backend = postgresql but no connect key"},
        {"timeout out of range", {{"connect", site.conninfo()}, {"timeout", "0"}}, "timeout '0' is not a number"},
        {"site lookup without update",
         {{"connect", site.conninfo()}, {"lookup", "SELECT hash, uid, gid, home, sysuser FROM accounts WHERE name = $1"}},
         ""},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        const section_call call(c.keys);
        const auto start = std::chrono::steady_clock::now();
        const fetched f = fetch(call, "alice");
        const auto took = std::chrono::steady_clock::now() - start;
        if (*c.reason == '\0') {
            // The lookup works; the change cannot, for want of its statement.
            EXPECT_EQ(QUELMARAUTH_STORE_OK, f.status) << f.error;
            const auto [status, error] = replace(call, "alice", f.hash, "$6$x");
            EXPECT_EQ(QUELMARAUTH_STORE_FAILED, status);
            EXPECT_EQ("the configuration of service login has its own lookup query but no update query", error);
            continue;
        }
        EXPECT_EQ(QUELMARAUTH_STORE_FAILED, f.status);
        EXPECT_NE(std::string::npos, f.error.find(c.reason)) << f.error;
        EXPECT_EQ(std::string::npos, f.error.find(GUARDED_PASSWORD)) << f.error;
        EXPECT_EQ(std::string::npos, f.error.find('\n')) << f.error;
        EXPECT_LT(took, std::chrono::seconds(4)) << "a failure must not wait for long";
    }
}

} // namespace
} // namespace pg_test
