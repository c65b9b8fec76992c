// password_hash.h: checking a password against a stored crypt(3) hash, and
// making the hash of a new password, through libxcrypt.
#ifndef QUELMARAUTH_PASSWORD_HASH_H
#define QUELMARAUTH_PASSWORD_HASH_H

#include <crypt.h>

#include <cstddef>
#include <string_view>

#include "diagnostic.h"

enum class hash_method { yescrypt, sha512crypt, bcrypt };

// How new hashes are made: the method and its cost as crypt_gensalt takes it
// (0: the method's default).
struct hash_settings {
    hash_method method = hash_method::yescrypt;
    unsigned long cost = 0;
};

// bcrypt's library default (5) is too weak for stored passwords.
inline constexpr unsigned long BCRYPT_DEFAULT_COST = 10;

const char *hash_method_name(hash_method method);
const char *hash_method_prefix(hash_method method);
[[nodiscard]] bool parse_hash_method(std::string_view name, hash_method &method);
unsigned long default_cost(hash_method method);

// A hash that starts with '!' or '*' marks a locked account (and '*' also
// every libxcrypt failure token); an empty one was never set. Neither verifies.
bool hash_is_usable(std::string_view stored);

enum class verify_result { match, mismatch, failed };

// Checks password against stored. When stored is not usable (unknown account,
// locked, empty), a dummy hash of settings' method is computed instead and
// the answer is mismatch, so the time taken does not tell which case it was.
// failed: libxcrypt could not be used (reason in error).
// stored is NUL-terminated, or null for an unknown account.
verify_result verify_password(const char *password, const char *stored,
                              const hash_settings &settings, error_text &error);

// A new hash for password, made with settings; the buffer is wiped when it
// goes away.
struct new_hash {
    char text[CRYPT_OUTPUT_SIZE] = "";
    new_hash() = default;
    new_hash(const new_hash &) = delete;
    new_hash &operator=(const new_hash &) = delete;
    ~new_hash();
    std::string_view view() const;
};
[[nodiscard]] bool make_hash(const char *password, const hash_settings &settings, new_hash &out,
                             error_text &error);

// Whether libxcrypt accepts cost for method (checked when the configuration
// is loaded, so that a bad cost is found before any password change).
// failed: libxcrypt could not be used (reason in error).
enum class cost_check { accepted, refused, failed };
cost_check check_cost(const hash_settings &settings, error_text &error);

// Compares a computed hash with the stored one without an early exit, over
// the stored length, so that the time does not tell how much matched.
bool equal_constant_time(std::string_view computed, std::string_view stored);

#endif
