// process_runner.cc: fork, exec and a poll loop that feeds standard input and
// timestamps everything the child writes.
#include "process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <future>
#include <mutex>

namespace test_support {

namespace {

// A loop tick short enough that the recorded end of the process is accurate
// to a few milliseconds; the pauses under test are seconds long.
constexpr int POLL_TICK_MS = 5;
// How long pipes may stay open after the child has ended (a grandchild that
// kept them); then the result is taken as it is.
constexpr auto DRAIN_GRACE = std::chrono::milliseconds(2000);

struct pipe_pair {
    int read_end = -1;
    int write_end = -1;
};

pipe_pair make_pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return {};
    }
    return {fds[0], fds[1]};
}

void close_fd(int &fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// The test itself ignores SIGPIPE so that a child that stops reading does not
// kill the runner; installed once, before the first fork.
void ignore_sigpipe_once() {
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

// In the child: dispositions the test changed must not leak into the program,
// or a test of its own signal handling would prove nothing.
[[noreturn]] void exec_child(const run_options &options, const pipe_pair &in, const pipe_pair &out,
                             const pipe_pair &err, char *const *argv, char *const *envp) {
    std::signal(SIGPIPE, SIG_DFL);
    std::signal(SIGXFSZ, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (dup2(in.read_end, 0) < 0 || dup2(out.write_end, 1) < 0 || dup2(err.write_end, 2) < 0) {
        _exit(126);
    }
    if (options.child_setup) {
        options.child_setup();
    }
    execve(argv[0], argv, envp);
    _exit(127);
}

} // namespace

run_clock::duration run_result::arrival_of(std::size_t index) const {
    for (const output_chunk &chunk : out_chunks) {
        if (index < chunk.end) {
            return chunk.at;
        }
    }
    return run_clock::duration::max();
}

run_clock::duration run_result::quiet_before_end() const {
    if (out_chunks.empty()) {
        return ended_at;
    }
    return ended_at - out_chunks.back().at;
}

std::string run_result::describe_end() const {
    if (timed_out) {
        return "timed out";
    }
    if (signal != 0) {
        return "signal " + std::to_string(signal);
    }
    return "exit " + std::to_string(exit_status);
}

run_result run_process(const run_options &options) {
    ignore_sigpipe_once();
    run_result result;

    // Everything the child needs is built before fork: other threads may hold
    // the allocator's lock at that moment.
    std::vector<std::string> env = child_environment(options.env, options.unset_env);
    std::vector<char *> argv;
    for (const std::string &a : options.argv) {
        argv.push_back(const_cast<char *>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const std::string &e : env) {
        envp.push_back(const_cast<char *>(e.c_str()));
    }
    envp.push_back(nullptr);

    pipe_pair in = make_pipe();
    pipe_pair out = make_pipe();
    pipe_pair err = make_pipe();
    if (in.read_end < 0 || out.read_end < 0 || err.read_end < 0 || options.argv.empty()) {
        result.exit_status = -1;
        return result;
    }

    const run_clock::time_point start = run_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        exec_child(options, in, out, err, argv.data(), envp.data());
    }
    result.pid = pid;
    close_fd(in.read_end);
    close_fd(out.write_end);
    close_fd(err.write_end);
    if (pid < 0) {
        close_fd(in.write_end);
        close_fd(out.read_end);
        close_fd(err.read_end);
        return result;
    }
    fcntl(in.write_end, F_SETFL, O_NONBLOCK);

    std::size_t written = 0;
    bool child_done = false;
    run_clock::time_point done_time{};

    const auto feed_input = [&] {
        while (in.write_end >= 0 && written < options.input.size()) {
            const ssize_t n =
                write(in.write_end, options.input.data() + written, options.input.size() - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                return;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                close_fd(in.write_end); // the child stopped reading: the rest is lost
            }
        }
        if (written == options.input.size() && options.end == input_end::close_after_input) {
            close_fd(in.write_end);
        }
    };
    const auto hang_up = [&] {
        close_fd(out.read_end);
        close_fd(in.write_end);
    };

    feed_input();
    if (options.close_output_after == 0) {
        hang_up();
    }

    char buffer[65536];
    for (;;) {
        const run_clock::time_point now = run_clock::now();
        if (!child_done && now - start > options.timeout) {
            kill(pid, SIGKILL);
            result.timed_out = true;
        }
        if (child_done &&
            (now - done_time > DRAIN_GRACE || (out.read_end < 0 && err.read_end < 0))) {
            break;
        }

        // Each poll entry remembers which pipe it watches: feeding input may
        // close a descriptor whose number is then reused.
        enum class role { input, output, error };
        pollfd fds[3];
        role roles[3];
        nfds_t count = 0;
        if (in.write_end >= 0 && written < options.input.size()) {
            roles[count] = role::input;
            fds[count++] = {in.write_end, POLLOUT, 0};
        }
        if (out.read_end >= 0) {
            roles[count] = role::output;
            fds[count++] = {out.read_end, POLLIN, 0};
        }
        if (err.read_end >= 0) {
            roles[count] = role::error;
            fds[count++] = {err.read_end, POLLIN, 0};
        }
        poll(fds, count, POLL_TICK_MS);

        feed_input();
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0 || roles[i] == role::input) {
                continue;
            }
            const bool is_out = roles[i] == role::output;
            int &fd = is_out ? out.read_end : err.read_end;
            if (fd < 0) {
                continue;
            }
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                if (is_out) {
                    result.out.append(buffer, static_cast<std::size_t>(n));
                    result.out_chunks.push_back({result.out.size(), run_clock::now() - start});
                    if (result.out.size() >= options.close_output_after) {
                        hang_up();
                    }
                } else {
                    result.err.append(buffer, static_cast<std::size_t>(n));
                }
            } else if (n == 0 || errno != EINTR) {
                close_fd(fd);
            }
        }

        if (!child_done) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                child_done = true;
                done_time = run_clock::now();
                result.ended_at = done_time - start;
                if (WIFEXITED(status)) {
                    result.exited = true;
                    result.exit_status = WEXITSTATUS(status);
                } else if (WIFSIGNALED(status)) {
                    result.signal = WTERMSIG(status);
                }
                close_fd(in.write_end);
            }
        }
    }
    close_fd(in.write_end);
    close_fd(out.read_end);
    close_fd(err.read_end);
    return result;
}

std::vector<run_result> run_processes(const std::vector<run_options> &all, unsigned parallel) {
    std::vector<run_result> results(all.size());
    const std::size_t step = std::max(1U, parallel);
    for (std::size_t first = 0; first < all.size(); first += step) {
        std::vector<std::future<run_result>> running;
        const std::size_t last = std::min(all.size(), first + step);
        for (std::size_t i = first; i < last; ++i) {
            running.push_back(
                std::async(std::launch::async, [&all, i] { return run_process(all[i]); }));
        }
        for (std::size_t i = first; i < last; ++i) {
            results[i] = running[i - first].get();
        }
    }
    return results;
}

} // namespace test_support
