// new_password_word_test.cc: a new password is one word. A further word on
// the newpass line is refused outright, with nothing logged or changed, while
// trailing white space alone is no further word. The user name and the old
// password are still cut at their first blank.
#include <string>

#include "e2e_harness.h"

namespace e2e {
namespace {

const std::string GPN = std::string(GREETING) + PASS_PLEASE + NEWPASS_PLEASE;
const std::string GPNC = GPN + CHANGED;
const std::string LOGIN = "user alice\npass old-secret\n";

TEST(NewPasswordWord, FurtherWordIsRefused) {
    struct word_case {
        const char *newpass_line;
        const char *set; // the password set, or null when refused
    };
    const word_case WORDS[] = {
        {"newpass two words\n", nullptr},
        {"newpass two\twords\n", nullptr}, // a tab separates words too
        {"newpass a b c d\n", nullptr},
        {"newpass secret x\r\n", nullptr},
        {"newpass secret \n", "secret"}, // trailing blanks are no word
        {"newpass secret\t \t\n", "secret"},
        {"newpass secret\v\f\n", "secret"},
        {"newpass  \tsecret\n", "secret"},         // leading white space is skipped
        {"newpass secret\r trailing\n", "secret"}, // the carriage return ends the line
    };
    std::vector<dialogue_case> cases;
    for (const word_case &w : WORDS) {
        if (w.set == nullptr) {
            cases.push_back({.what = w.newpass_line,
                             .input = LOGIN + w.newpass_line + "quit\n",
                             .replies = GPN + NEWPASS_SPACES,
                             .log = "",
                             .status = 1});
        } else {
            cases.push_back({.what = w.newpass_line,
                             .input = LOGIN + w.newpass_line + "quit\n",
                             .replies = GPNC + BYE,
                             .log = changed_log("alice"),
                             .status = 0,
                             .changed = {{"alice", w.set}}});
        }
    }
    // The length limit is tested first, on the whole line.
    cases.push_back({.what = "129 characters with a further word",
                     .input = LOGIN + "newpass two words" + std::string(112, 'x') + "\n",
                     .replies = GPN + PASS_TOO_LONG,
                     .log = "",
                     .status = 1});
    // The old password keeps its scan: the first word is taken and verified.
    cases.push_back({.what = "old password followed by a word",
                     .input = "user alice\npass old-secret ignored\nnewpass fresh\nquit\n",
                     .replies = GPNC + BYE,
                     .log = changed_log("alice"),
                     .status = 0,
                     .changed = {{"alice", "fresh"}}});
    // The refusal does not depend on the account: a low uid is not even looked at.
    cases.push_back({.what = "refused before the uid rule",
                     .input = "user low\npass low-secret\nnewpass two words\n",
                     .replies = GPN + NEWPASS_SPACES,
                     .log = "",
                     .status = 1});
    check_dialogue_cases(cases);
}

} // namespace
} // namespace e2e
