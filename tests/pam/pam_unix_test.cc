// The pam store through the real pam_unix, over a throwaway copy of /etc in
// a private mount namespace: a change as root rewrites the copy's shadow with
// a hash of the new password, a wrong old password is refused after
// pam_unix's fail delay, and a program that does not run as root is refused
// cleanly whichever unprivileged user it runs as. The machine's own shadow
// stays byte for byte as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "crypt_hash.h"
#include "pam_site.h"
#include "preload.h"
#include "private_etc.h"
#include "syslog_capture.h"

namespace pam_test {
namespace {

constexpr uid_t NOBODY = 65534;
constexpr const char *SERVICE = "zembrovald-unix";
constexpr const char *OLD_PASSWORD = "0ld-Secret.17";
constexpr const char *NEW_PASSWORD = "N3w-Secret.42";

// What a site would write for pam_unix alone; yescrypt as Debian's own
// common-password asks.
constexpr const char *UNIX_STACK = "auth required pam_unix.so\n"
                                   "account required pam_unix.so\n"
                                   "password required pam_unix.so yescrypt\n";

// The sanitizer runtime replaces crypt_r with a wrapper that calls the real
// one it found at start-up; the library opens libcrypt only when it first
// hashes, so pam_unix's crypt_r would reach a wrapper with nothing behind it.
// Loaded from the start, libcrypt is there for the wrapper to find.
std::vector<std::string> sanitizer_env()
{
#ifdef __SANITIZE_ADDRESS__
    return test_support::preload_env({"libcrypt.so.1"});
#else
    return {};
#endif
}

const std::string GP = std::string(GREETING) + PASS_PLEASE;
const std::string GPN = GP + NEWPASS_PLEASE;

std::string shadow_line_of(const std::string &shadow, const std::string &name)
{
    const std::string start = name + ":";
    for (std::size_t at = 0; at < shadow.size();) {
        const std::size_t end = shadow.find('\n', at);
        const std::string line = shadow.substr(at, end - at);
        if (line.compare(0, start.size(), start) == 0)
            return line;
        at = end == std::string::npos ? shadow.size() : end + 1;
    }
    return "";
}

std::string hash_field(const std::string &shadow_line)
{
    const std::size_t start = shadow_line.find(':') + 1;
    return shadow_line.substr(start, shadow_line.find(':', start) - start);
}

// The shadow without the account's line: what no change may touch.
std::string without_line(const std::string &shadow, const std::string &line)
{
    std::string rest = shadow;
    const std::size_t at = rest.find(line + "\n");
    if (at != std::string::npos)
        rest.erase(at, line.size() + 1);
    return rest;
}

// One copy of /etc for every case: each case changes an account of its own,
// so that a change shows up only in the line of the account it names.
TEST(PamUnix, ChangesTheShadowOfACopyOfEtc)
{
    const struct {
        const char *what;
        const char *account;
        uid_t uid;
        uid_t as_user; // 0: root
        const char *old_password;
        std::string replies;
        std::string log; // --stderr
        int status;
        const char *diagnostic; // a part of the library's entry; empty: none
    } CASES[] = {
        {"root, right old password", "zpamroot", 4241, 0, OLD_PASSWORD, GPN + CHANGED + BYE,
         "changed password for zpamroot\n", 0, ""},
        {"root, wrong old password", "zpamwrong", 4242, 0, "Wr0ng-Guess.9", GP + WRONG_OLD,
         "old password is incorrect or user not found for zpamwrong\n", 1, ""},
        // unix_chkpwd checks only the password of the user who runs it: for
        // a service user every account's check fails as unavailable.
        {"a service user", "zpamsvc", 4243, NOBODY, OLD_PASSWORD, GP + SERVER_ERROR,
         "failed to change password for user zpamsvc\n", 1,
         "pam: pam_authenticate for 'zpamsvc': Authentication service cannot retrieve "
         "authentication info"},
        // The account's own user gets past the check, but only root may
        // lock and rewrite shadow.
        {"the account's own user", "zpamself", 4244, 4244, OLD_PASSWORD, GPN + SERVER_ERROR,
         "failed to change password for user zpamself\n", 1,
         "pam: pam_chauthtok for 'zpamself': Authentication token lock busy"},
    };
    const std::string real_shadow = test_support::read_file("/etc/shadow");
    const std::string real_passwd = test_support::read_file("/etc/passwd");
    const private_etc etc;
    if (!etc.unavailable().empty())
        GTEST_SKIP() << etc.unavailable();
    const std::string old_hash = test_support::make_hash(OLD_PASSWORD);
    ASSERT_FALSE(old_hash.empty());
    for (const auto &c : CASES)
        etc.add_account(c.account, c.uid, old_hash);
    etc.add_service(SERVICE, UNIX_STACK);
    const std::string config = etc.outside("quelmarauth.conf");
    test_support::write_file(config, "[*]\nbackend = pam\n");
    chmod(config.c_str(), 0644);
    const std::string shadow_before = test_support::read_file(etc.file("shadow"));

    std::vector<std::unique_ptr<test_support::syslog_capture>> logs;
    std::vector<test_support::run_options> runs;
    for (const auto &c : CASES) {
        logs.push_back(std::make_unique<test_support::syslog_capture>());
        if (!logs.back()->unavailable().empty())
            GTEST_SKIP() << logs.back()->unavailable();
        test_support::run_options run;
        run.argv = {PROGRAM, "--stderr", "-s", SERVICE};
        run.env = sanitizer_env();
        run.env.push_back("QUELMARAUTH_CONFIG=" + config);
        run.unset_env = {"TCPREMOTEIP", "REMOTE_HOST", "REMOTE_ADDR"};
        run.input = change_input(c.account, c.old_password, NEW_PASSWORD);
        run.child_setup = etc.enter(c.as_user, logs.back()->dev_mounter());
        runs.push_back(run);
    }
    // All at once, so that the fail delays overlap; pam_unix locks shadow
    // for its one change.
    const std::vector<test_support::run_result> results = test_support::run_processes(runs);

    const std::string shadow = test_support::read_file(etc.file("shadow"));
    const std::string changed_before = shadow_line_of(shadow_before, CASES[0].account);
    const std::string changed_after = shadow_line_of(shadow, CASES[0].account);
    const std::string new_hash = hash_field(changed_after);
    EXPECT_EQ(0u, new_hash.rfind("$y$", 0)) << changed_after;
    EXPECT_TRUE(test_support::hash_matches(NEW_PASSWORD, new_hash)) << changed_after;
    EXPECT_FALSE(test_support::hash_matches(OLD_PASSWORD, new_hash)) << changed_after;
    EXPECT_EQ(without_line(shadow_before, changed_before), without_line(shadow, changed_after));
    EXPECT_FALSE(test_support::file_exists(etc.file("nshadow")));

    for (std::size_t i = 0; i < std::size(CASES); ++i) {
        const auto &c = CASES[i];
        const test_support::run_result &r = results[i];
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.replies, r.out);
        EXPECT_EQ(c.log, r.err);
        EXPECT_TRUE(r.exited) << r.describe_end();
        EXPECT_EQ(c.status, r.exit_status);
        std::string entries;
        for (const std::string &datagram : logs[i]->take())
            entries += datagram + "\n";
        if (*c.diagnostic != '\0')
            EXPECT_NE(std::string::npos, entries.find("quelmarauth: " + std::string(c.diagnostic)))
                << entries;
        else
            EXPECT_EQ(std::string::npos, entries.find("quelmarauth: ")) << entries;
        EXPECT_EQ(std::string::npos, entries.find(c.old_password)) << entries;
        EXPECT_EQ(std::string::npos, entries.find(NEW_PASSWORD)) << entries;
    }
    EXPECT_EQ(real_shadow, test_support::read_file("/etc/shadow"));
    EXPECT_EQ(real_passwd, test_support::read_file("/etc/passwd"));
}

} // namespace
} // namespace pam_test
