// store_module_client.h: the sqlite module as the library sees it: opened
// with dlopen from the build, called through its table with a section's
// settings, answers and reasons returned as values.
#ifndef ZEMBROVALD_TESTS_STORE_MODULE_CLIENT_H
#define ZEMBROVALD_TESTS_STORE_MODULE_CLIENT_H

#include <string>
#include <utility>
#include <vector>

#include "store_module.h"

namespace sqlite_test {

using settings = std::vector<std::pair<std::string, std::string>>;

struct fetched {
    int status = -1;
    std::string error;
    quelmarauth_store_record record{};
    std::string hash;
};

struct answer {
    int status = -1;
    std::string error;
};

// The module from the build, or null (with the loader's reason in why).
const quelmarauth_store_module *sqlite_module(std::string &why);

fetched module_fetch(const settings &section, const std::string &user);
answer module_replace(const settings &section, const std::string &user, const std::string &old_hash,
                      const std::string &new_hash);
answer module_add(const settings &section, const quelmarauth_store_record &record,
                  const std::string &hash);
answer module_remove(const settings &section, const std::string &user);
// Every row listed, as "name hash uid gid home sysuser" ("-" for absent).
answer module_list(const settings &section, std::vector<std::string> &rows);

} // namespace sqlite_test

#endif
