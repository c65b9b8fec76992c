// crash_test.cc: changes by the real program and the real administration
// command killed with SIGKILL at random moments, many of them inside the
// locked rewrite of a store of a few thousand accounts. After each kill the
// store is the old file or the new one, whole, and nothing else changed;
// files the killed processes left are removed by the next change.
//
// ZEMBROVALD_CRASH_RUNS sets the number of kills (default 240).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "crypt_hash.h"
#include "process_runner.h"
#include "temp_dir.h"

namespace {

using test_support::temp_dir;

constexpr const char *PROGRAM = ZEMBROVALD_PROGRAM;
constexpr const char *ADMIN = ADMIN_PROGRAM;
constexpr int DEFAULT_RUNS = 240;
constexpr int CALIBRATION_ROUNDS = 3;
constexpr int FILLER_ACCOUNTS = 4000;
constexpr int TARGETS = 3;                   // target0..2: changed by the program and by passwd
constexpr const char *LOCKED_ONE = "locker"; // locked and unlocked
constexpr const char *NEWCOMER = "newcomer"; // added and removed
constexpr const char *TEMP_PREFIX = ".userdb.tmp";

enum class operation {
    program_change,
    admin_passwd,
    admin_lock,
    admin_unlock,
    admin_useradd,
    admin_userdel
};
constexpr int OPERATIONS = 6;

const char *name_of(operation op) {
    static const char *const NAMES[] = {"zembrovald change",   "quelmarauth passwd",
                                        "quelmarauth lock",    "quelmarauth unlock",
                                        "quelmarauth useradd", "quelmarauth userdel"};
    return NAMES[static_cast<int>(op)];
}

std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

struct killed_run {
    bool exited = false; // ended by itself before the kill
    int status = -1;
};

// Starts argv with input on a pipe and kills it after delay, unless it ended.
killed_run run_and_kill(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                        const std::string &input, std::chrono::microseconds delay) {
    int in[2];
    if (pipe(in) != 0) {
        return {};
    }
    std::vector<std::string> environment = test_support::child_environment(env, {});
    std::vector<char *> args;
    for (const std::string &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char *> envp;
    for (std::string &e : environment) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(in[0], 0);
        dup2(null, 1);
        dup2(null, 2);
        close(in[0]);
        close(in[1]);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    // Small input: the pipe takes it whole at once.
    (void)!write(in[1], input.data(), input.size());
    close(in[1]);
    killed_run result;
    int status = 0;
    const auto ended = [&] {
        if (waitpid(pid, &status, WNOHANG) != pid) {
            return false;
        }
        result.exited = WIFEXITED(status);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return true;
    };
    if (delay < std::chrono::seconds(1)) {
        // One sleep, so that the kill comes when it was meant to.
        const timespec pause{0, static_cast<long>(delay.count()) * 1000};
        nanosleep(&pause, nullptr);
        if (ended()) {
            return result;
        }
    } else {
        // A run meant to finish: watched, so that its time can be taken.
        const auto deadline = std::chrono::steady_clock::now() + delay;
        while (std::chrono::steady_clock::now() < deadline) {
            if (ended()) {
                return result;
            }
            const timespec tick{0, 100 * 1000};
            nanosleep(&tick, nullptr);
        }
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    result.exited = WIFEXITED(status);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class crash_store {
  public:
    crash_store() {
        const std::string filler_hash = test_support::make_hash("filler");
        content_ = "# name:hash:uid:gid:home:sysuser\n\nnot an account line\n";
        for (int i = 0; i < FILLER_ACCOUNTS; ++i) {
            const std::string name = "filler" + std::to_string(i);
            content_ += name + ":" + filler_hash + ":" + std::to_string(5000 + i) + "::/srv/" +
                        name + ":\n";
            if (i == FILLER_ACCOUNTS / 2) {
                for (int t = 0; t < TARGETS; ++t) {
                    passwords_.push_back("start-" + std::to_string(t));
                    content_ += "target" + std::to_string(t) + ":" +
                                test_support::make_hash(passwords_.back()) + ":" +
                                std::to_string(2000 + t) + ":100:/home/t:\n";
                }
                content_ += std::string(LOCKED_ONE) + ":" +
                            test_support::make_hash("locker-secret") + ":3000:::\n";
            }
        }
        content_ += "# end\n";
        test_support::write_file(dir_.file("userdb"), content_);
        test_support::write_file(dir_.file("quelmarauth.conf"),
                                 "[*]\nbackend = userdb\nuserdb = " + dir_.file("userdb") +
                                     "\nhash = sha512crypt\ncost = 1000\n");
    }

    std::string path() const { return dir_.file("userdb"); }
    std::string config() const { return dir_.file("quelmarauth.conf"); }
    const std::string &content() const { return content_; }

    std::vector<std::string> temp_files() const {
        std::vector<std::string> names;
        for (const std::string &name : dir_.entries()) {
            if (name.rfind(TEMP_PREFIX, 0) == 0) {
                names.push_back(name);
            }
        }
        return names;
    }

    // Whether the file on disk is the state before or after op; advances
    // the model to it. changed: it is the state after.
    testing::AssertionResult settle(operation op, int target, const std::string &new_password,
                                    bool &changed) {
        const std::string now = test_support::read_file(path());
        changed = now != content_;
        if (!changed) {
            return testing::AssertionSuccess();
        }
        const testing::AssertionResult after = is_after(op, target, new_password, now);
        if (!after) {
            return after;
        }
        content_ = now;
        if (op == operation::program_change || op == operation::admin_passwd) {
            passwords_[static_cast<std::size_t>(target)] = new_password;
        }
        return testing::AssertionSuccess();
    }

    const std::string &password(int target) const {
        return passwords_[static_cast<std::size_t>(target)];
    }
    bool newcomer_present() const {
        return content_.find("\n" + std::string(NEWCOMER) + ":") != std::string::npos;
    }
    bool locker_locked() const {
        return content_.find("\n" + std::string(LOCKED_ONE) + ":!") != std::string::npos;
    }

  private:
    // The line of name in text, with its offset, or npos.
    static std::string::size_type line_of(const std::string &text, const std::string &name,
                                          std::string &line) {
        const std::string::size_type at = text.find("\n" + name + ":");
        if (at == std::string::npos) {
            return at;
        }
        const std::string::size_type end = text.find('\n', at + 1);
        line = text.substr(at + 1, end - at - 1);
        return at + 1;
    }

    testing::AssertionResult is_after(operation op, int target, const std::string &new_password,
                                      const std::string &now) const {
        std::string line;
        switch (op) {
        case operation::program_change:
        case operation::admin_passwd: {
            const std::string name = "target" + std::to_string(target);
            const std::string::size_type at = line_of(content_, name, line);
            std::string new_line;
            const std::string::size_type new_at = line_of(now, name, new_line);
            std::vector<std::string> before = split(line, ':');
            std::vector<std::string> after = split(new_line, ':');
            if (at != new_at || after.size() != 6 ||
                !test_support::hash_matches(new_password, after[1])) {
                return testing::AssertionFailure()
                       << name << " does not hold a hash of " << new_password << ": " << new_line;
            }
            if (now.substr(0, at) != content_.substr(0, at) ||
                now.substr(at + new_line.size()) != content_.substr(at + line.size())) {
                return testing::AssertionFailure() << "lines other than " << name << "'s changed";
            }
            after[1] = before[1];
            return after == before ? testing::AssertionSuccess()
                                   : testing::AssertionFailure()
                                         << name << "'s other fields changed: " << new_line;
        }
        case operation::admin_lock:
        case operation::admin_unlock: {
            const std::string::size_type hash_at =
                line_of(content_, LOCKED_ONE, line) + std::string(LOCKED_ONE).size() + 1;
            std::string expected = content_;
            if (op == operation::admin_lock) {
                expected.insert(hash_at, "!");
            } else {
                expected.erase(hash_at, 1);
            }
            return now == expected
                       ? testing::AssertionSuccess()
                       : testing::AssertionFailure() << "not the store " << name_of(op) << " makes";
        }
        case operation::admin_useradd: {
            const std::vector<std::string> fields = split(now.substr(content_.size()), ':');
            if (now.compare(0, content_.size(), content_) != 0 || fields.size() != 6 ||
                fields[0] != NEWCOMER || fields[5] != "\n" ||
                !test_support::hash_matches(new_password, fields[1])) {
                return testing::AssertionFailure()
                       << "not the old store and the new line: "
                       << now.substr(content_.size() < 200 ? 0 : content_.size() - 200);
            }
            return testing::AssertionSuccess();
        }
        case operation::admin_userdel: {
            const std::string::size_type at = line_of(content_, NEWCOMER, line);
            std::string expected = content_;
            expected.erase(at, line.size() + 1);
            return now == expected
                       ? testing::AssertionSuccess()
                       : testing::AssertionFailure() << "not the store without " << NEWCOMER;
        }
        }
        return testing::AssertionFailure() << "unknown operation";
    }

    temp_dir dir_{"zcr"};
    std::string content_;
    std::vector<std::string> passwords_;
};

struct planned {
    std::vector<std::string> argv;
    std::string input;
    int target = -1;
    std::string new_password;
};

planned plan(operation op, const crash_store &store, int target, const std::string &new_password) {
    const std::vector<std::string> admin = {ADMIN, "-c", store.config()};
    planned p;
    p.new_password = new_password;
    switch (op) {
    case operation::program_change:
        p.argv = {PROGRAM, "--stderr"};
        p.target = target;
        p.input = "user target" + std::to_string(target) + "\npass " + store.password(target) +
                  "\nnewpass " + new_password + "\nquit\n";
        return p;
    case operation::admin_passwd:
        p.argv = admin;
        p.argv.insert(p.argv.end(), {"passwd", "target" + std::to_string(target)});
        p.target = target;
        p.input = new_password + "\n";
        return p;
    case operation::admin_lock:
    case operation::admin_unlock:
        p.argv = admin;
        p.argv.insert(p.argv.end(), {op == operation::admin_lock ? "lock" : "unlock", LOCKED_ONE});
        return p;
    case operation::admin_useradd:
    case operation::admin_userdel:
        p.argv = admin;
        p.argv.insert(p.argv.end(),
                      {op == operation::admin_useradd ? "useradd" : "userdel", NEWCOMER});
        p.input = new_password + "\n";
        return p;
    }
    return p;
}

int crash_runs() {
    const char *runs = std::getenv("ZEMBROVALD_CRASH_RUNS");
    return runs != nullptr && std::atoi(runs) > 0 ? std::atoi(runs) : DEFAULT_RUNS;
}

TEST(CrashConsistency, KilledChangesLeaveTheOldOrTheNewStore) {
    crash_store store;
    const std::vector<std::string> env = {"QUELMARAUTH_CONFIG=" + store.config()};
    std::mt19937 random(static_cast<unsigned>(getpid()));

    // How long each kind of change takes here, from runs left to finish:
    // the shortest of a few, since a busy machine only ever makes runs longer.
    std::chrono::microseconds duration[OPERATIONS];
    for (int kind = 0; kind < OPERATIONS; ++kind) {
        duration[kind] = std::chrono::seconds(5);
    }
    for (int round = 0; round < CALIBRATION_ROUNDS; ++round) {
        for (int kind = 0; kind < OPERATIONS; ++kind) {
            const auto op = static_cast<operation>(kind);
            const planned p =
                plan(op, store, 0, "calibrate-" + std::to_string(round * OPERATIONS + kind));
            const auto start = std::chrono::steady_clock::now();
            const killed_run r = run_and_kill(p.argv, env, p.input, std::chrono::seconds(5));
            duration[kind] =
                std::min(duration[kind], std::chrono::duration_cast<std::chrono::microseconds>(
                                             std::chrono::steady_clock::now() - start));
            bool changed = false;
            ASSERT_TRUE(store.settle(op, p.target, p.new_password, changed)) << name_of(op);
            ASSERT_TRUE(r.exited && r.status == 0 && changed) << name_of(op) << " without a kill";
        }
    }

    const int runs = crash_runs();
    int finished = 0;
    int changed_count = 0;
    int temp_left = 0;
    std::vector<std::string> temps_before;
    for (int i = 0; i < runs; ++i) {
        // A quarter each: the program, passwd, lock or unlock, useradd or userdel.
        const operation families[] = {
            operation::program_change,
            operation::admin_passwd,
            store.locker_locked() ? operation::admin_unlock : operation::admin_lock,
            store.newcomer_present() ? operation::admin_userdel : operation::admin_useradd,
        };
        const operation op = families[std::uniform_int_distribution<int>(0, 3)(random)];
        const int target = std::uniform_int_distribution<int>(0, TARGETS - 1)(random);
        const planned p = plan(op, store, target, "pw-" + std::to_string(i));
        // Half the kills anywhere in the run, half in its second half, where
        // the locked rewrite is.
        const auto whole = static_cast<double>(duration[static_cast<int>(op)].count());
        const double from = i % 2 == 0 ? 0.0 : 0.5 * whole;
        const std::chrono::microseconds delay(
            static_cast<long>(std::uniform_real_distribution<double>(from, 1.1 * whole)(random)));
        const killed_run r = run_and_kill(p.argv, env, p.input, delay);
        SCOPED_TRACE(std::string(name_of(op)) + ", kill " + std::to_string(i) + " after " +
                     std::to_string(delay.count()) + " us");
        bool changed = false;
        ASSERT_TRUE(store.settle(op, p.target, p.new_password, changed));
        const std::vector<std::string> temps = store.temp_files();
        if (r.exited) {
            ++finished;
            // A change that finished took the lock, so it removed what
            // killed ones left.
            EXPECT_TRUE(r.status != 0 || (changed && temps.empty()))
                << "status " << r.status << ", " << temps.size() << " temp files";
        }
        changed_count += changed ? 1 : 0;
        // A new temporary file: the kill came inside the locked rewrite.
        for (const std::string &name : temps) {
            if (std::find(temps_before.begin(), temps_before.end(), name) == temps_before.end()) {
                ++temp_left;
                break;
            }
        }
        temps_before = temps;
    }

    // The next change goes through and clears every leftover.
    const planned next = plan(operation::admin_passwd, store, 0, "after-the-kills");
    const killed_run r = run_and_kill(next.argv, env, next.input, std::chrono::seconds(10));
    bool changed = false;
    EXPECT_TRUE(store.settle(operation::admin_passwd, 0, next.new_password, changed));
    EXPECT_TRUE(r.exited && r.status == 0 && changed);
    EXPECT_TRUE(store.temp_files().empty());
    std::printf("%d changes killed at random, %d finished first, %d took effect, %d kills came "
                "inside the locked rewrite\n",
                runs - finished, finished, changed_count, temp_left);
}

} // namespace
