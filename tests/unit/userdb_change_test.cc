// Replacing one hash in the account file: every other byte stays, and every
// failure leaves the file as it was.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "unit_support.h"
#include "userdb_line.h"
#include "userdb_store.h"

namespace {

const std::string NEW_HASH = "$6$rounds=1000$newsalt$NEWHASH";

// A file with everything a change must carry through untouched.
std::vector<std::string> fixture_lines()
{
    return {
        "# name:hash:uid:gid:home:sysuser",
        "",
        "alice:too:few",                                   // does not parse: never matches
        "alice:$6$alice1:1001:1001:/home/alice:",         // the first line that parses wins
        "alice:$6$alice2:1001:1001:/home/alice:",         // a later duplicate stays as it is
        "bob:$6$bob::::vmail\r",                           // CR makes it not parse
        "bob:$6$bob2::::vmail",
        "carol:" + std::string(USERDB_MAX_LINE, 'c') + ":::", // overlong
        "  weird line with : colons : and blanks",
        "dave:!$6$locked:5::/d:",
        "\xff\xfe binary junk",
        std::string("erin\0:$6$nul::::", 16),                // a NUL byte: never parses, kept as it is
        "erin:$y$j9T$erin:7:7:/home/erin:",               // last line, no line feed
    };
}

std::string join(const std::vector<std::string> &lines, bool final_line_feed)
{
    std::string content;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        content += lines[i];
        if (i + 1 < lines.size() || final_line_feed)
            content += '\n';
    }
    return content;
}

std::vector<std::string> temp_files(const scratch_folder &folder)
{
    std::vector<std::string> found;
    for (const std::string &name : folder_entries(folder.path())) {
        if (name.find(".tmp") != std::string::npos)
            found.push_back(name);
    }
    return found;
}

TEST(UserdbChange, ReplacesOnlyTheOneHashField)
{
    const struct {
        const char *user;
        std::size_t line;
        const char *old_hash;
    } CASES[] = {
        {"alice", 3, "$6$alice1"},
        {"bob", 6, "$6$bob2"},
        {"dave", 9, "!$6$locked"}, // the store itself does not judge the hash
        {"erin", 12, "$y$j9T$erin"},
    };
    for (bool final_line_feed : {false, true}) {
        for (const auto &c : CASES) {
            SCOPED_TRACE(std::string(c.user) + (final_line_feed ? " with final line feed" : ""));
            scratch_folder folder;
            const std::string path = folder.file("userdb");
            std::vector<std::string> lines = fixture_lines();
            write_file(path, join(lines, final_line_feed));
            error_text error;
            ASSERT_EQ(store_result::ok, userdb_replace_hash(path.c_str(), c.user, c.old_hash, NEW_HASH, error))
                << error.text;
            EXPECT_TRUE(error.empty()) << error.text;
            std::string &changed = lines[c.line];
            changed.replace(changed.find(c.old_hash), std::strlen(c.old_hash), NEW_HASH);
            EXPECT_EQ(join(lines, final_line_feed), read_file(path));
            EXPECT_TRUE(temp_files(folder).empty());
        }
    }
}

TEST(UserdbChange, ChangesInALargeFile)
{
    // Many chunks before and after the account, to cross the buffer edges.
    scratch_folder folder;
    const std::string path = folder.file("userdb");
    std::string before;
    std::string after;
    for (int i = 0; i < 20000; ++i) {
        (i < 10000 ? before : after) += "user" + std::to_string(i) + ":$6$h" + std::to_string(i) + ":1000::/home:\n";
    }
    write_file(path, before + "target:$6$old::::\n" + after);
    error_text error;
    ASSERT_EQ(store_result::ok, userdb_replace_hash(path.c_str(), "target", "$6$old", NEW_HASH, error)) << error.text;
    EXPECT_TRUE(read_file(path) == before + "target:" + NEW_HASH + "::::\n" + after);
}

TEST(UserdbChange, RefusesWhenTheFileNoLongerHoldsTheVerifiedHash)
{
    const struct {
        const char *user;
        const char *verified;
        const char *reason;
    } CASES[] = {
        {"alice", "$6$alice2", "hash of alice changed meanwhile; not changed"},
        {"alice", "$6$alice", "hash of alice changed meanwhile; not changed"}, // a prefix is not the hash
        {"alice", "$6$alice1x", "hash of alice changed meanwhile; not changed"},
        {"nobody", "$6$x", "no account nobody any more; not changed"},
        {"carol", "c", "no account carol any more; not changed"}, // overlong lines never match
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(std::string(c.user) + " " + c.verified);
        scratch_folder folder;
        const std::string path = folder.file("userdb");
        const std::string content = join(fixture_lines(), false);
        write_file(path, content);
        error_text error;
        EXPECT_EQ(store_result::failed, userdb_replace_hash(path.c_str(), c.user, c.verified, NEW_HASH, error));
        EXPECT_EQ(path + ": " + c.reason, error.text);
        EXPECT_EQ(content, read_file(path));
        EXPECT_TRUE(temp_files(folder).empty());
    }
}

