// The pam store through the real program and real PAM (pam_wrapper and its
// pam_matrix module): logins, changes, refusals, the service that selects
// the PAM stack, the client's address for PAM_RHOST, and the user-id rule
// against system accounts.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "pam_site.h"
#include "syslog_capture.h"

namespace pam_test {
namespace {

const std::string GP = std::string(GREETING) + PASS_PLEASE;
const std::string GPN = GP + NEWPASS_PLEASE;

std::string read(const std::string &path) { return test_support::read_file(path); }

// One run against a site of its own; the site is set up by the case.
struct change_case {
    const char *what;
    std::string stack; // the "login" service; MATRIX stands for the matrix file
    std::string input;
    std::string replies;
    std::string log; // --stderr
    int status;
    std::string matrix_after; // the matrix file once the run is over
};

constexpr const char *MATRIX = "alice:old-secret:login\nbob:bob-secret:login\n";

std::string with_matrix(const std::string &stack, const std::string &matrix_path)
{
    std::string text = stack;
    for (std::size_t at = 0; (at = text.find("MATRIX", at)) != std::string::npos; at += matrix_path.size())
        text.replace(at, 6, matrix_path);
    return text;
}

TEST(PamStore, ChangesThroughPamMatrix)
{
    const std::string deny = system_module("pam_deny.so");
    const std::string plain = "auth required " + std::string(PAM_MATRIX_MODULE) + " passdb=MATRIX\n" +
                              "account required " + PAM_MATRIX_MODULE + " passdb=MATRIX\n" + "password required " +
                              PAM_MATRIX_MODULE + " passdb=MATRIX\n";
    const std::vector<change_case> cases = {
        {"right old password", plain, change_input("alice", "old-secret", "new-secret"),
         GPN + CHANGED + BYE, "changed password for alice\n", 0,
         "alice:new-secret:login\nbob:bob-secret:login\n"},
        {"wrong old password", plain, change_input("alice", "wrong", "new-secret"), GP + WRONG_OLD,
         "old password is incorrect or user not found for alice\n", 1, MATRIX},
        {"unknown user", plain, change_input("carol", "old-secret", "new-secret"), GP + WRONG_OLD,
         "old password is incorrect or user not found for carol\n", 1, MATRIX},
        // Info and error messages of the modules never reach the client.
        {"chatty modules", with_matrix(plain, "MATRIX verbose"), change_input("bob", "bob-secret", "n3w"),
         GPN + CHANGED + BYE, "changed password for bob\n", 0, "alice:old-secret:login\nbob:n3w:login\n"},
        {"policy refuses the new password", "password requisite " + deny + "\n" + plain,
         change_input("alice", "old-secret", "weak"), GPN + SERVER_ERROR,
         "failed to change password for user alice\n", 1, MATRIX},
        // PAM itself failing is the store failing, not a wrong password.
        {"module cannot be loaded", "auth required /nonexistent/pam_none.so\n" + plain,
         change_input("alice", "old-secret", "new-secret"), GP + SERVER_ERROR,
         "failed to change password for user alice\n", 1, MATRIX},
    };
    std::vector<std::unique_ptr<pam_site>> sites;
    std::vector<test_support::run_options> runs;
    for (const change_case &c : cases) {
        sites.push_back(std::make_unique<pam_site>());
        const pam_site &site = *sites.back();
        if (!site.unavailable().empty())
            GTEST_SKIP() << site.unavailable();
        test_support::write_file(site.file("matrix"), MATRIX);
        site.add_service("login", with_matrix(c.stack, site.file("matrix")));
        runs.push_back(site.run({"--stderr"}, c.input));
    }
    // One at a time: pam_wrapper's private copies of the service folder
    // collide between processes that start together.
    std::vector<test_support::run_result> results;
    for (const test_support::run_options &run : runs)
        results.push_back(test_support::run_process(run));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        EXPECT_EQ(cases[i].replies, results[i].out);
        // pam_wrapper reports a module it cannot load on standard error
        // itself; the program's own entry comes last.
        const std::string &err = results[i].err;
        EXPECT_TRUE(err.size() >= cases[i].log.size() &&
                    err.compare(err.size() - cases[i].log.size(), std::string::npos, cases[i].log) == 0)
            << err;
        EXPECT_TRUE(results[i].exited) << results[i].describe_end();
        EXPECT_EQ(cases[i].status, results[i].exit_status);
        EXPECT_EQ(cases[i].matrix_after, read(sites[i]->file("matrix")));
    }
}

// The service the program names is the PAM service, unless pam_service says
// otherwise; each has its own matrix file here.
TEST(PamStore, ServiceNameSelectsThePamService)
{
    const struct {
        const char *what;
        std::string config;
        std::vector<std::string> args;
        const char *changed; // the matrix file that must change
    } CASES[] = {
        {"default service login", "[*]\nbackend = pam\n", {"--stderr"}, "login.db"},
        {"-s imap", "[*]\nbackend = pam\n", {"--stderr", "-s", "imap"}, "imap.db"},
        {"pam_service", "[*]\nbackend = pam\npam_service = imap\n", {"--stderr"}, "imap.db"},
        {"section of its own", "[*]\nbackend = pam\n[webmail]\nbackend = pam\npam_service = imap\n",
         {"--stderr", "-s", "webmail"}, "imap.db"},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        const pam_site site;
        if (!site.unavailable().empty())
            GTEST_SKIP() << site.unavailable();
        for (const char *service : {"login", "imap"}) {
            const std::string db = site.file(std::string(service) + ".db");
            test_support::write_file(db, "alice:old-secret:" + std::string(service) + "\n");
            site.add_service(service, matrix_stack(db));
        }
        site.write_config(c.config);
        const test_support::run_result r =
            test_support::run_process(site.run(c.args, change_input("alice", "old-secret", "new-secret")));
        EXPECT_EQ(GPN + CHANGED + BYE, r.out) << r.err;
        for (const char *service : {"login", "imap"}) {
            const std::string db = std::string(service) + ".db";
            const std::string password = db == c.changed ? "new-secret" : "old-secret";
            EXPECT_EQ("alice:" + password + ":" + service + "\n", read(site.file(db))) << db;
        }
    }
}

// pam_exec hands PAM_RHOST to a script, which writes it down.
TEST(PamStore, ClientAddressReachesModulesAsRhost)
{
    const struct {
        const char *what;
        std::vector<std::string> env;
        const char *rhost; // as the module saw it
    } CASES[] = {
        {"tcpserver", {"TCPREMOTEIP=192.0.2.7", "REMOTE_ADDR=192.0.2.9"}, "192.0.2.7"},
        {"xinetd", {"REMOTE_HOST=2001:db8::7"}, "2001:db8::7"},
        {"systemd", {"REMOTE_ADDR=198.51.100.3"}, "198.51.100.3"},
        {"not a plain host", {"TCPREMOTEIP=evil host\x01"}, ""},
        {"none", {}, ""},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        const pam_site site;
        if (!site.unavailable().empty())
            GTEST_SKIP() << site.unavailable();
        const std::string script = site.file("rhost.sh");
        test_support::write_file(script, "#!/bin/sh\nprintf '%s' \"$PAM_RHOST\" > \"$(dirname \"$0\")/rhost\"\n");
        chmod(script.c_str(), 0700);
        test_support::write_file(site.file("matrix"), MATRIX);
        site.add_service("login", "auth required " + system_module("pam_exec.so") + " quiet " + script + "\n" +
                                      matrix_stack(site.file("matrix")));
        const test_support::run_result r =
            test_support::run_process(site.run({"--stderr"}, change_input("alice", "old-secret", "new"), c.env));
        EXPECT_EQ(GPN + CHANGED + BYE, r.out) << r.err;
        EXPECT_EQ(c.rhost, read(site.file("rhost")));
    }
}

// The rule against low user ids judges the system account: refused after the
// new password below 100, changed at 100, refused for a name the account
// database does not know.
TEST(PamStore, UidRuleJudgesTheSystemAccount)
{
    const struct {
        const char *user;
        std::string replies;
        const char *log;
        bool changes;
    } CASES[] = {
        {"low", GPN + RESTRICTED, "attempt to change password for a restricted or non-existant uid low\n", false},
        {"edge", GPN + CHANGED + BYE, "changed password for edge\n", true},
        {"nosys", GPN + RESTRICTED, "attempt to change password for a restricted or non-existant uid nosys\n",
         false},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.user);
        const pam_site site;
        if (!site.unavailable().empty())
            GTEST_SKIP() << site.unavailable();
        site.write_accounts("low:x:99:99::/:/bin/false\nedge:x:100:100::/:/bin/false\n");
        const std::string matrix = std::string(c.user) + ":old-secret:login\n";
        test_support::write_file(site.file("matrix"), matrix);
        site.add_service("login", matrix_stack(site.file("matrix")));
        const test_support::run_result r =
            test_support::run_process(site.run({"--stderr"}, change_input(c.user, "old-secret", "new")));
        EXPECT_EQ(c.replies, r.out);
        EXPECT_EQ(c.log, r.err);
        EXPECT_EQ(c.changes ? std::string(c.user) + ":new:login\n" : matrix, read(site.file("matrix")));
    }
}

