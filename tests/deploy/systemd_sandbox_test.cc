// systemd_sandbox_test.cc: the system calls a full change makes, traced with
// strace while the program runs as the store's owner, all pass the service
// unit's SystemCallFilter=, MemoryDenyWriteExecute= and
// RestrictAddressFamilies=: systemd cannot run here, so a sandbox that would
// break the service is caught by comparing the trace with the unit.
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "deploy_harness.h"
#include "process_runner.h"
#include "temp_dir.h"

namespace deploy {
namespace {

using syscall_groups = std::map<std::string, std::vector<std::string>>;

// Every group systemd knows, as `systemd-analyze syscall-filter` lists them:
// a line "@name" opens a group; indented lines are its calls and the groups
// it includes; "#" lines are comments.
syscall_groups read_groups(const std::string &listing) {
    syscall_groups groups;
    std::string current;
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '@') {
            current = line;
            continue;
        }
        std::istringstream fields(line);
        std::string item;
        fields >> item;
        if (!current.empty() && !item.empty() && item[0] != '#') {
            groups[current].push_back(item);
        }
    }
    return groups;
}

void expand(const syscall_groups &groups, const std::string &name, std::set<std::string> &into) {
    const auto it = groups.find(name);
    if (it == groups.end()) {
        into.insert(name);
        return;
    }
    for (const std::string &item : it->second) {
        expand(groups, item, into);
    }
}

// The unit's filter: the first SystemCallFilter= allows, "~" lines deny.
std::set<std::string> allowed_calls(const std::string &unit, const syscall_groups &groups) {
    std::set<std::string> allowed;
    std::set<std::string> denied;
    std::istringstream in(unit);
    for (std::string line; std::getline(in, line);) {
        const std::string KEY = "SystemCallFilter=";
        if (line.rfind(KEY, 0) != 0) {
            continue;
        }
        std::string value = line.substr(KEY.size());
        const bool deny = !value.empty() && value[0] == '~';
        std::istringstream names(deny ? value.substr(1) : value);
        for (std::string name; names >> name;) {
            expand(groups, name, deny ? denied : allowed);
        }
    }
    for (const std::string &name : denied) {
        allowed.erase(name);
    }
    return allowed;
}

struct traced_call {
    std::string name;
    std::string line;
};

// The calls the program made after its own execve (those of setpriv, which
// stands in for User=, come before and are systemd's to make).
std::vector<traced_call> calls_of_program(const std::string &trace, const std::string &program) {
    std::vector<traced_call> calls;
    bool started = false;
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);) {
        if (!started) {
            started = line.rfind("execve(\"" + program + "\"", 0) == 0;
            continue;
        }
        const std::string::size_type paren = line.find('(');
        if (paren == std::string::npos || paren == 0) {
            continue;
        }
        calls.push_back({line.substr(0, paren), line});
    }
    return calls;
}

TEST(SystemdSandbox, AFullChangeStaysInsideTheServiceUnitsFilters) {
    if (ZEMBROVALD_SANITIZED) {
        GTEST_SKIP() << "the sanitizer runtimes make calls of their own";
    }
    const std::string strace = tool("strace");
    const std::string analyze = tool("systemd-analyze");
    const std::string setpriv = tool("setpriv");
    if (strace.empty() || analyze.empty() || setpriv.empty()) {
        GTEST_SKIP() << "strace (Debian strace), systemd-analyze or setpriv is not installed";
    }
    test_support::run_options listing;
    listing.argv = {analyze, "syscall-filter", "--no-pager"};
    const syscall_groups groups = read_groups(test_support::run_process(listing).out);
    ASSERT_TRUE(groups.count("@system-service")) << "systemd-analyze listed no @system-service";
    const std::string unit = recipe_text("systemd/zembrovald@.service");
    const std::set<std::string> allowed = allowed_calls(unit, groups);
    ASSERT_FALSE(allowed.empty());
    EXPECT_EQ("AF_UNIX", setting_of(unit, "RestrictAddressFamilies"));
    EXPECT_EQ("yes", setting_of(unit, "MemoryDenyWriteExecute"));

    const store_fixture store(recipe_accounts());
    const service_user user = test_service_user();
    ASSERT_EQ("", hand_over(store, user));
    const test_support::temp_dir trace_dir("zdt");
    const std::string trace_path = trace_dir.file("trace");
    test_support::run_options run;
    run.argv = {strace, "-qq", "-o", trace_path};
    const std::vector<std::string> setpriv_argv = as_service_user(setpriv, user);
    run.argv.insert(run.argv.end(), setpriv_argv.begin(), setpriv_argv.end());
    // The unit's own command line, with the program under test.
    std::istringstream command(setting_of(unit, "ExecStart"));
    std::string word;
    command >> word;
    ASSERT_EQ("/usr/sbin/zembrovald", word);
    run.argv.push_back(PROGRAM);
    while (command >> word) {
        run.argv.push_back(word);
    }
    run.env = {store.config_env()};
    run.input = change_lines();
    const test_support::run_result result = test_support::run_process(run);
    const std::string trace = test_support::read_file(trace_path);
    if (trace.empty()) {
        GTEST_SKIP() << "strace cannot trace here: " << result.err;
    }
    ASSERT_EQ(CHANGE_REPLIES, result.out) << result.err;
    EXPECT_TRUE(store.changed_only({{USER, NEW_PASSWORD}}));

    const std::vector<traced_call> calls = calls_of_program(trace, PROGRAM);
    ASSERT_FALSE(calls.empty()) << "the trace does not show the program:\n" << trace;
    for (const traced_call &call : calls) {
        SCOPED_TRACE(call.line);
        EXPECT_TRUE(allowed.count(call.name)) << call.name << " is not in the unit's SystemCallFilter=";
        if (call.name == "socket") {
            EXPECT_EQ(0u, call.line.find("socket(AF_UNIX")) << "RestrictAddressFamilies= forbids it";
        }
        if (call.name == "mmap" || call.name == "mprotect") {
            const bool write_and_execute = call.line.find("PROT_WRITE") != std::string::npos &&
                                           call.line.find("PROT_EXEC") != std::string::npos;
            EXPECT_FALSE(write_and_execute) << "MemoryDenyWriteExecute= forbids it";
        }
    }
}

}  // namespace
}  // namespace deploy
