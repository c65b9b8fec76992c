// sqlite_store.h: the functions of the sqlite store module, for its table.
#ifndef QUELMARAUTH_SQLITE_STORE_H
#define QUELMARAUTH_SQLITE_STORE_H

#include <cstddef>

#include "store_module.h"

int sqlite_fetch(const quelmarauth_store_call *call, const char *user, quelmarauth_store_record *record,
                 char *hash, std::size_t hash_size, char *error, std::size_t error_size) noexcept;
int sqlite_replace_hash(const quelmarauth_store_call *call, const char *user, const char *old_hash,
                        const char *new_hash, char *error, std::size_t error_size) noexcept;

int sqlite_add(const quelmarauth_store_call *call, const quelmarauth_store_record *record, const char *hash,
               char *error, std::size_t error_size) noexcept;
int sqlite_remove(const quelmarauth_store_call *call, const char *user, char *error,
                  std::size_t error_size) noexcept;
int sqlite_list(const quelmarauth_store_call *call,
                int (*visit)(void *arg, const quelmarauth_store_record *record, const char *hash), void *arg,
                char *error, std::size_t error_size) noexcept;

#endif
