// diagnostic.h: the reason a call failed, and the one place that writes it to
// the system log. Internal layers fill an error_text; api.cc logs it once.
#ifndef QUELMARAUTH_DIAGNOSTIC_H
#define QUELMARAUTH_DIAGNOSTIC_H

#include <cstddef>

inline constexpr std::size_t ERROR_TEXT_SIZE = 1024;

struct error_text {
    char text[ERROR_TEXT_SIZE] = "";
    bool empty() const { return text[0] == '\0'; }
};

// Records why a call fails. The first reason wins: clean-up steps that fail
// after it must not hide the cause.
[[gnu::format(printf, 2, 3)]] void set_error(error_text &error, const char *format, ...);

// Writes "quelmarauth: <reason>" to the system log (authpriv, err).
// Never given a password or a hash.
void write_diagnostic(const error_text &error);

#endif
