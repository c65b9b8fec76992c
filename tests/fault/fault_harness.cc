// fault_harness.cc: the store, the runs and the expectations of a faulty change.
#include "fault_harness.h"

#include <chrono>
#include <cstring>
#include <optional>

#include "dialogue_text.h"

namespace fault {

namespace {

using namespace std::chrono_literals;
using namespace test_support::replies;
using test_support::run_options;
using test_support::run_result;
using test_support::store_fixture;

constexpr const char *OLD_PASSWORD = "alice-secret";
constexpr const char *NEXT_PASSWORD = "next-secret";
constexpr int FILLER_ACCOUNTS = 800;


constexpr int LOG_AUTHPRIV_ERR = 83;    // authpriv (80) + err (3)
constexpr int LOG_AUTHPRIV_NOTICE = 85; // authpriv (80) + notice (5)
constexpr int EXIT_STORE = 4;

std::string program_input(const std::string &old_password, const std::string &new_password) {
    return "user alice\npass " + old_password + "\nnewpass " + new_password + "\nquit\n";
}

run_options plain_run(tool who, const store_fixture &store, const std::string &old_password,
                      const std::string &new_password) {
    run_options options;
    if (who == tool::program) {
        options.argv = {PROGRAM};
        options.env = {store.config_env()};
        options.input = program_input(old_password, new_password);
    } else {
        options.argv = {ADMIN, "-c", store.config_path(), "passwd", "alice"};
        options.unset_env = {"QUELMARAUTH_CONFIG"};
        options.input = new_password + "\n";
    }
    return options;
}

struct entry_text {
    int priority;
    std::string ident;
    std::string message;
};

// The datagrams as priority, ident and message, or a failure naming the one
// that is not in glibc's format.
testing::AssertionResult entries_of(const std::vector<std::string> &datagrams,
                                    std::vector<entry_text> &entries) {
    for (const std::string &datagram : datagrams) {
        const std::optional<test_support::syslog_entry> entry =
            test_support::parse_syslog_datagram(datagram);
        if (!entry) {
            return testing::AssertionFailure() << "not a syslog datagram: " << datagram;
        }
        entries.push_back({entry->priority, entry->ident, entry->message});
    }
    return testing::AssertionSuccess();
}

// One store diagnostic naming the reason and the errno's text.
testing::AssertionResult is_diagnostic(const entry_text &entry, const std::string &ident,
                                       const std::string &reason, int error) {
    const std::string prefix = "quelmarauth: ";
    if (entry.priority == LOG_AUTHPRIV_ERR && entry.ident == ident &&
        entry.message.rfind(prefix, 0) == 0 && entry.message.find(reason) != std::string::npos &&
        entry.message.find(std::strerror(error)) != std::string::npos) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure()
           << "wanted <" << LOG_AUTHPRIV_ERR << "> " << ident << ": quelmarauth: ..." << reason
           << "...: " << std::strerror(error) << "; got <" << entry.priority << "> " << entry.ident
           << ": " << entry.message;
}

void expect_program(outcome expected, const std::string &reason, int error, const run_result &r,
                    const std::vector<entry_text> &log) {
    const bool changed = expected == outcome::changed || expected == outcome::changed_with_warning;
    std::string replies = GREETING;
    replies += PASS_PLEASE;
    if (expected != outcome::refused_at_login) {
        replies += NEWPASS_PLEASE;
    }
    replies += changed ? std::string(CHANGED) + BYE : std::string(SERVER_ERROR);
    EXPECT_EQ(replies, r.out);
    EXPECT_TRUE(r.exited && r.exit_status == (changed ? 0 : 1)) << r.describe_end();
    // A failed change pauses before it ends; a failure at login does not.
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(r.quiet_before_end());
    if (expected == outcome::refused_at_change) {
        EXPECT_TRUE(quiet >= 2500ms && quiet < 10000ms) << "pause of " << quiet.count() << " ms";
    } else {
        EXPECT_LT(quiet, 1500ms) << "a pause where none belongs";
    }
    const std::string last =
        changed ? "changed password for alice" : "failed to change password for user alice";
    const bool diagnosed = expected != outcome::changed;
    ASSERT_EQ(diagnosed ? 2U : 1U, log.size());
    if (diagnosed) {
        EXPECT_TRUE(is_diagnostic(log[0], "zembrovald", reason, error));
    }
    EXPECT_EQ(LOG_AUTHPRIV_ERR, log.back().priority);
    EXPECT_EQ("zembrovald", log.back().ident);
    EXPECT_EQ(last, log.back().message);
}

void expect_admin(outcome expected, const std::string &reason, int error, const run_result &r,
                  const std::vector<entry_text> &log) {
    EXPECT_EQ("", r.out);
    if (expected == outcome::refused_at_login || expected == outcome::refused_at_change) {
        EXPECT_TRUE(r.exited && r.exit_status == EXIT_STORE) << r.describe_end();
        EXPECT_EQ(0U, r.err.rfind("quelmarauth: ", 0)) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(reason)) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(std::strerror(error))) << r.err;
        ASSERT_EQ(1U, log.size());
        EXPECT_TRUE(is_diagnostic(log[0], "quelmarauth", reason, error));
        return;
    }
    EXPECT_TRUE(r.exited && r.exit_status == 0) << r.describe_end();
    if (expected == outcome::changed_with_warning) {
        EXPECT_EQ(0U, r.err.rfind("quelmarauth: warning: ", 0)) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(reason)) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(std::strerror(error))) << r.err;
    } else {
        EXPECT_EQ("", r.err);
    }
    ASSERT_EQ(1U, log.size());
    EXPECT_EQ(LOG_AUTHPRIV_NOTICE, log[0].priority);
    EXPECT_EQ("quelmarauth", log[0].ident);
    EXPECT_EQ("set the password of account alice (service login)", log[0].message);
}

} // namespace

