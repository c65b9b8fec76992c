// The keyword scans of the dialogue, apart from it so that they can be
// exercised without a client connection.
#include "field_scan.h"

#include <cstdio>

static_assert(MAX_USER_WORD == 64, "the user scan below reads at most 64 characters");
static_assert(MAX_PASSWORD_WORD == 128, "the password scans below read at most 128 characters");

void scan_user(const char *line, client_line user) {
    (void)std::sscanf(line, "user %64s", user.data());
}

void scan_old_password(const char *line, client_line password) {
    (void)std::sscanf(line, "pass %128s", password.data());
}

bool scan_new_password(const char *line, client_line password) {
    int word_end = -1;
    (void)std::sscanf(line, "newpass %128s %n", password.data(), &word_end);
    // Whatever follows the first word would be dropped without a word, and
    // the client told that a password it never chose is set.
    return word_end >= 0 && line[word_end] != '\0';
}
