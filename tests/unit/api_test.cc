// The three exported calls, end to end through a real configuration file
// and account file in a scratch folder.
#include <gtest/gtest.h>

#include <syslog.h>

#include <string>
#include <vector>

#include "quelmarauth.h"
#include "unit_support.h"

namespace {

struct seen_record {
    int calls = 0;
    std::string name;
    bool has_uid = false;
    uid_t uid = 0;
    bool has_gid = false;
    gid_t gid = 0;
    const char *home = nullptr; // only compared with null
    std::string home_text;
    bool has_sysuser = false;
    std::string sysuser;
    int answer = 0;
};

int remember(const quelmarauth_account *account, void *arg)
{
    auto &seen = *static_cast<seen_record *>(arg);
    ++seen.calls;
    seen.name = account->name;
    seen.has_uid = account->sysuserid != nullptr;
    seen.uid = seen.has_uid ? *account->sysuserid : 0;
    seen.has_gid = account->sysgroupid != nullptr;
    seen.gid = seen.has_gid ? *account->sysgroupid : 0;
    seen.home = account->homedir;
    seen.home_text = account->homedir != nullptr ? account->homedir : "";
    seen.has_sysuser = account->sysusername != nullptr;
    seen.sysuser = seen.has_sysuser ? account->sysusername : "";
    return seen.answer;
}

class Api : public testing::Test {
protected:
    scratch_folder folder;
    scoped_env config{"QUELMARAUTH_CONFIG", folder.file("quelmarauth.conf")};
    std::string userdb_content;

    void SetUp() override
    {
        write_file(folder.file("quelmarauth.conf"), "[*]\nhash = sha512crypt\ncost = 1000\n"
                                                     "[imap]\nuserdb = imap-users\nhash = bcrypt\ncost = 4\n");
        userdb_content = "# accounts\n"
                         "alice:" + hash_of("alice-pw") + ":1001:1002:/home/alice:\n"
                         "bob:" + hash_of("bob-pw", "$y$", 1) + "::::vmail\n"
                         "locked:!" + hash_of("locked-pw") + ":1003:::\n"
                         "empty::1004:::\n"
                         "low:" + hash_of("low-pw") + ":99:::";
        write_file(folder.file("userdb"), userdb_content);
        write_file(folder.file("imap-users"), "alice:" + hash_of("imap-pw") + ":2001:::\n");
        logged_entries().clear();
    }

