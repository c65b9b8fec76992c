// pg_queries.h: the statements a section runs: its own where it sets them,
// the plain accounts table's otherwise.
#ifndef QUELMARAUTH_PG_QUERIES_H
#define QUELMARAUTH_PG_QUERIES_H

#include <cstddef>

#include "store_module.h"

// Which statement, for choosing it and for naming it in errors.
enum class pg_query { lookup, update, insert, remove, list };

// The text of the statement the section runs for which. Null, with the
// reason in error, when the section cannot run it: a site schema (its own
// lookup) has no insert, delete or list unless it sets them, since the
// defaults would name a table that is not there.
const char *pg_query_text(const quelmarauth_store_call *call, pg_query which, char *error,
                          std::size_t error_size);

// The configuration key of which ("delete" for remove).
const char *pg_query_key(pg_query which);

#endif
