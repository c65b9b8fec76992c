// A site on the account file never maps libpq: the store module and its
// libraries are opened only for backend = postgresql. Read from the live
// process's /proc/PID/maps after the library has served a login.
#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "pg_site.h"
#include "tcp_service.h"

namespace pg_test {
namespace {

// The program tcpserver started for the one open connection. The program
// its start-up probe started may still be ending: wait until it has gone.
pid_t only_child(pid_t server)
{
    for (int i = 0; i < 500; ++i) {
        std::ifstream list("/proc/" + std::to_string(server) + "/task/" + std::to_string(server) + "/children");
        std::vector<pid_t> children;
        for (pid_t child = 0; list >> child;)
            children.push_back(child);
        if (children.size() == 1)
            return children[0];
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// The maps of the program serving a client that has logged in.
std::string maps_after_login(const std::string &config)
{
    const test_support::temp_dir logs("zpgm");
    const test_support::tcpserver_process server({PROGRAM}, {"QUELMARAUTH_CONFIG=" + config}, logs.file("stderr"));
    if (!server.unavailable().empty())
        return "unavailable: " + server.unavailable();
    test_support::line_client client(server.port());
    client.send("user alice\npass alice-secret\n");
    if (client.read_line() != GREETING || client.read_line() != PASS_PLEASE || client.read_line() != NEWPASS_PLEASE)
        return "no login";
    std::ifstream maps("/proc/" + std::to_string(only_child(server.pid())) + "/maps");
    std::stringstream text;
    text << maps.rdbuf();
    client.hang_up();
    return text.str();
}

TEST(PostgresqlMaps, LibpqOnlyWhereConfigured)
{
    pg_site site;
    PG_SITE_OR_SKIP(site);
    const std::string on_postgresql = maps_after_login(site.config_path());
    EXPECT_NE(std::string::npos, on_postgresql.find("/libpq.so")) << on_postgresql;
    EXPECT_NE(std::string::npos, on_postgresql.find("/quelmarauth/postgresql.so")) << on_postgresql;

    const test_support::store_fixture userdb({{"alice", "alice-secret", "1001", "", "", ""}});
    const std::string on_userdb = maps_after_login(userdb.config_path());
    ASSERT_NE(std::string::npos, on_userdb.find("libquelmarauth")) << on_userdb;
    EXPECT_EQ(std::string::npos, on_userdb.find("libpq")) << on_userdb;
    EXPECT_EQ(std::string::npos, on_userdb.find("postgresql.so")) << on_userdb;
}

} // namespace
} // namespace pg_test
