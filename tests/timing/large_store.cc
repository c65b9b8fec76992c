// large_store.cc: writes the userdb in one go; hashing every filler account
// apart would take minutes.
#include "large_store.h"

#include <cstdio>

#include "crypt_hash.h"
#include "store_fixture.h"

namespace timing {

namespace {

constexpr std::size_t NAME_SIZE = 32;

std::string account_line(const std::string &name, const std::string &hash, std::size_t index) {
    const std::string uid = std::to_string(10000 + index);
    return name + ":" + hash + ":" + uid + ":" + uid + ":/home/" + name + ":\n";
}

} // namespace

large_store::large_store(std::size_t count, const std::vector<placed_account> &placed) {
    const std::string filler_hash = test_support::make_hash("filler-password");
    if (filler_hash.empty()) {
        return;
    }
    std::string text = "# name:hash:uid:gid:home:sysuser\n";
    text.reserve(count * 140);
    for (std::size_t i = 0; i < count; ++i) {
        const placed_account *own = nullptr;
        for (const placed_account &p : placed) {
            if (p.line == i) {
                own = &p;
            }
        }
        if (own != nullptr) {
            text += account_line(own->name, test_support::make_hash(own->password), i);
        } else {
            char name[NAME_SIZE];
            std::snprintf(name, sizeof name, "filler%07zu", i);
            text += account_line(name, filler_hash, i);
        }
    }
    const std::string userdb = dir_.file("userdb");
    ok_ = test_support::write_file(userdb, text) &&
          test_support::write_file(dir_.file("quelmarauth.conf"),
                                   test_support::userdb_config("*", userdb));
}

} // namespace timing
