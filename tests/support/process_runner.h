// process_runner.h: runs a real program over pipes, feeds its standard input
// and records what it wrote, when each byte arrived, and how it ended.
#ifndef ZEMBROVALD_TESTS_PROCESS_RUNNER_H
#define ZEMBROVALD_TESTS_PROCESS_RUNNER_H

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace test_support {

using run_clock = std::chrono::steady_clock;

inline constexpr std::size_t NEVER = static_cast<std::size_t>(-1);

enum class input_end {
    close_after_input, // the client sends everything, then hangs up its sending side
    keep_open,         // the client keeps its sending side open until the process ends
};

struct run_options {
    std::vector<std::string> argv; // argv[0] is the program's path
    // NAME=VALUE, added to (or replacing in) the test's environment; of two
    // entries for one name the later wins.
    std::vector<std::string> env;
    std::vector<std::string> unset_env; // names removed from the child's environment
    std::string input;                  // bytes for standard input
    input_end end = input_end::close_after_input;
    // Closes the reading end of the child's standard output once this many
    // bytes have arrived (0: before the child writes anything), as a client
    // that hangs up does. The sending side closes then too.
    std::size_t close_output_after = NEVER;
    // Runs in the child between fork and exec: only async-signal-safe calls.
    std::function<void()> child_setup;
    std::chrono::milliseconds timeout{20000}; // then the child is killed
};

struct output_chunk {
    std::size_t end;        // offset one past the chunk's last byte
    run_clock::duration at; // arrival, from the start of the child
};

struct run_result {
    std::string out;
    std::string err;
    std::vector<output_chunk> out_chunks;
    bool exited = false; // normal exit, status in exit_status
    int exit_status = -1;
    int signal = 0; // the signal that ended it, or 0
    bool timed_out = false;
    int pid = 0;
    run_clock::duration ended_at{}; // when the process ended, from its start

    // When the byte at offset index of standard output arrived.
    [[nodiscard]] run_clock::duration arrival_of(std::size_t index) const;
    // Time from the arrival of the last output byte to the end of the process.
    [[nodiscard]] run_clock::duration quiet_before_end() const;
    // "exit 1", "signal 13", "timed out": for messages.
    [[nodiscard]] std::string describe_end() const;
};

// Runs the program and waits for it (or kills it at the timeout).
run_result run_process(const run_options &options);

// Runs several programs at once, at most `parallel` at a time; results in order.
std::vector<run_result> run_processes(const std::vector<run_options> &all, unsigned parallel = 8);

// The child's environment: the test's own, with `set` applied and `unset` removed.
std::vector<std::string> child_environment(const std::vector<std::string> &set,
                                           const std::vector<std::string> &unset);

} // namespace test_support

#endif
