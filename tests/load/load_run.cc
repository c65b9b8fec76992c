// load_run.cc: the soak itself: sixteen client threads share a fixed number
// of connections of a weighted mix; each account is used by one client at a
// time, so the password of its last acknowledged change is known.
#include "load_run.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <thread>

#include "crypt_hash.h"
#include "load_client.h"
#include "run_records.h"
#include "server_watch.h"
#include "store_fixture.h"
#include "tcp_service.h"
#include "temp_dir.h"

namespace load {

namespace {

using clock_type = std::chrono::steady_clock;

struct kind_weight {
    client_kind kind;
    const char *name;
    unsigned weight; // of 100
};

// Mostly changes, as a real service sees; the two pausing refusals are kept
// few, since each holds one of the sixteen slots for 3 s.
constexpr kind_weight MIX[KIND_COUNT] = {
    {client_kind::change, "change", 62},
    {client_kind::change_without_quit, "change without quit", 6},
    {client_kind::wrong_password, "wrong password", 4},
    {client_kind::unknown_user, "unknown user", 3},
    {client_kind::garbage, "garbage line", 6},
    {client_kind::long_user_line, "over-long user line", 4},
    {client_kind::long_password_line, "over-long pass line", 3},
    {client_kind::long_new_password, "over-long newpass line", 2},
    {client_kind::hang_up_at_greeting, "hang-up at greeting", 2},
    {client_kind::hang_up_mid_line, "hang-up mid-line", 2},
    {client_kind::hang_up_after_pass, "hang-up after pass", 2},
    {client_kind::hang_up_after_newpass, "hang-up after newpass", 4},
};

constexpr std::chrono::milliseconds RECORD_TIMEOUT{60000};
constexpr std::chrono::milliseconds DRAIN_TIMEOUT{60000};
constexpr int HASH_SAMPLES = 9;

constexpr bool mix_in_kind_order() {
    for (std::size_t i = 0; i < KIND_COUNT; ++i) {
        if (static_cast<std::size_t>(MIX[i].kind) != i)
            return false;
    }
    return true;
}
static_assert(mix_in_kind_order(), "kind_name looks a kind up by its place in MIX");

client_kind pick_kind(std::mt19937 &random) {
    auto roll = static_cast<unsigned>(random() % 100);
    for (const kind_weight &entry : MIX) {
        if (roll < entry.weight)
            return entry.kind;
        roll -= entry.weight;
    }
    return client_kind::change;
}

struct connection_record {
    int port;
    client_kind kind;
    int expected_status;
};

struct soak {
    const load_plan &plan;
    int server_port;
    run_records &records;
    const test_support::store_fixture &store;
    std::deque<account_state> accounts;

