// Runs one program once over pipes and takes its time and peak memory.
#include "child_run.h"

#include "measure.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

struct pipe_pair {
    int read_end = -1;
    int write_end = -1;
    pipe_pair() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) == 0) {
            read_end = ends[0];
            write_end = ends[1];
        }
    }
    ~pipe_pair() {
        close_read();
        close_write();
    }
    pipe_pair(const pipe_pair &) = delete;
    pipe_pair &operator=(const pipe_pair &) = delete;
    bool open() const { return read_end >= 0 && write_end >= 0; }
    void close_read() {
        if (read_end >= 0)
            ::close(read_end);
        read_end = -1;
    }
    void close_write() {
        if (write_end >= 0)
            ::close(write_end);
        write_end = -1;
    }
};

pid_t start_spawned(const char *const argv[], int in_fd, int out_fd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_fd, 0);
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    // posix_spawn takes char *const[] for historical reasons; it does not
    // write to the strings.
    const int error =
        posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char *const *>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

pid_t start_forked(const char *const argv[], int in_fd, int out_fd) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    // Only async-signal-safe calls from here to exec.
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || null_fd < 0 || dup2(null_fd, 2) < 0)
        _exit(127);
    execve(argv[0], const_cast<char *const *>(argv), environ);
    _exit(127);
}

void write_all(int fd, const char *data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        // A child that stops reading early (a refusal) closes the pipe;
        // what it did not read does not matter.
        if (written <= 0)
            return;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
}

void drain(int fd, child_result &result) {
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        const std::size_t room = OUTPUT_KEPT - 1 - result.output_length;
        const std::size_t kept =
            static_cast<std::size_t>(got) < room ? static_cast<std::size_t>(got) : room;
        std::memcpy(result.output + result.output_length, chunk, kept);
        result.output_length += kept;
    }
    result.output[result.output_length] = '\0';
}

} // namespace

bool run_child(const char *const argv[], const char *input, spawn_style style,
               child_result &result) {
    result = child_result{};
    pipe_pair to_child;
    pipe_pair from_child;
    if (!to_child.open() || !from_child.open())
        return false;

    const std::int64_t start = now_ns();
    const pid_t pid = style == spawn_style::spawned
                          ? start_spawned(argv, to_child.read_end, from_child.write_end)
                          : start_forked(argv, to_child.read_end, from_child.write_end);
    if (pid < 0)
        return false;
    to_child.close_read();
    from_child.close_write();

    write_all(to_child.write_end, input, std::strlen(input));
    to_child.close_write();
    drain(from_child.read_end, result);

    rusage usage{};
    pid_t reaped;
    do
        reaped = wait4(pid, &result.wait_status, 0, &usage);
    while (reaped < 0 && errno == EINTR);
    result.wall_ms = ms_between(start, now_ns());
    if (reaped != pid)
        return false;
    result.max_rss_kib = usage.ru_maxrss;
    return true;
}

bool exited_with(const child_result &result, int status) {
    return WIFEXITED(result.wait_status) && WEXITSTATUS(result.wait_status) == status;
}
