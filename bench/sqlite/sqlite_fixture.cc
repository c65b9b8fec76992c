// The database and configuration of a run.
#include "sqlite_fixture.h"

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace {

inline constexpr const char *SCHEMA = "CREATE TABLE accounts (name TEXT PRIMARY KEY NOT NULL, hash TEXT NOT NULL, "
                                      "uid INTEGER, gid INTEGER, home TEXT, sysuser TEXT)";

bool insert(sqlite3_stmt *statement, const char *name, const char *hash, long long uid) {
    sqlite3_reset(statement);
    sqlite3_bind_text(statement, 1, name, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(statement, 2, hash, -1, SQLITE_STATIC);
    sqlite3_bind_int64(statement, 3, uid);
    sqlite3_bind_int64(statement, 4, uid);
    return sqlite3_step(statement) == SQLITE_DONE;
}

bool fill(sqlite3 *db, std::size_t filler_count, const char *filler_hash, const tail_account *tail,
          std::size_t tail_count) {
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_exec(db, SCHEMA, nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db,
                           "INSERT INTO accounts (name, hash, uid, gid, home, sysuser) "
                           "VALUES (?1, ?2, ?3, ?4, NULL, NULL)",
                           -1, &statement, nullptr) != SQLITE_OK)
        return false;
    bool ok = true;
    char name[32];
    for (std::size_t i = 0; ok && i < filler_count; ++i) {
        std::snprintf(name, sizeof name, "user%07zu", i);
        ok = insert(statement, name, filler_hash, 10000 + static_cast<long long>(i % 50000));
    }
    for (std::size_t i = 0; ok && i < tail_count; ++i)
        ok = insert(statement, tail[i].name, tail[i].hash, 5000);
    sqlite3_finalize(statement);
    return ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace

bool write_sqlite_config(const bench_folder &folder, const hash_method &method, char (&config_path)[PATH_MAX]) {
    char database_path[PATH_MAX];
    if (!folder.file("quelmarauth.conf", config_path) || !folder.file(DATABASE_NAME, database_path))
        return false;
    std::FILE *config = std::fopen(config_path, "w");
    if (config == nullptr)
        return false;
    std::fprintf(config, "[*]\nbackend = sqlite\ndatabase = %s\nhash = %s\n", database_path, method.config_name);
    if (method.cost != 0)
        std::fprintf(config, "cost = %lu\n", method.cost);
    return std::fclose(config) == 0;
}

long long write_database(const bench_folder &folder, std::size_t filler_count, const char *filler_hash,
                         const tail_account *tail, std::size_t tail_count) {
    char path[PATH_MAX];
    if (!folder.file(DATABASE_NAME, path))
        return 0;
    sqlite3 *db = nullptr;
    // Filling is not measured: no flushes while it runs (a setting of this
    // connection only; the file keeps SQLite's defaults).
    const bool ok = sqlite3_open_v2(path, &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK &&
                    sqlite3_exec(db, "PRAGMA synchronous = OFF", nullptr, nullptr,
                                 nullptr) == SQLITE_OK &&
                    fill(db, filler_count, filler_hash, tail, tail_count);
    sqlite3_close(db);
    // On disk before anything is measured, so that no run pays for
    // flushing the filling.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    const bool flushed = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    struct stat status {};
    if (!ok || !flushed || ::stat(path, &status) != 0)
        return 0;
    return static_cast<long long>(status.st_size);
}