const char *name_of(tool who) { return who == tool::program ? "zembrovald" : "quelmarauth passwd"; }

std::unique_ptr<store_fixture> make_store(bool filler) {
    std::vector<test_support::account> accounts = {
        {"alice", OLD_PASSWORD, "1001", "1001", "/home/alice", ""},
        {"bob", "bob-secret", "1002", "", "", "vmail"},
    };
    if (filler) {
        for (int i = 0; i < FILLER_ACCOUNTS; ++i) {
            accounts.push_back({"filler" + std::to_string(i), "filler", std::to_string(5000 + i),
                                "", "/srv/mail/filler" + std::to_string(i), ""});
        }
    }
    return std::make_unique<store_fixture>(accounts);
}

run_options change_run(tool who, const store_fixture &store,
                       const test_support::syslog_capture *log) {
    run_options options = plain_run(who, store, OLD_PASSWORD, NEW_PASSWORD);
    if (log != nullptr) {
        options.argv = log->wrap(options.argv);
    }
    return options;
}

void expect_outcome(tool who, outcome expected, const std::string &reason, int error,
                    const run_result &r, const std::vector<std::string> &datagrams,
                    const store_fixture &store) {
    std::vector<entry_text> log;
    ASSERT_TRUE(entries_of(datagrams, log));
    if (who == tool::program) {
        expect_program(expected, reason, error, r, log);
    } else {
        expect_admin(expected, reason, error, r, log);
    }
    if (expected == outcome::changed || expected == outcome::changed_with_warning) {
        EXPECT_TRUE(store.changed_only({{"alice", NEW_PASSWORD}}));
    } else {
        EXPECT_TRUE(store.unchanged());
    }
}

void expect_next_change_works(tool who, const store_fixture &store) {
    const std::string old_password =
        store.password_is("alice", NEW_PASSWORD) ? NEW_PASSWORD : OLD_PASSWORD;
    const run_result r =
        test_support::run_process(plain_run(who, store, old_password, NEXT_PASSWORD));
    EXPECT_TRUE(r.exited && r.exit_status == 0) << "the next change: " << r.describe_end() << "\n"
                                                << r.out << r.err;
    EXPECT_TRUE(store.changed_only({{"alice", NEXT_PASSWORD}}));
}

} // namespace fault
