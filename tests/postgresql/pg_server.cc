// pg_server.cc: initdb, the postmaster as a child that dies with its owner,
// and a libpq client for the tests' own statements.
#include "pg_server.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "process_runner.h"

namespace pg_test {

namespace {

constexpr auto START_TIMEOUT = std::chrono::seconds(30);
constexpr auto STOP_TIMEOUT = std::chrono::seconds(30);
constexpr const char *HBA = "local all guarded scram-sha-256\nlocal all all trust\n";

std::string program(const char *name) { return std::string(PG_BIN_DIR) + "/" + name; }

// Waits for the child to end, at most timeout; true when it has.
bool reap(pid_t pid, std::chrono::steady_clock::duration timeout)
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || done < 0)
            return true;
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

pg_server::pg_server(bool durable) : durable_(durable)
{
    if (access(program("postgres").c_str(), X_OK) != 0) {
        unavailable_ = "the PostgreSQL server was not found at configure time (Debian postgresql)";
        return;
    }
    if (init() && start()) {
        pg_client admin(conninfo("postgres"));
        if (!admin.exec(std::string("CREATE ROLE ") + GUARDED_ROLE + " LOGIN PASSWORD '" + GUARDED_PASSWORD + "'"))
            unavailable_ = "CREATE ROLE: " + admin.error();
    }
}

pg_server::~pg_server() { stop(); }

std::string pg_server::conninfo(const std::string &database, const std::string &role) const
{
    return "host=" + dir_.path() + " dbname=" + database + " user=" + role;
}

bool pg_server::init()
{
    uid_ = geteuid();
    gid_ = getegid();
    if (uid_ == 0) {
        // The server refuses to run as root: its files and the socket folder
        // belong to an unprivileged user.
        const passwd *user = getpwnam("postgres");
        if (user == nullptr)
            user = getpwnam("nobody");
        if (user == nullptr) {
            unavailable_ = "no postgres or nobody user to run the server as";
            return false;
        }
        uid_ = user->pw_uid;
        gid_ = user->pw_gid;
        // Open to all: a program in a user namespace of its own (the syslog
        // capture) is nobody to this folder, and still must reach the socket.
        if (chown(dir_.path().c_str(), uid_, gid_) != 0 || chmod(dir_.path().c_str(), 0755) != 0) {
            unavailable_ = "cannot give the server's folder to its user";
            return false;
        }
    }
    test_support::run_options initdb;
    initdb.argv = {program("initdb"), "-D", dir_.file("data"), "-U", "postgres", "-A", "trust", "-E", "UTF8",
                   "--locale=C", "--no-sync", "--no-instructions"};
    initdb.unset_env = {"PGDATA", "PGHOST", "PGPORT", "PGUSER", "PGDATABASE", "PGOPTIONS"};
    const uid_t uid = uid_;
    const gid_t gid = gid_;
    initdb.child_setup = [uid, gid] {
        if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
            _exit(126);
    };
    initdb.timeout = std::chrono::milliseconds(120000);
    const test_support::run_result made = test_support::run_process(initdb);
    if (!made.exited || made.exit_status != 0) {
        unavailable_ = "initdb: " + made.describe_end() + ": " + made.err;
        return false;
    }
    const std::string hba = dir_.file("data/pg_hba.conf");
    if (!test_support::write_file(hba, HBA) || chown(hba.c_str(), uid_, gid_) != 0) {
        unavailable_ = "cannot write " + hba;
        return false;
    }
    return true;
}

bool pg_server::start()
{
    if (pid_ > 0)
        return true;
    std::vector<std::string> argv = {program("postgres"),
                                     "-D",
                                     dir_.file("data"),
                                     "-c",
                                     "listen_addresses=",
                                     "-c",
                                     "unix_socket_directories=" + dir_.path(),
                                     "-c",
                                     "max_connections=80",
                                     "-c",
                                     "shared_buffers=32MB"};
    if (!durable_) {
        for (const char *setting : {"fsync=off", "full_page_writes=off", "synchronous_commit=off"})
            argv.insert(argv.end(), {"-c", setting});
    }
    std::vector<char *> args;
    for (std::string &a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    const std::string log = dir_.file("server.log");
    const int log_fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (log_fd < 0 || fchown(log_fd, uid_, gid_) != 0) {
        if (log_fd >= 0)
            close(log_fd);
        unavailable_ = "cannot write " + log;
        return false;
    }
    const pid_t owner = getpid();
    const pid_t child = fork();
    if (child == 0) {
        if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(gid_) != 0 || setuid(uid_) != 0))
            _exit(126);
        // Set after the change of user, which clears it: a test binary that
        // crashes takes its server with it.
        prctl(PR_SET_PDEATHSIG, SIGQUIT);
        if (getppid() != owner)
            _exit(125);
        const int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        dup2(log_fd, 1);
        dup2(log_fd, 2);
        execv(args[0], args.data());
        _exit(127);
    }
    close(log_fd);
    if (child < 0) {
        unavailable_ = "cannot fork the server";
        return false;
    }
    pid_ = child;
    const std::string ping = conninfo("postgres");
    const auto until = std::chrono::steady_clock::now() + START_TIMEOUT;
    while (PQping(ping.c_str()) != PQPING_OK) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_ || std::chrono::steady_clock::now() > until) {
            unavailable_ = "the server did not start: " + test_support::read_file(log);
            stop();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    unavailable_.clear();
    return true;
}

