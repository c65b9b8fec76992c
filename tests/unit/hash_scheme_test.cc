// {SCHEME}-prefixed hashes, as mail stacks store them: they verify like the
// bare crypt string, and a new hash keeps the style of the one it replaces.
#include <gtest/gtest.h>

#include <string>

#include "hash_scheme.h"
#include "password_hash.h"
#include "unit_support.h"

namespace {

const hash_settings CHEAP{hash_method::sha512crypt, 1000};

TEST(HashScheme, PrefixedHashesVerifyLikeBareOnes)
{
    const std::string sha512 = hash_of("secret", "$6$");
    const std::string sha256 = hash_of("secret", "$5$");
    const std::string bcrypt = hash_of("secret", "$2b$", 4);
    const std::string yescrypt = hash_of("secret", "$y$", 0);
    const std::string md5 = hash_of("secret", "$1$", 0);
    const struct {
        std::string stored;
        verify_result with_right_password;
    } CASES[] = {
        {sha512, verify_result::match},
        {"{SHA512-CRYPT}" + sha512, verify_result::match},
        {"{sha512-crypt}" + sha512, verify_result::match}, // scheme names ignore case
        {"{CRYPT}" + sha512, verify_result::match},        // the generic scheme takes any crypt string
        {"{SHA256-CRYPT}" + sha256, verify_result::match},
        {"{BLF-CRYPT}" + bcrypt, verify_result::match},
        {"{CRYPT}" + yescrypt, verify_result::match},
        {"{MD5-CRYPT}" + md5, verify_result::match},
        // Schemes that are not crypt strings, and broken prefixes, never verify.
        {"{PLAIN}secret", verify_result::mismatch},
        {"{SSHA}" + sha512, verify_result::mismatch},
        {"{SHA512-CRYPT" + sha512, verify_result::mismatch},
        {"{}" + sha512, verify_result::mismatch},
        {"{CRYPT}", verify_result::mismatch},
        {"{CRYPT}{CRYPT}" + sha512, verify_result::mismatch},
        {"!{SHA512-CRYPT}" + sha512, verify_result::mismatch}, // locked
        {"{SHA512-CRYPT}!" + sha512, verify_result::mismatch},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.stored);
        error_text error;
        EXPECT_EQ(c.with_right_password, verify_password("secret", c.stored.c_str(), CHEAP, error));
        EXPECT_EQ(verify_result::mismatch, verify_password("Secret", c.stored.c_str(), CHEAP, error));
        EXPECT_TRUE(error.empty()) << error.text;
    }
}

TEST(HashScheme, NewHashKeepsTheStyleOfTheOldOne)
{
    const std::string old_bare = hash_of("old", "$6$");
    const struct {
        std::string old_stored;
        hash_method method;
        const char *expected_prefix; // before the method's own crypt prefix
    } CASES[] = {
        {old_bare, hash_method::yescrypt, ""},
        {old_bare, hash_method::bcrypt, ""},
        {"{SHA512-CRYPT}" + old_bare, hash_method::sha512crypt, "{SHA512-CRYPT}"},
        {"{SHA512-CRYPT}" + old_bare, hash_method::yescrypt, "{CRYPT}"},
        {"{crypt}" + old_bare, hash_method::bcrypt, "{BLF-CRYPT}"},
        {"{MD5-CRYPT}" + old_bare, hash_method::sha512crypt, "{SHA512-CRYPT}"},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.old_stored + " -> " + hash_method_name(c.method));
        const hash_settings settings{c.method, c.method == hash_method::bcrypt ? 4UL : 0UL};
        error_text error;
        new_hash made;
        ASSERT_TRUE(make_hash("new", settings, made, error)) << error.text;
        const std::string bare(made.view());
        ASSERT_TRUE(style_like(c.old_stored, c.method, made, error)) << error.text;
        EXPECT_EQ(std::string(c.expected_prefix) + bare, std::string(made.view()));
        EXPECT_EQ(verify_result::match, verify_password("new", made.text, settings, error));
    }
}

TEST(HashScheme, SplitsWhereTheSchemeEnds)
{
    const scheme_split prefixed = split_scheme("{SHA512-CRYPT}$6$salt$x");
    EXPECT_EQ("{SHA512-CRYPT}", prefixed.scheme);
    EXPECT_EQ("$6$salt$x", prefixed.crypt);
    EXPECT_TRUE(prefixed.understood);
    const scheme_split bare = split_scheme("$6$salt$x");
    EXPECT_TRUE(bare.scheme.empty());
    EXPECT_EQ("$6$salt$x", bare.crypt);
    // A name longer than any scheme is not taken for one.
    const std::string long_name = "{" + std::string(40, 'A') + "}$6$x";
    EXPECT_FALSE(split_scheme(long_name).understood);
}

} // namespace
