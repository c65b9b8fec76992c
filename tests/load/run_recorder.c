/* run_recorder.c: sits between the super-server and the program and appends
 * one line per run to a record file: the client's port (TCPREMOTEPORT), the
 * program's wait status, its peak resident memory, how long it ran and when
 * it started (CLOCK_MONOTONIC, shared by every process of the machine). A
 * super-server reaps its children itself, so this is the one place where a
 * soak can see how each run ended.
 *
 * usage: run_recorder RECORD_FILE PROGRAM [ARGS...]
 * Exits as the program did (128 + the signal when a signal ended it). */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long now_us(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

int main(int argc, char **argv) {
    if (argc < 3) {
        fputs("usage: run_recorder RECORD_FILE PROGRAM [ARGS...]\n", stderr);
        return 2;
    }
    const int record = open(argv[1], O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (record < 0) {
        perror("run_recorder: record file");
        return 2;
    }
    const long long start = now_us();
    const pid_t child = fork();
    if (child < 0) {
        perror("run_recorder: fork");
        return 2;
    }
    if (child == 0) {
        execv(argv[2], argv + 2);
        _exit(127);
    }
    /* The connection must close when the program ends, as it does without
     * this process in between: drop this process's copies of it. */
    close(0);
    close(1);
    int status = 0;
    struct rusage usage;
    memset(&usage, 0, sizeof usage);
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            perror("run_recorder: wait4");
            return 2;
        }
    }
    const long long elapsed_us = now_us() - start;
    const char *port = getenv("TCPREMOTEPORT");
    char line[200];
    const int length = snprintf(
        line, sizeof line, "port=%s status=%d maxrss_kib=%ld elapsed_us=%lld start_us=%lld\n",
        port != NULL ? port : "0", status, usage.ru_maxrss, elapsed_us, start);
    /* One write of a short line to an O_APPEND file: records of runs that end
     * together never interleave. */
    if (length > 0 && write(record, line, (size_t)length) != length)
        perror("run_recorder: record");
    close(record);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
