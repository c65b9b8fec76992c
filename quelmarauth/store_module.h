/*
 * store_module.h: the interface between libquelmarauth and a store module.
 *
 * Every store but the built-in userdb is a shared object that the library
 * opens only when a configuration names its backend, so that a site pays at
 * start-up only for the store it uses. A module for "backend = NAME" is the
 * file NAME.so in the folder "quelmarauth" beside libquelmarauth itself, and
 * exports exactly one function:
 *
 *     const struct quelmarauth_store_module *quelmarauth_get_store_module(void);
 *
 * Plain C on both sides: no C++ types and no exceptions cross this line, and
 * every text the module hands back is written into a buffer the library
 * owns. A module never logs on its own (the library writes one diagnostic
 * from the error text) and never writes a password anywhere.
 */
#ifndef QUELMARAUTH_STORE_MODULE_H
#define QUELMARAUTH_STORE_MODULE_H

#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Raised whenever a structure below changes; the library refuses a module
 * built for another version. */
#define QUELMARAUTH_STORE_MODULE_ABI 2

/* The one symbol a module exports. */
#define QUELMARAUTH_STORE_MODULE_SYMBOL "quelmarauth_get_store_module"

/* What every module function returns. */
enum quelmarauth_store_status {
    QUELMARAUTH_STORE_OK = 0,     /* right password / account found / changed */
    QUELMARAUTH_STORE_DENIED = 1, /* wrong password, no such account, refused */
    QUELMARAUTH_STORE_FAILED = 2  /* the store itself failed; error says why */
};

/* How the library treats a key's value before the module sees it. */
enum quelmarauth_store_key_kind {
    QUELMARAUTH_KEY_TEXT = 0, /* as written */
    QUELMARAUTH_KEY_PATH = 1  /* made absolute against the configuration's folder */
};

struct quelmarauth_store_key {
    const char *name; /* null ends a list of keys */
    int kind;         /* enum quelmarauth_store_key_kind */
};

struct quelmarauth_store_setting {
    const char *key;
    const char *value; /* never empty: the library refuses empty values */
};

/* Everything a call knows about the configuration section that serves it.
 * Valid for the duration of the call only. */
struct quelmarauth_store_call {
    const char *service;     /* the service the program named */
    const char *config_path; /* the configuration file, for error texts */
    const struct quelmarauth_store_setting *settings; /* the section's module keys */
    size_t setting_count;
    const char *hash_method; /* stores that write hashes: "yescrypt", ... */
    unsigned long hash_cost; /* as crypt_gensalt takes it; 0: the method's default */
};

#define QUELMARAUTH_STORE_TEXT_SIZE 256
#define QUELMARAUTH_STORE_PATH_SIZE 1024
/* Room for a stored hash, {SCHEME} prefix and lock mark included. */
#define QUELMARAUTH_STORE_HASH_SIZE 512

/* The account a login or lookup found. The library zeroes it before each
 * call; a module fills what it knows. Texts are NUL-terminated; an empty
 * home or sysuser means absent. */
struct quelmarauth_store_record {
    char name[QUELMARAUTH_STORE_TEXT_SIZE];
    int has_uid;
    uid_t uid;
    int has_gid;
    gid_t gid;
    char home[QUELMARAUTH_STORE_PATH_SIZE];
    char sysuser[QUELMARAUTH_STORE_TEXT_SIZE];
};

/* Every function below gets an error buffer of error_size bytes (at least
 * 256) and writes into it, NUL-terminated, why it returned
 * QUELMARAUTH_STORE_FAILED. It may also write a reason with DENIED (the
 * library logs it); it leaves the buffer empty otherwise. Never a password. */
struct quelmarauth_store_module {
    unsigned int abi_version; /* QUELMARAUTH_STORE_MODULE_ABI */
    const char *name;         /* the backend name, the same as the file's */
    const struct quelmarauth_store_key *keys; /* ends with {NULL, 0} */
    int writes_hashes; /* nonzero: the section also takes hash and cost */

    /* Verifies password for user; on OK fills record. */
    int (*login)(const struct quelmarauth_store_call *call, const char *user, const char *password,
                 struct quelmarauth_store_record *record, char *error, size_t error_size);

    /* Finds user; on OK fills record. */
    int (*lookup)(const struct quelmarauth_store_call *call, const char *user,
                  struct quelmarauth_store_record *record, char *error, size_t error_size);

    /* Verifies old_password itself (trusting no earlier call), then sets
     * new_password. On anything but OK the old password still stands. */
    int (*passwd)(const struct quelmarauth_store_call *call, const char *user,
                  const char *old_password, const char *new_password, char *error,
                  size_t error_size);

    /* ---- Stores of crypt hashes (writes_hashes nonzero) ----
     *
     * Such a module may leave login, lookup and passwd null and give fetch
     * and replace_hash instead: the library then checks passwords itself
     * (dummy hash for unknown accounts, constant-time compare, {SCHEME}
     * prefixes) and makes new hashes, and the module only reads and writes
     * its rows. A module gives either all three of login, lookup and passwd,
     * or both of fetch and replace_hash. */

    /* Finds user: OK fills record and writes the stored hash, exactly as
     * stored and NUL-terminated, into hash (hash_size bytes, at least
     * QUELMARAUTH_STORE_HASH_SIZE); an absent (NULL) hash is written as
     * empty. DENIED: no such account. FAILED: the store failed, or found
     * more than one account of that name. */
    int (*fetch)(const struct quelmarauth_store_call *call, const char *user,
                 struct quelmarauth_store_record *record, char *hash, size_t hash_size,
                 char *error, size_t error_size);

    /* Replaces user's hash by new_hash, only where it is still exactly
     * old_hash (as fetch gave it). OK: exactly one account changed. DENIED:
     * none changed (the hash changed meanwhile, or the account is gone),
     * with the reason. FAILED: the store failed, or more than one account
     * would have changed (and none did). */
    int (*replace_hash)(const struct quelmarauth_store_call *call, const char *user,
                        const char *old_hash, const char *new_hash, char *error,
                        size_t error_size);

    /* ---- Administration (the quelmarauth command); each may be null ---- */

    /* Adds a new account: record's name and fields, hash already made.
     * DENIED: the name is taken, or the store cannot add accounts (say which
     * in error). */
    int (*add)(const struct quelmarauth_store_call *call,
               const struct quelmarauth_store_record *record, const char *hash, char *error,
               size_t error_size);

    /* Removes user. DENIED: no such account, or the store cannot remove
     * accounts (say which in error). */
    int (*remove)(const struct quelmarauth_store_call *call, const char *user, char *error,
                  size_t error_size);

    /* Hands every account to visit, in the store's order, with its stored
     * hash; stops early, with FAILED, when visit returns nonzero. */
    int (*list)(const struct quelmarauth_store_call *call,
                int (*visit)(void *arg, const struct quelmarauth_store_record *record,
                             const char *hash),
                void *arg, char *error, size_t error_size);
};

typedef const struct quelmarauth_store_module *(*quelmarauth_store_module_entry)(void);

/* Defined by each module, with default visibility; the library never links
 * it, it looks it up by QUELMARAUTH_STORE_MODULE_SYMBOL. */
const struct quelmarauth_store_module *quelmarauth_get_store_module(void);

#ifdef __cplusplus
}
#endif

#endif
