// Reading client lines and writing replies.
#include "line_io.h"

#include <cctype>
#include <cstring>

void send_reply(const char *format, ...) {
    va_list args;
    va_start(args, format);
    send_reply_to(stdout, format, args);
    va_end(args);
}

void send_reply_to(std::FILE *out, const char *format, va_list args) {
    std::vfprintf(out, format, args);
    std::fputs("\r\n", out);
    std::fflush(out);
}

void read_client_line(client_line line) { read_line_from(stdin, line); }

void read_line_from(std::FILE *in, client_line line) {
    std::memset(line.data(), 0, line.size());
    // One byte less than the buffer holds: a longer line is returned in
    // pieces by the following reads. End of input leaves the buffer zeroed,
    // an empty line; after a read error it holds what was read.
    [[maybe_unused]] const char *read =
        std::fgets(line.data(), static_cast<int>(line.size() - 1), in);

    if (char *line_feed = std::strchr(line.data(), '\n'))
        *line_feed = '\0';
    // A carriage return anywhere ends the line, not only one before the
    // line feed.
    if (char *carriage_return = std::strchr(line.data(), '\r'))
        *carriage_return = '\0';

    for (char *c = line.data(); std::isalpha(static_cast<unsigned char>(*c)); ++c)
        *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));

    line[line.size() - 1] = '\0';
}