// What the administrator reads in the system log when the store fails.
TEST(PamStore, DiagnosticsNameTheCause)
{
    const struct {
        const char *what;
        std::string config;
        std::string stack; // of the login service
        std::string input;
        std::string replies;
        std::string diagnostic; // a part of the library's one entry
    } CASES[] = {
        {"unknown backend", "[*]\nbackend = nope\n", "", "user alice\npass old-secret\n", GP + SERVER_ERROR,
         "2: unknown backend 'nope' ("},
        {"its module file is named", "[*]\nbackend = nope\n", "", "user alice\npass old-secret\n",
         GP + SERVER_ERROR, "/quelmarauth/nope.so: cannot open shared object file"},
        {"keys of other stores", "[*]\nbackend = pam\nhash = yescrypt\n", "", "user alice\npass old-secret\n",
         GP + SERVER_ERROR, "3: unknown key 'hash'"},
        {"a policy refusal", "[*]\nbackend = pam\n", "password requisite " + system_module("pam_deny.so") + "\n",
         change_input("alice", "old-secret", "weak"), GPN + SERVER_ERROR,
         "pam: pam_chauthtok for 'alice': Authentication token manipulation error"},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        const pam_site site;
        if (!site.unavailable().empty())
            GTEST_SKIP() << site.unavailable();
        test_support::syslog_capture log;
        if (!log.unavailable().empty())
            GTEST_SKIP() << log.unavailable();
        test_support::write_file(site.file("matrix"), MATRIX);
        site.add_service("login", c.stack + matrix_stack(site.file("matrix")));
        site.write_config(c.config);
        test_support::run_options options = site.run({}, c.input);
        options.argv = log.wrap(options.argv);
        const test_support::run_result r = test_support::run_process(options);
        EXPECT_EQ(c.replies, r.out) << r.err;
        std::string entries;
        for (const std::string &datagram : log.take())
            entries += datagram + "\n";
        EXPECT_NE(std::string::npos, entries.find(c.diagnostic)) << entries;
        EXPECT_EQ(std::string::npos, entries.find("old-secret")) << entries;
        EXPECT_EQ(MATRIX, read(site.file("matrix")));
    }
}

} // namespace
} // namespace pam_test
