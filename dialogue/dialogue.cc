// The conversation, step by step: one attempt per connection, and the first
// refusal ends the process.
#include "dialogue.h"

#include "event_log.h"
#include "field_scan.h"
#include "line_io.h"
#include "program.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

static_assert(MAX_USERNAME <= MAX_USER_WORD, "a user line within its limit is never cut by the scan");
static_assert(MAX_PASSWORD <= MAX_PASSWORD_WORD, "a password line within its limit is never cut by the scan");

namespace {

void wipe(client_line buffer) { explicit_bzero(buffer.data(), buffer.size()); }

} // namespace

int accept_login(const struct quelmarauth_account *, void *) { return 0; }

int check_min_uid(const struct quelmarauth_account *account, void *arg) {
    const auto minimum = static_cast<uid_t>(reinterpret_cast<std::uintptr_t>(arg));
    if (account->sysuserid)
        return *account->sysuserid < minimum ? -1 : 0;
    if (account->sysusername) {
        errno = 0; // getpwnam leaves errno alone for an unknown name
        const struct passwd *entry = getpwnam(account->sysusername);
        if (!entry) {
            log_event("getpwnam failed: %s", std::strerror(errno));
            return -2;
        }
        return static_cast<std::uint32_t>(entry->pw_uid) < minimum ? -1 : 0;
    }
    return 0;
}

void run_dialogue(const char *service_name) {
    char line[LINE_BUFFER_SIZE];
    char user[LINE_BUFFER_SIZE] = "";
    char old_password[LINE_BUFFER_SIZE] = "";
    char new_password[LINE_BUFFER_SIZE] = "";

    send_reply("200 zembrovald v%s hello, who are you?", PROGRAM_VERSION);

    read_client_line(line);
    if (std::strlen(line) > MAX_USERNAME) {
        send_reply("500 Username too long (max %d).", static_cast<int>(MAX_USERNAME));
        end_process(1);
    }
    scan_user(line, user);
    if (user[0] == '\0') {
        send_reply("500 Username required.");
        end_process(1);
    }
    send_reply("200 Your password please.");

    read_client_line(line);
    if (std::strlen(line) > MAX_PASSWORD) {
        send_reply("500 Password length exceeded (max %d).", static_cast<int>(MAX_PASSWORD));
        end_process(1);
    }
    scan_old_password(line, old_password);
    wipe(line);
    if (old_password[0] == '\0') {
        send_reply("500 Password required.");
        end_process(1);
    }

    const int login = auth_login(service_name, user, old_password, accept_login, nullptr);
    if (login < 0) {
        wipe(old_password);
        // Reply before the pause, so the client is not kept waiting; the
        // connection closes only when the process ends.
        send_reply("500 Old password is incorrect or user not found.");
        log_event("old password is incorrect or user not found for %s", user);
        sleep(FAILURE_DELAY);
        end_process(1);
    }
    if (login > 0) {
        send_reply("500 Server error, password not changed.");
        log_event("failed to change password for user %s", user);
        end_process(1);
    }
    send_reply("200 Your new password please.");

    read_client_line(line);
    if (std::strlen(line) > MAX_PASSWORD) {
        send_reply("500 Password length exceeded (max %d).", static_cast<int>(MAX_PASSWORD));
        end_process(1);
    }
    const bool further_word = scan_new_password(line, new_password);
    wipe(line);
    if (new_password[0] == '\0') {
        send_reply("500 New password required.");
        end_process(1);
    }
    if (further_word) {
        send_reply("500 New password must not contain spaces.");
        end_process(1);
    }

    const auto minimum_uid = reinterpret_cast<void *>(static_cast<std::uintptr_t>(MIN_UID));
    if (auth_getuserinfo(service_name, user, check_min_uid, minimum_uid) != 0) {
        send_reply("500 Restricted or non-existant uid.");
        log_event("attempt to change password for a restricted or non-existant uid %s", user);
        end_process(1);
    }

    const int changed = auth_passwd(service_name, user, old_password, new_password);
    wipe(old_password);
    wipe(new_password);
    if (changed != 0) {
        send_reply("500 Server error, password not changed.");
        log_event("failed to change password for user %s", user);
        sleep(FAILURE_DELAY);
        end_process(1);
    }
    send_reply("200 Password changed, thank-you.");
    log_event("changed password for %s", user);

    read_client_line(line);
    if (std::strncmp(line, "quit", 4) == 0) {
        send_reply("200 Bye.");
        end_process(0);
    }
    send_reply("500 Quit required.");
    end_process(1);
}