TEST(UserdbChange, KeepsOwnerGroupAndMode)
{
    scratch_folder folder;
    const std::string path = folder.file("userdb");
    write_file(path, "alice:$6$a::::\n");
    const bool root = ::geteuid() == 0;
    const uid_t owner = root ? 4321 : ::geteuid();
    const gid_t group = root ? 8765 : ::getegid();
    if (root) {
        ASSERT_EQ(0, ::chown(path.c_str(), owner, group));
    }
    ASSERT_EQ(0, ::chmod(path.c_str(), 0640));
    error_text error;
    ASSERT_EQ(store_result::ok, userdb_replace_hash(path.c_str(), "alice", "$6$a", NEW_HASH, error)) << error.text;
    struct stat after;
    ASSERT_EQ(0, ::stat(path.c_str(), &after));
    EXPECT_EQ(owner, after.st_uid);
    EXPECT_EQ(group, after.st_gid);
    EXPECT_EQ(0640U, after.st_mode & 07777);
    struct stat lock;
    ASSERT_EQ(0, ::stat((path + ".lock").c_str(), &lock));
    EXPECT_EQ(0600U, lock.st_mode & 07777);
    EXPECT_EQ(owner, lock.st_uid) << "a lock file made by root belongs to the store's owner";
}

TEST(UserdbChange, RemovesTempFilesOfDeadProcesses)
{
    scratch_folder folder;
    const std::string path = folder.file("userdb");
    write_file(path, "alice:$6$a::::\n");
    const char *const stale[] = {".userdb.tmpAbC123", ".userdb.tmp______"};
    const char *const kept[] = {".userdb.tmpAbC12", ".userdb.tmpAbC1234", ".other.tmpAbC123", "userdb.tmpAbC123",
                                ".userdb.lock"};
    for (const char *name : stale)
        write_file(folder.file(name), "half a file");
    for (const char *name : kept)
        write_file(folder.file(name), "not ours");
    error_text error;
    ASSERT_EQ(store_result::ok, userdb_replace_hash(path.c_str(), "alice", "$6$a", NEW_HASH, error)) << error.text;
    for (const char *name : stale)
        EXPECT_FALSE(file_exists(folder.file(name))) << name;
    for (const char *name : kept)
        EXPECT_TRUE(file_exists(folder.file(name))) << name;
}

TEST(UserdbChange, FailuresLeaveTheFileAlone)
{
    scratch_folder folder;
    const std::string path = folder.file("userdb");
    write_file(folder.file("real"), "alice:$6$a::::\n");
    ASSERT_EQ(0, ::symlink("real", path.c_str()));
    error_text error;
    EXPECT_EQ(store_result::failed, userdb_replace_hash(path.c_str(), "alice", "$6$a", NEW_HASH, error));
    EXPECT_EQ(path + ": not a regular file; not changed", error.text);
    EXPECT_EQ("alice:$6$a::::\n", read_file(path));

    for (const char *bad_hash : {"", "$6$a:b", "$6$a\nb", "$6$ a"}) {
        SCOPED_TRACE(bad_hash);
        const std::string real = folder.file("real");
        error = error_text{};
        EXPECT_EQ(store_result::failed, userdb_replace_hash(real.c_str(), "alice", "$6$a", bad_hash, error));
        EXPECT_EQ(real + ": refusing a new hash that is empty or holds ':' or blanks; not changed", error.text);
        EXPECT_EQ("alice:$6$a::::\n", read_file(real));
    }

    error = error_text{};
    const std::string absent = folder.file("absent");
    EXPECT_EQ(store_result::failed, userdb_replace_hash(absent.c_str(), "alice", "$6$a", NEW_HASH, error));
    EXPECT_EQ(absent + ": cannot open: No such file or directory", error.text);
    EXPECT_FALSE(file_exists(absent));
}

// A full disk, made real with a file size limit in a child process.
TEST(UserdbChange, WriteFailureKeepsTheOldFile)
{
    scratch_folder folder;
    const std::string path = folder.file("userdb");
    std::string content;
    for (int i = 0; i < 200; ++i)
        content += "user" + std::to_string(i) + ":$6$hash" + std::to_string(i) + "::::\n";
    write_file(path, content);
    const struct {
        const char *user;
        const char *hash;
    } CASES[] = {{"user0", "$6$hash0"}, {"user199", "$6$hash199"}};
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.user);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1000, 1000};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            error_text error;
            const store_result result = userdb_replace_hash(path.c_str(), c.user, c.hash, NEW_HASH, error);
            const bool named = std::strstr(error.text, "cannot write") != nullptr
                               && std::strstr(error.text, std::strerror(EFBIG)) != nullptr;
            ::_exit(result == store_result::failed && named ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(child, ::waitpid(child, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(content, read_file(path));
        EXPECT_TRUE(temp_files(folder).empty());
    }
}

} // namespace
