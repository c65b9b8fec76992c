// load_client.cc: the clients of the soak. Replies are compared byte for
// byte; keywords and line ends vary as they do among real clients.
#include "load_client.h"

#include <chrono>

#include "tcp_service.h"

namespace load {

namespace {

using test_support::line_client;

// Generous: a client may wait behind sixteen runs that each pause 3 s, on a
// machine also running a sanitizer build.
constexpr std::chrono::milliseconds REPLY_TIMEOUT{60000};
// What one read of the program takes: a line of this length or more leaves
// bytes unread, and the kernel may answer them with a reset.
constexpr std::size_t LINE_BUFFER_CHARS = 1022;

constexpr const char *GREETING = "200 zembrovald v1.1.2 hello, who are you?\r\n";
constexpr const char *PASS_PLEASE = "200 Your password please.\r\n";
constexpr const char *NEWPASS_PLEASE = "200 Your new password please.\r\n";
constexpr const char *CHANGED = "200 Password changed, thank-you.\r\n";
constexpr const char *BYE = "200 Bye.\r\n";
constexpr const char *QUIT_REQUIRED = "500 Quit required.\r\n";
constexpr const char *REFUSED = "500 Old password is incorrect or user not found.\r\n";
constexpr const char *USER_TOO_LONG = "500 Username too long (max 64).\r\n";
constexpr const char *USER_REQUIRED = "500 Username required.\r\n";
constexpr const char *PASSWORD_TOO_LONG = "500 Password length exceeded (max 128).\r\n";
constexpr const char *PASSWORD_REQUIRED = "500 Password required.\r\n";

class conversation {
  public:
    conversation(int port, std::mt19937 &random)
        : client_(port), random_(random), eol_(random() % 2 == 0 ? "\n" : "\r\n") {}

    [[nodiscard]] bool connected() const { return client_.connected(); }
    [[nodiscard]] int port() const { return client_.local_port(); }
    [[nodiscard]] const std::string &fault() const { return fault_; }

    // A keyword in one of the cases clients use.
    std::string keyword(const char *lower) {
        std::string word = lower;
        switch (random_() % 3) {
        case 0:
            break;
        case 1:
            for (char &c : word)
                c = static_cast<char>(c - 'a' + 'A');
            break;
        default:
            word[0] = static_cast<char>(word[0] - 'a' + 'A');
        }
        return word;
    }
    void send_line(const std::string &text) { send_bytes(text + eol_); }
    void send_bytes(const std::string &bytes) {
        if (fault_.empty() && !client_.send(bytes))
            fault_ = "the server closed before it took " + std::to_string(bytes.size()) + " bytes";
    }
    // True when the next line is expected; otherwise the first mismatch is kept.
    bool expect(const char *expected) {
        if (!fault_.empty())
            return false;
        const std::string line = client_.read_line(REPLY_TIMEOUT);
        if (line != expected) {
            fault_ = "expected \"" + printable(expected) + "\", got \"" + printable(line) + "\"";
            return false;
        }
        return true;
    }
    // The reply, or nothing at all when the server reset the connection for
    // input it never read (a line beyond its buffer).
    bool expect_or_reset(const char *expected) {
        if (!fault_.empty())
            return false;
        const std::string line = client_.read_line(REPLY_TIMEOUT);
        if (!line.empty() && line != expected) {
            fault_ = "expected \"" + printable(expected) + "\", got \"" + printable(line) + "\"";
            return false;
        }
        return true;
    }
    bool expect_end() {
        if (!fault_.empty())
            return false;
        const std::string rest = client_.read_to_end(REPLY_TIMEOUT);
        if (!rest.empty())
            fault_ = "unexpected bytes before the end: \"" + printable(rest) + "\"";
        return rest.empty();
    }
    void hang_up() { client_.hang_up(); }

    bool log_in(const account_state &account) {
        send_line(keyword("user") + " " + account.name);
        if (!expect(PASS_PLEASE))
            return false;
        send_line(keyword("pass") + " " + account.password);
        return expect(NEWPASS_PLEASE);
    }

  private:
    static std::string printable(const std::string &text) {
        std::string out;
        for (const char c : text.substr(0, 120)) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte >= 0x20 && byte < 0x7f) {
                out += c;
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
                out += escaped;
            }
        }
        return out;
    }

    line_client client_;
    std::mt19937 &random_;
    std::string eol_;
    std::string fault_;
};

std::string next_password(account_state &account) {
    return "pw-" + account.name + "-" + std::to_string(++account.generation);
}

// Bytes of any value but the line feed, never starting with a letter (so
// never a keyword), and what the program makes of them: the length up to
// the first carriage return or NUL.
std::string garbage_line(std::mt19937 &random, std::size_t &seen_length) {
    const std::size_t length = 1 + random() % 200;
    std::string bytes;
    for (std::size_t i = 0; i < length; ++i) {
        char c = static_cast<char>(random() % 256);
        if (c == '\n' || (i == 0 && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))))
            c = '\x7f';
        bytes += c;
    }
    seen_length = bytes.find_first_of(std::string("\r\0", 2));
    if (seen_length == std::string::npos)
        seen_length = bytes.size();
    return bytes;
}

