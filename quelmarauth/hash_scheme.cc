// hash_scheme.cc: {SCHEME} prefixes of stored hashes.
#include "hash_scheme.h"

#include <cstring>

namespace {

// The schemes whose value is a crypt(3) string libxcrypt verifies.
constexpr std::string_view CRYPT_SCHEMES[] = {"CRYPT", "SHA512-CRYPT", "SHA256-CRYPT", "BLF-CRYPT", "MD5-CRYPT"};

// Longer names than any of the above are not looked at further.
inline constexpr std::size_t MAX_SCHEME_NAME = 32;

bool equal_ignoring_case(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (x != b[i])
            return false;
    }
    return true;
}

} // namespace

scheme_split split_scheme(std::string_view stored)
{
    scheme_split split;
    if (stored.empty() || stored.front() != '{') {
        split.crypt = stored;
        split.understood = true;
        return split;
    }
    const std::size_t close = stored.find('}');
    if (close == std::string_view::npos || close - 1 > MAX_SCHEME_NAME) {
        split.crypt = stored;
        return split;
    }
    const std::string_view name = stored.substr(1, close - 1);
    split.scheme = stored.substr(0, close + 1);
    split.crypt = stored.substr(close + 1);
    for (std::string_view known : CRYPT_SCHEMES) {
        if (equal_ignoring_case(name, known)) {
            split.understood = true;
            break;
        }
    }
    return split;
}

const char *scheme_of_method(hash_method method)
{
    switch (method) {
    case hash_method::yescrypt:
        return "{CRYPT}";
    case hash_method::sha512crypt:
        return "{SHA512-CRYPT}";
    case hash_method::bcrypt:
        return "{BLF-CRYPT}";
    }
    return "{CRYPT}";
}

bool style_like(std::string_view old_stored, hash_method method, new_hash &hash, error_text &error)
{
    if (split_scheme(old_stored).scheme.empty())
        return true;
    const char *scheme = scheme_of_method(method);
    const std::size_t scheme_length = std::strlen(scheme);
    const std::size_t hash_length = hash.view().size();
    if (scheme_length + hash_length >= sizeof hash.text) {
        set_error(error, "new %s hash with its scheme prefix is too long", hash_method_name(method));
        return false;
    }
    std::memmove(hash.text + scheme_length, hash.text, hash_length + 1);
    std::memcpy(hash.text, scheme, scheme_length);
    return true;
}
