// preload.h: environment for running the program with preloaded libraries:
// nss_wrapper for a private account database, the log trace shim.
#ifndef ZEMBROVALD_TESTS_PRELOAD_H
#define ZEMBROVALD_TESTS_PRELOAD_H

#include <string>
#include <vector>

namespace test_support {

// Path of libnss_wrapper.so, or empty when it was not found at configure time.
const char *nss_wrapper_library();

// LD_PRELOAD for these libraries, and the sanitizer option an instrumented
// program needs to accept a library loaded before its runtime.
std::vector<std::string> preload_env(const std::vector<std::string> &libraries);

// nss_wrapper's variables for passwd and group files (both are required, or
// the wrapper silently stays off). Lines in the files' own formats.
std::vector<std::string> nss_files_env(const std::string &passwd_path, const std::string &passwd,
                                       const std::string &group_path, const std::string &group);

} // namespace test_support

#endif
