// Changes per second with 8 clients at once through tcpserver, against what
// the processors could do if a change cost nothing but its hashes.
#include "goals.h"
#include "hashes.h"
#include "measure.h"
#include "report.h"
#include "tcp_client.h"
#include "userdb_fixture.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

inline constexpr int CLIENTS = 8;
inline constexpr std::size_t ACCOUNTS = 1000;

struct client_account {
    char name[32];
    char passwords[2][32];
    char stored[HASH_SIZE]; // of passwords[0]
};

// The super-server, started directly so that its own id is the one stopped.
struct server_process {
    pid_t pid = -1;
    ~server_process() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};

bool start_tcpserver(server_process &server, unsigned port) {
    char port_text[16];
    std::snprintf(port_text, sizeof port_text, "%u", port);
    // Without -H -R -l0 a connection may wait seconds on name and ident
    // look-ups, which would measure those instead.
    const char *const argv[] = {"tcpserver",     "-q",   "-H", "-R", "-l0", "127.0.0.1", port_text,
                                ZEMBROVALD_PATH, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const int error = posix_spawnp(&server.pid, argv[0], &actions, nullptr,
                                   const_cast<char *const *>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        server.pid = -1;
        std::fprintf(stderr, "zembrovald_bench: cannot start tcpserver: %s\n",
                     std::strerror(error));
        return false;
    }
    if (!wait_for_listener(port)) {
        std::fprintf(stderr, "zembrovald_bench: tcpserver does not listen on port %u\n", port);
        return false;
    }
    return true;
}

bool prepare_accounts(const bench_options &options, bench_folder &folder,
                      client_account (&clients)[CLIENTS]) {
    char filler[HASH_SIZE];
    if (!folder.ok() || !use_config(folder, YESCRYPT) ||
        !make_hash(YESCRYPT, "filler-password", filler)) {
        std::fprintf(stderr, "zembrovald_bench: cannot set up a folder under %s\n", options.base);
        return false;
    }
    tail_account tail[CLIENTS];
    for (int i = 0; i < CLIENTS; ++i) {
        client_account &client = clients[i];
        std::snprintf(client.name, sizeof client.name, "client%d", i);
        std::snprintf(client.passwords[0], sizeof client.passwords[0], "Client-%d-first", i);
        std::snprintf(client.passwords[1], sizeof client.passwords[1], "Client-%d-second", i);
        if (!make_hash(YESCRYPT, client.passwords[0], client.stored))
            return false;
        tail[i] = {client.name, client.stored};
    }
    return write_userdb(folder, ACCOUNTS - CLIENTS, filler, tail, CLIENTS) != 0;
}

// Adds samples timings of the three hashes of one change to hash_ms.
bool time_hashes(const client_account &account, int samples, std::vector<double> &hash_ms) {
    for (int i = 0; i < samples; ++i) {
        const double ms = time_change_hashes_ms(YESCRYPT, account.passwords[0], account.stored);
        if (ms < 0) {
            std::fprintf(stderr, "zembrovald_bench: libxcrypt refused a hash\n");
            return false;
        }
        hash_ms.push_back(ms);
    }
    return true;
}

// One client: changes its own account's password back and forth until the
// deadline. Stops at the first failure, since the password is then unknown.
void run_client(unsigned port, const client_account &account, std::int64_t deadline,
                std::atomic<long> &changes, std::atomic<int> &failures) {
    for (int run = 0; now_ns() < deadline; ++run) {
        if (!change_over_tcp(port, account.name, account.passwords[run % 2],
                             account.passwords[(run + 1) % 2])) {
            failures.fetch_add(1);
            return;
        }
        changes.fetch_add(1);
    }
}

} // namespace

bool bench_throughput(const bench_options &options) {
    const int seconds = options.quick ? 3 : 20;
    char accounts[32];
    std::printf("4. changes per second, %d clients at once through tcpserver (yescrypt, %s "
                "accounts, %d s)\n",
                CLIENTS, with_separators(ACCOUNTS, accounts), seconds);
    std::fflush(stdout);

    bench_folder folder(options.base);
    client_account clients[CLIENTS];
    if (!prepare_accounts(options, folder, clients))
        return false;

    // The hash time is taken before and after the load, so that a change in
    // the machine's speed during the run moves both figures alike.
    std::vector<double> hash_ms;
    const int hash_samples = options.quick ? 3 : 7;
    if (!time_hashes(clients[0], hash_samples, hash_ms))
        return false;

    server_process server;
    const unsigned port = free_loopback_port();
    if (port == 0 || !start_tcpserver(server, port))
        return false;

    std::atomic<long> changes{0};
    std::atomic<int> failures{0};
    const std::int64_t start = now_ns();
    const std::int64_t deadline = start + static_cast<std::int64_t>(seconds) * 1'000'000'000;
    std::vector<std::thread> threads;
    for (const client_account &account : clients)
        threads.emplace_back(run_client, port, std::cref(account), deadline, std::ref(changes),
                             std::ref(failures));
    for (std::thread &thread : threads)
        thread.join();
    // Changes started before the deadline are counted, so the time runs until
    // the last of them ended.
    const double elapsed_s = ms_between(start, now_ns()) / 1000.0;
    if (failures.load() != 0) {
        std::fprintf(stderr, "zembrovald_bench: %d clients saw a change fail\n", failures.load());
        return false;
    }

    if (!time_hashes(clients[0], hash_samples, hash_ms))
        return false;
    const double change_hashes_ms = median_of(hash_ms);
    const long cores = online_cores();
    const double limit = static_cast<double>(cores) * 1000.0 / change_hashes_ms;
    const double rate = static_cast<double>(changes.load()) / elapsed_s;
    note("%ld changes in %.1f s: %.1f changes/s; the hashes of one change take %.1f ms in "
         "one process, so %ld cores allow %.1f changes/s",
         changes.load(), elapsed_s, rate, change_hashes_ms, cores, limit);

    report_row row{};
    format_field(row.goal, sizeof row.goal, "4 changes/s, %d clients, tcpserver", CLIENTS);
    format_field(row.measured, sizeof row.measured, "%.1f /s", rate);
    format_field(row.baseline, sizeof row.baseline, "%.1f /s (%ld cores / %.1f ms of hashes)",
                 limit, cores, change_hashes_ms);
    row.ratio = rate / limit;
    row.bound = 0.9;
    row.direction = better::higher;
    add_row(row);
    return true;
}
