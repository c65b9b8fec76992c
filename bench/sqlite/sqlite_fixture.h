// The database a run needs: the plain accounts table filled with filler
// accounts, the measured accounts last, and the configuration that serves it.
#pragma once

#include "userdb_fixture.h"

#include <climits>
#include <cstddef>

inline constexpr const char *DATABASE_NAME = "accounts.db";

// Writes a configuration for backend = sqlite on folder's database (method
// and cost for new hashes) into config_path.
[[nodiscard]] bool write_sqlite_config(const bench_folder &folder, const hash_method &method,
                                       char (&config_path)[PATH_MAX]);

// Makes folder's database with filler_count accounts sharing filler_hash,
// then the tail accounts. Returns the size of the file in bytes, 0 on failure.
long long write_database(const bench_folder &folder, std::size_t filler_count, const char *filler_hash,
                         const tail_account *tail, std::size_t tail_count);
