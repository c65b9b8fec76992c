// Runs one program once as a client would meet it: input from a pipe, output
// drained from a pipe, and its time and peak memory taken as it ends.
#pragma once

#include <cstddef>

inline constexpr std::size_t OUTPUT_KEPT = 512;

enum class spawn_style {
    // posix_spawn: the cheapest start, so start-up figures carry little of
    // the benchmark's own cost.
    spawned,
    // fork and exec: a forked child starts from its parent's resident pages
    // rather than from its parent's peak, so its ru_maxrss is its own.
    forked,
};

struct child_result {
    double wall_ms = 0;         // from before the start to after the reap
    long max_rss_kib = 0;       // the child's ru_maxrss
    int wait_status = 0;        // as wait4 gives it
    char output[OUTPUT_KEPT]{}; // the start of its standard output, terminated
    std::size_t output_length = 0;
};

// Runs argv[0] (a path) with argv, the environment of this process, input on
// standard input and standard error on /dev/null. False if it could not be
// started or reaped; a child that fails is still true, with its status.
[[nodiscard]] bool run_child(const char *const argv[], const char *input, spawn_style style,
                             child_result &result);

// True if the child exited with status.
bool exited_with(const child_result &result, int status);
