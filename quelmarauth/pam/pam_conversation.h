// pam_conversation.h: answering PAM modules' prompts with the old or the new
// password, by what each prompt asks for, and nothing else.
#ifndef QUELMARAUTH_PAM_CONVERSATION_H
#define QUELMARAUTH_PAM_CONVERSATION_H

#include <security/pam_appl.h>

#include <cstddef>

enum class prompt_kind {
    old_password, // "Password: ", "Current password: ", "(current) UNIX password: "
    new_password, // "New password: ", "Retype new password: ", "Verify New Password :"
    unknown       // anything else: never answered
};

// What an echo-off prompt asks for, judged by its words in any case.
prompt_kind classify_prompt(const char *prompt);

enum class conversation_phase {
    authenticate, // only the old password is ever sent
    change        // the old and the new password, each to its own prompts
};

inline constexpr std::size_t CONVERSATION_TEXT_SIZE = 200;

// What one PAM transaction's conversation knows, handed to PAM as appdata.
// The passwords are the caller's; the conversation hands PAM copies that
// PAM frees.
struct conversation_state {
    const char *old_password = nullptr;
    const char *new_password = nullptr;
    conversation_phase phase = conversation_phase::authenticate;
    // Set when a module asked something the conversation would not answer;
    // the prompt is kept (printable characters only) for the diagnostic.
    bool refused = false;
    char refused_prompt[CONVERSATION_TEXT_SIZE] = "";
    // The last error or information message of a module, for the
    // diagnostic; dropped when it holds either password.
    char last_message[CONVERSATION_TEXT_SIZE] = "";
};

// The conversation function given to pam_start, with a conversation_state
// as appdata. Replies are allocated the way PAM frees them: a malloc'd array
// of pam_response, each answer its own malloc'd string. Messages get no
// reply; an echo-on prompt, an unknown prompt or an unknown style fails the
// whole conversation (PAM_CONV_ERR) and hands nothing back.
extern "C" int answer_conversation(int count, const struct pam_message **messages,
                                   struct pam_response **responses, void *appdata);

#endif
