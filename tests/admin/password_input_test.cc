// password_input_test.cc: passwords from a pipe (exactly one line) and from
// a real pseudo-terminal (asked twice, never shown, echo restored).
#include "admin_harness.h"

#include <signal.h>

namespace admin_test {
namespace {

TEST(AdminPasswordInput, OneLineFromAPipe) {
    const std::string limit(128, 'p');
    const struct {
        const char *what;
        std::string input;
        std::string password; // set when accepted
        std::string err;      // when refused
    } CASES[] = {
        {"line feed", "pw-one\n", "pw-one", ""},
        {"carriage return and line feed", "pw-two\r\n", "pw-two", ""},
        {"last line without a line feed", "pw-three", "pw-three", ""},
        {"only the first line counts", "first\nsecond\n", "first", ""},
        {"blanks are kept", " two words \n", " two words ", ""},
        {"at the limit", limit + "\n", limit, ""},
        {"at the limit with CR LF", limit + "\r\n", limit, ""},
        {"one over the limit", limit + "p\n", "", "password longer than 128 characters refused"},
        {"far over the limit", std::string(100000, 'q') + "\n", "",
         "password longer than 128 characters refused"},
        {"no input", "", "", "no password given (end of input)"},
        {"empty line", "\n", "", "empty password refused"},
        {"empty line with CR", "\r\n", "", "empty password refused"},
        {"NUL byte", std::string("a\0b\n", 4), "", "password with a NUL byte refused"},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        const store_fixture store(small_accounts());
        const run_result r = run_admin(store, {"passwd", "alice"}, c.input);
        if (c.password.empty()) {
            EXPECT_TRUE(ended(r, 1, "quelmarauth: " + c.err + "\n"));
            EXPECT_TRUE(store.unchanged());
        } else {
            EXPECT_TRUE(ended(r, 0, ""));
            EXPECT_TRUE(store.changed_only({{"alice", c.password}}));
        }
    }
}

std::vector<std::string> admin_argv(const store_fixture &store, const std::string &command,
                                    const std::string &name) {
    return {ADMIN, "-c", store.config_path(), command, name};
}

TEST(AdminPasswordInput, TerminalAsksTwiceWithoutEcho) {
    const store_fixture store(small_accounts());
    const terminal_result r = run_on_terminal(
        admin_argv(store, "passwd", "alice"),
        {{"New password: ", "tty-secret\n"}, {"Retype new password: ", "tty-secret\n"}});
    EXPECT_TRUE(r.prompts_seen) << r.shown;
    EXPECT_TRUE(r.exited && r.exit_status == 0) << r.shown;
    EXPECT_EQ("New password: \r\nRetype new password: \r\n", r.shown);
    EXPECT_TRUE(store.changed_only({{"alice", "tty-secret"}}));
}

TEST(AdminPasswordInput, TerminalRefusesPasswordsThatDoNotMatch) {
    const store_fixture store(small_accounts());
    const terminal_result r =
        run_on_terminal(admin_argv(store, "useradd", "dave"),
                        {{"New password: ", "one\n"}, {"Retype new password: ", "two\n"}});
    EXPECT_TRUE(r.exited && r.exit_status == 1) << r.shown;
    EXPECT_EQ("New password: \r\nRetype new password: \r\nquelmarauth: passwords do not match\r\n",
              r.shown);
    EXPECT_TRUE(store.unchanged());
}

TEST(AdminPasswordInput, TerminalVerifyAsksOnce) {
    const store_fixture store(small_accounts());
    const terminal_result right =
        run_on_terminal(admin_argv(store, "verify", "bob"), {{"Password: ", "bob-secret\n"}});
    EXPECT_TRUE(right.exited && right.exit_status == 0) << right.shown;
    EXPECT_EQ("Password: \r\n", right.shown);
    const terminal_result wrong =
        run_on_terminal(admin_argv(store, "verify", "bob"), {{"Password: ", "nope\n"}});
    EXPECT_TRUE(wrong.exited && wrong.exit_status == 1) << wrong.shown;
    EXPECT_EQ("Password: \r\nquelmarauth: wrong password for bob\r\n", wrong.shown);
}

TEST(AdminPasswordInput, InterruptAtThePromptRestoresEcho) {
    // A shell on the same terminal runs the command, then shows the
    // terminal's settings: Ctrl-C at the prompt must leave echo on.
    const store_fixture store(small_accounts());
    const std::string script = "trap : INT; '" + std::string(ADMIN) + "' -c '" +
                               store.config_path() + "' passwd alice; echo \"status $?\"; stty -a";
    const terminal_result r =
        run_on_terminal({"/bin/sh", "-c", script}, {{"New password: ", "half"}, {"", "\x03"}});
    EXPECT_TRUE(r.exited && r.exit_status == 0) << r.shown;
    EXPECT_NE(std::string::npos, r.shown.find("status 130")) << r.shown;
    EXPECT_NE(std::string::npos, r.shown.find(" echo ")) << r.shown;
    EXPECT_EQ(std::string::npos, r.shown.find("-echo ")) << r.shown;
    EXPECT_EQ(std::string::npos, r.shown.find("half")) << "typed without echo";
    EXPECT_TRUE(store.unchanged());
}

} // namespace
} // namespace admin_test
