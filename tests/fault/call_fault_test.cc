// call_fault_test.cc: each file call of a change made to fail in turn, for
// the program and for the administration command: the change is refused (or
// goes on where the store can do without the call), everyone is told why,
// the store stays as it was, and the next change goes through.
#include <cerrno>
#include <string>
#include <vector>

#include "fault_harness.h"
#include "preload.h"
#include "temp_dir.h"

namespace fault {
namespace {

struct call_fault {
    tool who;
    const char *call; // FAULT_CALL
    const char *path; // FAULT_PATH; "FOLDER" stands for the store's folder
    int error;        // FAULT_ERRNO
    int nth;          // FAULT_NTH: the first matching call that fails
    outcome expected;
    const char *reason;  // in the store's diagnostic, beside the errno's text
    bool filler = false; // a store of a few thousand accounts
};

constexpr tool P = tool::program;
constexpr tool A = tool::admin;
constexpr const char *TEMP = "*/.userdb.tmp*";

// In the order a change makes the calls. The program's change copies the
// file around the hash in the kernel (copy_file_range) at the place its
// look-up found; the command's passes through the lines.
const std::vector<call_fault> CALL_FAULTS = {
    {P, "open", "*/quelmarauth.conf", EACCES, 1, outcome::refused_at_login,
     "quelmarauth.conf: cannot open"},
    {P, "open", "*/userdb", EIO, 1, outcome::refused_at_login, "userdb: cannot open"},
    {A, "open", "*/userdb", EIO, 1, outcome::refused_at_login, "userdb: cannot open"},
    {P, "read", "*/userdb", EIO, 1, outcome::refused_at_login, "userdb: cannot read"},
    {A, "read", "*/userdb", EIO, 1, outcome::refused_at_login, "userdb: cannot read"},
    {P, "open", "*/userdb.lock", EACCES, 1, outcome::refused_at_change, "cannot open lock file"},
    {A, "open", "*/userdb.lock", EACCES, 1, outcome::refused_at_change, "cannot open lock file"},
    {P, "flock", "*/userdb.lock", ENOLCK, 1, outcome::refused_at_change,
     "userdb.lock: cannot lock"},
    {A, "flock", "*/userdb.lock", ENOLCK, 1, outcome::refused_at_change,
     "userdb.lock: cannot lock"},
    {P, "open", "FOLDER", EMFILE, 1, outcome::refused_at_change, "cannot open folder"},
    {A, "open", "FOLDER", EMFILE, 1, outcome::refused_at_change, "cannot open folder"},
    // The look-up opened the file first; this is the open under the lock.
    {P, "open", "*/userdb", ENFILE, 2, outcome::refused_at_change, "userdb: cannot open"},
    {A, "open", "*/userdb", ENFILE, 2, outcome::refused_at_change, "userdb: cannot open"},
    {P, "mkstemp", TEMP, ENOSPC, 1, outcome::refused_at_change, "cannot create a temporary file"},
    {A, "mkstemp", TEMP, EDQUOT, 1, outcome::refused_at_change, "cannot create a temporary file"},
    {P, "fchmod", TEMP, EPERM, 1, outcome::refused_at_change,
     "cannot give the new file the old mode"},
    {A, "fchmod", TEMP, EPERM, 1, outcome::refused_at_change,
     "cannot give the new file the old mode"},
    // The place the look-up found cannot be confirmed: the change reads the
    // file through instead.
    {P, "pread", "*/userdb", EIO, 1, outcome::changed, ""},
    // The command's look-up read the file to its end (two reads); this is
    // the read under the lock.
    {A, "read", "*/userdb", EIO, 3, outcome::refused_at_change, "userdb: cannot read", true},
    {P, "copy_file_range", TEMP, EIO, 1, outcome::refused_at_change, "cannot write"},
    {A, "copy_file_range", TEMP, ENOSPC, 1, outcome::refused_at_change, "cannot write", true},
    // No copying in the kernel here (another file system): copied through a
    // buffer instead.
    {P, "copy_file_range", TEMP, EXDEV, 1, outcome::changed, "", true},
    {A, "copy_file_range", TEMP, EOPNOTSUPP, 1, outcome::changed, "", true},
    {P, "write", TEMP, ENOSPC, 1, outcome::refused_at_change, "cannot write"},
    {A, "write", TEMP, ENOSPC, 1, outcome::refused_at_change, "cannot write"},
    // Mid-file: the new hash is written, the rest of the file is not.
    {A, "write", TEMP, EDQUOT, 3, outcome::refused_at_change, "cannot write", true},
    {P, "fsync", TEMP, EIO, 1, outcome::refused_at_change, "cannot flush"},
    {A, "fsync", TEMP, EIO, 1, outcome::refused_at_change, "cannot flush"},
    // Network file systems report lost writes at the close.
    {P, "close", TEMP, EIO, 1, outcome::refused_at_change, "cannot flush"},
    {A, "close", TEMP, EDQUOT, 1, outcome::refused_at_change, "cannot flush"},
    {P, "rename", "*/userdb", EIO, 1, outcome::refused_at_change, "cannot rename"},
    {A, "rename", "*/userdb", EBUSY, 1, outcome::refused_at_change, "cannot rename"},
    // The new file is in place: only its folder's flush failed.
    {P, "fsync", "FOLDER", EIO, 1, outcome::changed_with_warning,
     "changed, but cannot flush folder"},
    {A, "fsync", "FOLDER", EIO, 1, outcome::changed_with_warning,
     "changed, but cannot flush folder"},
};

std::string describe(const call_fault &c) {
    return std::string(name_of(c.who)) + ": " + c.call + " on " + c.path + " (call " +
           std::to_string(c.nth) + " on) fails with " + std::to_string(c.error) +
           (c.filler ? ", large store" : "");
}

std::vector<std::string> fault_env(const call_fault &c, const test_support::store_fixture &store,
                                   const std::string &trace) {
    const std::string path = std::string(c.path) == "FOLDER" ? store.dir().path() : c.path;
    std::vector<std::string> env = test_support::preload_env({CALL_FAULT_SHIM});
    env.push_back(std::string("FAULT_CALL=") + c.call);
    env.push_back("FAULT_PATH=" + path);
    env.push_back("FAULT_ERRNO=" + std::to_string(c.error));
    env.push_back("FAULT_NTH=" + std::to_string(c.nth));
    env.push_back("FAULT_TRACE=" + trace);
    return env;
}

TEST(CallFault, EachFailingCallIsAnsweredAndLosesNothing) {
    struct prepared {
        std::unique_ptr<test_support::store_fixture> store;
        std::unique_ptr<test_support::syslog_capture> log;
        std::string trace;
    };
    test_support::temp_dir traces("zft");
    std::vector<prepared> all;
    std::vector<test_support::run_options> runs;
    for (std::size_t i = 0; i < CALL_FAULTS.size(); ++i) {
        const call_fault &c = CALL_FAULTS[i];
        prepared p{make_store(c.filler), std::make_unique<test_support::syslog_capture>(),
                   traces.file("trace" + std::to_string(i))};
        if (!p.log->unavailable().empty()) {
            GTEST_SKIP() << p.log->unavailable();
        }
        test_support::run_options run = change_run(c.who, *p.store, p.log.get());
        const std::vector<std::string> env = fault_env(c, *p.store, p.trace);
        run.env.insert(run.env.end(), env.begin(), env.end());
        runs.push_back(run);
        all.push_back(std::move(p));
    }
    const std::vector<test_support::run_result> results = test_support::run_processes(runs);
    for (std::size_t i = 0; i < CALL_FAULTS.size(); ++i) {
        const call_fault &c = CALL_FAULTS[i];
        SCOPED_TRACE(describe(c));
        // The fault was met, by the call meant.
        EXPECT_EQ(0U, test_support::read_file(all[i].trace).rfind(std::string(c.call) + " /", 0))
            << "the shim failed no call";
        expect_outcome(c.who, c.expected, c.reason, c.error, results[i], all[i].log->take(),
                       *all[i].store);
        expect_next_change_works(c.who, *all[i].store);
    }
}

} // namespace
} // namespace fault
