// Sites pay only for the store they use: a process serving the account file
// never maps libsqlite3; one serving the sqlite store does. Looked at in the
// live process, between its login and its change.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "sqlite_site.h"
#include "store_fixture.h"
#include "tcp_service.h"

namespace sqlite_test {
namespace {

using test_support::line_client;

std::string read_whole(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The memory map of the one program tcpserver has started. Its probe for a
// listening port starts a program too, which ends at once on end of input
// (slowly under the sanitizers): wait until only the client's remains.
std::string maps_of_child(pid_t server) {
    const std::string children_path =
        "/proc/" + std::to_string(server) + "/task/" + std::to_string(server) + "/children";
    for (int attempt = 0; attempt < 200; ++attempt) {
        std::istringstream children(read_whole(children_path));
        std::vector<std::string> pids{std::istream_iterator<std::string>(children),
                                      std::istream_iterator<std::string>()};
        if (pids.size() == 1) {
            return read_whole("/proc/" + pids[0] + "/maps");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "";
}

TEST(SqliteModuleLoading, OnlyASqliteSiteMapsLibsqlite3) {
    const sqlite_site sqlite;
    const test_support::store_fixture userdb({{"alice", "alice-secret", "1001", "1001", "", ""}});
    const struct {
        const char *what;
        std::vector<std::string> env;
        bool maps_sqlite;
    } CASES[] = {
        {"backend = userdb", {userdb.config_env()}, false},
        {"backend = sqlite", sqlite.env(), true},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        const test_support::temp_dir logs("zlog");
        test_support::tcpserver_process server({PROGRAM, "--stderr"}, c.env, logs.file("server.log"));
        if (!server.unavailable().empty()) {
            GTEST_SKIP() << server.unavailable();
        }
        line_client client(server.port());
        ASSERT_TRUE(client.connected());
        EXPECT_EQ(GREETING, client.read_line());
        ASSERT_TRUE(client.send("user alice\npass alice-secret\n"));
        EXPECT_EQ(PASS_PLEASE, client.read_line());
        // Logged in through the store, waiting for the new password.
        EXPECT_EQ(NEWPASS_PLEASE, client.read_line());
        const std::string maps = maps_of_child(server.pid());
        ASSERT_NE("", maps);
        EXPECT_NE(std::string::npos, maps.find("libquelmarauth"));
        EXPECT_EQ(c.maps_sqlite, maps.find("libsqlite3") != std::string::npos);
        EXPECT_EQ(c.maps_sqlite, maps.find("quelmarauth/sqlite.so") != std::string::npos);
        client.hang_up();
    }
}

} // namespace
} // namespace sqlite_test
