// Built into a test program of its own whose copy of the library looks for a
// libxcrypt that does not exist: hashing then fails as the store failing,
// never as a wrong password.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quelmarauth.h"
#include "unit_support.h"

namespace {

TEST(CryptMissing, EveryHashingCallIsAStoreFailure)
{
    scratch_folder folder;
    scoped_env config("QUELMARAUTH_CONFIG", folder.file("quelmarauth.conf"));
    write_file(folder.file("quelmarauth.conf"), "[*]\nhash = sha512crypt\n");
    const std::string userdb = "alice:" + hash_of("pw") + ":1001:::\n";
    write_file(folder.file("userdb"), userdb);
    const std::string expected = std::string("quelmarauth: cannot load ") + MISSING_CRYPT_LIBRARY + ": ";

    const struct {
        const char *what;
        int (*call)();
    } CASES[] = {
        {"login, right password", [] { return auth_login("login", "alice", "pw", nullptr, nullptr); }},
        {"login, unknown account", [] { return auth_login("login", "nobody", "pw", nullptr, nullptr); }},
        {"passwd", [] { return auth_passwd("login", "alice", "pw", "new"); }},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        logged_entries().clear();
        EXPECT_GT(c.call(), 0);
        ASSERT_EQ(1U, logged_entries().size());
        EXPECT_EQ(0U, logged_entries()[0].text.rfind(expected, 0)) << logged_entries()[0].text;
    }
    // A look-up needs no hash and still works.
    logged_entries().clear();
    EXPECT_EQ(0, auth_getuserinfo("login", "alice", nullptr, nullptr));
    EXPECT_TRUE(logged_entries().empty());
    EXPECT_EQ(userdb, read_file(folder.file("userdb")));

    // A cost can only be judged by libxcrypt: the configuration cannot be used.
    write_file(folder.file("quelmarauth.conf"), "[*]\nhash = bcrypt\ncost = 12\n");
    logged_entries().clear();
    EXPECT_GT(auth_getuserinfo("login", "alice", nullptr, nullptr), 0);
    ASSERT_EQ(1U, logged_entries().size());
    EXPECT_EQ(0U, logged_entries()[0].text.rfind(expected, 0)) << logged_entries()[0].text;
}

} // namespace