    std::vector<std::string> diagnostics() const
    {
        std::vector<std::string> texts;
        for (const logged_entry &entry : logged_entries()) {
            EXPECT_EQ(LOG_AUTHPRIV | LOG_ERR, entry.priority);
            texts.push_back(entry.text);
        }
        return texts;
    }
};

TEST_F(Api, LoginAnswers)
{
    const struct {
        const char *service;
        const char *user;
        const char *password;
        int result;
    } CASES[] = {
        {"login", "alice", "alice-pw", 0},
        {"login", "alice", "alice-PW", -1},
        {"login", "alice", "", -1},
        {"login", "bob", "bob-pw", 0},      // yescrypt hash with sha512crypt configured
        {"login", "nobody", "alice-pw", -1}, // unknown and wrong give the same answer
        {"login", "locked", "locked-pw", -1},
        {"login", "locked", "!", -1},
        {"login", "empty", "", -1},          // an empty hash never verifies
        {"login", "", "", -1},
        {"login", "alice:x", "alice-pw", -1},
        {"imap", "alice", "imap-pw", 0},     // a service of its own, its own file
        {"imap", "alice", "alice-pw", -1},
        {"web mail\t@ example.org", "alice", "alice-pw", 0}, // blanks and tabs in a service name
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(std::string(c.service) + " " + c.user + " " + c.password);
        seen_record seen;
        EXPECT_EQ(c.result, auth_login(c.service, c.user, c.password, remember, &seen));
        EXPECT_EQ(c.result == 0 ? 1 : 0, seen.calls);
    }
    EXPECT_TRUE(diagnostics().empty());
}

TEST_F(Api, CallbackGetsTheRecordAndDecides)
{
    seen_record seen;
    ASSERT_EQ(0, auth_login("login", "alice", "alice-pw", remember, &seen));
    EXPECT_EQ("alice", seen.name);
    EXPECT_TRUE(seen.has_uid);
    EXPECT_EQ(1001U, seen.uid);
    EXPECT_TRUE(seen.has_gid);
    EXPECT_EQ(1002U, seen.gid);
    EXPECT_EQ("/home/alice", seen.home_text);
    EXPECT_FALSE(seen.has_sysuser);

    seen_record bob;
    ASSERT_EQ(0, auth_getuserinfo("login", "bob", remember, &bob));
    EXPECT_FALSE(bob.has_uid);
    EXPECT_FALSE(bob.has_gid);
    EXPECT_EQ(nullptr, bob.home);
    EXPECT_EQ("vmail", bob.sysuser);

    for (int answer : {-1, -2, -77, 5}) {
        SCOPED_TRACE(answer);
        seen_record refusing;
        refusing.answer = answer;
        EXPECT_EQ(answer, auth_login("login", "alice", "alice-pw", remember, &refusing));
        EXPECT_EQ(answer, auth_getuserinfo("login", "alice", remember, &refusing));
    }
    EXPECT_EQ(0, auth_login("login", "alice", "alice-pw", nullptr, nullptr));
    EXPECT_EQ(0, auth_getuserinfo("login", "alice", nullptr, nullptr));
}

TEST_F(Api, GetUserInfo)
{
    seen_record seen;
    EXPECT_EQ(0, auth_getuserinfo("login", "locked", remember, &seen)); // locked accounts still exist
    EXPECT_EQ(1003U, seen.uid);
    EXPECT_EQ(0, auth_getuserinfo("login", "low", remember, &seen));
    EXPECT_EQ(99U, seen.uid);
    seen_record none;
    EXPECT_EQ(-1, auth_getuserinfo("login", "nobody", remember, &none));
    EXPECT_EQ(-1, auth_getuserinfo("login", "", remember, &none));
    EXPECT_EQ(0, none.calls);
}

TEST_F(Api, PasswdChecksTheOldPasswordItself)
{
    EXPECT_EQ(-1, auth_passwd("login", "alice", "wrong", "new-pw"));
    EXPECT_EQ(-1, auth_passwd("login", "nobody", "alice-pw", "new-pw"));
    EXPECT_EQ(-1, auth_passwd("login", "locked", "locked-pw", "new-pw"));
    EXPECT_EQ(-1, auth_passwd("login", "alice", "alice-pw", "")); // no empty password
    EXPECT_EQ(userdb_content, read_file(folder.file("userdb")));

    // The calls in the program's order.
    ASSERT_EQ(0, auth_login("login", "alice", "alice-pw", nullptr, nullptr));
    ASSERT_EQ(0, auth_getuserinfo("login", "alice", nullptr, nullptr));
    ASSERT_EQ(0, auth_passwd("login", "alice", "alice-pw", "new-pw"));
    EXPECT_EQ(-1, auth_login("login", "alice", "alice-pw", nullptr, nullptr));
    EXPECT_EQ(0, auth_login("login", "alice", "new-pw", nullptr, nullptr));
    // The new hash uses the configured method, whatever the old one was.
    ASSERT_EQ(0, auth_passwd("login", "bob", "bob-pw", "bob-new"));
    const std::string content = read_file(folder.file("userdb"));
    EXPECT_NE(std::string::npos, content.find("\nbob:$6$rounds=1000$")) << content;
    ASSERT_EQ(0, auth_passwd("imap", "alice", "imap-pw", "imap-new"));
    EXPECT_EQ(0U, read_file(folder.file("imap-users")).find("alice:$2b$04$"));
    EXPECT_TRUE(diagnostics().empty());
}

TEST_F(Api, PasswdRefusesWhenTheHashChangedAfterTheLookup)
{
    ASSERT_EQ(0, auth_login("login", "alice", "alice-pw", nullptr, nullptr));
    // Someone else changes alice's password between the program's calls.
    std::string changed = userdb_content;
    const std::size_t start = changed.find("alice:") + 6;
    changed.replace(start, changed.find(':', start) - start, hash_of("other-pw"));
    write_file(folder.file("userdb"), changed);
    EXPECT_EQ(1, auth_passwd("login", "alice", "alice-pw", "new-pw"));
    EXPECT_EQ(changed, read_file(folder.file("userdb")));
    EXPECT_EQ(std::vector<std::string>{"quelmarauth: " + folder.file("userdb")
                                       + ": hash of alice changed meanwhile; not changed"},
              diagnostics());
}

TEST_F(Api, StoreFailuresArePositiveWithOneDiagnostic)
{
    const std::string conf = folder.file("quelmarauth.conf");
    const struct {
        const char *what;
        std::string config;
        std::string diagnostic;
    } CASES[] = {
        {"bad key", "[*]\nhsh = bcrypt\n", conf + ":2: unknown key 'hsh'"},
        {"no section", "[imap]\n", "service 'login': no section [login] and no section [*] in " + conf},
        {"missing userdb", "[*]\nuserdb = /nonexistent/userdb\n", "/nonexistent/userdb: cannot open: No such file or directory"},
        {"userdb is a folder", "[*]\nuserdb = .\n", folder.path() + "/.: not a regular file"},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        write_file(conf, c.config);
        seen_record seen;
        const std::string expected = "quelmarauth: " + c.diagnostic;
        for (int call = 0; call < 3; ++call) {
            SCOPED_TRACE(call);
            logged_entries().clear();
            const int result = call == 0   ? auth_login("login", "alice", "alice-pw", remember, &seen)
                               : call == 1 ? auth_getuserinfo("login", "alice", remember, &seen)
                                           : auth_passwd("login", "alice", "alice-pw", "new");
            EXPECT_GT(result, 0);
            EXPECT_EQ(std::vector<std::string>{expected}, diagnostics());
        }
        EXPECT_EQ(0, seen.calls);
    }
    write_file(conf, "[*]\n");
    ::unlink(conf.c_str());
    logged_entries().clear();
    EXPECT_GT(auth_login("login", "alice", "alice-pw", nullptr, nullptr), 0);
    EXPECT_EQ(std::vector<std::string>{"quelmarauth: " + conf + ": cannot open: No such file or directory"},
              diagnostics());
}

TEST_F(Api, HostileArguments)
{
    const struct {
        const char *service;
        const char *user;
        const char *diagnostic;
    } CASES[] = {
        {nullptr, "alice", "quelmarauth: called without a service or user name"},
        {"login", nullptr, "quelmarauth: called without a service or user name"},
        {"", "alice", "quelmarauth: service name empty or with control characters"},
        {"log\nin", "alice", "quelmarauth: service name empty or with control characters"},
        {"log\x7fin", "alice", "quelmarauth: service name empty or with control characters"},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.diagnostic);
        logged_entries().clear();
        EXPECT_GT(auth_login(c.service, c.user, "pw", nullptr, nullptr), 0);
        EXPECT_GT(auth_getuserinfo(c.service, c.user, nullptr, nullptr), 0);
        EXPECT_GT(auth_passwd(c.service, c.user, "pw", "new"), 0);
        EXPECT_EQ((std::vector<std::string>{c.diagnostic, c.diagnostic, c.diagnostic}), diagnostics());
    }
    logged_entries().clear();
    EXPECT_GT(auth_login("login", "alice", nullptr, nullptr, nullptr), 0);
    EXPECT_GT(auth_passwd("login", "alice", "alice-pw", nullptr), 0);
    EXPECT_GT(auth_passwd("login", "alice", nullptr, "new"), 0);
    EXPECT_EQ(3U, diagnostics().size());
    EXPECT_EQ(userdb_content, read_file(folder.file("userdb")));
    // Long and odd names are simply not found.
    const std::string long_name(100000, 'a');
    EXPECT_EQ(-1, auth_login("login", long_name.c_str(), "pw", nullptr, nullptr));
    EXPECT_EQ(-1, auth_login("login", "alice\n", "alice-pw", nullptr, nullptr));
    EXPECT_EQ(-1, auth_getuserinfo("login", "alice ", nullptr, nullptr));
}

TEST_F(Api, DiagnosticsNeverCarryPasswords)
{
    write_file(folder.file("quelmarauth.conf"), "[*]\nuserdb = missing\n");
    auth_login("login", "alice", "secret-word-1", nullptr, nullptr);
    auth_passwd("login", "alice", "secret-word-2", "secret-word-3");
    for (const std::string &text : diagnostics()) {
        EXPECT_EQ(std::string::npos, text.find("secret-word")) << text;
        EXPECT_EQ(std::string::npos, text.find("$6$")) << text;
    }
}

} // namespace
