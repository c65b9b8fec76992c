// Reading the account file in chunks, and looking an account up in it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "unique_fd.h"
#include "unit_support.h"
#include "userdb_line.h"
#include "userdb_scan.h"
#include "userdb_store.h"

namespace {

struct scan_result {
    std::vector<std::string> lines; // "<overlong>" for overlong ones
    std::vector<off_t> offsets;
    std::string sunk;
    bool sink_in_order = true;
};

bool collect(void *context, const char *data, std::size_t size, off_t offset)
{
    auto &result = *static_cast<scan_result *>(context);
    if (offset != static_cast<off_t>(result.sunk.size()))
        result.sink_in_order = false;
    result.sunk.append(data, size);
    return true;
}

scan_result scan(const std::string &path)
{
    scan_result result;
    unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_TRUE(fd.valid());
    userdb_scanner scanner(fd.get(), byte_sink{collect, &result});
    scanned_line line;
    for (;;) {
        const userdb_scanner::step step = scanner.next(line);
        if (step != userdb_scanner::step::line) {
            EXPECT_EQ(userdb_scanner::step::end, step);
            break;
        }
        result.lines.push_back(line.overlong ? "<overlong>" : std::string(line.text));
        result.offsets.push_back(line.offset);
    }
    EXPECT_TRUE(scanner.release_all());
    return result;
}

// Lines cut into pieces at every place where the buffer boundary can fall.
TEST(UserdbScan, SplitsLinesAcrossChunksAndKeepsEveryByte)
{
    scratch_folder folder;
    const std::string path = folder.file("userdb");
    struct layout {
        const char *what;
        std::string content;
    };
    const std::string filler(SCAN_BUFFER_SIZE - 3, 'f');
    const std::string overlong(USERDB_MAX_LINE + 1, 'o');
    const std::string huge(3 * SCAN_BUFFER_SIZE + 17, 'h');
    const layout LAYOUTS[] = {
        {"empty file", ""},
        {"one line without line feed", "alice:h::::"},
        {"line feed only", "\n"},
        {"line straddles the buffer end", filler.substr(0, 100) + "\n" + filler + "\nalice:h::::\n"},
        {"overlong line, then a short one", overlong + "\nbob:h::::\n"},
        {"line at the exact limit", std::string(USERDB_MAX_LINE, 'l') + "\nx"},
        {"huge line spanning chunks, no final line feed", "a\n" + huge + "\nb\n" + huge},
        {"blank lines", "\n\n\nc\n\n"},
    };
    for (const layout &c : LAYOUTS) {
        SCOPED_TRACE(c.what);
        write_file(path, c.content);
        const scan_result result = scan(path);
        EXPECT_EQ(c.content, result.sunk);
        EXPECT_TRUE(result.sink_in_order);
        // Rebuild the expected lines by hand.
        std::vector<std::string> expected;
        std::vector<off_t> offsets;
        std::size_t start = 0;
        while (start < c.content.size()) {
            std::size_t end = c.content.find('\n', start);
            if (end == std::string::npos)
                end = c.content.size();
            const std::string text = c.content.substr(start, end - start);
            expected.push_back(text.size() > USERDB_MAX_LINE ? "<overlong>" : text);
            offsets.push_back(static_cast<off_t>(start));
            start = end + 1;
        }
        EXPECT_EQ(expected, result.lines);
        EXPECT_EQ(offsets, result.offsets);
    }
}

// release_all in the middle of a scan hands out each byte once all the same.
TEST(UserdbScan, ReleasingEarlyNeverRepeatsBytes)
{
    scratch_folder folder;
    const std::string path = folder.file("userdb");
    std::string content;
    for (int i = 0; i < 5000; ++i)
        content += "line" + std::to_string(i) + ":x::::\n";
    write_file(path, content);
    scan_result result;
    unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    userdb_scanner scanner(fd.get(), byte_sink{collect, &result});
    scanned_line line;
    int count = 0;
    while (scanner.next(line) == userdb_scanner::step::line) {
        if (++count % 1000 == 0) {
            ASSERT_TRUE(scanner.release_all());
        }
    }
    ASSERT_TRUE(scanner.release_all());
    EXPECT_EQ(5000, count);
    EXPECT_TRUE(result.sink_in_order);
    EXPECT_TRUE(content == result.sunk);
}

TEST(UserdbLookup, FindsTheFirstLineThatParses)
{
    scratch_folder folder;
    const std::string path = folder.file("userdb");
    write_file(path, "# alice:commented::::\n"
                     "alice:too:few\n"                                      // does not parse: skipped
                     "alice:" + std::string(USERDB_MAX_LINE, 'x') + "::::\n" // overlong: skipped
                     "alice:$6$first:1001:1002:/home/alice:\n"
                     "alice:$6$second:1::/x:y\n"
                     "bob:$6$b::::vmail");
    const struct {
        const char *user;
        store_result result;
        const char *hash;
    } CASES[] = {
        {"alice", store_result::ok, "$6$first"},
        {"bob", store_result::ok, "$6$b"}, // last line without a line feed
        {"Alice", store_result::denied, nullptr}, // names are case-sensitive
        {"ali", store_result::denied, nullptr},  // a prefix is not the name
        {"alice:$6$first", store_result::denied, nullptr}, // never matched across a ':'
        {"", store_result::denied, nullptr},
        {"#", store_result::denied, nullptr},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.user);
        account_record record;
        error_text error;
        EXPECT_EQ(c.result, userdb_lookup(path.c_str(), c.user, record, error));
        EXPECT_TRUE(error.empty()) << error.text;
        if (c.hash != nullptr) {
            EXPECT_EQ(c.hash, record.hash.view());
        }
    }
    account_record alice;
    error_text error;
    ASSERT_EQ(store_result::ok, userdb_lookup(path.c_str(), "alice", alice, error));
    EXPECT_EQ("alice", alice.name);
    EXPECT_TRUE(alice.has_uid);
    EXPECT_EQ(1001U, alice.uid);
    EXPECT_EQ(1002U, alice.gid);
    EXPECT_EQ("/home/alice", alice.home);
    EXPECT_EQ("", alice.sysuser);
}

TEST(UserdbLookup, AnUnreadableFileIsAFailureNamingIt)
{
    scratch_folder folder;
    const struct {
        const char *what;
        std::string path;
        const char *reason;
    } CASES[] = {
        {"missing", folder.file("absent"), "cannot open: No such file or directory"},
        {"a folder", folder.path(), "not a regular file"},
        {"a device", "/dev/zero", "not a regular file"},
        {"a FIFO", folder.file("fifo"), "not a regular file"},
    };
    ASSERT_EQ(0, ::mkfifo(folder.file("fifo").c_str(), 0600));
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        account_record record;
        error_text error;
        EXPECT_EQ(store_result::failed, userdb_lookup(c.path.c_str(), "alice", record, error));
        EXPECT_EQ(c.path + ": " + c.reason, error.text);
    }
}

} // namespace
