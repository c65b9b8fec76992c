// framing_test.cc: line framing at its boundaries and the keyword scans, as a
// client sees them through the real program.
#include <string>

#include "e2e_harness.h"

namespace e2e {
namespace {

const std::string G = GREETING;
const std::string GP = G + PASS_PLEASE;
const std::string GPN = GP + NEWPASS_PLEASE;
const std::string GPNC = GPN + CHANGED;
const std::string PASS_LINE = "pass old-secret\n";

std::string padded(const std::string &head, std::size_t length, char pad = 'x') {
    return head + std::string(length - head.size(), pad);
}

TEST(Framing, LineLengthBoundaries) {
    const std::string long_password(120, 'L');
    check_dialogue_cases({
        {.what = "user line of 64 (trailing text counts)",
         .input = padded("user alice ", 64) + "\n",
         .replies = GP + PASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "user line of 64 ended by CR LF",
         .input = padded("user alice ", 64) + "\r\n",
         .replies = GP + PASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "user line of 65, short name",
         .input = padded("user alice ", 65) + "\n",
         .replies = G + USER_TOO_LONG,
         .log = "",
         .status = 1},
        {.what = "pass line of 128",
         .input = "user alice\n" + padded("pass old-secret ", 128) + "\n",
         .replies = GPN + NEWPASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "pass line of 129",
         .input = "user alice\n" + padded("pass old-secret ", 129) + "\n",
         .replies = GP + PASS_TOO_LONG,
         .log = "",
         .status = 1},
        {.what = "newpass line of 128: a 120-character password",
         .input = "user alice\n" + PASS_LINE + "newpass " + long_password + "\nquit\n",
         .replies = GPNC + BYE,
         .log = changed_log("alice"),
         .status = 0,
         .changed = {{"alice", long_password}}},
        {.what = "newpass line of 129 made long by trailing blanks",
         .input = "user alice\n" + PASS_LINE + padded("newpass new-secret", 129, ' ') + "\nquit\n",
         .replies = GPN + PASS_TOO_LONG,
         .log = "",
         .status = 1},
        {.what = "newpass line of 128 with trailing blanks",
         .input = "user alice\n" + PASS_LINE + padded("newpass new-secret", 128, ' ') + "\nquit\n",
         .replies = GPNC + BYE,
         .log = changed_log("alice"),
         .status = 0,
         .changed = {{"alice", "new-secret"}}},
        {.what = "a carriage return cuts the line before it is measured",
         .input = "user alice\r" + std::string(100, 'x') + "\n",
         .replies = GP + PASS_REQUIRED,
         .log = "",
         .status = 1},
        // fgets takes at most 1022 characters: a line of 1022 leaves its line
        // feed behind, read next as an empty line; a longer one leaves its
        // rest, read next as a line of its own (its own keyword folded).
        {.what = "1021 characters and the line feed: one read",
         .input = padded("user alice\r", 1021) + "\n" + PASS_LINE,
         .replies = GPN + NEWPASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "1022 characters: the line feed is the next, empty line",
         .input = padded("user alice\r", 1022) + "\n" + PASS_LINE,
         .replies = GP + PASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "a line longer than 1022: the rest is the next line",
         .input = padded("user alice\r", 1022) + "PASS old-secret\n",
         .replies = GPN + NEWPASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "a NUL ends the text the dialogue sees",
         .input = std::string("user alice\0", 11) + std::string(100, 'x') + "\n",
         .replies = GP + PASS_REQUIRED,
         .log = "",
         .status = 1},
        {.what = "a huge user line is refused, its rest unread",
         .input = "user " + std::string(200000, 'h') + "\n",
         .replies = G + USER_TOO_LONG,
         .log = "",
         .status = 1},
        {.what = "a quit line of 1022 characters arrives whole",
         .input = change_lines("alice", "new-secret") + padded("quit", 1022) + "\n",
         .replies = GPNC + BYE,
         .log = changed_log("alice"),
         .status = 0,
         .changed = {{"alice", "new-secret"}}},
        {.what = "a longer line comes in pieces of 1022: quit at 1022 is not seen",
         .input = change_lines("alice", "new-secret") + std::string(1022, 'x') + "quit\n",
         .replies = GPNC + QUIT_REQUIRED,
         .log = changed_log("alice"),
         .status = 1,
         .changed = {{"alice", "new-secret"}}},
        {.what = "quit at the head of a 3000-character line",
         .input = change_lines("alice", "new-secret") + padded("QUIT", 3000) + "\n",
         .replies = GPNC + BYE,
         .log = changed_log("alice"),
         .status = 0,
         .changed = {{"alice", "new-secret"}}},
    });
}

// Keywords fold to lower case with the letters right after them; white space
// after a keyword is skipped; one word is taken.
TEST(Framing, KeywordScans) {
    struct scan_case {
        const char *what;
        std::string input;
        const char *user;
        const char *new_password;
    };
    const scan_case SCANS[] = {
        {"no blank after the keyword", "useralice\n" + PASS_LINE + "newpass n1\n", "alice", "n1"},
        {"the fold runs into the name", "USERALICE\n" + PASS_LINE + "newpass n2\n", "alice", "n2"},
        {"the name keeps its case", "USER Alice\npass upper-secret\nnewpass n3\n", "Alice", "n3"},
        {"a digit ends the fold", "USER1BOB\npass digit-secret\nnewpass n4\n", "1BOB", "n4"},
        {"words after the name are ignored",
         "user alice extra words\n" + PASS_LINE + "newpass n5\n", "alice", "n5"},
        {"tab, vertical tab and form feed are skipped",
         "user\t\v\falice\n" + PASS_LINE + "newpass n6\n", "alice", "n6"},
        {"\"password\" gives the old password \"word\"", "user wordy\npassword\nnewpass n7\n",
         "wordy", "n7"},
        {"old password taken up to a blank", "user alice\npass old-secret and more\nnewpass n8\n",
         "alice", "n8"},
        {"keywords in capitals, CR LF line ends", "USER alice\r\nPASS old-secret\r\nNEWPASS n9\r\n",
         "alice", "n9"},
        {"the fold runs into the new password", "user alice\n" + PASS_LINE + "NEWPASSXyz1\n",
         "alice", "xyz1"},
    };
    std::vector<dialogue_case> cases;
    for (const scan_case &s : SCANS) {
        cases.push_back({.what = s.what,
                         .input = s.input + "quit\n",
                         .replies = GPNC + BYE,
                         .log = changed_log(s.user),
                         .status = 0,
                         .changed = {{s.user, s.new_password}}});
    }
    cases.push_back({.what = "a leading blank before user",
                     .input = " user alice\n" + PASS_LINE,
                     .replies = G + USER_REQUIRED,
                     .log = "",
                     .status = 1});
    cases.push_back({.what = "a leading tab before user",
                     .input = "\tUSER alice\n",
                     .replies = G + USER_REQUIRED,
                     .log = "",
                     .status = 1});
    cases.push_back({.what = "a leading blank before pass",
                     .input = "user alice\n pass old-secret\n",
                     .replies = GP + PASS_REQUIRED,
                     .log = "",
                     .status = 1});
    cases.push_back({.what = "a carriage return inside the name",
                     .input = "user ali\rce\n",
                     .replies = GP + PASS_REQUIRED,
                     .log = "",
                     .status = 1});
    check_dialogue_cases(cases);
}

} // namespace
} // namespace e2e
