// hash_scheme.h: the {SCHEME} prefixes that mail stacks put in front of
// crypt(3) hashes ("{SHA512-CRYPT}$6$..."). A prefixed hash verifies like the
// bare crypt string behind it, and a changed password keeps the style of
// the hash it replaces, so that the mail stack reading the same store still
// understands it.
#ifndef QUELMARAUTH_HASH_SCHEME_H
#define QUELMARAUTH_HASH_SCHEME_H

#include <string_view>

#include "diagnostic.h"
#include "password_hash.h"

struct scheme_split {
    std::string_view scheme; // "{SHA512-CRYPT}" as stored, braces included; empty when bare
    std::string_view crypt;  // the crypt string behind it: a suffix of the stored text
    bool understood = false; // false: a scheme that is not a crypt scheme, which never verifies
};

// Splits a stored hash into its prefix and crypt string. Scheme names are
// matched without regard to case, as mail stacks do.
scheme_split split_scheme(std::string_view stored);

// The scheme name mail stacks use for hashes of method; yescrypt has no
// name of its own in wide use, so it is the generic {CRYPT}.
const char *scheme_of_method(hash_method method);

// Puts the prefix of method in front of the new hash when old_stored had a
// prefix; leaves it bare when old_stored was bare. False (reason in error)
// when the result would not fit.
[[nodiscard]] bool style_like(std::string_view old_stored, hash_method method, new_hash &hash, error_text &error);

#endif
