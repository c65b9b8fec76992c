// The configuration loader: good files, and each kind of error named by its
// file and line.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "config.h"
#include "unit_support.h"

namespace {

struct loaded {
    bool ok = false;
    const store_ops *store = nullptr;
    store_config config;
    std::string error;
};

loaded load(const std::string &path, const char *service)
{
    loaded result;
    error_text error;
    result.ok = load_config(path.c_str(), service, result.store, result.config, error);
    result.error = error.text;
    return result;
}

std::string setting(const store_config &config, const char *key)
{
    const std::string *value = config.find(key);
    return value != nullptr ? *value : "<unset>";
}

TEST(Config, PicksTheSectionOfTheService)
{
    scratch_folder folder;
    const std::string path = folder.file("quelmarauth.conf");
    write_file(path, "# accounts of the mail services\n"
                     "\n"
                     "[*]\n"
                     "userdb = everyone\n"
                     "[imap]\n"
                     "  backend = userdb   \n" // blanks around keys and values do not count
                     "userdb = /srv/imap/userdb\n"
                     "hash = bcrypt\n"
                     "[mail @ example.org+x_y-z.1]\n"
                     "hash = sha512crypt\n"
                     "cost = 20000\n"
                     "userdb = sub/dir/userdb\r\n" // a CRLF line is fine
                     "[with\ttab]\n"
                     "[empty]\n");
    const struct {
        const char *service;
        const char *userdb;
        hash_method method;
        unsigned long cost;
    } CASES[] = {
        {"imap", "/srv/imap/userdb", hash_method::bcrypt, 10},             // bcrypt's own default cost
        {"IMAP", "everyone", hash_method::yescrypt, 0},                     // sections match exactly
        {"imap ", "everyone", hash_method::yescrypt, 0},                    // ... to the last byte
        {"login", "everyone", hash_method::yescrypt, 0},                    // [*] serves the rest
        {"mail @ example.org+x_y-z.1", "sub/dir/userdb", hash_method::sha512crypt, 20000},
        {"with\ttab", "<unset>", hash_method::yescrypt, 0},
        {"empty", "<unset>", hash_method::yescrypt, 0}, // a section without keys takes the defaults
        {"*", "everyone", hash_method::yescrypt, 0},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.service);
        const loaded result = load(path, c.service);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(&USERDB_STORE, result.store);
        EXPECT_EQ(path, result.config.config_path);
        EXPECT_EQ(folder.path(), result.config.config_folder);
        const std::string userdb = c.userdb[0] == '/' || c.userdb[0] == '<' ? std::string(c.userdb)
                                                                             : folder.path() + "/" + c.userdb;
        EXPECT_EQ(userdb, setting(result.config, "userdb"));
        EXPECT_EQ(c.method, result.config.hashing.method);
        EXPECT_EQ(c.cost, result.config.hashing.cost);
    }
}

