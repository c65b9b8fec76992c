// tcpserver_test.cc: the program behind a real super-server on loopback,
// with clients of the shapes seen in the wild: keywords in either case, CR LF
// or LF line ends, and a hang-up right after the thank-you without "quit".
#include <algorithm>
#include <string>

#include "e2e_harness.h"
#include "tcp_service.h"
#include "temp_dir.h"

namespace e2e {
namespace {

using test_support::line_client;

std::vector<std::string> sorted_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    for (std::string::size_type nl; (nl = text.find('\n', start)) != std::string::npos;
         start = nl + 1) {
        lines.push_back(text.substr(start, nl - start));
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

struct client_shape {
    const char *what;
    const char *user;
    std::vector<std::string> lines; // sent one at a time, each after the previous reply
    bool quits;
};

TEST(Tcpserver, RealClientShapes) {
    const std::vector<account> accounts = {
        {"user0", "pw-0", "2000", "", "", ""},
        {"user1", "pw-1", "2001", "", "", ""},
        {"user2", "pw-2", "2002", "", "", ""},
        {"user3", "pw-3", "2003", "", "", ""},
    };
    const client_shape SHAPES[] = {
        {"capitals, CR LF, quit",
         "user0",
         {"USER user0\r\n", "PASS pw-0\r\n", "NEWPASS new-0\r\n", "QUIT\r\n"},
         true},
        {"lower case, LF, quit",
         "user1",
         {"user user1\n", "pass pw-1\n", "newpass new-1\n", "quit\n"},
         true},
        {"mixed case, CR LF, hangs up after the thank-you",
         "user2",
         {"User user2\r\n", "Pass pw-2\r\n", "NewPass new-2\r\n"},
         false},
        {"lower case, LF, hangs up after the thank-you",
         "user3",
         {"user user3\n", "pass pw-3\n", "newpass new-3\n"},
         false},
    };
    const store_fixture store(accounts);
    const test_support::temp_dir logs("zlog");
    const std::string log_path = logs.file("server.log");
    test_support::tcpserver_process server({PROGRAM, "--stderr"}, {store.config_env()}, log_path);
    if (!server.unavailable().empty()) {
        GTEST_SKIP() << server.unavailable();
    }
    const std::vector<std::string> replies = {PASS_PLEASE, NEWPASS_PLEASE, CHANGED, BYE};
    std::string expected_log;
    std::map<std::string, std::string> changed;
    for (const client_shape &shape : SHAPES) {
        SCOPED_TRACE(shape.what);
        line_client client(server.port());
        ASSERT_TRUE(client.connected());
        EXPECT_EQ(GREETING, client.read_line());
        for (std::size_t i = 0; i < shape.lines.size(); ++i) {
            ASSERT_TRUE(client.send(shape.lines[i]));
            EXPECT_EQ(replies[i], client.read_line());
        }
        if (shape.quits) {
            EXPECT_EQ("", client.read_to_end()) << "the server closes after 200 Bye.";
        }
        client.hang_up();
        const std::string name = shape.user;
        changed[name] = "new-" + name.substr(4);
        expected_log += changed_log(name);
        // The change stands before the thank-you is sent.
        EXPECT_TRUE(store.password_is(name, changed[name]));
    }
    // A process that was hung up on logs after its reply went out, so its
    // line may trail the next client's: compare the lines in any order.
    EXPECT_EQ(sorted_lines(expected_log),
              sorted_lines(test_support::wait_for_file_content(log_path, expected_log)));
    EXPECT_TRUE(store.changed_only(changed));
}

// A client that sends all its lines at once gets all replies in order.
TEST(Tcpserver, PipelinedClient) {
    const store_fixture store(standard_accounts());
    const test_support::temp_dir logs("zlog");
    const std::string log_path = logs.file("server.log");
    test_support::tcpserver_process server({PROGRAM, "--stderr"}, {store.config_env()}, log_path);
    if (!server.unavailable().empty()) {
        GTEST_SKIP() << server.unavailable();
    }
    line_client client(server.port());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send(change_lines("alice", "new-secret") + "quit\r\n"));
    EXPECT_EQ(std::string(GREETING) + PASS_PLEASE + NEWPASS_PLEASE + CHANGED + BYE,
              client.read_to_end());
    EXPECT_EQ(changed_log("alice"),
              test_support::wait_for_file_content(log_path, changed_log("alice")));
    EXPECT_TRUE(store.changed_only({{"alice", "new-secret"}}));
}

} // namespace
} // namespace e2e
