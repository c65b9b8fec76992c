// Many processes changing one account file at once, and processes killed in
// the middle of a change.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "quelmarauth.h"
#include "unit_support.h"
#include "userdb_line.h"

namespace {

inline constexpr int CHANGERS = 24;

std::string account_name(int i)
{
    return "user" + std::to_string(i);
}

std::string password_of(int i, int generation)
{
    return "pw-" + std::to_string(i) + "-" + std::to_string(generation);
}

// Checks the file line by line against the original: comment lines exactly,
// account lines exactly but for a hash that must verify expected(i).
template <typename expected_passwords>
void expect_intact(const std::vector<std::string> &original, const std::string &content,
                   expected_passwords expected)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        ASSERT_NE(std::string::npos, end) << "every line of the fixture ends in a line feed";
        lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(original.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        userdb_fields before;
        userdb_fields after;
        if (!parse_userdb_line(original[i], before)) {
            EXPECT_EQ(original[i], lines[i]);
            continue;
        }
        ASSERT_TRUE(parse_userdb_line(lines[i], after)) << lines[i];
        const int index = std::atoi(std::string(before.name.substr(4)).c_str());
        EXPECT_EQ(original[i].substr(0, before.hash_offset), lines[i].substr(0, after.hash_offset));
        EXPECT_EQ(original[i].substr(before.hash_offset + before.hash.size()),
                  lines[i].substr(after.hash_offset + after.hash.size()));
        bool any = false;
        for (const std::string &password : expected(index))
            any = any || verifies(password.c_str(), std::string(after.hash));
        EXPECT_TRUE(any) << lines[i];
    }
}

struct store_fixture {
    scratch_folder folder;
    std::vector<std::string> lines;
    scoped_env config{"QUELMARAUTH_CONFIG", folder.file("quelmarauth.conf")};

    store_fixture()
    {
        write_file(folder.file("quelmarauth.conf"), "[*]\nhash = sha512crypt\ncost = 1000\n");
        lines.push_back("# shared by everyone");
        for (int i = 0; i < CHANGERS; ++i) {
            lines.push_back(account_name(i) + ":" + hash_of(password_of(i, 0).c_str()) + ":" + std::to_string(1000 + i)
                            + ":100:/home/" + account_name(i) + ":");
            lines.push_back("# after " + account_name(i));
        }
        std::string content;
        for (const std::string &line : lines)
            content += line + "\n";
        write_file(folder.file("userdb"), content);
    }
};

TEST(UserdbConcurrency, EveryConcurrentChangeIsKept)
{
    store_fixture store;
    std::vector<pid_t> children;
    for (int i = 0; i < CHANGERS; ++i) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const std::string user = account_name(i);
            const int result = auth_passwd("login", user.c_str(), password_of(i, 0).c_str(),
                                           password_of(i, 1).c_str());
            ::_exit(result == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    // Meanwhile a reader must only ever see a whole file, old or new.
    std::size_t finished = 0;
    int reads = 0;
    while (finished < children.size()) {
        const std::string content = read_file(store.folder.file("userdb"));
        ++reads;
        std::size_t line_count = 0;
        for (char c : content)
            line_count += c == '\n' ? 1U : 0U;
        ASSERT_EQ(store.lines.size(), line_count) << "after " << reads << " reads";
        ASSERT_EQ('\n', content.back());
        for (pid_t &child : children) {
            int status = 0;
            if (child > 0 && ::waitpid(child, &status, WNOHANG) == child) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
                child = 0;
                ++finished;
            }
        }
    }
    expect_intact(store.lines, read_file(store.folder.file("userdb")),
                  [](int i) { return std::vector<std::string>{password_of(i, 1)}; });
}

TEST(UserdbConcurrency, KilledChangeLeavesOldOrNewFile)
{
    store_fixture store;
    std::mt19937 random(static_cast<unsigned>(::getpid()));
    std::uniform_int_distribution<long> pause_ns(0, 8'000'000);
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE(round);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Flip user0's password back and forth until killed.
            for (int generation = 0;; generation = 1 - generation)
                auth_passwd("login", "user0", password_of(0, generation).c_str(),
                            password_of(0, 1 - generation).c_str());
        }
        const timespec pause{0, pause_ns(random)};
        ::nanosleep(&pause, nullptr);
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(child, ::waitpid(child, &status, 0));
        expect_intact(store.lines, read_file(store.folder.file("userdb")), [](int i) {
            return i == 0 ? std::vector<std::string>{password_of(0, 0), password_of(0, 1)}
                          : std::vector<std::string>{password_of(i, 0)};
        });
        if (testing::Test::HasFailure())
            break;
    }
    // The next change clears what killed processes left behind.
    const int to_zero = auth_passwd("login", "user0", password_of(0, 1).c_str(), password_of(0, 0).c_str());
    const int to_one = auth_passwd("login", "user0", password_of(0, 0).c_str(), password_of(0, 1).c_str());
    EXPECT_TRUE(to_zero == 0 || to_one == 0);
    for (const std::string &name : folder_entries(store.folder.path()))
        EXPECT_EQ(std::string::npos, name.find(".tmp")) << name;
}

} // namespace
