// report.h: how the command tells the administrator what went wrong, and
// the exit statuses that go with it.
#pragma once

inline constexpr const char PROGRAM_NAME[] = "quelmarauth";

inline constexpr int EXIT_SUCCEEDED = 0;
inline constexpr int EXIT_REFUSED = 1; // the account operation was refused
inline constexpr int EXIT_USAGE = 2;   // the command line is wrong
inline constexpr int EXIT_CONFIG = 3;  // the configuration cannot be read or used
inline constexpr int EXIT_STORE = 4;   // the store failed (file, lock)

// One line on standard error: "quelmarauth: " and the message.
[[gnu::format(printf, 1, 2)]] void complain(const char *format, ...);

// Complains, then exits with status.
[[noreturn, gnu::format(printf, 2, 3)]] void fail(int status, const char *format, ...);

// text as it may be shown on a terminal: control bytes become '?', and it
// is cut at a sane length. The copy lives until the next call.
const char *shown(const char *text);
