// pg_admin.h: what the administration command does on a PostgreSQL store:
// add, remove and list accounts (on a site schema only with its own
// statements).
#ifndef QUELMARAUTH_PG_ADMIN_H
#define QUELMARAUTH_PG_ADMIN_H

#include <cstddef>

#include "store_module.h"

int pg_add(const quelmarauth_store_call *call, const quelmarauth_store_record *record, const char *hash,
           char *error, std::size_t error_size) noexcept;

int pg_remove(const quelmarauth_store_call *call, const char *user, char *error, std::size_t error_size) noexcept;

int pg_list(const quelmarauth_store_call *call,
            int (*visit)(void *arg, const quelmarauth_store_record *record, const char *hash), void *arg,
            char *error, std::size_t error_size) noexcept;

#endif
