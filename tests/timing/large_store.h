// large_store.h: a store of many accounts made quickly: the filler accounts
// share one real hash, and a few named accounts at chosen places have their
// own.
#ifndef ZEMBROVALD_TESTS_LARGE_STORE_H
#define ZEMBROVALD_TESTS_LARGE_STORE_H

#include <cstddef>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace timing {

struct placed_account {
    std::size_t line; // 0-based place among all accounts
    std::string name;
    std::string password;
};

class large_store {
  public:
    // count accounts in all, the placed ones among them; sha512crypt with
    // 1000 rounds for every hash and for new ones, so that the hash of an
    // unknown name costs what the others cost.
    large_store(std::size_t count, const std::vector<placed_account> &placed);

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] std::string config_env() const {
        return "QUELMARAUTH_CONFIG=" + dir_.file("quelmarauth.conf");
    }

  private:
    test_support::temp_dir dir_{"ztm"};
    bool ok_ = false;
};

} // namespace timing

#endif
