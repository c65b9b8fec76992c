/*
 * call_fault_shim.c: preloaded into the program under test, it makes one kind
 * of file call fail for one file, as a failing disk, a full file system or a
 * file server would, while every other call goes on to the C library.
 *
 *   FAULT_CALL   which call: open (open, openat and their 64 and fortified
 *                forms), read, pread, write (write, pwrite), copy_file_range,
 *                fsync, fdatasync, close, rename (rename, renameat,
 *                renameat2), fchown, fchmod, flock, fcntl_lock (fcntl's
 *                record locks), mkstemp (the mkstemp and mkostemp family)
 *   FAULT_PATH   an fnmatch(3) pattern for the file's absolute path, '*'
 *                matching '/' too ("*" "/userdb", "*" "/.userdb.tmp*"); calls on
 *                a descriptor are matched through /proc/self/fd; rename and
 *                copy_file_range match on either of their files
 *   FAULT_ERRNO  the errno the failing call leaves (a number)
 *   FAULT_NTH    the first matching call that fails (default 1); every later
 *                one fails too, as a full disk stays full
 *   FAULT_TRACE  a file that gets "CALL PATH ERRNO" for each failure made,
 *                so a test can tell that its fault was met at all
 *
 * The C library's own inner calls (mkostemp's open, syslog's socket) never
 * pass through here, which is why mkstemp is a call of its own.
 *
 * Built without sanitizers: it is loaded into instrumented programs too.
 */
/* The wrappers are the real definitions of these names, not inline checks. */
#undef _FORTIFY_SOURCE
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

/* Fortified and large-file names the C library may bind calls to. */
int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);

static unsigned long matched_calls;
static __thread int inside; /* our own calls of the C library pass through */

static void *real(const char *name) { return dlsym(RTLD_NEXT, name); }

/* next_NAME: the C library's own NAME. */
#define REAL(name)                                                                                 \
    __typeof__(name) *next_##name;                                                                 \
    do {                                                                                           \
        void *symbol = real(#name);                                                                \
        memcpy(&next_##name, &symbol, sizeof next_##name);                                         \
    } while (0)

static void trace(const char *call, const char *path, int error) {
    const char *file = getenv("FAULT_TRACE");
    if (file == NULL) {
        return;
    }
    char line[PATH_MAX + 64];
    int n = snprintf(line, sizeof line, "%s %s %d\n", call, path, error);
    if (n < 0 || (size_t)n >= sizeof line) {
        return;
    }
    /* One write per line on an O_APPEND file: lines never interleave. */
    const int fd = open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ssize_t ignored = write(fd, line, (size_t)n);
        (void)ignored;
        close(fd);
    }
}

/* Whether this call of kind `call` on `path` is to fail; sets errno if so. */
static int should_fail(const char *call, const char *path) {
    const char *wanted = getenv("FAULT_CALL");
    const char *pattern = getenv("FAULT_PATH");
    if (inside || wanted == NULL || pattern == NULL || path == NULL || strcmp(wanted, call) != 0 ||
        fnmatch(pattern, path, 0) != 0) {
        return 0;
    }
    const char *nth = getenv("FAULT_NTH");
    const unsigned long first = nth != NULL ? strtoul(nth, NULL, 10) : 1;
    if (++matched_calls < first) {
        return 0;
    }
    const char *number = getenv("FAULT_ERRNO");
    const int error = number != NULL ? atoi(number) : EIO;
    inside = 1;
    trace(call, path, error);
    inside = 0;
    errno = error;
    return 1;
}

static const char *path_of_fd(int fd, char *path, size_t size) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const int saved = errno;
    inside = 1;
    const ssize_t n = readlink(link, path, size - 1);
    inside = 0;
    errno = saved;
    if (n < 0) {
        return NULL;
    }
    path[n] = '\0';
    return path;
}

/* path as an absolute path, for calls relative to a folder descriptor. */
static const char *path_at(int dirfd, const char *path, char *out, size_t size) {
    if (path == NULL || path[0] == '/') {
        return path;
    }
    char folder[PATH_MAX];
    const char *base = NULL;
    if (dirfd == AT_FDCWD) {
        const int saved = errno;
        base = getcwd(folder, sizeof folder);
        errno = saved;
    } else {
        base = path_of_fd(dirfd, folder, sizeof folder);
    }
    if (base == NULL) {
        return path;
    }
    snprintf(out, size, "%s/%s", base, path);
    return out;
}

