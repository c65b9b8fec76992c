-- The table the sqlite store reads and changes when its section sets no
-- queries of its own. Create the database with:
--     sqlite3 /var/lib/zembrovald/accounts.db < sqlite-accounts.sql
-- The user the service runs as must be able to write the database file and
-- its folder (SQLite writes its journal beside the file).
--
-- hash: a crypt(3) hash, bare ($y$..., $6$...) or with the scheme prefix of
-- mail stacks ({CRYPT}$y$..., {SHA512-CRYPT}$6$..., {BLF-CRYPT}$2b$...);
-- '!' in front locks the account. uid, gid, home, sysuser: NULL when absent.
CREATE TABLE accounts (
    name TEXT PRIMARY KEY NOT NULL,
    hash TEXT NOT NULL,
    uid INTEGER,
    gid INTEGER,
    home TEXT,
    sysuser TEXT
);
