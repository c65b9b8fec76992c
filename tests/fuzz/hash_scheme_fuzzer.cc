// hash_scheme_fuzzer.cc: {SCHEME} prefixes in front of stored crypt(3)
// hashes. The split gives back the stored text exactly (prefix, then the
// crypt string); a prefixed hash verifies exactly as the bare crypt string
// behind it, and one whose scheme is not a crypt scheme never verifies; a new
// hash is styled like the old one (prefixed stays prefixed, bare stays bare)
// and never overflows its buffer.
//
// Byte 0 steers: which real hash (all cheap to compute), the right or a
// wrong password, whether the hash gets a mangled tail, and the method whose
// prefix a new hash takes. The rest is the prefix text, a line feed, and the
// text of the tail and of a new hash.
#include "fuzz_check.h"
#include "hash_scheme.h"
#include "password_hash.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

inline constexpr const char *PASSWORD = "old-secret";
inline constexpr const char *WRONG_PASSWORD = "old-secreT";
// Hashes of PASSWORD at low cost, so that a run takes well under a millisecond.
constexpr std::string_view BASES[] = {
    "$6$rounds=1000$fuzzsalt$1N0JLJOAWGGi8jc1VQmMgc3LaC2HFzi0eRwYK35wz7z7P1RTuqSgJG7btb16F3a3StJp"
    "910uxRACnO5MdsgwT0",
    "$5$rounds=1000$fuzzsalt$GKPmC46RzdWbK3WySUDAzYRyeqi2A60tuBXEuD3zcyC",
    "$1$fuzzsalt$RI3gJFQYpxNTlltRYUonv0",
};
constexpr std::string_view CRYPT_SCHEMES[] = {"CRYPT", "SHA512-CRYPT", "SHA256-CRYPT", "BLF-CRYPT",
                                              "MD5-CRYPT"};
constexpr hash_method METHODS[] = {hash_method::yescrypt, hash_method::sha512crypt,
                                   hash_method::bcrypt};
inline constexpr hash_settings DUMMY_SETTINGS{hash_method::sha512crypt, 1000};

bool is_crypt_scheme(std::string_view name) {
    std::string upper(name);
    for (char &c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    for (std::string_view known : CRYPT_SCHEMES) {
        if (upper == known)
            return true;
    }
    return false;
}

void check_split(std::string_view stored, const scheme_split &split) {
    if (split.scheme.size() + split.crypt.size() != stored.size()
        || (!split.scheme.empty() && split.scheme.data() != stored.data())
        || split.crypt.data() != stored.data() + split.scheme.size())
        fuzz_fail("split of '%s' is not the stored text", shown(stored).c_str());
    if (split.scheme.empty()) {
        if (!split.understood && !stored.starts_with('{'))
            fuzz_fail("bare '%s' not understood", shown(stored).c_str());
        return;
    }
    if (split.scheme.size() < 2 || split.scheme.front() != '{' || split.scheme.back() != '}'
        || split.scheme.substr(1, split.scheme.size() - 2).find('}') != std::string_view::npos)
        fuzz_fail("'%s' split off '%s' as its scheme", shown(stored).c_str(),
                  shown(split.scheme).c_str());
    if (split.understood != is_crypt_scheme(split.scheme.substr(1, split.scheme.size() - 2)))
        fuzz_fail("scheme '%s' %s", shown(split.scheme).c_str(),
                  split.understood ? "taken for a crypt scheme" : "not taken for a crypt scheme");
}

verify_result verify(const char *password, const std::string &stored) {
    error_text error;
    const verify_result result = verify_password(password, stored.c_str(), DUMMY_SETTINGS, error);
    if (result == verify_result::failed)
        fuzz_fail("verifying against '%s' failed: %s", shown(stored).c_str(), error.text);
    return result;
}

void check_style(std::string_view old_stored, hash_method method, std::string_view made) {
    new_hash hash;
    if (!made.empty())
        std::memcpy(hash.text, made.data(), made.size());
    hash.text[made.size()] = '\0';
    error_text error;
    const bool styled = style_like(old_stored, method, hash, error);
    if (::strnlen(hash.text, sizeof hash.text) == sizeof hash.text)
        fuzz_fail("styled hash without an end");
    const bool prefixed = !split_scheme(old_stored).scheme.empty();
    const std::string scheme = scheme_of_method(method);
    const std::string wanted = prefixed ? scheme + std::string(made) : std::string(made);
    if (wanted.size() >= sizeof hash.text) {
        if (styled || error.empty() || hash.view() != made)
            fuzz_fail("a hash of %zu bytes styled into a buffer of %zu", wanted.size(),
                      sizeof hash.text);
        return;
    }
    if (!styled || hash.view() != wanted)
        fuzz_fail("'%s' styled like '%s' as '%s'", shown(made).c_str(), shown(old_stored).c_str(),
                  shown(hash.view()).c_str());
    if (!made.starts_with('{') && split_scheme(hash.view()).scheme.empty() == prefixed)
        fuzz_fail("styling '%s' like '%s' changed whether it is prefixed", shown(made).c_str(),
                  shown(old_stored).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1)
        return -1;
    const std::uint8_t steer = data[0];
    std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    rest = rest.substr(0, rest.find('\0')); // stored hashes are C strings
    const std::size_t line_feed = rest.find('\n');
    const std::string_view prefix = rest.substr(0, line_feed);
    const std::string_view tail =
        line_feed == std::string_view::npos ? std::string_view() : rest.substr(line_feed + 1);

    const std::string_view base = BASES[(steer & 3) % std::size(BASES)];
    const bool right = (steer & 4) == 0;
    const bool mangled = (steer & 8) != 0 && !tail.empty();
    const std::string bare = std::string(base) + (mangled ? std::string(tail) : std::string());
    const std::string stored = std::string(prefix) + bare;

    const scheme_split split = split_scheme(stored);
    check_split(stored, split);
    check_split(bare, split_scheme(bare));

    const char *password = right ? PASSWORD : WRONG_PASSWORD;
    const verify_result bare_result = verify(password, bare);
    if ((bare_result == verify_result::match) != (right && !mangled))
        fuzz_fail("bare '%s' verified %d", shown(bare).c_str(), static_cast<int>(bare_result));
    // Only where the crypt string behind the prefix is the cheap one: a
    // prefix could carry a costly setting of its own.
    if (!split.understood) {
        if (verify(password, stored) != verify_result::mismatch)
            fuzz_fail("'%s' of a scheme that is no crypt scheme verified", shown(stored).c_str());
    } else if (split.crypt == bare && !split.scheme.empty()) {
        if (verify(password, stored) != bare_result)
            fuzz_fail("'%s' verified unlike the bare hash", shown(stored).c_str());
    }

    const std::string_view made = tail.substr(0, sizeof(new_hash{}.text) - 1);
    check_style(stored, METHODS[((steer >> 4) & 3) % std::size(METHODS)], made);
    check_style(bare, METHODS[((steer >> 4) & 3) % std::size(METHODS)], made);
    return 0;
}