bool pg_server::stop()
{
    if (pid_ <= 0)
        return true;
    // Fast shutdown: sessions are ended, the data stays consistent for a
    // later start.
    kill(pid_, SIGINT);
    bool ended = reap(pid_, STOP_TIMEOUT);
    if (!ended) {
        kill(pid_, SIGKILL);
        ended = reap(pid_, STOP_TIMEOUT);
    }
    pid_ = -1;
    return ended;
}

pg_client::pg_client(const std::string &conninfo) : connection_(PQconnectdb(conninfo.c_str()))
{
    if (PQstatus(connection_) != CONNECTION_OK)
        error_ = PQerrorMessage(connection_);
}

pg_client::~pg_client() { PQfinish(connection_); }

bool pg_client::exec(const std::string &text, const std::vector<std::string> &params, rows *result)
{
    if (PQstatus(connection_) != CONNECTION_OK) {
        error_ = PQerrorMessage(connection_);
        return false;
    }
    std::vector<const char *> values;
    for (const std::string &p : params)
        values.push_back(p.c_str());
    // A connection the server ended (a restart in a test) is made again.
    if (PQstatus(connection_) == CONNECTION_OK && params.empty() && text == "SELECT 1")
        return true;
    const auto send = [&] {
        return params.empty() ? PQexec(connection_, text.c_str())
                              : PQexecParams(connection_, text.c_str(), static_cast<int>(values.size()), nullptr,
                                             values.data(), nullptr, nullptr, 0);
    };
    PGresult *answer = send();
    // A connection the server ended (a restart in a test) is made again.
    if (PQstatus(connection_) == CONNECTION_BAD) {
        PQclear(answer);
        PQreset(connection_);
        answer = send();
    }
    const ExecStatusType status = PQresultStatus(answer);
    const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!ok)
        error_ = PQresultErrorMessage(answer);
    if (ok && result != nullptr) {
        result->clear();
        for (int row = 0; row < PQntuples(answer); ++row) {
            std::vector<std::string> fields;
            for (int column = 0; column < PQnfields(answer); ++column)
                fields.emplace_back(PQgetisnull(answer, row, column) != 0 ? NULL_TEXT
                                                                          : PQgetvalue(answer, row, column));
            result->push_back(std::move(fields));
        }
    }
    PQclear(answer);
    return ok;
}

std::string pg_client::value(const std::string &text, const std::vector<std::string> &params)
{
    rows result;
    if (!exec(text, params, &result))
        return "error: " + error_;
    if (result.empty() || result[0].empty())
        return "";
    return result[0][0];
}

} // namespace pg_test
