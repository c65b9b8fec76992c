// preload.cc: LD_PRELOAD and nss_wrapper environment entries.
#include "preload.h"

#include <cstdlib>

#include "temp_dir.h"

namespace test_support {

const char *nss_wrapper_library() { return NSS_WRAPPER_LIBRARY; }

std::vector<std::string> preload_env(const std::vector<std::string> &libraries) {
    std::string preload = "LD_PRELOAD=";
    for (const std::string &library : libraries) {
        preload += (preload.back() == '=' ? "" : ":") + library;
    }
    const char *asan = std::getenv("ASAN_OPTIONS");
    std::string options = asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "";
    options += "verify_asan_link_order=0";
    return {preload, "ASAN_OPTIONS=" + options};
}

std::vector<std::string> nss_files_env(const std::string &passwd_path, const std::string &passwd,
                                       const std::string &group_path, const std::string &group) {
    write_file(passwd_path, passwd);
    write_file(group_path, group);
    return {"NSS_WRAPPER_PASSWD=" + passwd_path, "NSS_WRAPPER_GROUP=" + group_path};
}

} // namespace test_support
