// pg_server.h: a real PostgreSQL server of the tests' (and the benchmark's)
// own: made with initdb in a temporary folder, listening on a Unix socket
// there only, run as an unprivileged user (the server refuses root), and
// stopped when its owner is done or dies. Plus a small client for setting
// up and looking at its databases.
#ifndef ZEMBROVALD_TESTS_PG_SERVER_H
#define ZEMBROVALD_TESTS_PG_SERVER_H

#include <sys/types.h>

#include <string>
#include <vector>

#include <libpq-fe.h>

#include "temp_dir.h"

namespace pg_test {

// A role that logs in with a password only (scram-sha-256); every other role
// is trusted on the socket.
inline constexpr const char *GUARDED_ROLE = "guarded";
inline constexpr const char *GUARDED_PASSWORD = "s3cret-of-the-connection";

class pg_server {
  public:
    // durable: the server flushes its commits as a production server does
    // (for the benchmark); the tests run without it.
    explicit pg_server(bool durable = false);
    ~pg_server();
    pg_server(const pg_server &) = delete;
    pg_server &operator=(const pg_server &) = delete;

    // Empty when the server runs; otherwise why not.
    [[nodiscard]] const std::string &unavailable() const { return unavailable_; }
    [[nodiscard]] const std::string &socket_dir() const { return dir_.path(); }
    // A libpq connection string for a database on this server, as the
    // superuser unless a role is named.
    [[nodiscard]] std::string conninfo(const std::string &database, const std::string &role = "postgres") const;

    // Stops the server, and starts it again on the same folder and data.
    bool stop();
    bool start();
    [[nodiscard]] pid_t pid() const { return pid_; }

  private:
    bool init();

    test_support::temp_dir dir_{"zpg"};
    std::string unavailable_;
    bool durable_;
    pid_t pid_ = -1;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
};

// Rows of a result as text; SQL NULL is NULL_TEXT.
inline constexpr const char *NULL_TEXT = "<null>";
using rows = std::vector<std::vector<std::string>>;

// One connection of the test's own; failures are reported in error().
class pg_client {
  public:
    explicit pg_client(const std::string &conninfo);
    ~pg_client();
    pg_client(const pg_client &) = delete;
    pg_client &operator=(const pg_client &) = delete;

    // Runs text (several statements allowed when there are no parameters).
    // True on success; the rows of the last statement in result.
    bool exec(const std::string &text, const std::vector<std::string> &params = {}, rows *result = nullptr);
    // The first column of the first row, or the error.
    std::string value(const std::string &text, const std::vector<std::string> &params = {});
    [[nodiscard]] const std::string &error() const { return error_; }

  private:
    PGconn *connection_ = nullptr;
    std::string error_;
};

} // namespace pg_test

#endif
