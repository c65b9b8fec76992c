/*
 * log_trace_shim.c: preloaded into the program under test, it passes every
 * system-log call and exit() on to the C library and appends one trace line
 * per call to the file named by LOG_TRACE_FILE, so a test can see that the log
 * was closed before the process ended, on every path.
 *
 * Trace lines: "openlog IDENT OPTION FACILITY", "syslog PRIORITY MESSAGE",
 * "closelog", "exit STATUS", and from a destructor "end log open" or
 * "end log closed". A process that leaves main by returning never calls the
 * exit() seen here, so its trace has no "exit" line.
 *
 * Built without sanitizers: it is loaded into instrumented programs too.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

/* _FORTIFY_SOURCE turns syslog() into these two. */
void __syslog_chk(int priority, int flag, const char *format, ...);
void __vsyslog_chk(int priority, int flag, const char *format, va_list ap);

static int log_open;

static void *real(const char *name) { return dlsym(RTLD_NEXT, name); }

static void trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* Keeps errno: the program may be about to report it. */
static void trace(const char *format, ...) {
    const int saved = errno;
    const char *path = getenv("LOG_TRACE_FILE");
    if (path != NULL) {
        char line[2048];
        va_list ap;
        va_start(ap, format);
        int n = vsnprintf(line, sizeof line - 1, format, ap);
        va_end(ap);
        if (n < 0) {
            n = 0;
        }
        if ((size_t)n > sizeof line - 2) {
            n = (int)(sizeof line - 2);
        }
        line[n] = '\n';
        /* One write per line on an O_APPEND file: lines never interleave. */
        const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ssize_t ignored = write(fd, line, (size_t)n + 1);
            (void)ignored;
            close(fd);
        }
    }
    errno = saved;
}

static void trace_message(int priority, const char *format, va_list ap) {
    char message[1024];
    vsnprintf(message, sizeof message, format, ap);
    trace("syslog %d %s", priority, message);
}

void openlog(const char *ident, int option, int facility) {
    void (*next)(const char *, int, int);
    void *sym = real("openlog");
    memcpy(&next, &sym, sizeof next);
    trace("openlog %s %d %d", ident != NULL ? ident : "(null)", option, facility);
    log_open = 1;
    next(ident, option, facility);
}

void closelog(void) {
    void (*next)(void);
    void *sym = real("closelog");
    memcpy(&next, &sym, sizeof next);
    trace("closelog");
    log_open = 0;
    next();
}

void vsyslog(int priority, const char *format, va_list ap) {
    void (*next)(int, const char *, va_list);
    void *sym = real("vsyslog");
    memcpy(&next, &sym, sizeof next);
    va_list copy;
    va_copy(copy, ap);
    trace_message(priority, format, copy);
    va_end(copy);
    next(priority, format, ap);
}

void syslog(int priority, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    vsyslog(priority, format, ap);
    va_end(ap);
}

void __vsyslog_chk(int priority, int flag, const char *format, va_list ap) {
    void (*next)(int, int, const char *, va_list);
    void *sym = real("__vsyslog_chk");
    memcpy(&next, &sym, sizeof next);
    va_list copy;
    va_copy(copy, ap);
    trace_message(priority, format, copy);
    va_end(copy);
    next(priority, flag, format, ap);
}

void __syslog_chk(int priority, int flag, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    __vsyslog_chk(priority, flag, format, ap);
    va_end(ap);
}

void exit(int status) {
    void (*next)(int);
    void *sym = real("exit");
    memcpy(&next, &sym, sizeof next);
    trace("exit %d", status);
    next(status);
    _exit(status);
}

__attribute__((destructor)) static void report_at_end(void) {
    trace("end log %s", log_open ? "open" : "closed");
}
