// The command line: the authentication service, where the log goes, help and
// version.
#pragma once

#include <cstddef>
#include <getopt.h>
#include <span>

inline constexpr std::size_t MAX_SERVICE = 128;
using service_buffer = std::span<char, MAX_SERVICE + 1>;

// Value that getopt_long returns for --stderr, which has no short form.
inline constexpr int STDERR_OPTION = 3;

extern const struct option long_options[];

// Applies argv in order: stores a valid -s/--service argument in service_name,
// sets log_to_stderr for --stderr, or ends the process (help and version with
// 0; an invalid command line or service name with 2).
void parse_options(int argc, char **argv, service_buffer service_name);
