// tcpserver_recipe_test.cc: deploy/tcpserver/run as shipped, with tcpserver
// on loopback: a full change as the store's unprivileged owner with core
// dumps off, and the connection cap and the life bound at work.
#include <chrono>
#include <string>

#include "daemon_process.h"
#include "deploy_harness.h"
#include "tcp_service.h"
#include "temp_dir.h"

namespace deploy {
namespace {

using namespace std::chrono_literals;
using test_support::line_client;

// The run script with a test's port, program, store and user; everything
// else (the flags, the wrapper, ulimit) as shipped.
launch run_script(int port, const store_fixture &store, const service_user &user,
                  const std::string &max_connections, const std::string &lifetime) {
    return {{recipe_path("tcpserver/run")},
            {"ZEMBROVALD=" + std::string(PROGRAM), "QUELMARAUTH_CONFIG=" + store.config_path(),
             "ADDRESS=127.0.0.1", "PORT=" + std::to_string(port), "MAX_CONNECTIONS=" + max_connections,
             "LIFETIME=" + lifetime, "SERVICE_UID=" + std::to_string(user.uid),
             "SERVICE_GID=" + std::to_string(user.gid)}};
}

TEST(TcpserverRecipe, FullChangeAsTheStoreOwnerWithoutCoreDumps) {
    if (tool("tcpserver").empty()) {
        GTEST_SKIP() << "tcpserver (Debian ucspi-tcp) is not installed";
    }
    const store_fixture store(recipe_accounts());
    const service_user user = test_service_user();
    if (!user.dedicated) {
        GTEST_SKIP() << "tcpserver -u -g changes the user, which takes root";
    }
    ASSERT_EQ("", hand_over(store, user));
    const test_support::temp_dir logs("zdl");
    daemon_process server([&](int port) { return run_script(port, store, user, "20", "30"); },
                          logs.file("server.log"));
    ASSERT_EQ("", server.failure()) << test_support::read_file(logs.file("server.log"));

    line_client client(server.port());
    ASSERT_TRUE(client.connected());
    ASSERT_EQ(GREETING, client.read_line());
    const process_facts facts = find_descendant(server.pid(), PROGRAM);
    ASSERT_NE(0, facts.pid) << "no zembrovald process below tcpserver";
    EXPECT_EQ(user.uid, facts.uid);
    EXPECT_EQ(user.gid, facts.gid);
    EXPECT_EQ("0 0", facts.core_limit);

    ASSERT_TRUE(client.send(change_lines()));
    EXPECT_EQ(std::string(CHANGE_REPLIES).substr(std::string(GREETING).size()), client.read_to_end());
    EXPECT_TRUE(store.changed_only({{USER, NEW_PASSWORD}}));
    // The new file was written by the service user, beside the old one.
    EXPECT_EQ(std::to_string(user.uid) + ":" + std::to_string(user.gid), owner_of(store.userdb_path()));
    EXPECT_EQ("stopped by SIGTERM", server.stop());
}

// With one slot, an idle client holds it only until the life bound cuts it
// off; a client waiting in the queue is then served in full.
TEST(TcpserverRecipe, IdleClientIsCutOffAndTheSlotComesBack) {
    if (tool("tcpserver").empty()) {
        GTEST_SKIP() << "tcpserver (Debian ucspi-tcp) is not installed";
    }
    const store_fixture store(recipe_accounts());
    const service_user user = test_service_user();
    if (!user.dedicated) {
        GTEST_SKIP() << "tcpserver -u -g changes the user, which takes root";
    }
    ASSERT_EQ("", hand_over(store, user));
    const test_support::temp_dir logs("zdl");
    daemon_process server([&](int port) { return run_script(port, store, user, "1", "2"); },
                          logs.file("server.log"));
    ASSERT_EQ("", server.failure()) << test_support::read_file(logs.file("server.log"));

    line_client idle(server.port());
    ASSERT_TRUE(idle.connected());
    ASSERT_EQ(GREETING, idle.read_line());
    const auto idle_since = std::chrono::steady_clock::now();

    line_client waiting(server.port());
    ASSERT_TRUE(waiting.connected());
    EXPECT_EQ("", waiting.read_line(500ms)) << "a second client was served beside the first";

    EXPECT_EQ("", idle.read_to_end(20s));
    const auto idle_for = std::chrono::steady_clock::now() - idle_since;
    EXPECT_GE(idle_for, 1500ms) << "cut off before its time";
    EXPECT_LE(idle_for, 15s) << "not cut off";

    EXPECT_EQ(GREETING, waiting.read_line(10s));
    ASSERT_TRUE(waiting.send(change_lines()));
    EXPECT_EQ(std::string(CHANGE_REPLIES).substr(std::string(GREETING).size()), waiting.read_to_end());
    EXPECT_TRUE(store.changed_only({{USER, NEW_PASSWORD}}));
}

}  // namespace
}  // namespace deploy
