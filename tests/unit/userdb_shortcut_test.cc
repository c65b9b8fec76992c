// A change planned on an earlier look-up: it may skip scanning the file
// again only while the file is still the one the look-up read, with the
// verified hash where the look-up found it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "unit_support.h"
#include "userdb_store.h"

namespace {

const std::string NEW_HASH = "$6$rounds=1000$newsalt$NEWHASH";

// alice appears twice: the first line is the one that counts.
const std::string FILE_TEXT = "# accounts\n"
                              "alice:$6$first:1001:1001:/home/alice:\n"
                              "bob:$6$bob:1002:::\n"
                              "alice:$6$first:1001:1001:/home/alice2:\n"
                              "erin:$y$j9T$erin:7:7:/home/erin:";

std::string replaced(std::string text, const std::string &old_part, const std::string &new_part)
{
    text.replace(text.find(old_part), old_part.size(), new_part);
    return text;
}

TEST(UserdbShortcut, ChangeAfterALookUpWritesWhatAFullPassWrites)
{
    const struct {
        const char *user;
        const char *hash;
    } CASES[] = {
        {"alice", "$6$first"}, // first of two lines
        {"bob", "$6$bob"},
        {"erin", "$y$j9T$erin"}, // last line, no line feed
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.user);
        scratch_folder folder;
        const std::string path = folder.file("userdb");
        write_file(path, FILE_TEXT);
        account_record record;
        userdb_position position;
        error_text error;
        ASSERT_EQ(store_result::ok, userdb_lookup(path.c_str(), c.user, record, error, &position));
        ASSERT_TRUE(position.known);
        ASSERT_EQ(store_result::ok,
                  userdb_replace_hash(path.c_str(), c.user, c.hash, NEW_HASH, error, &position))
            << error.text;
        const std::string line_start = std::string(c.user) + ":" + c.hash;
        EXPECT_EQ(replaced(FILE_TEXT, line_start, std::string(c.user) + ":" + NEW_HASH), read_file(path));
    }
}

// A position that names alice's second line shows which way the change
// went: the shortcut changes that line, a full pass the first one.
userdb_position second_alice_line(const std::string &path)
{
    userdb_position position;
    struct stat now {};
    EXPECT_EQ(0, ::stat(path.c_str(), &now));
    position.known = true;
    position.file = now;
    position.line_offset = static_cast<off_t>(FILE_TEXT.find("\nalice", 1) + 1);
    position.hash_end = position.line_offset + static_cast<off_t>(std::strlen("alice:$6$first"));
    return position;
}

TEST(UserdbShortcut, TakenOnlyWhileTheFileIsTheSameFile)
{
    scratch_folder folder;
    const std::string path = folder.file("userdb");
    const std::string second_changed =
        FILE_TEXT.substr(0, FILE_TEXT.find("\nalice", 1) + 1)
        + replaced(FILE_TEXT.substr(FILE_TEXT.find("\nalice", 1) + 1), "$6$first", NEW_HASH);
    const std::string first_changed = replaced(FILE_TEXT, "$6$first", NEW_HASH);
    error_text error;

    write_file(path, FILE_TEXT);
    userdb_position position = second_alice_line(path);
    ASSERT_EQ(store_result::ok,
              userdb_replace_hash(path.c_str(), "alice", "$6$first", NEW_HASH, error, &position));
    EXPECT_EQ(second_changed, read_file(path)) << "the unchanged file was scanned again";

    // Same bytes, but a new file in its place (as every change makes one).
    write_file(path, FILE_TEXT);
    position = second_alice_line(path);
    write_file(folder.file("replacement"), FILE_TEXT);
    ASSERT_EQ(0, ::rename(folder.file("replacement").c_str(), path.c_str()));
    ASSERT_EQ(store_result::ok,
              userdb_replace_hash(path.c_str(), "alice", "$6$first", NEW_HASH, error, &position));
    EXPECT_EQ(first_changed, read_file(path)) << "a replaced file was trusted";
}

TEST(UserdbShortcut, AHashChangedInPlaceIsNeverOverwritten)
{
    // Written into the same file at once, possibly within the same tick of
    // the file system's clock, so that its times may not show it.
    scratch_folder folder;
    const std::string path = folder.file("userdb");
    write_file(path, FILE_TEXT);
    account_record record;
    userdb_position position;
    error_text error;
    ASSERT_EQ(store_result::ok, userdb_lookup(path.c_str(), "bob", record, error, &position));
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string other = "$6$BOB"; // same length as bob's hash
    ASSERT_EQ(static_cast<ssize_t>(other.size()),
              ::pwrite(fd, other.data(), other.size(), static_cast<off_t>(FILE_TEXT.find("$6$bob"))));
    ::close(fd);
    const std::string meanwhile = replaced(FILE_TEXT, "$6$bob", other);

    EXPECT_EQ(store_result::failed,
              userdb_replace_hash(path.c_str(), "bob", "$6$bob", NEW_HASH, error, &position));
    EXPECT_NE(nullptr, std::strstr(error.text, "hash of bob changed meanwhile")) << error.text;
    EXPECT_EQ(meanwhile, read_file(path));
}

} // namespace
