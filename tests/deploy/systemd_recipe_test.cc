// systemd_recipe_test.cc: deploy/systemd as shipped: the units pass
// systemd-analyze (syntax, every setting known and valid, the sandbox rated
// safe), and the service's command line serves a full change in the same
// Accept=yes model under systemd-socket-activate on loopback.
#include <sstream>
#include <string>
#include <vector>

#include "daemon_process.h"
#include "deploy_harness.h"
#include "process_runner.h"
#include "tcp_service.h"
#include "temp_dir.h"

namespace deploy {
namespace {

constexpr const char *SOCKET_UNIT = "systemd/zembrovald.socket";
constexpr const char *SERVICE_UNIT = "systemd/zembrovald@.service";
// The sandbox's exposure as systemd-analyze security rates it, in tenths: at
// most 1.0, well inside "SAFE", so that a weakened unit fails here.
constexpr const char *EXPOSURE_THRESHOLD = "10";

test_support::run_result run_tool(const std::vector<std::string> &argv) {
    test_support::run_options options;
    options.argv = argv;
    return test_support::run_process(options);
}

std::vector<std::string> words(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> all;
    for (std::string word; in >> word;) {
        all.push_back(word);
    }
    return all;
}

// The units in a folder of the test's, the service's program being the one
// under test (verify checks that it can be run).
struct unit_folder {
    unit_folder() {
        std::string service = recipe_text(SERVICE_UNIT);
        EXPECT_EQ(1, replace_all(service, "ExecStart=/usr/sbin/zembrovald ",
                                 "ExecStart=" + std::string(PROGRAM) + " "));
        test_support::write_file(dir.file("zembrovald.socket"), recipe_text(SOCKET_UNIT));
        test_support::write_file(dir.file("zembrovald@.service"), service);
    }
    test_support::temp_dir dir{"zds"};
};

TEST(SystemdRecipe, UnitsPassSystemdAnalyze) {
    const std::string analyze = tool("systemd-analyze");
    if (analyze.empty()) {
        GTEST_SKIP() << "systemd-analyze (Debian systemd) is not installed";
    }
    const unit_folder units;
    // An instance of the template, as the socket starts it for a connection.
    const std::string instance = units.dir.file("zembrovald@0.service");
    const test_support::run_result verify =
        run_tool({analyze, "verify", "--man=no", units.dir.file("zembrovald.socket"), instance});
    EXPECT_EQ(0, verify.exit_status) << verify.describe_end();
    // Unknown keys and bad values are only warnings to systemd, but each one
    // is a limit or a protection that silently is not there.
    EXPECT_EQ("", verify.out + verify.err);

    const test_support::run_result security = run_tool({analyze, "security", "--offline=yes", "--no-pager",
                                                        std::string("--threshold=") + EXPOSURE_THRESHOLD,
                                                        instance});
    EXPECT_EQ(0, security.exit_status) << security.out << security.err;
}

TEST(SystemdRecipe, UnitsHoldTheBoundsAndTheModel) {
    const std::string socket = recipe_text(SOCKET_UNIT);
    const std::string service = recipe_text(SERVICE_UNIT);
    EXPECT_EQ("yes", setting_of(socket, "Accept"));
    EXPECT_EQ("106", setting_of(socket, "ListenStream"));
    EXPECT_NE("", setting_of(socket, "MaxConnections"));
    EXPECT_NE("", setting_of(socket, "MaxConnectionsPerSource"));
    EXPECT_NE("", setting_of(service, "RuntimeMaxSec"));
    EXPECT_EQ("0", setting_of(service, "LimitCORE"));
    EXPECT_EQ("socket", setting_of(service, "StandardInput"));
    EXPECT_EQ("journal", setting_of(service, "StandardError"));
    EXPECT_EQ("authpriv", setting_of(service, "SyslogFacility"));
    EXPECT_EQ("err", setting_of(service, "SyslogLevel"));
    EXPECT_EQ("zembrovald", setting_of(service, "User"));
    EXPECT_EQ("strict", setting_of(service, "ProtectSystem"));
    EXPECT_NE("", setting_of(service, "ReadWritePaths"));
}

TEST(SystemdRecipe, ServiceCommandServesAFullChangeUnderSocketActivation) {
    const std::string activate = tool("systemd-socket-activate");
    const std::string setpriv = tool("setpriv");
    if (activate.empty() || setpriv.empty()) {
        GTEST_SKIP() << "systemd-socket-activate (Debian systemd) or setpriv is not installed";
    }
    const store_fixture store(recipe_accounts());
    const service_user user = test_service_user();
    ASSERT_EQ("", hand_over(store, user));

    const std::string service = recipe_text(SERVICE_UNIT);
    std::vector<std::string> command = words(setting_of(service, "ExecStart"));
    ASSERT_FALSE(command.empty());
    ASSERT_EQ("/usr/sbin/zembrovald", command[0]);
    command[0] = PROGRAM;
    const std::string environment = setting_of(service, "Environment");
    ASSERT_EQ(0u, environment.rfind("QUELMARAUTH_CONFIG=", 0)) << environment;

    const test_support::temp_dir logs("zdl");
    daemon_process server(
        [&](int port) {
            // systemd-socket-activate passes no environment but what -E names.
            std::vector<std::string> argv = {activate, "--inetd", "-l", "127.0.0.1:" + std::to_string(port),
                                             "-a", "-E", store.config_env()};
            for (const char *sanitizer : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
                if (std::getenv(sanitizer) != nullptr) {
                    argv.insert(argv.end(), {"-E", sanitizer});
                }
            }
            // User= and Group= are systemd's to apply; setpriv stands in.
            const std::vector<std::string> setpriv_argv = as_service_user(setpriv, user);
            argv.insert(argv.end(), setpriv_argv.begin(), setpriv_argv.end());
            argv.insert(argv.end(), command.begin(), command.end());
            return launch{argv, {}};
        },
        logs.file("server.log"));
    ASSERT_EQ("", server.failure()) << test_support::read_file(logs.file("server.log"));

    test_support::line_client client(server.port());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send(change_lines()));
    EXPECT_EQ(CHANGE_REPLIES, client.read_to_end());
    EXPECT_TRUE(store.changed_only({{USER, NEW_PASSWORD}}));
    // Standard error, the journal under systemd, gets the log entry.
    const std::string logged = "changed password for " + std::string(USER) + "\n";
    EXPECT_TRUE(wait_for_text(logs.file("server.log"), logged)) << test_support::read_file(logs.file("server.log"));
    EXPECT_EQ(std::to_string(user.uid) + ":" + std::to_string(user.gid), owner_of(store.userdb_path()));
    EXPECT_EQ("stopped by SIGTERM", server.stop());
}

}  // namespace
}  // namespace deploy