void run_kind(conversation &talk, client_kind kind, account_state *account, std::mt19937 &random,
              connection_outcome &outcome) {
    switch (kind) {
    case client_kind::change:
    case client_kind::change_without_quit: {
        if (!talk.log_in(*account))
            return;
        outcome.new_password = next_password(*account);
        talk.send_line(talk.keyword("newpass") + " " + outcome.new_password);
        if (!talk.expect(CHANGED))
            return;
        outcome.acknowledged = true;
        if (kind == client_kind::change) {
            outcome.expected_status = 0;
            talk.send_line(talk.keyword("quit"));
            if (talk.expect(BYE))
                talk.expect_end();
        } else {
            talk.send_line("hello");
            if (talk.expect(QUIT_REQUIRED))
                talk.expect_end();
        }
        return;
    }
    case client_kind::wrong_password:
    case client_kind::unknown_user: {
        const std::string name = kind == client_kind::wrong_password
                                     ? account->name
                                     : "nobody" + std::to_string(random() % 100000);
        talk.send_line(talk.keyword("user") + " " + name);
        if (!talk.expect(PASS_PLEASE))
            return;
        talk.send_line(talk.keyword("pass") + " not-the-password");
        // The refusal comes at once; the program then pauses, and a client
        // need not wait for it.
        talk.expect(REFUSED);
        return;
    }
    case client_kind::garbage: {
        std::size_t seen = 0;
        const std::string bytes = garbage_line(random, seen);
        if (random() % 2 == 0) {
            talk.send_bytes(bytes + "\n");
            talk.expect(seen > 64 ? USER_TOO_LONG : USER_REQUIRED);
        } else {
            talk.send_line(talk.keyword("user") + " user" + std::to_string(random() % 50));
            if (!talk.expect(PASS_PLEASE))
                return;
            talk.send_bytes(bytes + "\n");
            talk.expect(seen > 128 ? PASSWORD_TOO_LONG : PASSWORD_REQUIRED);
        }
        talk.expect_end();
        return;
    }
    case client_kind::long_user_line: {
        const std::size_t name_length = 60 + random() % 3000;
        const std::string line = talk.keyword("user") + " " + std::string(name_length, 'u') + "\n";
        talk.send_bytes(line);
        if (line.size() - 1 >= LINE_BUFFER_CHARS)
            talk.expect_or_reset(USER_TOO_LONG);
        else
            talk.expect(USER_TOO_LONG);
        return;
    }
    case client_kind::long_password_line: {
        talk.send_line(talk.keyword("user") + " user" + std::to_string(random() % 50));
        if (!talk.expect(PASS_PLEASE))
            return;
        const std::string line =
            talk.keyword("pass") + " " + std::string(124 + random() % 1000, 'p');
        talk.send_bytes(line + "\n");
        if (line.size() >= LINE_BUFFER_CHARS)
            talk.expect_or_reset(PASSWORD_TOO_LONG);
        else
            talk.expect(PASSWORD_TOO_LONG);
        return;
    }
    case client_kind::long_new_password: {
        if (!talk.log_in(*account))
            return;
        talk.send_line(talk.keyword("newpass") + " " + std::string(121 + random() % 100, 'n'));
        talk.expect(PASSWORD_TOO_LONG);
        return;
    }
    case client_kind::hang_up_at_greeting:
        talk.hang_up();
        return;
    case client_kind::hang_up_mid_line:
        talk.send_bytes(talk.keyword("user") + " user");
        talk.hang_up();
        return;
    case client_kind::hang_up_after_pass:
        talk.send_line(talk.keyword("user") + " " + account->name);
        if (!talk.expect(PASS_PLEASE))
            return;
        talk.send_line(talk.keyword("pass") + " " + account->password);
        talk.hang_up();
        return;
    case client_kind::hang_up_after_newpass:
        if (!talk.log_in(*account))
            return;
        outcome.new_password = next_password(*account);
        talk.send_line(talk.keyword("newpass") + " " + outcome.new_password);
        talk.hang_up();
        outcome.unanswered_change = true;
        return;
    }
}

} // namespace

bool needs_account(client_kind kind) {
    switch (kind) {
    case client_kind::change:
    case client_kind::change_without_quit:
    case client_kind::wrong_password:
    case client_kind::long_new_password:
    case client_kind::hang_up_after_pass:
    case client_kind::hang_up_after_newpass:
        return true;
    default:
        return false;
    }
}

connection_outcome run_connection(int server_port, client_kind kind, account_state *account,
                                  std::mt19937 &random) {
    connection_outcome outcome;
    conversation talk(server_port, random);
    if (!talk.connected()) {
        outcome.fault = "cannot connect";
        return outcome;
    }
    outcome.port = talk.port();
    if (talk.expect(GREETING))
        run_kind(talk, kind, account, random, outcome);
    outcome.fault = talk.fault();
    return outcome;
}

} // namespace load
