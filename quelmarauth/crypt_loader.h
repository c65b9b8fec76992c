// crypt_loader.h: the hashing calls of libxcrypt, loaded on first use.
#ifndef QUELMARAUTH_CRYPT_LOADER_H
#define QUELMARAUTH_CRYPT_LOADER_H

#include <crypt.h>

#include "diagnostic.h"

struct crypt_functions {
    decltype(&::crypt_rn) crypt_rn;
    decltype(&::crypt_gensalt_rn) crypt_gensalt_rn;
};

// The loaded functions, or null with the reason in error. The library stays
// loaded for the life of the process.
const crypt_functions *load_crypt(error_text &error);

#endif
