// command_line_test.cc: help, version, and every way the command line or
// the configuration can be wrong, each with its message and status, and
// the store untouched.
#include "admin_harness.h"

namespace admin_test {
namespace {

struct refusal_case {
    std::vector<std::string> args;
    int status;
    std::string err;
};

void check_refusals(const std::vector<refusal_case> &cases) {
    const store_fixture store(small_accounts());
    for (const refusal_case &c : cases) {
        std::string trace;
        for (const std::string &arg : c.args) {
            trace += "[" + arg + "]";
        }
        SCOPED_TRACE(trace);
        EXPECT_TRUE(ended(run_admin(store, c.args), c.status, c.err));
        EXPECT_TRUE(store.unchanged());
    }
}

TEST(AdminCommandLine, HelpAndVersion) {
    const store_fixture store(small_accounts());
    const run_result version = run_admin(store, {"--version"});
    EXPECT_TRUE(ended(version, 0, "", "quelmarauth 1.1.2\n"));
    EXPECT_TRUE(ended(run_admin(store, {"-V"}), 0, "", "quelmarauth 1.1.2\n"));
    for (const char *option : {"--help", "-h"}) {
        SCOPED_TRACE(option);
        const run_result help = run_admin(store, {option});
        EXPECT_TRUE(help.exited && help.exit_status == 0) << help.describe_end();
        EXPECT_EQ("", help.err);
        EXPECT_EQ(0U, help.out.find("Usage: quelmarauth [-s SERVICE] [-c FILE] COMMAND"));
        for (const char *word : {"useradd NAME", "passwd NAME", "userdel NAME", "lock NAME",
                                 "unlock NAME", "verify NAME", "list", "check", "Exit status: 0",
                                 "2 usage error", "3 configuration", "4 the store failed"}) {
            EXPECT_NE(std::string::npos, help.out.find(word)) << word;
        }
    }
}

TEST(AdminCommandLine, UsageErrorsExitTwo) {
    check_refusals({
        {{}, 2, "quelmarauth: no command given; see --help\n"},
        {{"frob"}, 2, "quelmarauth: unknown command 'frob'; see --help\n"},
        {{"LIST"}, 2, "quelmarauth: unknown command 'LIST'; see --help\n"}, // exact words only
        {{"--bogus", "list"}, 2, "quelmarauth: invalid option '--bogus'; see --help\n"},
        {{"-s"}, 2, "quelmarauth: invalid option '-s'; see --help\n"}, // its argument is missing
        {{"-s", "a/b", "list"}, 2, "quelmarauth: invalid service name 'a/b'; see --help\n"},
        {{"-s", "", "list"}, 2, "quelmarauth: invalid service name ''; see --help\n"},
        {{"list", "alice"}, 2, "quelmarauth: list takes no arguments; see --help\n"},
        {{"check", "-x"}, 2, "quelmarauth: check: invalid option '-x'; see --help\n"},
        {{"passwd"}, 2, "quelmarauth: passwd takes one account name; see --help\n"},
        {{"userdel", "alice", "bob"},
         2,
         "quelmarauth: userdel takes one account name; see --help\n"},
        {{"lock", "--uid", "5", "alice"},
         2,
         "quelmarauth: lock: invalid option '--uid'; see --help\n"},
        {{"useradd", "dave", "--shell", "/bin/sh"},
         2,
         "quelmarauth: useradd: invalid option '--shell'; see --help\n"},
        {{"useradd", "dave", "--uid"},
         2,
         "quelmarauth: useradd: invalid option '--uid'; see --help\n"},
    });
}

TEST(AdminCommandLine, InvalidNamesAndFieldsExitOne) {
    const std::string name_rule = "': not empty, no ':', blanks or control characters\n";
    const std::string id_rule = "': a decimal number up to 4294967295\n";
    const std::string field_rule = "': no ':' and no control characters\n";
    check_refusals({
        {{"useradd", "a b"}, 1, "quelmarauth: invalid account name 'a b" + name_rule},
        {{"useradd", "a:b"}, 1, "quelmarauth: invalid account name 'a:b" + name_rule},
        {{"useradd", ""}, 1, "quelmarauth: invalid account name '" + name_rule},
        // Control bytes are not sent to the administrator's terminal.
        {{"passwd", "a\x1b[2Jb"}, 1, "quelmarauth: invalid account name 'a?[2Jb" + name_rule},
        {{"userdel", "tab\there"}, 1, "quelmarauth: invalid account name 'tab?here" + name_rule},
        {{"useradd", "dave", "--uid", "-1"}, 1, "quelmarauth: invalid uid '-1" + id_rule},
        {{"useradd", "dave", "--uid", "4294967296"},
         1,
         "quelmarauth: invalid uid '4294967296" + id_rule},
        {{"useradd", "dave", "--uid", " 5"}, 1, "quelmarauth: invalid uid ' 5" + id_rule},
        {{"useradd", "dave", "--gid", ""}, 1, "quelmarauth: invalid gid '" + id_rule},
        {{"useradd", "dave", "--gid=0x10"}, 1, "quelmarauth: invalid gid '0x10" + id_rule},
        {{"useradd", "dave", "--home", "/a:b"}, 1, "quelmarauth: invalid home '/a:b" + field_rule},
        {{"useradd", "dave", "--sysuser", "x\ny"},
         1,
         "quelmarauth: invalid sysuser 'x?y" + field_rule},
    });
}

TEST(AdminCommandLine, UnusableConfigurationExitsThree) {
    const store_fixture store(small_accounts());
    const std::string config = store.config_path();
    const struct {
        const char *what;
        std::string text; // empty: no configuration file at all
        std::string err;
    } CASES[] = {
        {"missing", "", config + ": cannot open: No such file or directory"},
        {"unknown key", "[*]\nbackend = userdb\nfrob = 1\n", config + ":3: unknown key 'frob'"},
        {"unknown hash method", "[*]\nhash = md5\n",
         config + ":2: unknown hash method 'md5' (yescrypt, sha512crypt or bcrypt)"},
        {"no section for the service", "[webmail]\nbackend = userdb\n",
         "service 'login': no section [login] and no section [*] in " + config},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        if (c.text.empty()) {
            std::remove(config.c_str());
        } else {
            store.write_config(c.text);
        }
        for (const char *command : {"list", "check", "lock"}) {
            SCOPED_TRACE(command);
            std::vector<std::string> args = {command};
            if (std::string(command) == "lock") {
                args.push_back("alice");
            }
            EXPECT_TRUE(ended(run_admin(store, args), 3, "quelmarauth: " + c.err + "\n"));
        }
        EXPECT_EQ(store.original(), store.userdb());
    }
}

TEST(AdminCommandLine, ServiceAndConfigurationChooseTheStore) {
    // Two stores in one configuration: -s picks the section; without -c the
    // library's own QUELMARAUTH_CONFIG names the file.
    const store_fixture store(small_accounts());
    const store_fixture other({{"zed", "zed-secret", "2000", "", "", ""}});
    store.write_config(test_support::userdb_config("*", store.userdb_path()) + "[mail]\nuserdb = " +
                       other.userdb_path() + "\nhash = sha512crypt\ncost = 1000\n");
    run_options options = admin_run(store, {"-s", "mail", "list"});
    EXPECT_TRUE(ended(test_support::run_process(options), 0, "", "zed\t2000\t\t\t\n"));
    options.argv = {ADMIN, "--service=mail", "list"};
    options.unset_env.clear();
    options.env = {store.config_env()};
    EXPECT_TRUE(ended(test_support::run_process(options), 0, "", "zed\t2000\t\t\t\n"));
    options.argv = {ADMIN, "--config", other.config_path(), "list"};
    EXPECT_TRUE(ended(test_support::run_process(options), 0, "", "zed\t2000\t\t\t\n"));
}

} // namespace
} // namespace admin_test
