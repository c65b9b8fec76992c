-- The plain accounts table of the postgresql store: the one its default
-- queries read and change. Load it with
--     psql -d DATABASE -f postgresql-accounts.sql
-- and grant the service's role what it needs (no more):
--     GRANT SELECT, UPDATE (hash) ON accounts TO zembrovald;
-- The administration command (quelmarauth useradd, userdel) also needs
-- INSERT and DELETE.
CREATE TABLE accounts (
    name TEXT PRIMARY KEY NOT NULL,
    hash TEXT NOT NULL,
    uid INTEGER,
    gid INTEGER,
    home TEXT,
    sysuser TEXT
);
