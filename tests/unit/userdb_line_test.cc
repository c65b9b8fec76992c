// Parsing of one account line: what parses, what never does.
#include <gtest/gtest.h>

#include <string>

#include "userdb_line.h"

namespace {

using namespace std::string_literals;

struct good_line {
    std::string line;
    const char *name;
    const char *hash;
    long uid; // -1: absent
    long gid; // -1: absent
    const char *home;
    const char *sysuser;
};

const good_line GOOD_LINES[] = {
    {"alice:$y$j9T$abc:1001:1002:/home/alice:", "alice", "$y$j9T$abc", 1001, 1002, "/home/alice", ""},
    {"vmail-bob:$6$x$y::::vmail", "vmail-bob", "$6$x$y", -1, -1, "", "vmail"},
    {"a:::::", "a", "", -1, -1, "", ""},                                  // every optional field empty
    {"root:x:0:0:/:", "root", "x", 0, 0, "/", ""},                         // id 0 is present, not absent
    {"max:h:4294967295:4294967295::", "max", "h", 4294967295, 4294967295, "", ""}, // largest 32-bit id
    {"zero:h:007:0010::", "zero", "h", 7, 10, "", ""},                     // leading zeros are digits
    {"u@example.org:!$6$x:1::/home/with space:sys user", "u@example.org", "!$6$x", 1, -1, "/home/with space",
     "sys user"}, // locked hash still parses; blanks allowed outside the name
    {"\xc3\xa9l\xc3\xa8ve:h:::/h\xc3\xa9:", "\xc3\xa9l\xc3\xa8ve", "h", -1, -1, "/h\xc3\xa9", ""}, // UTF-8 bytes
};

TEST(UserdbLine, ParsesWellFormedLines)
{
    for (const good_line &c : GOOD_LINES) {
        SCOPED_TRACE(c.line);
        userdb_fields fields;
        ASSERT_TRUE(parse_userdb_line(c.line, fields));
        EXPECT_EQ(c.name, fields.name);
        EXPECT_EQ(c.hash, fields.hash);
        EXPECT_EQ(c.line.substr(fields.hash_offset, fields.hash.size()), fields.hash);
        EXPECT_EQ(c.uid >= 0, fields.has_uid);
        EXPECT_EQ(c.gid >= 0, fields.has_gid);
        if (c.uid >= 0) {
            EXPECT_EQ(static_cast<uid_t>(c.uid), fields.uid);
        }
        if (c.gid >= 0) {
            EXPECT_EQ(static_cast<gid_t>(c.gid), fields.gid);
        }
        EXPECT_EQ(c.home, fields.home);
        EXPECT_EQ(c.sysuser, fields.sysuser);
        EXPECT_EQ(c.name, userdb_line_name(c.line));
    }
}

const std::string BAD_LINES[] = {
    "",                                  // blank
    "# alice:h:1:1::",                   // comment
    "#alice:h:1:1::",                    // comment even without a blank
    "alice:h:1:1:",                      // five fields
    "alice:h:1:1:::",                    // seven fields
    "alice",                             // one field
    ":h:1:1::",                          // empty name
    " alice:h:1:1::",                    // blank in the name
    "ali ce:h:1:1::",                    // blank inside the name
    "ali\tce:h:1:1::",                   // tab in the name
    "alice:h:-1:1::",                    // signed uid
    "alice:h:+1:1::",                    // signed uid
    "alice:h: 1:1::",                    // blank in uid
    "alice:h:1 :1::",                    // trailing blank in uid
    "alice:h:0x10:1::",                  // not decimal
    "alice:h:4294967296:1::",            // uid does not fit 32 bits
    "alice:h:1:99999999999999999999::",  // gid far too large
    "alice:h:1:1::\r",                   // carriage return before the line feed
    "alice:h\r:1:1::",                   // control character in the hash
    "alice:h:1:1:/ho\x01me:",            // control character in home
    "alice:h:1:1::sys\x7f",              // DEL in sysuser
    "ali\0ce:h:1:1::"s,                  // NUL in the name
    "alice:h\0x:1:1::"s,                 // NUL in the hash: would cut it short
    "alice:h:1:1:" + std::string(USERDB_MAX_LINE, 'x') + ":", // longer than any line may be
};

TEST(UserdbLine, RefusesEverythingElse)
{
    for (const std::string &line : BAD_LINES) {
        SCOPED_TRACE(testing::PrintToString(line.substr(0, 40)));
        userdb_fields fields;
        EXPECT_FALSE(parse_userdb_line(line, fields));
    }
}

TEST(UserdbLine, LongestLineStillParses)
{
    const std::string prefix = "alice:h:1:1:";
    const std::string line = prefix + std::string(USERDB_MAX_LINE - prefix.size() - 1, 'x') + ":";
    ASSERT_EQ(USERDB_MAX_LINE, line.size());
    userdb_fields fields;
    EXPECT_TRUE(parse_userdb_line(line, fields));
}

TEST(UserdbLine, AccountNames)
{
    EXPECT_TRUE(is_valid_account_name("alice"));
    EXPECT_TRUE(is_valid_account_name("a.b+c@d-e_f"));
    EXPECT_FALSE(is_valid_account_name(""));
    EXPECT_FALSE(is_valid_account_name("al:ice"));
    EXPECT_FALSE(is_valid_account_name("al ice"));
    EXPECT_FALSE(is_valid_account_name("alice\n"));
}

} // namespace
