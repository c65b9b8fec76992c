/*
 * getpwnam_fail_shim.c: preloaded into the program under test, it makes every
 * getpwnam() fail with the errno named in GETPWNAM_FAIL_ERRNO (a number), and
 * appends "getpwnam NAME errno-on-entry" to the file named by
 * GETPWNAM_TRACE_FILE. It also wraps auth_getuserinfo so that the program's
 * callback starts with errno set to GETPWNAM_STALE_ERRNO, as a store that
 * leaves errno dirty would. A test can then see which errno the program
 * reports and whether it cleared errno right before the lookup, whatever the
 * machine's own account sources and the store leave there.
 *
 * Built without sanitizers: it is loaded into instrumented programs too.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "quelmarauth.h"

typedef int (*account_callback)(const struct quelmarauth_account *, void *);

static account_callback program_callback;

static int errno_from(const char *variable, int fallback) {
    const char *value = getenv(variable);
    return value != NULL ? atoi(value) : fallback;
}

static int dirty_then_call(const struct quelmarauth_account *account, void *arg) {
    errno = errno_from("GETPWNAM_STALE_ERRNO", 0);
    return program_callback(account, arg);
}

int auth_getuserinfo(const char *service, const char *user, account_callback callback, void *arg) {
    int (*next)(const char *, const char *, account_callback, void *);
    void *sym = dlsym(RTLD_NEXT, "auth_getuserinfo");
    memcpy(&next, &sym, sizeof next);
    program_callback = callback;
    return next(service, user, callback != NULL ? dirty_then_call : NULL, arg);
}

struct passwd *getpwnam(const char *name) {
    const int on_entry = errno;
    const char *path = getenv("GETPWNAM_TRACE_FILE");
    if (path != NULL) {
        char line[512];
        int n = snprintf(line, sizeof line, "getpwnam %s %d\n", name, on_entry);
        if (n > (int)sizeof line - 1) {
            n = (int)sizeof line - 1;
        }
        const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0 && n > 0) {
            ssize_t ignored = write(fd, line, (size_t)n);
            (void)ignored;
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    errno = errno_from("GETPWNAM_FAIL_ERRNO", ENOENT);
    return NULL;
}
