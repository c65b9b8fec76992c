// The PAM store's conversation: which prompt gets which password, how
// replies are handed to PAM, and which super-server variable names the
// client for PAM_RHOST.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pam_conversation.h"
#include "remote_host.h"
#include "unit_support.h"

namespace {

TEST(PamConversation, ClassifiesPromptsByWhatTheyAsk)
{
    const struct {
        const char *prompt;
        prompt_kind kind;
    } CASES[] = {
        {"Password: ", prompt_kind::old_password}, // pam_unix and pam_matrix, authenticating
        {"Current password: ", prompt_kind::old_password},
        {"Old password: ", prompt_kind::old_password},
        {"(current) UNIX password: ", prompt_kind::old_password},
        {"Current Kerberos password: ", prompt_kind::old_password},
        {"New password: ", prompt_kind::new_password},
        {"Retype new password: ", prompt_kind::new_password},
        {"New Password :", prompt_kind::new_password},
        {"Verify New Password :", prompt_kind::new_password},
        {"Enter new UNIX password: ", prompt_kind::new_password},
        {"Retype new UNIX password: ", prompt_kind::new_password},
        {"PASSWORD:", prompt_kind::old_password}, // case does not matter
        {"Enter PIN: ", prompt_kind::unknown},
        {"Verification code: ", prompt_kind::unknown},
        {"Password for alice: ", prompt_kind::unknown}, // whose password is not said
        {"LDAP Password: ", prompt_kind::unknown},
        {"Old or new password: ", prompt_kind::unknown}, // asks for both
        {"Passwords: ", prompt_kind::unknown},
        {"newpassword: ", prompt_kind::unknown}, // one word, not the word "password"
        {"", prompt_kind::unknown},
        {nullptr, prompt_kind::unknown},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.prompt != nullptr ? c.prompt : "(null)");
        EXPECT_EQ(c.kind, classify_prompt(c.prompt));
    }
    const std::string long_prompt = std::string(200, ' ') + "Password: ";
    EXPECT_EQ(prompt_kind::unknown, classify_prompt(long_prompt.c_str()));
}

// Runs one conversation with the given messages; the replies are freed the
// way PAM frees them.
struct exchange {
    int status = -1;
    bool replied = false;
    std::vector<std::string> answers; // "(null)" for no answer
};

exchange converse(conversation_state &state, const std::vector<pam_message> &messages)
{
    std::vector<const pam_message *> pointers;
    for (const pam_message &m : messages)
        pointers.push_back(&m);
    pam_response *replies = reinterpret_cast<pam_response *>(0x1); // must be overwritten
    exchange result;
    result.status = answer_conversation(static_cast<int>(pointers.size()), pointers.data(), &replies, &state);
    result.replied = replies != nullptr;
    if (replies != nullptr) {
        for (std::size_t i = 0; i < messages.size(); ++i) {
            result.answers.push_back(replies[i].resp != nullptr ? replies[i].resp : "(null)");
            EXPECT_EQ(0, replies[i].resp_retcode);
            std::free(replies[i].resp);
        }
        std::free(replies);
    }
    return result;
}

pam_message off(const char *prompt) { return {PAM_PROMPT_ECHO_OFF, prompt}; }

TEST(PamConversation, AnswersEachPromptWithItsOwnPassword)
{
    const struct {
        const char *what;
        conversation_phase phase;
        std::vector<pam_message> messages;
        std::vector<std::string> answers;
    } CASES[] = {
        {"login", conversation_phase::authenticate, {off("Password: ")}, {"old-pw"}},
        {"pam_unix, not root",
         conversation_phase::change,
         {off("Current password: "), off("New password: "), off("Retype new password: ")},
         {"old-pw", "new-pw", "new-pw"}},
        {"pam_unix as root",
         conversation_phase::change,
         {off("New password: "), off("Retype new password: ")},
         {"new-pw", "new-pw"}},
        {"new before old",
         conversation_phase::change,
         {off("New Password :"), off("Old password: "), off("Verify New Password :")},
         {"new-pw", "old-pw", "new-pw"}},
        {"chatter gets no reply",
         conversation_phase::change,
         {{PAM_TEXT_INFO, "Changing password for alice."}, off("Old password: "),
          {PAM_ERROR_MSG, "BAD PASSWORD: it is too short"}},
         {"(null)", "old-pw", "(null)"}},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        conversation_state state;
        state.old_password = "old-pw";
        state.new_password = c.phase == conversation_phase::change ? "new-pw" : nullptr;
        state.phase = c.phase;
        const exchange result = converse(state, c.messages);
        EXPECT_EQ(PAM_SUCCESS, result.status);
        EXPECT_EQ(c.answers, result.answers);
        EXPECT_FALSE(state.refused);
    }
}

