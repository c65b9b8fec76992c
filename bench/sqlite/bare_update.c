/*
 * The least a process can do to change one password hash in SQLite: open the
 * database, run the store's own UPDATE ... WHERE name = ? AND hash = ? in a
 * transaction, commit, exit. The baseline a change through the program is
 * judged by, as a whole process like the program.
 *
 * usage: bare_update DATABASE NAME NEW_HASH OLD_HASH; exit 0 when exactly
 * one row changed.
 */
#include <sqlite3.h>
#include <stdio.h>

int main(int argc, char **argv) {
    sqlite3 *db = NULL;
    sqlite3_stmt *update = NULL;
    int changed = -1;

    if (argc != 5)
        return 2;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, NULL) != SQLITE_OK)
        return 1;
    sqlite3_busy_timeout(db, 10000);
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", NULL, NULL, NULL) == SQLITE_OK &&
        sqlite3_prepare_v3(db, "UPDATE accounts SET hash = ?2 WHERE name = ?1 AND hash = ?3", -1, 0, &update,
                           NULL) == SQLITE_OK) {
        sqlite3_bind_text(update, 1, argv[2], -1, SQLITE_STATIC);
        sqlite3_bind_text(update, 2, argv[3], -1, SQLITE_STATIC);
        sqlite3_bind_text(update, 3, argv[4], -1, SQLITE_STATIC);
        if (sqlite3_step(update) == SQLITE_DONE)
            changed = sqlite3_changes(db);
    }
    sqlite3_finalize(update);
    if (changed != 1 || sqlite3_exec(db, "COMMIT", NULL, NULL, NULL) != SQLITE_OK) {
        fprintf(stderr, "bare_update: %s\n", sqlite3_errmsg(db));
        sqlite3_close(db);
        return 1;
    }
    sqlite3_close(db);
    return 0;
}
