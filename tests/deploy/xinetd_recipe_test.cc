// xinetd_recipe_test.cc: deploy/xinetd/zembrovald as shipped, with xinetd on
// loopback: a full change as the store's unprivileged owner with core dumps
// off, the limits accepted, and the per-source cap and the life bound at work.
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "daemon_process.h"
#include "deploy_harness.h"
#include "tcp_service.h"
#include "temp_dir.h"

namespace deploy {
namespace {

using namespace std::chrono_literals;
using test_support::line_client;

struct xinetd_files {
    std::string config;
    std::string log;
    std::string pid;
};

// The recipe with a test's port, address, user, program and store; each edit
// must find its place once, so that a changed recipe fails here, not silently.
std::string fit_recipe(std::string text, int port, const store_fixture &store, const service_user &user,
                       const std::string &lifetime, const xinetd_files &files) {
    int edits = 0;
    edits += set_setting(text, "port", std::to_string(port));
    // The service's own entries (START, EXIT, FAIL) go to the test's log file.
    edits += replace_all(text, "{\n", "{\n\tbind\t\t= 127.0.0.1\n\tlog_type\t= FILE " + files.log + "\n");
    edits += set_setting(text, "user", std::to_string(user.uid));
    edits += set_setting(text, "group", std::to_string(user.gid));
    edits += set_setting(text, "env", "QUELMARAUTH_CONFIG=" + store.config_path());
    edits += replace_all(text, " /usr/sbin/zembrovald ", " " + std::string(PROGRAM) + " ");
    edits += replace_all(text, " -k 5 120 ", " -k 5 " + lifetime + " ");
    EXPECT_EQ(7, edits) << "the recipe changed; adapt the test:\n" << text;
    return text;
}

launch xinetd_launch(const xinetd_files &files) {
    return {{tool("xinetd"), "-dontfork", "-f", files.config, "-filelog", files.log, "-pidfile", files.pid},
            {}};
}

// Warnings and errors xinetd logged about its configuration.
std::string complaints(const std::string &log) {
    std::string found;
    std::string::size_type begin = 0;
    while (begin < log.size()) {
        std::string::size_type end = log.find('\n', begin);
        end = end == std::string::npos ? log.size() : end + 1;
        const std::string line = log.substr(begin, end - begin);
        if (line.find("WARNING") != std::string::npos || line.find("ERROR") != std::string::npos) {
            found += line;
        }
        begin = end;
    }
    return found;
}

class XinetdRecipe : public testing::Test {
protected:
    void SetUp() override {
        if (tool("xinetd").empty() || tool("prlimit").empty() || tool("timeout").empty()) {
            GTEST_SKIP() << "xinetd (Debian xinetd), prlimit or timeout is not installed";
        }
        ASSERT_EQ("", hand_over(store_, user_));
        files_ = {logs_.file("xinetd.conf"), logs_.file("xinetd.log"), logs_.file("xinetd.pid")};
    }

    std::unique_ptr<daemon_process> start(const std::function<std::string(std::string, int)> &edit) {
        auto server = std::make_unique<daemon_process>(
            [&](int port) {
                test_support::write_file(files_.config, edit(recipe_text("xinetd/zembrovald"), port));
                return xinetd_launch(files_);
            },
            logs_.file("daemon.out"));
        return server;
    }

    const store_fixture store_{recipe_accounts()};
    const service_user user_ = test_service_user();
    const test_support::temp_dir logs_{"zdx"};
    xinetd_files files_;
};

TEST_F(XinetdRecipe, FullChangeAsTheStoreOwnerWithTheShippedLimits) {
    // xinetd hands the connection over as standard error too.
    EXPECT_EQ(std::string::npos, setting_of(recipe_text("xinetd/zembrovald"), "server_args").find("--stderr"));
    const auto server = start([&](std::string text, int port) {
        return fit_recipe(std::move(text), port, store_, user_, "30", files_);
    });
    ASSERT_EQ("", server->failure()) << test_support::read_file(logs_.file("daemon.out"));
    EXPECT_EQ("", complaints(test_support::read_file(files_.log)));

    line_client client(server->port());
    ASSERT_TRUE(client.connected());
    ASSERT_EQ(GREETING, client.read_line());
    const process_facts facts = find_descendant(server->pid(), PROGRAM);
    ASSERT_NE(0, facts.pid) << "no zembrovald process below xinetd";
    EXPECT_EQ(user_.uid, facts.uid);
    EXPECT_EQ(user_.gid, facts.gid);
    EXPECT_EQ("0 0", facts.core_limit);

    ASSERT_TRUE(client.send(change_lines()));
    EXPECT_EQ(std::string(CHANGE_REPLIES).substr(std::string(GREETING).size()), client.read_to_end());
    EXPECT_TRUE(store_.changed_only({{USER, NEW_PASSWORD}}));
    EXPECT_EQ(std::to_string(user_.uid) + ":" + std::to_string(user_.gid), owner_of(store_.userdb_path()));
    EXPECT_EQ("stopped by SIGTERM", server->stop());
    EXPECT_NE(std::string::npos, test_support::read_file(files_.log).find("START: poppassd"));
}

// One connection per source: a second one from the same address is turned
// away at once; the idle first one is cut off by the life bound, and then
// the address is served again.
TEST_F(XinetdRecipe, PerSourceCapAndIdleClientCutOff) {
    const auto server = start([&](std::string text, int port) {
        text = fit_recipe(std::move(text), port, store_, user_, "2", files_);
        EXPECT_EQ(1, set_setting(text, "per_source", "1"));
        return text;
    });
    ASSERT_EQ("", server->failure()) << test_support::read_file(logs_.file("daemon.out"));
    EXPECT_EQ("", complaints(test_support::read_file(files_.log)));

    line_client idle(server->port());
    ASSERT_TRUE(idle.connected());
    ASSERT_EQ(GREETING, idle.read_line());
    const auto idle_since = std::chrono::steady_clock::now();

    line_client second(server->port());
    ASSERT_TRUE(second.connected());
    EXPECT_EQ("", second.read_to_end(5s));
    EXPECT_LT(std::chrono::steady_clock::now() - idle_since, 1500ms)
        << "the second connection was held, not turned away";

    EXPECT_EQ("", idle.read_to_end(20s));
    const auto idle_for = std::chrono::steady_clock::now() - idle_since;
    EXPECT_GE(idle_for, 1500ms) << "cut off before its time";
    EXPECT_LE(idle_for, 15s) << "not cut off";

    // xinetd counts the instance until it has reaped it; give it a moment.
    std::string replies;
    for (int attempt = 0; attempt < 50 && replies.empty(); ++attempt) {
        line_client next(server->port());
        ASSERT_TRUE(next.connected());
        replies = next.read_line(1s);
        if (replies == GREETING) {
            ASSERT_TRUE(next.send(change_lines()));
            replies += next.read_to_end();
        } else {
            std::this_thread::sleep_for(100ms);
        }
    }
    EXPECT_EQ(CHANGE_REPLIES, replies);
    EXPECT_TRUE(store_.changed_only({{USER, NEW_PASSWORD}}));
    server->stop();
    EXPECT_NE(std::string::npos, test_support::read_file(files_.log).find("per_source_limit"));
}

}  // namespace
}  // namespace deploy
