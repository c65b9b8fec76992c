// sqlite_connection.h: the one database handle a process keeps across the
// store's calls (the program calls the store several times in a row), and the
// statements and transactions made on it.
#ifndef QUELMARAUTH_SQLITE_CONNECTION_H
#define QUELMARAUTH_SQLITE_CONNECTION_H

#include <sqlite3.h>

#include <cstddef>

// The handle for path, opened read-write (never created) on first use and
// kept while the path names the same file. Each call sets the time limits
// afresh: a busy database is waited for up to `seconds`, and a statement
// that runs longer than `seconds` from now is interrupted. Null, with the
// reason in error, when the database cannot be opened.
sqlite3 *sqlite_database(const char *path, unsigned seconds, char *error, std::size_t error_size);

// Why the last call on db failed, as SQLite says it, or the time limit when
// that is what stopped it.
const char *sqlite_failure(sqlite3 *db);

// A prepared statement, finalized (and its locks released) on every path.
class sqlite_statement {
  public:
    sqlite_statement() = default;
    ~sqlite_statement() { sqlite3_finalize(statement_); }
    sqlite_statement(const sqlite_statement &) = delete;
    sqlite_statement &operator=(const sqlite_statement &) = delete;

    [[nodiscard]] sqlite3_stmt *get() const { return statement_; }
    sqlite3_stmt **out() { return &statement_; }

  private:
    sqlite3_stmt *statement_ = nullptr;
};

// BEGIN IMMEDIATE: the write lock is taken before anything is read, so a
// check and the change that follows it see the same rows. Rolled back unless
// committed.
class sqlite_transaction {
  public:
    explicit sqlite_transaction(sqlite3 *db);
    ~sqlite_transaction();
    sqlite_transaction(const sqlite_transaction &) = delete;
    sqlite_transaction &operator=(const sqlite_transaction &) = delete;

    [[nodiscard]] bool begun() const { return begun_; }
    [[nodiscard]] bool commit();

  private:
    sqlite3 *db_;
    bool begun_ = false;
};

#endif
