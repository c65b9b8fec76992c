// How the process reports what happened, and the one way it ends.
#pragma once

// Set by --stderr; read at every event, so an entry goes wherever the flag
// points at that moment.
extern int log_to_stderr;

// One entry: the bare message and a line feed on standard error when
// log_to_stderr is set, otherwise a system-log entry at LOG_ERR under the
// identity opened at start-up.
[[gnu::format(printf, 1, 2)]] void log_event(const char *format, ...);

// Closes the system log, then exits with status (0, 1 or 2).
[[noreturn]] void end_process(int status);
