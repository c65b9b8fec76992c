// Making and timing password hashes in this process.
#include "hashes.h"

#include "measure.h"

#include <crypt.h>
#include <cstring>

namespace {

// 32 KiB: static rather than on the stack. Only the main thread hashes.
crypt_data scratch;

bool hash_with(const char *password, const char *setting, char (&out)[HASH_SIZE]) {
    std::memset(&scratch, 0, sizeof scratch);
    const char *hash = crypt_rn(password, setting, &scratch, static_cast<int>(sizeof scratch));
    // A failure token starts with '*' and is never a real hash.
    if (hash == nullptr || hash[0] == '*' || std::strlen(hash) >= HASH_SIZE)
        return false;
    std::strcpy(out, hash);
    return true;
}

} // namespace

bool make_hash(const hash_method &method, const char *password, char (&out)[HASH_SIZE]) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn(method.prefix, method.cost, nullptr, 0, setting,
                         static_cast<int>(sizeof setting)) == nullptr)
        return false;
    return hash_with(password, setting, out);
}

double time_change_hashes_ms(const hash_method &method, const char *password, const char *stored) {
    char hash[HASH_SIZE];
    const std::int64_t start = now_ns();
    bool ok = hash_with(password, stored, hash) && std::strcmp(hash, stored) == 0;
    ok = ok && hash_with(password, stored, hash) && std::strcmp(hash, stored) == 0;
    ok = ok && make_hash(method, password, hash);
    const std::int64_t end = now_ns();
    return ok ? ms_between(start, end) : -1.0;
}
