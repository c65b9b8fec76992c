// store_bytes_test.cc: every change keeps every other byte of a file full
// of lines that do not parse, duplicates, and no final line feed.
#include "admin_harness.h"

#include "crypt_hash.h"

namespace admin_test {
namespace {

struct odd_store {
    store_fixture store{small_accounts()};
    std::string head;
    std::string alice_hash;
    std::string tail;
    odd_store(bool final_line_feed) {
        alice_hash = test_support::make_hash("alice-secret");
        head = "# odd store\r\n"
               "alice:too:few\n"  // never matches
               "bob:$6$x::::\r\n" // CR: never matches
               "bob" +
               std::string("\0", 1) +
               ":$6$y::::\n" // NUL: never matches
               "long:" +
               std::string(5000, 'h') + "::::\n" + // overlong
               "alice:";
        tail = ":1001::/home/alice:\n"
               "alice:$6$second::::\n" // a later line of the name never counts
               "zed:$6$z:::: trailing";
        if (final_line_feed) {
            tail += "\n";
        }
        test_support::write_file(store.userdb_path(), content());
    }
    std::string content(const std::string &hash) const { return head + hash + tail; }
    std::string content() const { return content(alice_hash); }
};

TEST(AdminStoreBytes, EveryOtherByteIsKept) {
    for (bool final_line_feed : {true, false}) {
        SCOPED_TRACE(final_line_feed ? "final line feed" : "no final line feed");
        const odd_store odd(final_line_feed);
        const run_result locked = run_admin(odd.store, {"lock", "alice"});
        ASSERT_TRUE(ended(locked, 0, ""));
        EXPECT_TRUE(odd.content("!" + odd.alice_hash) == odd.store.userdb());
        ASSERT_TRUE(ended(run_admin(odd.store, {"unlock", "alice"}), 0, ""));
        EXPECT_TRUE(odd.content() == odd.store.userdb());

        ASSERT_TRUE(ended(run_admin(odd.store, {"passwd", "alice"}, "new\n"), 0, ""));
        const std::string hash = fields_of(odd.store.userdb(), "alice")[1];
        EXPECT_TRUE(test_support::hash_matches("new", hash));
        EXPECT_TRUE(odd.content(hash) == odd.store.userdb());

        ASSERT_TRUE(ended(run_admin(odd.store, {"useradd", "bob"}, "b\n"), 0, ""))
            << "lines of bob that do not parse do not count";
        const std::string after_add = odd.store.userdb();
        const std::string bob_line = after_add.substr(after_add.rfind("\nbob:") + 1);
        EXPECT_EQ(0U, bob_line.find("bob:$6$rounds=1000$"));
        EXPECT_EQ("::::\n", bob_line.substr(bob_line.size() - 5));
        EXPECT_TRUE(odd.content(hash) + (final_line_feed ? "" : "\n") + bob_line == after_add);

        ASSERT_TRUE(ended(run_admin(odd.store, {"userdel", "alice"}), 0, ""));
        std::string expected = odd.content(hash) + (final_line_feed ? "" : "\n") + bob_line;
        const std::string first = "\nalice:" + hash + ":1001::/home/alice:\n";
        expected.replace(expected.find(first), first.size(), "\n");
        EXPECT_TRUE(expected == odd.store.userdb()) << "only the line that counted went";
        // Now the second line of alice counts.
        ASSERT_TRUE(ended(run_admin(odd.store, {"lock", "alice"}), 0, ""));
        EXPECT_EQ("!$6$second", fields_of(odd.store.userdb(), "alice")[1]);
    }
}

TEST(AdminStoreBytes, UseraddOnAnEmptyFile) {
    const store_fixture store(small_accounts());
    test_support::write_file(store.userdb_path(), "");
    ASSERT_TRUE(ended(run_admin(store, {"useradd", "first", "--uid", "0"}, "x\n"), 0, ""));
    EXPECT_EQ("first:" + fields_of(store.userdb(), "first")[1] + ":0:::\n", store.userdb());
}

TEST(AdminStoreBytes, AStoreThatCannotBeChangedFailsWithFour) {
    const store_fixture store(small_accounts());
    const std::string path = store.userdb_path();
    const std::string real = store.dir().file("real");
    test_support::write_file(real, store.original());
    std::remove(path.c_str());
    ASSERT_EQ(0, symlink("real", path.c_str()));
    EXPECT_TRUE(ended(run_admin(store, {"lock", "alice"}), 4,
                      "quelmarauth: " + path + ": not a regular file; not changed\n"));
    EXPECT_EQ(store.original(), test_support::read_file(real));
    std::remove(path.c_str());
    EXPECT_TRUE(ended(run_admin(store, {"userdel", "alice"}), 4,
                      "quelmarauth: " + path + ": cannot open: No such file or directory\n"));
    EXPECT_TRUE(ended(run_admin(store, {"list"}), 4,
                      "quelmarauth: " + path + ": cannot open: No such file or directory\n"));
}

} // namespace
} // namespace admin_test
