// crypt_hash.cc: crypt_gensalt_rn and crypt_rn with heap-held work areas.
#include "crypt_hash.h"

#include <crypt.h>

#include <memory>

namespace test_support {

std::string make_hash(const std::string &password, const char *prefix, unsigned long count) {
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn(prefix, count, nullptr, 0, salt, sizeof salt) == nullptr) {
        return {};
    }
    // struct crypt_data is 32 KiB: not for the stack of a test thread.
    auto data = std::make_unique<crypt_data>();
    const char *hash = crypt_rn(password.c_str(), salt, data.get(), sizeof *data);
    if (hash == nullptr || hash[0] == '*') {
        return {};
    }
    return hash;
}

bool hash_matches(const std::string &password, const std::string &hash) {
    if (hash.empty() || hash[0] == '*' || hash[0] == '!') {
        return false;
    }
    auto data = std::make_unique<crypt_data>();
    const char *computed = crypt_rn(password.c_str(), hash.c_str(), data.get(), sizeof *data);
    return computed != nullptr && computed[0] != '*' && hash == computed;
}

} // namespace test_support
