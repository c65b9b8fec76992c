// password_hash.cc: verification, new hashes and the dummy hash for accounts
// that cannot verify, all through the lazily loaded libxcrypt.
#include "password_hash.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "crypt_loader.h"
#include "hash_scheme.h"

namespace {

// struct crypt_data is 32 KiB: too big for the stack twice over, and it holds
// the password's intermediate state, so it is wiped before it is freed.
class crypt_work {
public:
    crypt_work() : data_(static_cast<crypt_data *>(std::calloc(1, sizeof(crypt_data)))) {}
    crypt_work(const crypt_work &) = delete;
    crypt_work &operator=(const crypt_work &) = delete;
    ~crypt_work()
    {
        if (data_ != nullptr) {
            explicit_bzero(data_, sizeof *data_);
            std::free(data_);
        }
    }
    crypt_data *get() const { return data_; }

private:
    crypt_data *data_;
};

bool make_setting(const crypt_functions &crypt, const hash_settings &settings,
                  char (&setting)[CRYPT_GENSALT_OUTPUT_SIZE], error_text &error)
{
    // Null random bytes: libxcrypt takes a fresh salt from the system.
    if (crypt.crypt_gensalt_rn(hash_method_prefix(settings.method), settings.cost, nullptr, 0,
                               setting, sizeof setting)
        == nullptr) {
        set_error(error, "cannot make a %s salt with cost %lu: %s", hash_method_name(settings.method),
                  settings.cost, std::strerror(errno));
        return false;
    }
    return true;
}

// Hashes password with a fresh salt of the configured method and throws the
// result away.
bool hash_dummy(const crypt_functions &crypt, const char *password, const hash_settings &settings,
                const crypt_work &work, error_text &error)
{
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!make_setting(crypt, settings, setting, error))
        return false;
    crypt.crypt_rn(password, setting, work.get(), sizeof(crypt_data));
    return true;
}

} // namespace

const char *hash_method_name(hash_method method)
{
    switch (method) {
    case hash_method::yescrypt:
        return "yescrypt";
    case hash_method::sha512crypt:
        return "sha512crypt";
    case hash_method::bcrypt:
        return "bcrypt";
    }
    return "yescrypt";
}

const char *hash_method_prefix(hash_method method)
{
    switch (method) {
    case hash_method::yescrypt:
        return "$y$";
    case hash_method::sha512crypt:
        return "$6$";
    case hash_method::bcrypt:
        return "$2b$";
    }
    return "$y$";
}

bool parse_hash_method(std::string_view name, hash_method &method)
{
    for (hash_method candidate : {hash_method::yescrypt, hash_method::sha512crypt, hash_method::bcrypt}) {
        if (name == hash_method_name(candidate)) {
            method = candidate;
            return true;
        }
    }
    return false;
}

unsigned long default_cost(hash_method method)
{
    return method == hash_method::bcrypt ? BCRYPT_DEFAULT_COST : 0;
}

bool hash_is_usable(std::string_view stored)
{
    return !stored.empty() && stored.front() != '!' && stored.front() != '*';
}

bool equal_constant_time(std::string_view computed, std::string_view stored)
{
    unsigned difference = computed.size() == stored.size() ? 0U : 1U;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const unsigned char mine = i < computed.size() ? static_cast<unsigned char>(computed[i]) : 0U;
        difference |= mine ^ static_cast<unsigned char>(stored[i]);
    }
    return difference == 0;
}

verify_result verify_password(const char *password, const char *stored, const hash_settings &settings,
                              error_text &error)
{
    const crypt_functions *crypt = load_crypt(error);
    if (crypt == nullptr)
        return verify_result::failed;
    crypt_work work;
    if (work.get() == nullptr) {
        set_error(error, "out of memory for hashing");
        return verify_result::failed;
    }
    const scheme_split split = split_scheme(stored != nullptr ? std::string_view(stored) : std::string_view());
    if (stored == nullptr || !hash_is_usable(stored) || !split.understood) {
        // Hash a dummy of the configured method, so that an unknown or locked
        // account costs as much time as a wrong password.
        if (!hash_dummy(*crypt, password, settings, work, error))
            return verify_result::failed;
        return verify_result::mismatch;
    }
    // The crypt string is a suffix of stored, so it ends where stored ends.
    const char *computed = crypt->crypt_rn(password, split.crypt.data(), work.get(), sizeof(crypt_data));
    // A failure token starts with '*' and can never be a stored hash that
    // verifies; null means the stored hash was not understood. Either comes
    // back at once, so the dummy is hashed to take the usual time.
    if (computed == nullptr || computed[0] == '*') {
        if (!hash_dummy(*crypt, password, settings, work, error))
            return verify_result::failed;
        return verify_result::mismatch;
    }
    return equal_constant_time(computed, split.crypt) ? verify_result::match : verify_result::mismatch;
}

new_hash::~new_hash()
{
    explicit_bzero(text, sizeof text);
}

std::string_view new_hash::view() const
{
    return {text, strnlen(text, sizeof text)};
}

bool make_hash(const char *password, const hash_settings &settings, new_hash &out, error_text &error)
{
    const crypt_functions *crypt = load_crypt(error);
    if (crypt == nullptr)
        return false;
    crypt_work work;
    if (work.get() == nullptr) {
        set_error(error, "out of memory for hashing");
        return false;
    }
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!make_setting(*crypt, settings, setting, error))
        return false;
    const char *computed = crypt->crypt_rn(password, setting, work.get(), sizeof(crypt_data));
    if (computed == nullptr || computed[0] == '*') {
        set_error(error, "cannot hash a new password with %s", hash_method_name(settings.method));
        return false;
    }
    const std::size_t length = std::strlen(computed);
    if (length >= sizeof out.text) {
        set_error(error, "new %s hash is too long", hash_method_name(settings.method));
        return false;
    }
    std::memcpy(out.text, computed, length + 1);
    return true;
}

cost_check check_cost(const hash_settings &settings, error_text &error)
{
    const crypt_functions *crypt = load_crypt(error);
    if (crypt == nullptr)
        return cost_check::failed;
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt->crypt_gensalt_rn(hash_method_prefix(settings.method), settings.cost, nullptr, 0, setting,
                                sizeof setting)
        == nullptr)
        return cost_check::refused;
    return cost_check::accepted;
}