static int fails_on_fd(const char *call, int fd) {
    char path[PATH_MAX];
    const char *wanted = getenv("FAULT_CALL");
    if (wanted == NULL || strcmp(wanted, call) != 0) {
        return 0; /* spares the readlink on every other call */
    }
    return should_fail(call, path_of_fd(fd, path, sizeof path));
}

static int fails_at(const char *call, int dirfd, const char *path) {
    char absolute[PATH_MAX];
    return should_fail(call, path_at(dirfd, path, absolute, sizeof absolute));
}

/* open: the mode is read only when the flags ask for one. */
static mode_t mode_of(int flags, va_list ap) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(ap, int) : 0;
}

#define OPEN_WRAPPER(name)                                                                         \
    int name(const char *path, int flags, ...) {                                                   \
        va_list ap;                                                                                \
        va_start(ap, flags);                                                                       \
        const mode_t mode = mode_of(flags, ap);                                                    \
        va_end(ap);                                                                                \
        if (fails_at("open", AT_FDCWD, path)) {                                                    \
            return -1;                                                                             \
        }                                                                                          \
        REAL(name);                                                                                \
        return next_##name(path, flags, mode);                                                     \
    }
OPEN_WRAPPER(open)
OPEN_WRAPPER(open64)

#define OPENAT_WRAPPER(name)                                                                       \
    int name(int dirfd, const char *path, int flags, ...) {                                        \
        va_list ap;                                                                                \
        va_start(ap, flags);                                                                       \
        const mode_t mode = mode_of(flags, ap);                                                    \
        va_end(ap);                                                                                \
        if (fails_at("open", dirfd, path)) {                                                       \
            return -1;                                                                             \
        }                                                                                          \
        REAL(name);                                                                                \
        return next_##name(dirfd, path, flags, mode);                                              \
    }
OPENAT_WRAPPER(openat)
OPENAT_WRAPPER(openat64)

#define FORTIFIED_OPEN_WRAPPER(name)                                                               \
    int name(const char *path, int flags) {                                                        \
        if (fails_at("open", AT_FDCWD, path)) {                                                    \
            return -1;                                                                             \
        }                                                                                          \
        REAL(name);                                                                                \
        return next_##name(path, flags);                                                           \
    }
FORTIFIED_OPEN_WRAPPER(__open_2)
FORTIFIED_OPEN_WRAPPER(__open64_2)

#define FORTIFIED_OPENAT_WRAPPER(name)                                                             \
    int name(int dirfd, const char *path, int flags) {                                             \
        if (fails_at("open", dirfd, path)) {                                                       \
            return -1;                                                                             \
        }                                                                                          \
        REAL(name);                                                                                \
        return next_##name(dirfd, path, flags);                                                    \
    }
FORTIFIED_OPENAT_WRAPPER(__openat_2)
FORTIFIED_OPENAT_WRAPPER(__openat64_2)

ssize_t read(int fd, void *buffer, size_t size) {
    if (fails_on_fd("read", fd)) {
        return -1;
    }
    REAL(read);
    return next_read(fd, buffer, size);
}

#define PREAD_WRAPPER(name)                                                                        \
    ssize_t name(int fd, void *buffer, size_t size, off_t offset) {                                \
        if (fails_on_fd("pread", fd)) {                                                            \
            return -1;                                                                             \
        }                                                                                          \
        REAL(name);                                                                                \
        return next_##name(fd, buffer, size, offset);                                              \
    }
PREAD_WRAPPER(pread)
PREAD_WRAPPER(pread64)

ssize_t write(int fd, const void *buffer, size_t size) {
    if (fails_on_fd("write", fd)) {
        return -1;
    }
    REAL(write);
    return next_write(fd, buffer, size);
}

#define PWRITE_WRAPPER(name)                                                                       \
    ssize_t name(int fd, const void *buffer, size_t size, off_t offset) {                          \
        if (fails_on_fd("write", fd)) {                                                            \
            return -1;                                                                             \
        }                                                                                          \
        REAL(name);                                                                                \
        return next_##name(fd, buffer, size, offset);                                              \
    }
PWRITE_WRAPPER(pwrite)
PWRITE_WRAPPER(pwrite64)

ssize_t copy_file_range(int in, off_t *in_offset, int out, off_t *out_offset, size_t size,
                        unsigned int flags) {
    if (fails_on_fd("copy_file_range", out) || fails_on_fd("copy_file_range", in)) {
        return -1;
    }
    REAL(copy_file_range);
    return next_copy_file_range(in, in_offset, out, out_offset, size, flags);
}

