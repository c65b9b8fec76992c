// Line framing of the client conversation: one reply out, one normalised
// client line in.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <span>

inline constexpr std::size_t LINE_BUFFER_SIZE = 1024;
using client_line = std::span<char, LINE_BUFFER_SIZE>;

// Writes one reply and "\r\n" to standard output and flushes it, so that the
// reply has left the process before it reads, pauses or exits. Write errors
// are ignored.
[[gnu::format(printf, 1, 2)]] void send_reply(const char *format, ...);
[[gnu::format(printf, 2, 0)]] void send_reply_to(std::FILE *out, const char *format,
                                                  va_list args);

// Reads one line of at most 1022 characters from standard input. The line
// ends at the first line feed or carriage return, neither of which is kept;
// the leading run of letters is lowercased so that keywords match in any case.
// End of input before a line gives an empty line. The buffer is always a
// NUL-terminated text.
void read_client_line(client_line line);
void read_line_from(std::FILE *in, client_line line);
