// child_environment.cc: the environment a child runs with: the test's own,
// with a test's additions and removals.
#include <algorithm>
#include <string>
#include <vector>

#include "process_runner.h"

extern char **environ;

namespace test_support {

namespace {

std::string name_of(const std::string &entry) { return entry.substr(0, entry.find('=')); }

} // namespace

std::vector<std::string> child_environment(const std::vector<std::string> &set,
                                           const std::vector<std::string> &unset) {
    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = name_of(entry);
        const bool replaced = std::any_of(set.begin(), set.end(),
                                          [&](const std::string &s) { return name_of(s) == name; });
        const bool removed = std::find(unset.begin(), unset.end(), name) != unset.end();
        if (!replaced && !removed) {
            env.push_back(entry);
        }
    }
    // A later entry for the same name wins, so a test can override a default.
    for (std::size_t i = 0; i < set.size(); ++i) {
        const bool overridden =
            std::any_of(set.begin() + static_cast<std::ptrdiff_t>(i) + 1, set.end(),
                        [&](const std::string &s) { return name_of(s) == name_of(set[i]); });
        if (!overridden) {
            env.push_back(set[i]);
        }
    }
    return env;
}

} // namespace test_support
