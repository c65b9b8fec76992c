// The event log (system log or standard error) and the process end.
#include "event_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <syslog.h>

int log_to_stderr = 0;

namespace {

// Longer than any entry: a user name is at most 64 characters, a service
// name 128, and strerror texts are short.
constexpr std::size_t LOG_LINE_SIZE = 512;

} // namespace

void log_event(const char *format, ...) {
    va_list args;
    va_start(args, format);
    if (log_to_stderr) {
        // The entry and its line feed leave in one write: every run under
        // one super-server may share standard error, and two writes let
        // another process's entry land between them, mid-line.
        char line[LOG_LINE_SIZE];
        const int formatted = std::vsnprintf(line, sizeof line - 1, format, args);
        const std::size_t length = std::min(
            formatted < 0 ? std::size_t{0} : static_cast<std::size_t>(formatted), sizeof line - 2);
        line[length] = '\n';
        // Write errors are ignored: there is nowhere left to report them.
        (void)std::fwrite(line, 1, length + 1, stderr);
    } else {
        vsyslog(LOG_ERR, format, args);
    }
    va_end(args);
}

void end_process(int status) {
    closelog();
    std::exit(status);
}
