// full_disk_test.cc: a change on a file system with no room left, and under
// a file-size limit below the store's size, whether SIGXFSZ is ignored or
// left to end the process: refused and answered, the store as it was, no
// temporary file left, and the next change goes through.
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "fault_harness.h"
#include "temp_dir.h"

namespace fault {
namespace {

constexpr tool BOTH[] = {tool::program, tool::admin};

// Runs the command given after S and STAGE with a small, full tmpfs mounted
// on the store's folder S, holding the files staged in STAGE. Afterwards
// STAGE holds what the tmpfs held (less the filler), since the tmpfs goes
// with the namespace. Exit 90-92: the disk could not be set up.
constexpr const char *FULL_DISK_SCRIPT =
    "S=\"$1\"; STAGE=\"$2\"; shift 2\n"
    "mount -t tmpfs -o size=256k,mode=0755 zembrovald-full \"$S\" || exit 90\n"
    "cp -a \"$STAGE/.\" \"$S/\" || exit 91\n"
    "yes filling > \"$S/filler\" 2>/dev/null\n"
    "\"$@\"; status=$?\n"
    "rm -f \"$S/filler\"\n"
    "rm -rf \"$STAGE\"/* \"$STAGE\"/.[!.]*\n"
    "cp -a \"$S/.\" \"$STAGE/\" || exit 92\n"
    "exit $status\n";

TEST(FullDisk, ChangeIsRefusedAndTheStoreKept) {
    for (const tool who : BOTH) {
        SCOPED_TRACE(name_of(who));
        const auto store = make_store(false);
        test_support::syslog_capture log;
        if (!log.unavailable().empty()) {
            GTEST_SKIP() << log.unavailable();
        }
        test_support::temp_dir stage("zfd");
        for (const std::string &name : store->dir().entries()) {
            test_support::write_file(stage.file(name),
                                     test_support::read_file(store->dir().file(name)));
        }
        test_support::run_options run = change_run(who, *store, nullptr);
        std::vector<std::string> inner = {"/bin/sh",           "-c",        FULL_DISK_SCRIPT, "sh",
                                          store->dir().path(), stage.path()};
        inner.insert(inner.end(), run.argv.begin(), run.argv.end());
        run.argv = log.wrap(inner);
        const test_support::run_result r = test_support::run_process(run);
        ASSERT_FALSE(r.exited && r.exit_status >= 90) << "no full disk: " << r.err;
        // What the full disk held after the change takes the store's place.
        for (const std::string &name : stage.entries()) {
            test_support::write_file(store->dir().file(name),
                                     test_support::read_file(stage.file(name)));
        }
        expect_outcome(who, outcome::refused_at_change, "cannot write", ENOSPC, r, log.take(),
                       *store);
        expect_next_change_works(who, *store);
    }
}

TEST(FileSizeLimit, ChangeIsRefusedWhetherOrNotSigxfszIsIgnored) {
    for (const bool ignored : {true, false}) {
        for (const tool who : BOTH) {
            SCOPED_TRACE(std::string(name_of(who)) +
                         (ignored ? ", SIGXFSZ ignored" : ", SIGXFSZ default"));
            const auto store = make_store(false);
            test_support::syslog_capture log;
            if (!log.unavailable().empty()) {
                GTEST_SKIP() << log.unavailable();
            }
            // Half the store's size: the new file cannot be written whole.
            const rlim_t limit = store->original().size() / 2;
            test_support::run_options run = change_run(who, *store, &log);
            run.child_setup = [limit, ignored] {
                const rlimit below{limit, limit};
                setrlimit(RLIMIT_FSIZE, &below);
                std::signal(SIGXFSZ, ignored ? SIG_IGN : SIG_DFL);
            };
            const test_support::run_result r = test_support::run_process(run);
            expect_outcome(who, outcome::refused_at_change, "cannot write", EFBIG, r, log.take(),
                           *store);
            expect_next_change_works(who, *store);
        }
    }
}

} // namespace
} // namespace fault
