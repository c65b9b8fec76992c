// bad_input_test.cc: a bounded sweep of hostile client input (random bytes,
// NULs, over-long lines, binary user names) with a fixed seed. Whatever comes
// in, the program answers only with its own replies, ends with 0 or 1 and
// never by a signal or a hang, and the store changes only after a whole valid
// exchange.
#include <random>
#include <string>

#include "e2e_harness.h"

namespace e2e {
namespace {

constexpr unsigned SEED = 20261210;
constexpr int RUNS = 64;
constexpr int MAX_BINARY_NAMES = 8; // each costs the 3-second pause

class input_maker {
  public:
    explicit input_maker(unsigned seed) : random_(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    std::string bytes(int length, bool with_line_ends = true) {
        std::string out;
        for (int i = 0; i < length; ++i) {
            char c = static_cast<char>(below(256));
            if (!with_line_ends && (c == '\n' || c == '\r')) {
                c = '\x01';
            }
            out += c;
        }
        return out;
    }

    std::string line_end() {
        static const char *const ENDS[] = {"\n", "\r\n", "\r", "", "\n\n"};
        return ENDS[below(5)];
    }

    std::string keyword() {
        static const char *const WORDS[] = {"user ",  "pass ",   "newpass ", "quit", "USER",
                                            "PASS\t", "NEWPASS", "",         " ",    "\x00user "};
        return WORDS[below(10)];
    }

    std::string make(int kind) {
        switch (kind) {
        case 0: // noise
            return bytes(below(3000));
        case 1: { // lines of keywords and noise
            std::string out;
            for (int lines = below(6); lines >= 0; --lines) {
                out += keyword() + bytes(below(80), false) + line_end();
            }
            return out;
        }
        case 2: // a valid login, then a hostile new password and ending
            return "user alice\npass old-secret\nnewpass " + bytes(below(140), false) + line_end() +
                   bytes(below(20));
        case 3: // over-long lines in the middle of a valid exchange
            return "user alice\n" + std::string(static_cast<std::size_t>(1000 + below(4000)), 'p') +
                   "\npass old-secret\n";
        default: // a binary user name: reaches the store's lookup
            return "user " + bytes(1 + below(50), false) + "\npass old-secret\nnewpass x\nquit\n";
        }
    }

  private:
    std::mt19937 random_;
};

// Output made only of the program's own replies, greeting first.
bool only_known_replies(std::string out) {
    static const char *const REPLIES[] = {
        GREETING,      PASS_PLEASE,      NEWPASS_PLEASE, CHANGED,       BYE,
        USER_TOO_LONG, USER_REQUIRED,    PASS_TOO_LONG,  PASS_REQUIRED, WRONG_OLD,
        SERVER_ERROR,  NEWPASS_REQUIRED, NEWPASS_SPACES, RESTRICTED,    QUIT_REQUIRED};
    if (out.rfind(GREETING, 0) != 0) {
        return false;
    }
    while (!out.empty()) {
        bool matched = false;
        for (const char *reply : REPLIES) {
            if (out.rfind(reply, 0) == 0) {
                out.erase(0, std::string(reply).size());
                matched = true;
                break;
            }
        }
        if (!matched) {
            return false;
        }
    }
    return true;
}

TEST(BadInput, RandomSweepWithFixedSeed) {
    input_maker maker(SEED);
    std::vector<std::string> inputs;
    int binary_names = 0;
    for (int i = 0; i < RUNS; ++i) {
        int kind = maker.below(5);
        if (kind == 4 && ++binary_names > MAX_BINARY_NAMES) {
            kind = 0;
        }
        inputs.push_back(maker.make(kind));
    }
    std::vector<std::unique_ptr<store_fixture>> stores;
    std::vector<run_options> runs;
    for (const std::string &input : inputs) {
        stores.push_back(std::make_unique<store_fixture>(standard_accounts()));
        runs.push_back(program_run(*stores.back(), input));
    }
    const std::vector<run_result> results = test_support::run_processes(runs);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE("run " + std::to_string(i) + ", input " + testing::PrintToString(inputs[i]));
        const run_result &r = results[i];
        ASSERT_TRUE(r.exited) << r.describe_end();
        EXPECT_TRUE(r.exit_status == 0 || r.exit_status == 1) << r.exit_status;
        EXPECT_TRUE(only_known_replies(r.out)) << testing::PrintToString(r.out);
        const bool bye =
            r.out.size() >= std::string(BYE).size() &&
            r.out.compare(r.out.size() - std::string(BYE).size(), std::string::npos, BYE) == 0;
        EXPECT_EQ(bye, r.exit_status == 0);
        if (r.out.find(CHANGED) != std::string::npos) {
            EXPECT_TRUE(stores[i]->changed_only({{"alice", ""}}));
        } else {
            EXPECT_TRUE(stores[i]->unchanged());
        }
    }
}

} // namespace
} // namespace e2e
