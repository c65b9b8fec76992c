// pam_conversation.cc: the PAM conversation. Modules ask in many wordings
// and orders, so each prompt is judged by its own words; what cannot be
// judged is refused rather than guessed, so a password never goes to a
// prompt that did not ask for it and nothing waits for an answer.
#include "pam_conversation.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

inline constexpr std::size_t MAX_PROMPT = 160;

// Words that mark a prompt for the password being set.
constexpr std::string_view NEW_WORDS[] = {"new", "retype", "verify", "repeat", "again", "confirm", "reenter"};
// Words that mark a prompt for the password in use.
constexpr std::string_view OLD_WORDS[] = {"current", "old"};

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

struct prompt_words {
    bool password = false;
    bool new_word = false;
    bool old_word = false;
    int count = 0;
};

bool any_of(std::string_view word, const std::string_view *list, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        if (word == list[i])
            return true;
    }
    return false;
}

prompt_words read_words(const char *prompt)
{
    prompt_words found;
    char word[MAX_PROMPT + 1];
    std::size_t length = 0;
    for (const char *c = prompt;; ++c) {
        if (*c != '\0' && is_letter(*c)) {
            word[length++] = lower(*c);
            continue;
        }
        if (length > 0) {
            const std::string_view text(word, length);
            ++found.count;
            found.password = found.password || text == "password";
            found.new_word = found.new_word || any_of(text, NEW_WORDS, std::size(NEW_WORDS));
            found.old_word = found.old_word || any_of(text, OLD_WORDS, std::size(OLD_WORDS));
            length = 0;
        }
        if (*c == '\0')
            return found;
    }
}

// Keeps printable characters of text, cut to the buffer.
void keep_text(char (&to)[CONVERSATION_TEXT_SIZE], const char *text)
{
    std::size_t length = 0;
    for (const char *c = text; *c != '\0' && length + 1 < sizeof to; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        to[length++] = byte >= 0x20 && byte < 0x7f ? *c : '?';
    }
    to[length] = '\0';
}

bool holds(const char *text, const char *password)
{
    return password != nullptr && password[0] != '\0' && std::strstr(text, password) != nullptr;
}

void keep_message(conversation_state &state, const char *text)
{
    if (text == nullptr || holds(text, state.old_password) || holds(text, state.new_password))
        return;
    keep_text(state.last_message, text);
}

// The password that answers an echo-off prompt in this phase, or null.
const char *answer_for(const conversation_state &state, const char *prompt)
{
    switch (classify_prompt(prompt)) {
    case prompt_kind::old_password:
        return state.old_password;
    case prompt_kind::new_password:
        return state.phase == conversation_phase::change ? state.new_password : nullptr;
    case prompt_kind::unknown:
        return nullptr;
    }
    return nullptr;
}

void wipe_responses(pam_response *responses, int count)
{
    for (int i = 0; i < count; ++i) {
        if (responses[i].resp != nullptr) {
            explicit_bzero(responses[i].resp, std::strlen(responses[i].resp));
            std::free(responses[i].resp);
        }
    }
    std::free(responses);
}

int refuse(conversation_state &state, const char *prompt, pam_response *responses, int count)
{
    state.refused = true;
    keep_text(state.refused_prompt, prompt != nullptr ? prompt : "(no prompt)");
    wipe_responses(responses, count);
    return PAM_CONV_ERR;
}

} // namespace

prompt_kind classify_prompt(const char *prompt)
{
    if (prompt == nullptr || std::strlen(prompt) > MAX_PROMPT)
        return prompt_kind::unknown;
    const prompt_words words = read_words(prompt);
    if (!words.password || (words.new_word && words.old_word))
        return prompt_kind::unknown;
    if (words.new_word)
        return prompt_kind::new_password;
    // A bare "Password:" is the login prompt; anything else must say whose.
    if (words.old_word || words.count == 1)
        return prompt_kind::old_password;
    return prompt_kind::unknown;
}

extern "C" int answer_conversation(int count, const struct pam_message **messages,
                                   struct pam_response **responses, void *appdata)
{
    if (responses == nullptr)
        return PAM_CONV_ERR;
    *responses = nullptr;
    if (appdata == nullptr || messages == nullptr || count <= 0 || count > PAM_MAX_NUM_MSG)
        return PAM_CONV_ERR;
    auto &state = *static_cast<conversation_state *>(appdata);
    auto *replies = static_cast<pam_response *>(std::calloc(static_cast<std::size_t>(count), sizeof(pam_response)));
    if (replies == nullptr)
        return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        const pam_message *message = messages[i];
        if (message == nullptr)
            return refuse(state, nullptr, replies, count);
        switch (message->msg_style) {
        case PAM_ERROR_MSG:
        case PAM_TEXT_INFO:
            // Module chatter never reaches the client; it is kept only for
            // the diagnostic.
            keep_message(state, message->msg);
            break;
        case PAM_PROMPT_ECHO_OFF: {
            const char *answer = answer_for(state, message->msg);
            if (answer == nullptr)
                return refuse(state, message->msg, replies, count);
            replies[i].resp = strdup(answer);
            if (replies[i].resp == nullptr) {
                wipe_responses(replies, count);
                return PAM_BUF_ERR;
            }
            break;
        }
        default:
            // Echo-on prompts ask for things other than passwords (the user
            // name is already set): no answer can be right.
            return refuse(state, message->msg, replies, count);
        }
    }
    *responses = replies;
    return PAM_SUCCESS;
}
