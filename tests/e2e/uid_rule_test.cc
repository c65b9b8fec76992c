// uid_rule_test.cc: accounts below uid 100 may not change their password,
// judged by the record's uid or, without one, by its system user looked up
// with getpwnam in a private account database (nss_wrapper).
#include <cerrno>
#include <cstring>
#include <string>

#include "e2e_harness.h"
#include "preload.h"
#include "temp_dir.h"

namespace e2e {
namespace {

const std::string GPN = std::string(GREETING) + PASS_PLEASE + NEWPASS_PLEASE;
const std::string GPNC = GPN + CHANGED;

constexpr const char *PASSWD = "root:x:0:0:root:/root:/bin/sh\n"
                               "lowsys:x:99:99::/:/bin/false\n"
                               "sys100:x:100:100::/:/bin/false\n"
                               "vmail:x:5000:5000::/var/mail:/bin/false\n";
constexpr const char *GROUP = "root:x:0:\nlowsys:x:99:\nsys100:x:100:\nvmail:x:5000:\n";

dialogue_case allowed(const char *user) {
    return {.what = user,
            .input = change_lines(user, "new-secret") + "quit\n",
            .replies = GPNC + BYE,
            .log = changed_log(user),
            .status = 0,
            .changed = {{user, "new-secret"}}};
}

// Refused only after the new password was received, without a pause.
dialogue_case refused(const char *user, const std::string &log_before = "") {
    return {.what = user,
            .input = change_lines(user, "new-secret") + "quit\n",
            .replies = GPN + RESTRICTED,
            .log = log_before + restricted_log(user),
            .status = 1};
}

TEST(UidRule, RecordsAndSystemUsers) {
    if (*test_support::nss_wrapper_library() == '\0') {
        GTEST_SKIP() << "libnss_wrapper.so was not found at configure time";
    }
    const test_support::temp_dir dir("znss");
    std::vector<std::string> env = test_support::preload_env({test_support::nss_wrapper_library()});
    const std::vector<std::string> files =
        test_support::nss_files_env(dir.file("passwd"), PASSWD, dir.file("group"), GROUP);
    env.insert(env.end(), files.begin(), files.end());
    // Never a fixed strerror text: ask the same library, in the same setting.
    const std::string not_found = getpwnam_error_text("nosuchsysuser", env);
    ASSERT_NE("found", not_found);

    std::vector<dialogue_case> cases = {
        refused("low"),         // uid 99
        allowed("edge"),        // uid 100
        allowed("nouid"),       // neither uid nor system user
        refused("mapped-low"),  // system user with uid 99
        allowed("mapped-100"),  // system user with uid 100
        refused("mapped-root"), // system user root
        refused("ghost", "getpwnam failed: " + not_found + "\n"),
        allowed("uid-wins"), // has a uid: its unknown system user is not looked up
    };
    for (dialogue_case &c : cases) {
        c.env = env;
    }
    check_dialogue_cases(cases);
}

// errno is cleared right before the lookup, so the entry reports this lookup
// and nothing left over from the calls before it. The machine's own account
// sources may leave errno at 0 for an unknown name.
TEST(UidRule, UnknownSystemUserWithTheMachinesDatabase) {
    const std::string not_found = getpwnam_error_text("nosuchsysuser", {});
    ASSERT_NE("found", not_found);
    check_dialogue_cases({refused("ghost", "getpwnam failed: " + not_found + "\n")});
}

// The entry reports the lookup's own errno, and errno was 0 when the lookup
// began, even though the store left it dirty: a lookup that fails without
// setting errno then reports no stale value.
TEST(UidRule, GetpwnamFailureReportsItsOwnErrno) {
    const test_support::temp_dir dir("zpw");
    const std::string trace = dir.file("getpwnam.trace");
    std::vector<std::string> env = test_support::preload_env({GETPWNAM_FAIL_SHIM});
    env.push_back("GETPWNAM_TRACE_FILE=" + trace);
    env.push_back("GETPWNAM_FAIL_ERRNO=" + std::to_string(EIO));
    env.push_back("GETPWNAM_STALE_ERRNO=" + std::to_string(EBADF));
    dialogue_case c =
        refused("ghost", "getpwnam failed: " + std::string(std::strerror(EIO)) + "\n");
    c.env = env;
    check_dialogue_cases({c});
    EXPECT_EQ("getpwnam nosuchsysuser 0\n", test_support::read_file(trace));
}

} // namespace
} // namespace e2e
