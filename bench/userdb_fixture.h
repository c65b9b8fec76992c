// The files a run needs: a private folder holding the library's configuration
// and a userdb of any size, and the plain file replacement to compare with.
#pragma once

#include "hashes.h"

#include <climits>
#include <cstddef>

struct bench_folder {
    char path[PATH_MAX]{};

    // Makes a fresh folder under base; path stays empty on failure.
    explicit bench_folder(const char *base);
    // Removes every file in the folder (the library's lock and temporary
    // files included), then the folder.
    ~bench_folder();
    bench_folder(const bench_folder &) = delete;
    bench_folder &operator=(const bench_folder &) = delete;

    bool ok() const { return path[0] != '\0'; }
    // The full name of the file called name in this folder; false if it
    // does not fit.
    [[nodiscard]] bool file(const char *name, char (&out)[PATH_MAX]) const;
};

inline constexpr const char *USERDB_NAME = "userdb";

// An account written after the filler, with its own hash.
struct tail_account {
    const char *name;
    const char *hash;
};

// Writes the configuration (userdb backend, method, cost) into folder and
// points QUELMARAUTH_CONFIG of this process, and so of its children, at it.
[[nodiscard]] bool use_config(const bench_folder &folder, const hash_method &method);

// Writes the userdb: filler_count accounts that share filler_hash, then the
// tail accounts, last in the file where a lookup finds them latest. Returns
// the size of the file in bytes, or 0 on failure.
long long write_userdb(const bench_folder &folder, std::size_t filler_count,
                       const char *filler_hash, const tail_account *tail, std::size_t tail_count);

// The least a durable rewrite can cost: read path, write a copy beside it,
// fsync the copy and rename it over path; with sync_folder, fsync the folder
// too, so that the rename itself is on disk.
[[nodiscard]] bool copy_and_replace(const char *path, bool sync_folder);
