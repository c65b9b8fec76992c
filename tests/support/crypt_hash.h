// crypt_hash.h: real libxcrypt hashes for test accounts, and the check that a
// stored hash belongs to a password.
#ifndef ZEMBROVALD_TESTS_CRYPT_HASH_H
#define ZEMBROVALD_TESTS_CRYPT_HASH_H

#include <string>

namespace test_support {

// sha512crypt with 1000 rounds: a real hash, cheap enough for hundreds of
// test accounts. Empty on failure.
std::string make_hash(const std::string &password, const char *prefix = "$6$",
                      unsigned long count = 1000);

// True when hash is a valid hash of password (a failure token never matches).
bool hash_matches(const std::string &password, const std::string &hash);

} // namespace test_support

#endif
