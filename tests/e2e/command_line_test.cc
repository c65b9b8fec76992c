// command_line_test.cc: the options, their refusals and their order, through
// the real program: what reaches standard output and standard error, and the
// exit status.
#include <memory>
#include <string>

#include "e2e_harness.h"

namespace e2e {
namespace {

// The dialogue started: the greeting, then end of input at the user step.
const std::string DIALOGUE = std::string(GREETING) + USER_REQUIRED;

struct command_case {
    const char *what;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
    std::vector<std::string> env = {};
};

void check_command_cases(const std::vector<command_case> &cases) {
    const store_fixture store(standard_accounts());
    std::vector<run_options> runs;
    for (const command_case &c : cases) {
        run_options options = program_run(store, "", c.args);
        options.env.insert(options.env.end(), c.env.begin(), c.env.end());
        options.unset_env = {"POSIXLY_CORRECT"};
        runs.push_back(options);
    }
    const std::vector<run_result> results = test_support::run_processes(runs);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(std::string(cases[i].what) + ": " + testing::PrintToString(cases[i].args));
        EXPECT_TRUE(exited_with(results[i], cases[i].status));
        EXPECT_EQ(cases[i].out, results[i].out);
        EXPECT_EQ(cases[i].err, results[i].err);
    }
    EXPECT_TRUE(store.unchanged());
}

std::string illegal(const std::string &c) {
    return "illegal character in service name: " + c + "\n";
}

const std::string TOO_LONG = "service name too long (max 128 characters)\n";

TEST(CommandLine, HelpVersionAndInvalidForms) {
    check_command_cases({
        {"help", {"-h"}, HELP_TEXT, "", 0},
        {"help, long", {"--help"}, HELP_TEXT, "", 0},
        {"help, abbreviated", {"--he"}, HELP_TEXT, "", 0},
        {"version", {"-V"}, VERSION_LINE, "", 0},
        {"version, long", {"--version"}, VERSION_LINE, "", 0},
        {"the first ending option wins", {"-V", "-h"}, VERSION_LINE, "", 0},
        {"the first ending option wins, reversed", {"-h", "-V"}, HELP_TEXT, "", 0},
        {"unknown option", {"-x"}, INVALID_COMMAND_LINE, "", 2},
        {"-s without its value", {"-s"}, INVALID_COMMAND_LINE, "", 2},
        {"ambiguous abbreviation", {"--s"}, INVALID_COMMAND_LINE, "", 2},
        {"value for an option that takes none", {"--help=yes"}, INVALID_COMMAND_LINE, "", 2},
        {"value for --stderr", {"--stderr=1"}, INVALID_COMMAND_LINE, "", 2},
        {"-? is unknown, not help", {"-?"}, INVALID_COMMAND_LINE, "", 2},
        {"unknown long option", {"--bogus"}, INVALID_COMMAND_LINE, "", 2},
        {"refusal is not logged", {"--stderr", "-x"}, INVALID_COMMAND_LINE, "", 2},
        {"an invalid option after a good one",
         {"-s", "imap", "-x", "-h"},
         INVALID_COMMAND_LINE,
         "",
         2},
        {"help before an invalid option", {"-h", "-x"}, HELP_TEXT, "", 0},
    });
}

TEST(CommandLine, ServiceNameChecks) {
    const std::string name128(128, 's');
    check_command_cases({
        {"128 characters", {"--stderr", "-s", name128}, DIALOGUE, "", 1},
        {"129 characters", {"--stderr", "-s", name128 + "s"}, "", TOO_LONG, 2},
        {"a slash", {"--stderr", "-s", "mail/user"}, "", illegal("/"), 2},
        {"a byte of 128 or above", {"--stderr", "-s", "caf\xc3\xa9"}, "", illegal("\xc3"), 2},
        {"a line feed", {"--stderr", "-s", "a\nb"}, "", illegal("\n"), 2},
        {"a colon", {"--stderr", "--service=x:y"}, "", illegal(":"), 2},
        {"both faults: the character wins",
         {"--stderr", "-s", name128 + "/x"},
         "",
         illegal("/"),
         2},
        {"empty", {"--stderr", "-s", ""}, DIALOGUE, "", 1},
        {"empty after =", {"--stderr", "--service="}, DIALOGUE, "", 1},
        {"blank and tab allowed", {"--stderr", "-s", "mail user\tx"}, DIALOGUE, "", 1},
        {"every other allowed character", {"--stderr", "-s", "aZ09+_-.@"}, DIALOGUE, "", 1},
        {"service error ends before help",
         {"--stderr", "-s", "bad/name", "-h"},
         "",
         illegal("/"),
         2},
        {"error before --stderr goes to the system log", {"-s", "bad/name", "--stderr"}, "", "", 2},
        {"too long before --stderr goes to the system log",
         {"-s", name128 + "s", "--stderr"},
         "",
         "",
         2},
        {"a later -s replaces an earlier one",
         {"--stderr", "-s", "a", "-s", name128},
         DIALOGUE,
         "",
         1},
    });
}

TEST(CommandLine, OperandsAndOptionArguments) {
    check_command_cases({
        {"operands are ignored", {"extra", "words"}, DIALOGUE, "", 1},
        {"a lone - is an operand", {"-"}, DIALOGUE, "", 1},
        {"-- ends the options", {"--", "-h"}, DIALOGUE, "", 1},
        {"options may follow operands", {"extra", "-h"}, HELP_TEXT, "", 0},
        {"POSIXLY_CORRECT stops at the first operand",
         {"extra", "-h"},
         DIALOGUE,
         "",
         1,
         {"POSIXLY_CORRECT=1"}},
        {"-s takes -h as its value", {"-s", "-h"}, DIALOGUE, "", 1},
        {"--service takes --stderr as its value", {"--service", "--stderr"}, DIALOGUE, "", 1},
        {"-s joined to its value", {"-s-V"}, DIALOGUE, "", 1},
    });
}

// --service --stderr names a service; the log stays with the system log.
TEST(CommandLine, ServiceNamedStderrDoesNotMoveTheLog) {
    const store_fixture store(standard_accounts());
    run_options options =
        program_run(store, "user alice\npass old-secret\n", {"--service", "--stderr"});
    options.env = {"QUELMARAUTH_CONFIG=" + store.dir().file("missing.conf")};
    const run_result r = test_support::run_process(options);
    EXPECT_TRUE(exited_with(r, 1));
    EXPECT_EQ(std::string(GREETING) + PASS_PLEASE + SERVER_ERROR, r.out);
    EXPECT_EQ("", r.err);
}

// Each spelling of the service option selects the store's [imap] section.
TEST(CommandLine, ServiceSelectsItsSection) {
    struct service_case {
        const char *section;
        std::vector<std::string> args;
        bool served;
    };
    const service_case CASES[] = {
        {"imap", {"-s", "imap"}, true},
        {"imap", {"--service=imap"}, true},
        {"imap", {"--service", "imap"}, true},
        {"imap", {"--serv=imap"}, true},
        {"imap", {"-simap"}, true},
        {"imap", {"-s", "login", "-s", "imap"}, true},
        {"imap", {}, false},             // "login" has no section here
        {"imap", {"-s", "IMAP"}, false}, // names are matched exactly
        {"mail user", {"-s", "mail user"}, true},
        {"login", {}, true},
    };
    std::vector<std::unique_ptr<store_fixture>> stores;
    std::vector<run_options> runs;
    for (const service_case &c : CASES) {
        stores.push_back(std::make_unique<store_fixture>(standard_accounts(), c.section));
        std::vector<std::string> args = {"--stderr"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        runs.push_back(
            program_run(*stores.back(), change_lines("alice", "new-secret") + "quit\n", args));
    }
    const std::vector<run_result> results = test_support::run_processes(runs);
    const std::string GP = std::string(GREETING) + PASS_PLEASE;
    for (std::size_t i = 0; i < std::size(CASES); ++i) {
        SCOPED_TRACE(std::string(CASES[i].section) + " section, " +
                     testing::PrintToString(CASES[i].args));
        const run_result &r = results[i];
        if (CASES[i].served) {
            EXPECT_TRUE(exited_with(r, 0));
            EXPECT_EQ(GP + NEWPASS_PLEASE + CHANGED + BYE, r.out);
            EXPECT_TRUE(stores[i]->changed_only({{"alice", "new-secret"}}));
        } else {
            // An unserved service is the store's failure or an unknown
            // account; either way a refusal at login and nothing changed.
            EXPECT_TRUE(exited_with(r, 1));
            EXPECT_TRUE(r.out == GP + SERVER_ERROR || r.out == GP + WRONG_OLD) << r.out;
            EXPECT_TRUE(stores[i]->unchanged());
        }
    }
}

} // namespace
} // namespace e2e
