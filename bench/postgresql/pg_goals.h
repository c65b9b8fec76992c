// The two figures of the PostgreSQL benchmark; each adds its rows to the
// report and returns false when it could not be measured.
#pragma once

// A change with a new connection per process, beyond its hashes, on tables
// of growing size (the server is started and filled here).
[[nodiscard]] bool bench_pg_change(const char *base, bool quick);

// Start-up of the account-file path, this build against a copy of the
// program and library with no store modules beside them.
[[nodiscard]] bool bench_modules_startup(const char *base, bool quick);
