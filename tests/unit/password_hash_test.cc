// Password hashing through the lazily loaded libxcrypt, checked against
// libxcrypt linked directly.
#include <gtest/gtest.h>

#include <string>

#include "password_hash.h"
#include "unit_support.h"

namespace {

// Cheap costs keep the round trips quick; each still exercises the method.
const hash_settings METHODS[] = {
    {hash_method::yescrypt, 1},
    {hash_method::sha512crypt, 1000},
    {hash_method::bcrypt, 4},
};

TEST(PasswordHash, EachMethodRoundTrips)
{
    for (const hash_settings &settings : METHODS) {
        SCOPED_TRACE(hash_method_name(settings.method));
        error_text error;
        new_hash made;
        ASSERT_TRUE(make_hash("correct horse", settings, made, error)) << error.text;
        const std::string hash(made.view());
        EXPECT_EQ(0U, hash.rfind(hash_method_prefix(settings.method), 0)) << hash;
        EXPECT_TRUE(verifies("correct horse", hash)) << "libxcrypt itself must accept it";
        EXPECT_EQ(verify_result::match, verify_password("correct horse", hash.c_str(), settings, error));
        EXPECT_EQ(verify_result::mismatch, verify_password("correct hors", hash.c_str(), settings, error));
        EXPECT_EQ(verify_result::mismatch, verify_password("", hash.c_str(), settings, error));
        // Two hashes of one password differ: every new hash gets a fresh salt.
        new_hash again;
        ASSERT_TRUE(make_hash("correct horse", settings, again, error));
        EXPECT_NE(made.view(), again.view());
        EXPECT_TRUE(error.empty()) << error.text;
    }
}

TEST(PasswordHash, VerifiesHashesOfOtherMethods)
{
    const hash_settings configured{hash_method::yescrypt, 1};
    for (const char *prefix : {"$5$", "$6$", "$2b$", "$y$", "$7$"}) {
        SCOPED_TRACE(prefix);
        const std::string hash = hash_of("secret", prefix, prefix[1] == '2' ? 4 : 0);
        error_text error;
        EXPECT_EQ(verify_result::match, verify_password("secret", hash.c_str(), configured, error));
        EXPECT_EQ(verify_result::mismatch, verify_password("Secret", hash.c_str(), configured, error));
    }
}

TEST(PasswordHash, HashesThatNeverVerify)
{
    const std::string good = hash_of("pw");
    const struct {
        const char *what;
        std::string stored;
        const char *password;
    } CASES[] = {
        {"no account", "", "pw"},
        {"empty hash", "", ""},
        {"locked with !", "!" + good, "pw"},
        {"locked with *", "*" + good, "pw"},
        {"failure token *0", "*0", "pw"},
        {"failure token *1", "*1", "pw"},
        {"failure token as password and hash", "*0", "*0"},
        {"unknown method", "$0$abc", "pw"},
        {"DES-like junk", "ab", "pw"},
        {"truncated hash", good.substr(0, good.size() - 1), "pw"},
        {"hash with extra byte", good + "x", "pw"},
    };
    const hash_settings settings{hash_method::sha512crypt, 1000};
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        error_text error;
        const char *stored = std::string_view(c.what) == "no account" ? nullptr : c.stored.c_str();
        EXPECT_EQ(verify_result::mismatch, verify_password(c.password, stored, settings, error));
        EXPECT_TRUE(error.empty()) << error.text;
    }
    EXPECT_FALSE(hash_is_usable(""));
    EXPECT_FALSE(hash_is_usable("!x"));
    EXPECT_FALSE(hash_is_usable("*x"));
    EXPECT_TRUE(hash_is_usable(good));
}

TEST(PasswordHash, ConstantTimeCompare)
{
    const struct {
        const char *computed;
        const char *stored;
        bool equal;
    } CASES[] = {
        {"", "", true},
        {"abc", "abc", true},
        {"abc", "abd", false}, // last byte differs
        {"xbc", "abc", false}, // first byte differs
        {"ab", "abc", false},  // computed is a prefix of stored
        {"abc", "ab", false},  // stored is a prefix of computed
        {"", "a", false},
        {"a", "", false},
        {"\x80", "\x00", false}, // high bit only
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(std::string(c.computed) + " vs " + c.stored);
        EXPECT_EQ(c.equal, equal_constant_time(c.computed, c.stored));
    }
}

TEST(PasswordHash, ConfiguredCostIsHonoured)
{
    const struct {
        hash_settings settings;
        const char *starts;
    } CASES[] = {
        {{hash_method::bcrypt, default_cost(hash_method::bcrypt)}, "$2b$10$"}, // never the weak library default
        {{hash_method::bcrypt, 5}, "$2b$05$"},
        {{hash_method::sha512crypt, 20000}, "$6$rounds=20000$"},
        {{hash_method::sha512crypt, 0}, "$6$"},
        {{hash_method::yescrypt, 0}, "$y$j9T$"},
        {{hash_method::yescrypt, 3}, "$y$j7T$"},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.starts);
        error_text error;
        new_hash made;
        ASSERT_TRUE(make_hash("pw", c.settings, made, error)) << error.text;
        EXPECT_EQ(0U, made.view().rfind(c.starts, 0)) << made.view();
        if (c.settings.method == hash_method::sha512crypt && c.settings.cost == 0) {
            EXPECT_EQ(std::string_view::npos, made.view().find("rounds=")) << made.view();
        }
    }
}

TEST(PasswordHash, CostsLibxcryptRefuses)
{
    const struct {
        hash_settings settings;
        cost_check expected;
    } CASES[] = {
        {{hash_method::bcrypt, 3}, cost_check::refused},
        {{hash_method::bcrypt, 32}, cost_check::refused},
        {{hash_method::bcrypt, 31}, cost_check::accepted},
        {{hash_method::yescrypt, 12}, cost_check::refused},
        {{hash_method::yescrypt, 11}, cost_check::accepted},
        {{hash_method::sha512crypt, 5000}, cost_check::accepted},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(std::string(hash_method_name(c.settings.method)) + " " + std::to_string(c.settings.cost));
        error_text error;
        EXPECT_EQ(c.expected, check_cost(c.settings, error));
    }
}

TEST(PasswordHash, MethodNames)
{
    hash_method method = hash_method::yescrypt;
    EXPECT_TRUE(parse_hash_method("bcrypt", method));
    EXPECT_EQ(hash_method::bcrypt, method);
    EXPECT_TRUE(parse_hash_method("sha512crypt", method));
    EXPECT_EQ(hash_method::sha512crypt, method);
    for (const char *bad : {"", "Yescrypt", "sha512", "yescrypt ", "md5crypt"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parse_hash_method(bad, method));
    }
}

} // namespace
