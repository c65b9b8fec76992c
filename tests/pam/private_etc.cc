// private_etc.cc: the copy, its accounts and services, and the namespace a
// program enters before it starts.
#include "private_etc.h"

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "process_runner.h"

namespace pam_test {

namespace {

constexpr int SETUP_FAILED = 125;

// In the forked child: only write and _exit.
[[noreturn]] void setup_failed(const char *step)
{
    const char prefix[] = "private /etc: ";
    ssize_t ignored = write(2, prefix, sizeof prefix - 1);
    ignored = write(2, step, std::strlen(step));
    ignored = write(2, "\n", 1);
    static_cast<void>(ignored);
    _exit(SETUP_FAILED);
}

bool append(const std::string &path, const std::string &line)
{
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << line;
    out.close();
    return static_cast<bool>(out);
}

} // namespace

private_etc::private_etc()
{
    if (geteuid() != 0) {
        unavailable_ = "needs root: pam_unix changes shadow only as root, and the copy of /etc is "
                       "bound over /etc with mount";
        return;
    }
    // Programs that drop to another user reach their configuration here.
    chmod(dir_.path().c_str(), 0755);
    test_support::run_options copy;
    copy.argv = {"/bin/cp", "-a", "/etc", dir_.file("etc")};
    const test_support::run_result copied = test_support::run_process(copy);
    if (!copied.exited || copied.exit_status != 0) {
        unavailable_ = "cannot copy /etc (" + copied.describe_end() +
                       "): " + copied.err.substr(0, copied.err.find('\n'));
        return;
    }
    test_support::run_options probe;
    probe.argv = {"/bin/true"};
    probe.child_setup = enter();
    const test_support::run_result probed = test_support::run_process(probe);
    if (!probed.exited || probed.exit_status != 0)
        unavailable_ = "a private mount namespace with a bind mount over /etc is not permitted here (" +
                       probed.describe_end() + "): " + probed.err;
}

std::string private_etc::file(const std::string &name) const { return dir_.file("etc/" + name); }

void private_etc::add_account(const std::string &name, uid_t uid, const std::string &hash) const
{
    const std::string id = std::to_string(uid);
    append(file("passwd"), name + ":x:" + id + ":" + id + "::/nonexistent:/bin/sh\n");
    append(file("group"), name + ":x:" + id + ":\n");
    // Changed long ago, never expires: pam_unix's account checks pass.
    append(file("shadow"), name + ":" + hash + ":19000:0:99999:7:::\n");
}

void private_etc::add_service(const std::string &name, const std::string &lines) const
{
    test_support::write_file(file("pam.d/" + name), lines);
}

std::function<void()> private_etc::enter(uid_t as_user, std::function<bool()> extra) const
{
    return [etc = dir_.file("etc"), as_user, extra = std::move(extra)] {
        if (unshare(CLONE_NEWNS) != 0)
            setup_failed("unshare(CLONE_NEWNS) failed");
        // Nothing mounted here may reach the machine's own namespace.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            setup_failed("making / private failed");
        if (mount(etc.c_str(), "/etc", nullptr, MS_BIND | MS_REC, nullptr) != 0)
            setup_failed("the bind mount over /etc failed");
        if (extra && !extra())
            setup_failed("the caller's step failed");
        if (as_user != 0 &&
            (setgroups(0, nullptr) != 0 || setgid(as_user) != 0 || setuid(as_user) != 0))
            setup_failed("dropping to the unprivileged user failed");
    };
}

} // namespace pam_test
