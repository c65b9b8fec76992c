// fuzz_check.h: what the harnesses share: how a broken promise is reported
// (a message, then abort, which libFuzzer records as a finding with the input
// that caused it), and a private folder for the files a harness works on.
#pragma once

#include <string>
#include <string_view>

[[noreturn, gnu::format(printf, 1, 2)]] void fuzz_fail(const char *format, ...);

// A folder of its own for this process, made on first use under $TMPDIR,
// else /dev/shm (memory: the harnesses write a file on every run), else /tmp;
// removed with its files when the process ends.
const std::string &fuzz_folder();

// Writes data to name in fuzz_folder(), replacing what was there; returns the
// file's path.
std::string write_fuzz_file(std::string_view name, std::string_view data);

// The whole content of the file at path.
std::string read_fuzz_file(const std::string &path);

// Printable form of a text for a message: escapes, cut at a few hundred bytes.
std::string shown(std::string_view text);
