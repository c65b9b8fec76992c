// userdb_rewrite.h: the one locked pass over the account file that every
// change goes through. An edit looks at the lines in order and names one
// splice (bytes replaced by others, or text appended at the end); the pass
// writes a copy with only that splice applied and puts it in the file's
// place. Every other byte stays as it was.
#ifndef QUELMARAUTH_USERDB_REWRITE_H
#define QUELMARAUTH_USERDB_REWRITE_H

#include <sys/stat.h>
#include <sys/types.h>

#include <string_view>

#include "diagnostic.h"
#include "store.h"
#include "userdb_scan.h"

// The bytes [offset, end) of the file are replaced by text (offset == end
// inserts). At the end of the file only text counts: it is appended.
struct userdb_splice {
    off_t offset = 0;
    off_t end = 0;
    std::string_view text;
};

enum class edit_step {
    next,   // not this line: go on
    change, // apply the splice
    denied, // refused (reason in error): the file stays as it is
    failed  // the store cannot do it (reason in error): the file stays as it is
};

// A splice whose place is already known from an earlier read of the file.
// It is used only while the file is still that very file (same inode, size
// and times) and the expected bytes still stand at check_offset; otherwise
// the pass scans the file as usual.
struct userdb_shortcut {
    struct stat file {};
    off_t check_offset = 0;
    std::string_view expected;
    userdb_splice splice;
};

struct userdb_edit {
    // Sees each line in order until it answers anything but next.
    edit_step (*line)(void *context, const scanned_line &line, userdb_splice &splice,
                      error_text &error) = nullptr;
    // Called at the end when no line was changed. ends_with_line_feed is
    // false only for a file whose last line lacks its line feed.
    edit_step (*end)(void *context, bool ends_with_line_feed, userdb_splice &splice,
                     error_text &error) = nullptr;
    void *context = nullptr;
    // How long to wait for another change of the file; negative: as long as
    // it takes.
    int lock_wait_seconds = -1;
    // Optional: where the change goes, if the file has not changed since.
    const userdb_shortcut *shortcut = nullptr;
};

// Under the lock on "<path>.lock": ok: changed; denied or failed: the file
// untouched, reason in error. ok with a reason in error: changed, but the
// folder could not be flushed.
store_result userdb_rewrite(const char *path, const userdb_edit &edit, error_text &error);

#endif