#define FD_CALL_WRAPPER(name)                                                                      \
    int name(int fd) {                                                                             \
        if (fails_on_fd(#name, fd)) {                                                              \
            return -1;                                                                             \
        }                                                                                          \
        REAL(name);                                                                                \
        return next_##name(fd);                                                                    \
    }
FD_CALL_WRAPPER(fsync)
FD_CALL_WRAPPER(fdatasync)

/* A failed close still closes: the descriptor is gone either way. */
int close(int fd) {
    const int failing = fails_on_fd("close", fd);
    const int saved = errno;
    REAL(close);
    const int result = next_close(fd);
    if (failing) {
        errno = saved;
        return -1;
    }
    return result;
}

int rename(const char *from, const char *to) {
    if (fails_at("rename", AT_FDCWD, from) || fails_at("rename", AT_FDCWD, to)) {
        return -1;
    }
    REAL(rename);
    return next_rename(from, to);
}

int renameat(int from_dir, const char *from, int to_dir, const char *to) {
    if (fails_at("rename", from_dir, from) || fails_at("rename", to_dir, to)) {
        return -1;
    }
    REAL(renameat);
    return next_renameat(from_dir, from, to_dir, to);
}

int renameat2(int from_dir, const char *from, int to_dir, const char *to, unsigned int flags) {
    if (fails_at("rename", from_dir, from) || fails_at("rename", to_dir, to)) {
        return -1;
    }
    REAL(renameat2);
    return next_renameat2(from_dir, from, to_dir, to, flags);
}

int fchown(int fd, uid_t owner, gid_t group) {
    if (fails_on_fd("fchown", fd)) {
        return -1;
    }
    REAL(fchown);
    return next_fchown(fd, owner, group);
}

int fchmod(int fd, mode_t mode) {
    if (fails_on_fd("fchmod", fd)) {
        return -1;
    }
    REAL(fchmod);
    return next_fchmod(fd, mode);
}

int flock(int fd, int operation) {
    if ((operation & LOCK_UN) == 0 && fails_on_fd("flock", fd)) {
        return -1;
    }
    REAL(flock);
    return next_flock(fd, operation);
}

static int is_lock_command(int command) {
    return command == F_SETLK || command == F_SETLKW || command == F_OFD_SETLK ||
           command == F_OFD_SETLKW;
}

#define FCNTL_WRAPPER(name)                                                                        \
    int name(int fd, int command, ...) {                                                           \
        va_list ap;                                                                                \
        va_start(ap, command);                                                                     \
        void *argument = va_arg(ap, void *);                                                       \
        va_end(ap);                                                                                \
        if (is_lock_command(command) && fails_on_fd("fcntl_lock", fd)) {                           \
            return -1;                                                                             \
        }                                                                                          \
        REAL(name);                                                                                \
        return next_##name(fd, command, argument);                                                 \
    }
FCNTL_WRAPPER(fcntl)
FCNTL_WRAPPER(fcntl64)

#define MKSTEMP_WRAPPER(name)                                                                      \
    int name(char *template_path) {                                                                \
        if (fails_at("mkstemp", AT_FDCWD, template_path)) {                                        \
            return -1;                                                                             \
        }                                                                                          \
        REAL(name);                                                                                \
        return next_##name(template_path);                                                         \
    }
MKSTEMP_WRAPPER(mkstemp)
MKSTEMP_WRAPPER(mkstemp64)

#define MKOSTEMP_WRAPPER(name)                                                                     \
    int name(char *template_path, int flags) {                                                     \
        if (fails_at("mkstemp", AT_FDCWD, template_path)) {                                        \
            return -1;                                                                             \
        }                                                                                          \
        REAL(name);                                                                                \
        return next_##name(template_path, flags);                                                  \
    }
MKOSTEMP_WRAPPER(mkostemp)
MKOSTEMP_WRAPPER(mkostemp64)

#define MKOSTEMPS_WRAPPER(name)                                                                    \
    int name(char *template_path, int suffix_length, int flags) {                                  \
        if (fails_at("mkstemp", AT_FDCWD, template_path)) {                                        \
            return -1;                                                                             \
        }                                                                                          \
        REAL(name);                                                                                \
        return next_##name(template_path, suffix_length, flags);                                   \
    }
MKOSTEMPS_WRAPPER(mkostemps)
MKOSTEMPS_WRAPPER(mkostemps64)
