// Making and timing password hashes in this process, with libxcrypt directly:
// the hash work of a change, measured apart from everything else.
#pragma once

#include <cstddef>

inline constexpr std::size_t HASH_SIZE = 256; // larger than any crypt(3) output

struct hash_method {
    const char *config_name; // the value of the configuration's hash key
    const char *prefix;      // the crypt_gensalt prefix
    unsigned long cost;      // 0 for the method's default
};

inline constexpr hash_method YESCRYPT{"yescrypt", "$y$", 0};
// A low cost keeps the hash time small beside the rest of a change, so that
// subtracting it leaves a figure that noise does not swamp.
inline constexpr hash_method CHEAP_SHA512CRYPT{"sha512crypt", "$6$", 1000};

// Hashes password with a fresh salt of method into out. False on failure.
[[nodiscard]] bool make_hash(const hash_method &method, const char *password,
                             char (&out)[HASH_SIZE]);

// Milliseconds the hashes of one change take in this process: two
// verifications of password against stored (at login and again in the
// change) and one new hash of method. Negative if a hash failed.
double time_change_hashes_ms(const hash_method &method, const char *password, const char *stored);
