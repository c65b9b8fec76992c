// dialogue_test.cc: every reply and every refusal of the password-change
// dialogue, through the real program and a real store, with its log line,
// exit status, pause and effect on the store.
#include <string>

#include "e2e_harness.h"

namespace e2e {
namespace {

const std::string G = GREETING;
const std::string GP = G + PASS_PLEASE;
const std::string GPN = GP + NEWPASS_PLEASE;
const std::string GPNC = GPN + CHANGED;

TEST(Dialogue, EveryReplyAndRefusal) {
    check_dialogue_cases({
        {.what = "a whole change",
         .input = change_lines("alice", "new-secret") + "quit\n",
         .replies = GPNC + BYE,
         .log = changed_log("alice"),
         .status = 0,
         .changed = {{"alice", "new-secret"}}},
        {.what = "user line over the limit",
         .input = "user " + std::string(60, 'a') + "\n",
         .replies = G + USER_TOO_LONG,
         .log = "",
         .status = 1},
        {.what = "no user keyword",
         .input = "hello\n",
         .replies = G + USER_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "keyword without a name",
         .input = "user\n",
         .replies = G + USER_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "keyword and blanks only",
         .input = "user   \t \n",
         .replies = G + USER_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "password line over the limit",
         .input = "user alice\npass " + std::string(124, 'p') + "\n",
         .replies = GP + PASS_TOO_LONG,
         .log = "",
         .status = 1},
        {.what = "no pass keyword",
         .input = "user alice\nold-secret\n",
         .replies = GP + PASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "pass keyword alone",
         .input = "user alice\npass\n",
         .replies = GP + PASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "wrong old password",
         .input = "user alice\npass wrong-secret\n",
         .replies = GP + WRONG_OLD,
         .log = wrong_old_log("alice"),
         .status = 1,
         .pause = true},
        {.what = "unknown user, same answer",
         .input = "user nobody\npass old-secret\n",
         .replies = GP + WRONG_OLD,
         .log = wrong_old_log("nobody"),
         .status = 1,
         .pause = true},
        {.what = "the second line with a name is not used",
         .input = "user alice\npass second-secret\n",
         .replies = GP + WRONG_OLD,
         .log = wrong_old_log("alice"),
         .status = 1,
         .pause = true},
        {.what = "store unusable at login: no pause",
         .input = "user alice\npass old-secret\n",
         .replies = GP + SERVER_ERROR,
         .log = failed_log("alice"),
         .status = 1,
         .failure = store_failure::missing_config},
        {.what = "new password line over the limit",
         .input = "user alice\npass old-secret\nnewpass " + std::string(121, 'n') + "\n",
         .replies = GPN + PASS_TOO_LONG,
         .log = "",
         .status = 1},
        {.what = "no newpass keyword",
         .input = "user alice\npass old-secret\nnew-secret\n",
         .replies = GPN + NEWPASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "newpass keyword alone",
         .input = "user alice\npass old-secret\nnewpass \n",
         .replies = GPN + NEWPASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "uid below the minimum",
         .input = change_lines("low", "new-secret") + "quit\n",
         .replies = GPN + RESTRICTED,
         .log = restricted_log("low"),
         .status = 1},
        {.what = "change fails: lock file is a folder",
         .input = change_lines("alice", "new-secret") + "quit\n",
         .replies = GPN + SERVER_ERROR,
         .log = failed_log("alice"),
         .status = 1,
         .pause = true,
         .failure = store_failure::lock_is_folder},
        {.what = "change fails: the new file cannot be written",
         .input = change_lines("alice", "new-secret") + "quit\n",
         .replies = GPN + SERVER_ERROR,
         .log = failed_log("alice"),
         .status = 1,
         .pause = true,
         .failure = store_failure::file_size_limit},
        {.what = "no quit: the change stands",
         .input = change_lines("alice", "new-secret") + "bye\n",
         .replies = GPNC + QUIT_REQUIRED,
         .log = changed_log("alice"),
         .status = 1,
         .changed = {{"alice", "new-secret"}}},
    });
}

// End of input before a line is an empty line: the missing field of the step.
TEST(Dialogue, EndOfInputAtEachStep) {
    check_dialogue_cases({
        {.what = "before the user line",
         .input = "",
         .replies = G + USER_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "before the password line",
         .input = "user alice\n",
         .replies = GP + PASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "before the new password line",
         .input = "user alice\npass old-secret\n",
         .replies = GPN + NEWPASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "before quit: the change stands",
         .input = change_lines("alice", "new-secret"),
         .replies = GPNC + QUIT_REQUIRED,
         .log = changed_log("alice"),
         .status = 1,
         .changed = {{"alice", "new-secret"}}},
        {.what = "in the middle of the user line",
         .input = "user alice",
         .replies = GP + PASS_REQUIRED,
         .log = "",
         .status = 1},
    });
}

// Every ending ends the process by itself, while the client still holds the
// connection open: nothing waits for the client to hang up.
TEST(Dialogue, EndsWithoutWaitingForTheClient) {
    using test_support::input_end;
    check_dialogue_cases({
        {.what = "refused user line",
         .input = "hello\n",
         .replies = G + USER_REQUIRED,
         .log = "",
         .status = 1,
         .end = input_end::keep_open},
        {.what = "wrong old password",
         .input = "user alice\npass wrong\n",
         .replies = GP + WRONG_OLD,
         .log = wrong_old_log("alice"),
         .status = 1,
         .pause = true,
         .end = input_end::keep_open},
        {.what = "restricted uid",
         .input = change_lines("low", "x"),
         .replies = GPN + RESTRICTED,
         .log = restricted_log("low"),
         .status = 1,
         .end = input_end::keep_open},
        {.what = "bye",
         .input = change_lines("alice", "new-secret") + "quit\n",
         .replies = GPNC + BYE,
         .log = changed_log("alice"),
         .status = 0,
         .changed = {{"alice", "new-secret"}},
         .end = input_end::keep_open},
        {.what = "quit required",
         .input = change_lines("alice", "new-secret") + "nope\n",
         .replies = GPNC + QUIT_REQUIRED,
         .log = changed_log("alice"),
         .status = 1,
         .changed = {{"alice", "new-secret"}},
         .end = input_end::keep_open},
    });
}

// Only the first four characters of the last line count.
TEST(Dialogue, QuitVariants) {
    struct quit_case {
        const char *line;
        bool bye;
    };
    const quit_case QUITS[] = {
        {"quit\n", true},     {"QUIT\r\n", true}, // the keyword is folded
        {"Quit\n", true},     {"quit please\n", true},
        {"quitting\n", true}, // four characters are enough
        {"quit", true},       // end of input right after it, no line feed
        {"qui\n", false},     {"\n", false},
        {" quit\n", false},  // a leading blank: no fold, no match
        {"q\ruit\n", false}, // a carriage return cuts the line
    };
    std::vector<dialogue_case> cases;
    for (const quit_case &q : QUITS) {
        cases.push_back({.what = q.line,
                         .input = change_lines("alice", "new-secret") + q.line,
                         .replies = GPNC + (q.bye ? BYE : QUIT_REQUIRED),
                         .log = changed_log("alice"),
                         .status = q.bye ? 0 : 1,
                         .changed = {{"alice", "new-secret"}}});
    }
    check_dialogue_cases(cases);
}

} // namespace
} // namespace e2e
