// crypt_loader.cc: opens libxcrypt only when a hash is first needed.
//
// The program that uses this library is started once for every connection,
// and most connections never reach a hash. Each shared library in the
// dependency list costs every start about 0.1 ms of relocation and mapping,
// so libcrypt is not a link-time dependency: it is opened here, on the first
// hash, and never closed.
#include "crypt_loader.h"

#include <dlfcn.h>

namespace {

#ifndef QUELMARAUTH_CRYPT_LIBRARY
#define QUELMARAUTH_CRYPT_LIBRARY "libcrypt.so.1"
#endif
inline constexpr const char *CRYPT_LIBRARY = QUELMARAUTH_CRYPT_LIBRARY;

struct load_state {
    crypt_functions functions{};
    bool loaded = false;
};

load_state &state()
{
    static load_state kept;
    return kept;
}

// dlsym returns an object pointer; POSIX guarantees that converting it to the
// function pointer type it really is works.
template <typename function>
bool resolve(void *handle, const char *name, function &out)
{
    void *symbol = dlsym(handle, name);
    if (symbol == nullptr)
        return false;
    out = reinterpret_cast<function>(symbol);
    return true;
}

} // namespace

const crypt_functions *load_crypt(error_text &error)
{
    load_state &kept = state();
    if (kept.loaded)
        return &kept.functions;
    // A failure is not remembered: a later call may find the library
    // installed, and each failed call gets its own diagnostic.
    void *handle = dlopen(CRYPT_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *reason = dlerror();
        set_error(error, "cannot load %s: %s", CRYPT_LIBRARY, reason ? reason : "unknown error");
        return nullptr;
    }
    if (!resolve(handle, "crypt_rn", kept.functions.crypt_rn)
        || !resolve(handle, "crypt_gensalt_rn", kept.functions.crypt_gensalt_rn)) {
        const char *reason = dlerror();
        set_error(error, "%s lacks crypt_rn or crypt_gensalt_rn: %s", CRYPT_LIBRARY,
                  reason ? reason : "unknown error");
        dlclose(handle);
        return nullptr;
    }
    kept.loaded = true;
    return &kept.functions;
}
