// The event log (system log or standard error) and the process end.
#include "event_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <syslog.h>

int log_to_stderr = 0;

void log_event(const char *format, ...) {
    va_list args;
    va_start(args, format);
    if (log_to_stderr) {
        // Write errors are ignored: there is nowhere left to report them.
        std::vfprintf(stderr, format, args);
        std::fputs("\n", stderr);
    } else {
        vsyslog(LOG_ERR, format, args);
    }
    va_end(args);
}

void end_process(int status) {
    closelog();
    std::exit(status);
}
