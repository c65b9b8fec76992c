// sqlite_connection.cc: opening and keeping the database handle, and the
// time limits on everything done with it.
#include "sqlite_connection.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "sql_row.h"

namespace {

// How many virtual machine steps run between two looks at the clock: a few
// microseconds of work, so an interrupt comes promptly and costs nothing.
inline constexpr int STEPS_BETWEEN_CLOCK_CHECKS = 10000;

struct open_database {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    sqlite3 *db = nullptr;
    timespec deadline{};
    bool timed_out = false;

    open_database() = default;
    open_database(const open_database &) = delete;
    open_database &operator=(const open_database &) = delete;
    // Runs at exit (or when the library lets the module go): no transaction
    // is open between calls, so nothing is lost by closing here.
    ~open_database() { close(); }

    void close()
    {
        sqlite3_close_v2(db);
        db = nullptr;
        path.clear();
    }
};

open_database &the_database()
{
    static open_database database;
    return database;
}

bool past(const timespec &deadline)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

int stop_when_late(void *arg)
{
    auto *database = static_cast<open_database *>(arg);
    if (!past(database->deadline))
        return 0;
    database->timed_out = true;
    return 1;
}

// The handle stays only while the path still names the file it opened: a
// database moved into place by an administrator between two calls is opened
// afresh rather than changed in its unlinked predecessor.
bool still_same_file(const open_database &database, const char *path)
{
    if (database.db == nullptr || database.path != path)
        return false;
    struct stat status {};
    return ::stat(path, &status) == 0 && status.st_dev == database.device && status.st_ino == database.inode;
}

} // namespace

sqlite3 *sqlite_database(const char *path, unsigned seconds, char *error, std::size_t error_size)
{
    open_database &database = the_database();
    if (!still_same_file(database, path)) {
        database.close();
        struct stat status {};
        if (::stat(path, &status) != 0) {
            sql_error(error, error_size, "database %s: %s", path, std::strerror(errno));
            return nullptr;
        }
        // Never SQLITE_OPEN_CREATE: a mistyped path must fail, not start an
        // empty store in which every account is unknown.
        sqlite3 *db = nullptr;
        const int opened = sqlite3_open_v2(path, &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (opened != SQLITE_OK) {
            sql_error(error, error_size, "database %s: %s", path,
                      db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(opened));
            sqlite3_close_v2(db);
            return nullptr;
        }
        sqlite3_extended_result_codes(db, 1);
        sqlite3_progress_handler(db, STEPS_BETWEEN_CLOCK_CHECKS, stop_when_late, &database);
        database.db = db;
        database.path = path;
        database.device = status.st_dev;
        database.inode = status.st_ino;
    }
    sqlite3_busy_timeout(database.db, static_cast<int>(seconds * 1000));
    clock_gettime(CLOCK_MONOTONIC, &database.deadline);
    database.deadline.tv_sec += static_cast<time_t>(seconds);
    database.timed_out = false;
    return database.db;
}

const char *sqlite_failure(sqlite3 *db)
{
    const open_database &database = the_database();
    if (db == database.db && database.timed_out)
        return "still running when the timeout ran out";
    return sqlite3_errmsg(db);
}

sqlite_transaction::sqlite_transaction(sqlite3 *db) : db_(db)
{
    begun_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
}

sqlite_transaction::~sqlite_transaction()
{
    if (begun_)
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool sqlite_transaction::commit()
{
    if (!begun_)
        return false;
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    begun_ = false;
    return true;
}
