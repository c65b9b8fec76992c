// fault_harness.h: a change of alice's password by the real program or the
// real administration command while the file system fails under it, and the
// checks of what the client, the administrator and the system log were told
// and what became of the store.
#ifndef ZEMBROVALD_TESTS_FAULT_HARNESS_H
#define ZEMBROVALD_TESTS_FAULT_HARNESS_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "process_runner.h"
#include "store_fixture.h"
#include "syslog_capture.h"

namespace fault {

inline constexpr const char *PROGRAM = ZEMBROVALD_PROGRAM;
inline constexpr const char *ADMIN = ADMIN_PROGRAM;
inline constexpr const char *CALL_FAULT_SHIM = CALL_FAULT_SHIM_LIBRARY;

// Who changes the password.
enum class tool {
    program, // zembrovald, a whole dialogue
    admin,   // quelmarauth passwd
};

// How the change is meant to end.
enum class outcome {
    refused_at_login,     // the store failed before the new password was asked for
    refused_at_change,    // the store failed while changing
    changed_with_warning, // changed, and the store said what went wrong after it
    changed,
};

const char *name_of(tool who);

// alice and bob; with filler, a few thousand more accounts, so that the file
// is many times the size of one read or write.
std::unique_ptr<test_support::store_fixture> make_store(bool filler);

// The run of who changing alice's password to NEW_PASSWORD; with a log, its
// argv is wrapped to use the real system log (the program logs there, not to
// standard error).
test_support::run_options change_run(tool who, const test_support::store_fixture &store,
                                     const test_support::syslog_capture *log);

inline constexpr const char *NEW_PASSWORD = "fresh-secret";

// Everything a faulty run must show: the replies or messages, the status, the
// pause, the log entries naming reason (a fragment of the store's own text)
// and the errno's text, and the store as it was (or changed only in alice's
// hash).
void expect_outcome(tool who, outcome expected, const std::string &reason, int error,
                    const test_support::run_result &r, const std::vector<std::string> &datagrams,
                    const test_support::store_fixture &store);

// After the fault is gone, the same tool's next change goes through, and
// leaves nothing beside the store (stale files of a killed run included).
void expect_next_change_works(tool who, const test_support::store_fixture &store);

} // namespace fault

#endif
