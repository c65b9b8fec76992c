// check_list_test.cc: list shows the accounts that count and never a hash;
// check names file and line of every problem.
#include "admin_harness.h"

namespace admin_test {
namespace {

TEST(AdminList, ShowsTheAccountsThatCountWithoutHashes) {
    const store_fixture store(small_accounts());
    test_support::write_file(store.userdb_path(), store.original() + "alice:$6$later::::\n"
                                                                     "locked:!$6$l:7:8:/l:\n"
                                                                     "starred:*:::/s:sys\n"
                                                                     "nohash:::::");
    const run_result r = run_admin(store, {"list"});
    EXPECT_TRUE(ended(r, 0, "",
                      "alice\t1001\t1001\t/home/alice\t\n"
                      "bob\t1002\t\t\tvmail\n"
                      "carol\t1003\t1003\t/srv/c d\t\n"
                      "locked\t7\t8\t/l\t\tlocked\n"
                      "starred\t\t\t/s\tsys\tlocked\n"
                      "nohash\t\t\t\t\tlocked\n"));
    EXPECT_EQ(std::string::npos, r.out.find('$')) << "no hash is ever shown";
}

TEST(AdminCheck, NamesFileAndLineOfEachProblem) {
    const store_fixture store(small_accounts());
    const std::string good = "good:$6$g:1:1::\n";
    const std::string content = "# comment\n"                      // 1
                                "\n"                               // 2
                                "   \t \n"                         // 3: blank enough
                                + good +                           // 4
                                "only:three:fields\n"              // 5
                                "seven:a:b:c:d:e:f\n"              // 6
                                "cr:$6$c::::\r\n"                  // 7
                                "ctl:$6$c::::a\x01z\n"             // 8
                                "sp ace:$6$s::::\n"                // 9
                                ":$6$noname::::\n"                 // 10
                                "uid:$6$u:-1:::\n"                 // 11
                                "gid:$6$g::4294967296::\n"         // 12
                                "empty::::: \n"                    // 13
                                + good +                           // 14
                                "long:" + std::string(5000, 'x') + // 15
                                "\n"
                                "last:$6$l::::"; // 16, no line feed: fine
    test_support::write_file(store.userdb_path(), content);
    const std::string at = store.userdb_path() + ":";
    const run_result r = run_admin(store, {"check"});
    EXPECT_TRUE(ended(r, 1, "",
                      at + "5: 3 fields found, not the 6 of name:hash:uid:gid:home:sysuser\n" + at +
                          "6: 7 fields found, not the 6 of name:hash:uid:gid:home:sysuser\n" + at +
                          "7: line ends in a carriage return\n" + at +
                          "8: control character in the sysuser field\n" + at +
                          "9: invalid account name (empty, or with blanks)\n" + at +
                          "10: invalid account name (empty, or with blanks)\n" + at +
                          "11: uid is not empty nor a decimal number up to 4294967295\n" + at +
                          "12: gid is not empty nor a decimal number up to 4294967295\n" + at +
                          "13: account empty has an empty hash and can never log in\n" + at +
                          "14: account good again; only line 4 counts\n" + at +
                          "15: line longer than 4096 bytes\n"));
    EXPECT_EQ(content, store.userdb()) << "check changes nothing";
}

TEST(AdminCheck, CleanStorePasses) {
    const store_fixture store(small_accounts());
    test_support::write_file(store.userdb_path(),
                             "# only good lines\n\nalice:$6$a:1:2:/h:s\nbob:!$6$b::::");
    EXPECT_TRUE(ended(run_admin(store, {"check"}), 0, ""));
}

} // namespace
} // namespace admin_test