TEST(Config, NamesEachErrorByItsLine)
{
    scratch_folder folder;
    const std::string path = folder.file("q.conf");
    const std::string long_value(200, 'v');
    const struct {
        std::string content;
        const char *reason; // after "<path>:"
    } CASES[] = {
        {"[*]\nhsh = yescrypt\n", "2: unknown key 'hsh'"},
        {"[*]\nBackend = userdb\n", "2: unknown key 'Backend'"}, // keys are case-sensitive
        {"[*]\nbackend = ldap\n", "2: unknown backend 'ldap' ("},
        {"[*]\nbackend =\n", "2: unknown backend '' ("},
        {"[*]\nhash = md5\n", "2: unknown hash method 'md5' (yescrypt, sha512crypt or bcrypt)"},
        {"[*]\ncost = 10x\n", "2: cost '10x' is not a number"},
        {"[*]\ncost = -1\n", "2: cost '-1' is not a number"},
        {"[*]\ncost = 99999999999\n", "2: cost '99999999999' is not a number"},
        {"[*]\nhash = bcrypt\ncost = 3\n", "3: cost 3 is not accepted for bcrypt"},
        {"[*]\ncost = 40\nhash = bcrypt\n", "2: cost 40 is not accepted for bcrypt"}, // hash given later
        {"[*]\nhash = yescrypt\ncost = 12\n", "3: cost 12 is not accepted for yescrypt"},
        {"[*]\nuserdb = a\nuserdb = b\n", "3: duplicate key 'userdb' (first on line 2)"},
        {"userdb = a\n[*]\n", "1: key 'userdb' outside any section"},
        {"[*]\nuserdb\n", "2: malformed line"},
        {"[*]\nuserdb: x\n", "2: malformed line"},           // only '=' separates
        {"[*]\nuserdb = x ; comment\n", "2: malformed line"}, // no inline comments
        {"[*]\n; comment\n", "2: malformed line (comments start with '#')"},
        {"[*]\nuserdb = \n", "2: empty value for 'userdb'"},
        {"[*\n", "1: malformed section header"},
        {"[]\n", "1: malformed section header"},
        {"[*] # all\n", "1: malformed section header"},
        {"[*]\n[imap]\n[*]\n", "3: duplicate section [*]"},
        {"[*]\nuserdb = " + long_value + "\n", "2: line too long (at most 197 bytes)"},
        {"[*]\nuserdb = a\x01b\n", "2: control character in line"},
        {std::string("[*]\nuserdb = a\0b\n", 17), "2: control character in line"},
        {"[*]\nuserdb = x\n  more\n", "3: malformed line"}, // no continuation lines
        {"\t\xEF\xBB\xBF[x]\n[*]\n", "1: malformed line"},          // a byte order mark only counts first
        {" \xEF\xBB\xBFuserdb = x\n[*]\n", "1: malformed line"},
        {"[a]\nhsh = 1\n[b]\nbackend = x\n", "2: unknown key 'hsh'"}, // every section is checked
        {"[other]\nbackend = x\n[login]\n", "2: unknown backend 'x' ("},
        {"[*]\nbackend = nope\nuserdb = x\nfoo = 1\n", "2: unknown backend 'nope' ("},
        {"[*]\nfoo = 1\nbackend = nope\n", "3: unknown backend 'nope' ("}, // unknown keys of an unknown backend are not judged
        {"[a]\nhash = x\n[b]\nx = 1\n", "2: unknown hash method 'x' (yescrypt, sha512crypt or bcrypt)"},
        {"[a]\nx = 1\n[b]\nhash = x\n", "2: unknown key 'x'"}, // the first error in the file wins
        {"[*]\ncost = 40\nhash = md5\n", "3: unknown hash method 'md5' (yescrypt, sha512crypt or bcrypt)"},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.content);
        write_file(path, c.content);
        const loaded result = load(path, "login");
        EXPECT_FALSE(result.ok);
        // A reason ending in "(" is followed by the module loader's own words.
        const std::string expected = path + ":" + c.reason;
        if (expected.back() == '(')
            EXPECT_EQ(expected, result.error.substr(0, expected.size()));
        else
            EXPECT_EQ(expected, result.error);
    }
}

TEST(Config, NoSectionForTheService)
{
    scratch_folder folder;
    const std::string path = folder.file("quelmarauth.conf");
    write_file(path, "[imap]\n[pop]\n");
    const loaded result = load(path, "login");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ("service 'login': no section [login] and no section [*] in " + path, result.error);
    EXPECT_TRUE(load(path, "pop").ok);
}

TEST(Config, FileThatCannotBeRead)
{
    scratch_folder folder;
    const struct {
        std::string path;
        std::string error;
    } CASES[] = {
        {folder.file("absent.conf"), folder.file("absent.conf") + ": cannot open: No such file or directory"},
        {folder.path(), folder.path() + ": not a regular file"},
        {"/dev/zero", "/dev/zero: not a regular file"}, // would never end
        {folder.file("fifo"), folder.file("fifo") + ": not a regular file"}, // would wait for a writer
    };
    ASSERT_EQ(0, ::mkfifo(folder.file("fifo").c_str(), 0600));
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.path);
        const loaded result = load(c.path, "login");
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(c.error, result.error);
    }
}

TEST(Config, EmptyFileHasNoSections)
{
    scratch_folder folder;
    const std::string path = folder.file("quelmarauth.conf");
    write_file(path, "");
    EXPECT_EQ("service 'x': no section [x] and no section [*] in " + path, load(path, "x").error);
}

TEST(Config, RelativeConfigurationPath)
{
    scratch_folder folder;
    write_file(folder.file("q.conf"), "[*]\n");
    const std::string here = folder.path();
    char old_cwd[4096];
    ASSERT_NE(nullptr, ::getcwd(old_cwd, sizeof old_cwd));
    ASSERT_EQ(0, ::chdir(here.c_str()));
    const loaded result = load("q.conf", "login");
    ASSERT_EQ(0, ::chdir(old_cwd));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(".", result.config.config_folder);
}

TEST(Config, PathComesFromTheEnvironment)
{
    {
        scoped_env env("QUELMARAUTH_CONFIG", "/some/where.conf");
        EXPECT_STREQ("/some/where.conf", config_file_path());
    }
    scoped_env empty("QUELMARAUTH_CONFIG", "");
    EXPECT_STREQ(QUELMARAUTH_DEFAULT_CONFIG_FOR_TEST, config_file_path());
}

} // namespace