    std::atomic<std::size_t> next{0};
    std::mutex mutex; // guards everything below
    std::vector<connection_record> made;
    std::map<int, std::size_t> per_port;
    std::vector<std::string> faults;
    std::size_t acknowledged = 0, applied = 0, dropped = 0;
};

std::string stored_hash(const std::string &userdb, const std::string &name) {
    const std::string prefix = name + ":";
    std::string::size_type start = 0;
    while (start < userdb.size()) {
        std::string::size_type end = userdb.find('\n', start);
        if (end == std::string::npos)
            end = userdb.size();
        if (userdb.compare(start, prefix.size(), prefix) == 0) {
            const std::string::size_type hash_start = start + prefix.size();
            return userdb.substr(hash_start, userdb.find(':', hash_start) - hash_start);
        }
        start = end + 1;
    }
    return "";
}

// A change whose reply never came: once its run has ended, the store holds
// either the new password or the old one, and nothing else.
void settle_unanswered(soak &run, account_state &account, const connection_outcome &outcome,
                       std::size_t port_uses) {
    if (!run.records.wait_for(outcome.port, port_uses, RECORD_TIMEOUT)) {
        const std::lock_guard<std::mutex> hold(run.mutex);
        run.faults.push_back("no run record for the hung-up change of " + account.name);
        return;
    }
    const std::string hash = stored_hash(run.store.userdb(), account.name);
    const std::lock_guard<std::mutex> hold(run.mutex);
    if (test_support::hash_matches(outcome.new_password, hash)) {
        account.password = outcome.new_password;
        ++run.applied;
    } else if (test_support::hash_matches(account.password, hash)) {
        ++run.dropped;
    } else {
        run.faults.push_back("after a hung-up change " + account.name +
                             " holds neither its old nor its new password: " + hash);
    }
}

void client_thread(soak &run, unsigned index) {
    std::mt19937 random(run.plan.seed * 7919U + index);
    while (run.next.fetch_add(1) < run.plan.connections) {
        const client_kind kind = pick_kind(random);
        account_state *account = nullptr;
        std::unique_lock<std::mutex> held;
        if (needs_account(kind)) {
            account = &run.accounts[random() % run.accounts.size()];
            held = std::unique_lock<std::mutex>(account->lock);
        }
        const connection_outcome outcome = run_connection(run.server_port, kind, account, random);
        std::size_t port_uses = 0;
        {
            const std::lock_guard<std::mutex> hold(run.mutex);
            if (outcome.port != 0) {
                run.made.push_back({outcome.port, kind, outcome.expected_status});
                port_uses = ++run.per_port[outcome.port];
            }
            if (!outcome.fault.empty())
                run.faults.push_back(std::string(kind_name(kind)) + ": " + outcome.fault);
            if (outcome.acknowledged) {
                account->password = outcome.new_password;
                ++run.acknowledged;
            }
        }
        if (outcome.unanswered_change && outcome.fault.empty())
            settle_unanswered(run, *account, outcome, port_uses);
    }
}

double time_change_hashes_ms() {
    const std::string stored = test_support::make_hash("old-password");
    std::vector<double> samples;
    for (int i = 0; i < HASH_SAMPLES; ++i) {
        const auto start = clock_type::now();
        const bool first = test_support::hash_matches("old-password", stored);
        const bool second = test_support::hash_matches("old-password", stored);
        const bool made = !test_support::make_hash("new-password").empty();
        if (!first || !second || !made)
            return -1;
        samples.push_back(
            std::chrono::duration<double, std::milli>(clock_type::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

long median_of(std::vector<long> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Matches each connection to its run's record by the client's port and
// checks how every run ended. The kernel may hand a port out again on the
// loopback while the run of its last connection still pauses, so records
// are not written in the order of their connections; but a port's next
// connection begins only after its last one read the greeting, so their
// runs' start times are in the order of their connections.
void judge_records(soak &run, const std::vector<run_record> &records, load_result &result) {
    std::map<int, std::vector<const run_record *>> by_port;
    for (const run_record &record : records) {
        by_port[record.port].push_back(&record);
        if (record.wait_status == 0)
            ++result.exits_0;
        else if (record.wait_status == 1 << 8)
            ++result.exits_1;
        else
            ++result.exits_other;
    }
    for (auto &[port, mine] : by_port) {
        std::sort(mine.begin(), mine.end(), [](const run_record *a, const run_record *b) {
            return a->start_us < b->start_us;
        });
    }
    std::map<int, std::size_t> used;
    std::array<std::vector<double>, KIND_COUNT> run_ms;
    std::vector<long> change_rss;
    for (const connection_record &made : run.made) {
        std::vector<const run_record *> &mine = by_port[made.port];
        const std::size_t n = used[made.port]++;
        if (n >= mine.size()) {
            run.faults.push_back(std::string(kind_name(made.kind)) + " from port " +
                                 std::to_string(made.port) + ": no run record");
            continue;
        }
        const run_record &record = *mine[n];
        if (record.wait_status != made.expected_status << 8) {
            run.faults.push_back(std::string(kind_name(made.kind)) + ": wait status " +
                                 std::to_string(record.wait_status) + ", expected exit " +
                                 std::to_string(made.expected_status));
        }
        run_ms[static_cast<std::size_t>(made.kind)].push_back(
            static_cast<double>(record.elapsed_us) / 1000.0);
        if (made.kind == client_kind::change)
            change_rss.push_back(record.max_rss_kib);
    }
    for (std::size_t k = 0; k < KIND_COUNT; ++k) {
        std::vector<double> &ms = run_ms[k];
        std::sort(ms.begin(), ms.end());
        result.kinds[k].connections = ms.size();
        result.kinds[k].median_run_ms = ms.empty() ? 0 : ms[ms.size() / 2];
        result.kinds[k].min_run_ms = ms.empty() ? 0 : ms.front();
    }
    const std::size_t tenth = std::max<std::size_t>(1, change_rss.size() / 10);
    if (change_rss.size() >= tenth) {
        result.program_rss_first_kib = median_of(
            std::vector<long>(change_rss.begin(), change_rss.begin() + static_cast<long>(tenth)));
        result.program_rss_last_kib = median_of(
            std::vector<long>(change_rss.end() - static_cast<long>(tenth), change_rss.end()));
        result.program_rss_max_kib =
            change_rss.empty() ? 0 : *std::max_element(change_rss.begin(), change_rss.end());
    }
}

// Every line the programs wrote to standard error is one of their log
// entries, one per change and one per pausing refusal; anything else (a
// sanitizer report, a crash message) is a fault.
void judge_log(soak &run, const std::string &log) {
    std::size_t changed = 0, refused = 0;
    std::string::size_type start = 0;
    for (std::string::size_type nl; (nl = log.find('\n', start)) != std::string::npos;
         start = nl + 1) {
        const std::string line = log.substr(start, nl - start);
        if (line.rfind("changed password for ", 0) == 0)
            ++changed;
        else if (line.rfind("old password is incorrect or user not found for ", 0) == 0)
            ++refused;
        else if (run.faults.size() < 50)
            run.faults.push_back("unexpected line on the programs' standard error: " +
                                 line.substr(0, 200));
    }
    std::size_t pausing = 0;
    for (const connection_record &made : run.made)
        pausing +=
            made.kind == client_kind::wrong_password || made.kind == client_kind::unknown_user;
    if (changed != run.acknowledged + run.applied)
        run.faults.push_back(std::to_string(changed) + " changes logged, " +
                             std::to_string(run.acknowledged + run.applied) + " made");
    if (refused != pausing)
        run.faults.push_back(std::to_string(refused) + " refused passwords logged, " +
                             std::to_string(pausing) + " sent");
}

} // namespace

const char *kind_name(client_kind kind) { return MIX[static_cast<std::size_t>(kind)].name; }

load_result run_load(const load_plan &plan) {
    load_result result;
    result.cores = std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
    result.change_hashes_ms = time_change_hashes_ms();

    std::vector<test_support::account> accounts;
    for (std::size_t i = 0; i < plan.accounts; ++i) {
        const std::string n = std::to_string(i);
        accounts.push_back({"user" + n, "first-" + n, std::to_string(2000 + i), "", "", ""});
    }
    const test_support::store_fixture store(accounts);
    const test_support::temp_dir work("zld");
    run_records records(work.file("runs"));
    const std::string log_path = work.file("stderr");
    // Marks this run's processes, so that any left over can be found.
    const std::string marker = "load" + std::to_string(getpid()) + "-" + std::to_string(plan.seed);
    test_support::tcpserver_process server(
        {plan.recorder, records.path(), plan.program, "--stderr", "-s", marker},
        {store.config_env()}, log_path, {"-c", std::to_string(plan.clients)});
    if (!server.unavailable().empty()) {
        result.unavailable = server.unavailable();
        return result;
    }
    const pid_t server_pid = server.pid();
    // Its start was checked with one connection: let that run end first.
    wait_for_no_children(server_pid, DRAIN_TIMEOUT);
    result.server_fds_before = open_descriptors(server_pid);
    result.server_rss_before_kib = resident_kib(server_pid);

    soak run{plan, server.port(), records, store, {}, {}, {}, {}, {}, {}, 0, 0, 0};
    for (const test_support::account &a : accounts) {
        account_state &state = run.accounts.emplace_back();
        state.name = a.name;
        state.password = a.password;
    }
    const auto start = clock_type::now();
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < plan.clients; ++i)
        threads.emplace_back(client_thread, std::ref(run), i);
    for (std::thread &thread : threads)
        thread.join();
    result.seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    result.connections = run.made.size();
    result.changes_acknowledged = run.acknowledged;
    result.uncertain_applied = run.applied;
    result.uncertain_dropped = run.dropped;

    // The runs that pause outlive their clients by up to 3 s.
    result.children_gone = wait_for_no_children(server_pid, DRAIN_TIMEOUT);
    result.server_fds_after = open_descriptors(server_pid);
    result.server_rss_after_kib = resident_kib(server_pid);
    for (const pid_t pid : processes_with_argument(marker)) {
        if (pid != server_pid)
            result.leftover_processes.push_back(pid);
    }

    const std::vector<run_record> all = records.all();
    result.run_records = all.size();
    judge_records(run, all, result);
    judge_log(run, test_support::read_file(log_path));

    std::map<std::string, std::string> changed;
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        if (run.accounts[i].password != accounts[i].password)
            changed[accounts[i].name] = run.accounts[i].password;
    }
    const testing::AssertionResult kept = store.changed_only(changed);
    if (!kept)
        result.store_check = kept.message();
    result.faults = run.faults;
    return result;
}

} // namespace load
