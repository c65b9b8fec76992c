// report.cc: messages on standard error, one line each.
#include "report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

inline constexpr std::size_t SHOWN_MAX = 200;

[[gnu::format(printf, 1, 0)]] void vcomplain(const char *format, va_list args) {
    std::fprintf(stderr, "%s: ", PROGRAM_NAME);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

} // namespace

void complain(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vcomplain(format, args);
    va_end(args);
}

void fail(int status, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vcomplain(format, args);
    va_end(args);
    std::exit(status);
}

const char *shown(const char *text) {
    // An account name given on the command line may hold escape sequences
    // that would act on the administrator's terminal.
    static char copy[SHOWN_MAX + 4];
    std::size_t length = 0;
    for (; text[length] != '\0' && length < SHOWN_MAX; ++length) {
        const auto byte = static_cast<unsigned char>(text[length]);
        copy[length] = byte < 0x20 || byte == 0x7f ? '?' : text[length];
    }
    std::strcpy(copy + length, text[length] != '\0' ? "..." : "");
    return copy;
}
