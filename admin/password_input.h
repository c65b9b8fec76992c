// password_input.h: reading a password from the administrator: with echo
// off on a terminal, or as one line from standard input.
#pragma once

#include <cstddef>

// The service takes password lines of at most this many characters, so a
// longer password could never be used there.
inline constexpr std::size_t MAX_PASSWORD = 128;

// A password, wiped when it goes away.
struct password_text {
    char text[MAX_PASSWORD + 2] = "";
    password_text() = default;
    password_text(const password_text &) = delete;
    password_text &operator=(const password_text &) = delete;
    ~password_text();
};

// A new password: asked twice on a terminal, which must agree; otherwise
// one line from standard input. False after complaining (empty, too long,
// a NUL byte, no line, or the two do not match).
[[nodiscard]] bool read_new_password(password_text &password);

// A password to check: asked once on a terminal, otherwise one line.
[[nodiscard]] bool read_current_password(password_text &password);
