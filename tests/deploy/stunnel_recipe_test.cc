// stunnel_recipe_test.cc: deploy/stunnel as shipped: tcpserver starts one
// stunnel per connection in inetd mode, which starts zembrovald; a real TLS
// client (openssl s_client, checking a throwaway certificate) does a full
// change on loopback, and an idle TLS client is cut off and its slot handed
// to a waiting one.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "daemon_process.h"
#include "deploy_harness.h"
#include "process_runner.h"
#include "temp_dir.h"

namespace deploy {
namespace {

using namespace std::chrono_literals;

class StunnelRecipe : public testing::Test {
protected:
    void SetUp() override {
        stunnel_ = tool("stunnel4");
        openssl_ = tool("openssl");
        if (stunnel_.empty() || openssl_.empty() || tool("tcpserver").empty()) {
            GTEST_SKIP() << "stunnel4, openssl or tcpserver (Debian stunnel4, openssl, ucspi-tcp) is not "
                            "installed";
        }
        if (!user_.dedicated) {
            GTEST_SKIP() << "tcpserver -u -g changes the user, which takes root";
        }
        ASSERT_EQ("", hand_over(store_, user_));
        make_certificate();
        write_config();
    }

    // A throwaway key and self-signed certificate for 127.0.0.1, the key
    // readable by the service's group only, as the recipe asks.
    void make_certificate() {
        test_support::run_options req;
        req.argv = {openssl_, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                    "-nodes", "-keyout", key(), "-out", certificate(), "-days", "2", "-subj", "/CN=localhost",
                    "-addext", "subjectAltName=IP:127.0.0.1"};
        const test_support::run_result made = test_support::run_process(req);
        ASSERT_EQ(0, made.exit_status) << made.err;
        ASSERT_EQ(0, chmod(tls_.path().c_str(), 0711));
        if (user_.dedicated) {
            ASSERT_EQ(0, chown(key().c_str(), 0, user_.gid));
            ASSERT_EQ(0, chmod(key().c_str(), 0640));
        }
    }

    void write_config() {
        std::string text = recipe_text("stunnel/zembrovald-tls.conf");
        int edits = 0;
        edits += set_setting(text, "cert", certificate());
        edits += set_setting(text, "key", key());
        edits += set_setting(text, "exec", PROGRAM);
        ASSERT_EQ(3, edits) << "the recipe changed; adapt the test:\n" << text;
        // stunnel closes the program's standard error: --stderr would lose
        // the log.
        ASSERT_EQ(std::string::npos, setting_of(text, "execArgs").find("--stderr"));
        ASSERT_TRUE(test_support::write_file(config(), text));
    }

    [[nodiscard]] std::string key() const { return tls_.file("zembrovald.key"); }
    [[nodiscard]] std::string certificate() const { return tls_.file("zembrovald.pem"); }
    [[nodiscard]] std::string config() const { return tls_.file("zembrovald-tls.conf"); }

    std::unique_ptr<daemon_process> start(const std::string &max_connections, const std::string &lifetime) {
        return std::make_unique<daemon_process>(
            [&](int port) {
                return launch{{recipe_path("stunnel/run")},
                              {"STUNNEL=" + stunnel_, "STUNNEL_CONFIG=" + config(),
                               "QUELMARAUTH_CONFIG=" + store_.config_path(), "ADDRESS=127.0.0.1",
                               "PORT=" + std::to_string(port), "MAX_CONNECTIONS=" + max_connections,
                               "LIFETIME=" + lifetime, "SERVICE_UID=" + std::to_string(user_.uid),
                               "SERVICE_GID=" + std::to_string(user_.gid)}};
            },
            logs_.file("server.log"));
    }

    // openssl s_client as a password client: it checks the certificate, sends
    // the input and prints only what the server sends.
    [[nodiscard]] test_support::run_options tls_client(int port, const std::string &input) const {
        test_support::run_options client;
        client.argv = {openssl_, "s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-quiet",
                       "-verify_return_error", "-CAfile", certificate(), "-verify_ip", "127.0.0.1"};
        client.input = input;
        client.timeout = 20000ms;
        return client;
    }

    [[nodiscard]] std::string server_log() const { return test_support::read_file(logs_.file("server.log")); }

    std::string stunnel_;
    std::string openssl_;
    const store_fixture store_{recipe_accounts()};
    const service_user user_ = test_service_user();
    const test_support::temp_dir tls_{"zdc"};
    const test_support::temp_dir logs_{"zdl"};
};

TEST_F(StunnelRecipe, FullChangeOverTls) {
    const auto server = start("20", "30");
    ASSERT_EQ("", server->failure()) << server_log();
    const test_support::run_result client = test_support::run_process(tls_client(server->port(), change_lines()));
    EXPECT_EQ(CHANGE_REPLIES, client.out) << client.err << server_log();
    EXPECT_TRUE(client.exited && client.exit_status == 0) << client.describe_end();
    EXPECT_TRUE(store_.changed_only({{USER, NEW_PASSWORD}}));
    EXPECT_EQ(std::to_string(user_.uid) + ":" + std::to_string(user_.gid), owner_of(store_.userdb_path()));
    EXPECT_EQ("stopped by SIGTERM", server->stop());
}

// With one slot, an idle TLS client holds it only until the life bound; a
// client that connected meanwhile waits, then is served in full. While the
// idle one is connected, its zembrovald runs as the store's owner with core
// dumps off.
TEST_F(StunnelRecipe, IdleClientIsCutOffAndTheSlotComesBack) {
    const auto server = start("1", "2");
    ASSERT_EQ("", server->failure()) << server_log();
    test_support::run_options idle = tls_client(server->port(), "");
    idle.end = test_support::input_end::keep_open;
    test_support::run_options waiting = tls_client(server->port(), change_lines());
    waiting.child_setup = [] {
        const timespec pause{0, 500'000'000};
        nanosleep(&pause, nullptr);
    };
    std::vector<test_support::run_result> results;
    std::thread clients([&] { results = test_support::run_processes({idle, waiting}, 2); });
    const process_facts facts = find_descendant(server->pid(), PROGRAM);
    clients.join();
    ASSERT_EQ(2u, results.size());

    ASSERT_NE(0, facts.pid) << "no zembrovald process below the run script";
    EXPECT_EQ(user_.uid, facts.uid);
    EXPECT_EQ(user_.gid, facts.gid);
    EXPECT_EQ("0 0", facts.core_limit);

    EXPECT_EQ(GREETING, results[0].out) << results[0].err;
    EXPECT_FALSE(results[0].timed_out) << "the idle client was not cut off";
    EXPECT_GE(results[0].ended_at, 1500ms) << "cut off before its time";
    EXPECT_EQ(CHANGE_REPLIES, results[1].out) << results[1].err << server_log();
    EXPECT_GE(results[1].arrival_of(0), 1000ms) << "the waiting client was served beside the idle one";
    EXPECT_TRUE(store_.changed_only({{USER, NEW_PASSWORD}}));
}

}  // namespace
}  // namespace deploy