// A prompt that cannot be answered fails the whole conversation: nothing is
// handed back, not even the answers to the prompts before it.
TEST(PamConversation, RefusesWhatItCannotAnswer)
{
    const struct {
        const char *what;
        conversation_phase phase;
        std::vector<pam_message> messages;
        const char *kept_prompt;
    } CASES[] = {
        {"new password while authenticating", conversation_phase::authenticate, {off("New password: ")},
         "New password: "},
        {"unknown prompt after a known one",
         conversation_phase::change,
         {off("Old password: "), off("Enter PIN: ")},
         "Enter PIN: "},
        {"echo-on prompt", conversation_phase::change, {{PAM_PROMPT_ECHO_ON, "login: "}}, "login: "},
        {"unknown style", conversation_phase::change, {{99, "Password: "}}, "Password: "},
        {"control characters are not kept",
         conversation_phase::change,
         {off("Code\x1b[2J: ")},
         "Code?[2J: "},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        conversation_state state;
        state.old_password = "old-pw";
        state.new_password = "new-pw";
        state.phase = c.phase;
        const exchange result = converse(state, c.messages);
        EXPECT_EQ(PAM_CONV_ERR, result.status);
        EXPECT_FALSE(result.replied);
        EXPECT_TRUE(state.refused);
        EXPECT_STREQ(c.kept_prompt, state.refused_prompt);
    }
}

TEST(PamConversation, RefusesMalformedCalls)
{
    conversation_state state;
    state.old_password = "old-pw";
    const pam_message message = off("Password: ");
    const pam_message *messages[] = {&message};
    pam_response *replies = nullptr;
    EXPECT_EQ(PAM_CONV_ERR, answer_conversation(0, messages, &replies, &state));
    EXPECT_EQ(PAM_CONV_ERR, answer_conversation(-1, messages, &replies, &state));
    EXPECT_EQ(PAM_CONV_ERR, answer_conversation(PAM_MAX_NUM_MSG + 1, messages, &replies, &state));
    EXPECT_EQ(PAM_CONV_ERR, answer_conversation(1, nullptr, &replies, &state));
    EXPECT_EQ(PAM_CONV_ERR, answer_conversation(1, messages, &replies, nullptr));
    EXPECT_EQ(PAM_CONV_ERR, answer_conversation(1, messages, nullptr, &state));
    EXPECT_EQ(nullptr, replies);
}

// The last module message is kept for the diagnostic, unless it holds a
// password.
TEST(PamConversation, KeepsModuleMessagesWithoutPasswords)
{
    conversation_state state;
    state.old_password = "old-pw";
    state.new_password = "new-pw";
    state.phase = conversation_phase::change;
    converse(state, {{PAM_ERROR_MSG, "BAD PASSWORD: too short"}});
    EXPECT_STREQ("BAD PASSWORD: too short", state.last_message);
    converse(state, {{PAM_ERROR_MSG, "new-pw is a dictionary word"}});
    converse(state, {{PAM_TEXT_INFO, "your old password was old-pw"}});
    EXPECT_STREQ("BAD PASSWORD: too short", state.last_message);
}

TEST(RemoteHost, PlainHostsOnly)
{
    const std::string longest(MAX_REMOTE_HOST, 'h');
    const struct {
        std::string text;
        bool plain;
    } CASES[] = {
        {"192.0.2.7", true},
        {"2001:db8::1", true},
        {"client.example.org", true},
        {longest, true},
        {longest + "h", false}, // one too long
        {"", false},
        {"a b", false},
        {"a\tb", false},
        {"a\nb", false},
        {"h\x7f", false},
        {"h\xc3\xa9", false},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.plain, is_plain_host(c.text.c_str()));
    }
    EXPECT_FALSE(is_plain_host(nullptr));
}

TEST(RemoteHost, FirstSetVariableWins)
{
    const struct {
        const char *tcp;
        const char *xinetd;
        const char *systemd;
        const char *expected;
    } CASES[] = {
        {"192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.1"},
        {"", "192.0.2.2", "192.0.2.3", "192.0.2.2"}, // empty counts as unset
        {nullptr, nullptr, "192.0.2.3", "192.0.2.3"},
        {"bad host", "192.0.2.2", nullptr, nullptr}, // the one set is not trusted
        {nullptr, nullptr, nullptr, nullptr},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(testing::Message() << (c.tcp ? c.tcp : "-") << " " << (c.xinetd ? c.xinetd : "-"));
        const char *names[] = {"TCPREMOTEIP", "REMOTE_HOST", "REMOTE_ADDR"};
        const char *values[] = {c.tcp, c.xinetd, c.systemd};
        for (int i = 0; i < 3; ++i) {
            if (values[i] != nullptr)
                setenv(names[i], values[i], 1);
            else
                unsetenv(names[i]);
        }
        const char *host = remote_host_from_environment();
        if (c.expected == nullptr)
            EXPECT_EQ(nullptr, host);
        else
            EXPECT_STREQ(c.expected, host);
        for (const char *name : names)
            unsetenv(name);
    }
}

} // namespace
