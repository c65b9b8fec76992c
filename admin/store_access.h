// store_access.h: the store of the chosen service, and turning its answers
// into messages and exit statuses.
#pragma once

#include "arguments.h"
#include "diagnostic.h"
#include "store.h"
#include "store_admin.h"

struct opened_store {
    const store_ops *store = nullptr;
    store_config config;
};

// Loads and checks the configuration, or ends the process with status 3.
opened_store open_store(const admin_arguments &arguments);

// The store's administration, or ends the process with status 1 when it
// has none or lacks the function (has_function false); what says what the
// command would have done ("add accounts").
const store_admin_ops &admin_of(const opened_store &opened,
                                bool (*has_function)(const store_admin_ops &), const char *what);

// 0 for ok, 1 for denied, 4 for failed; says why on standard error (and in
// the system log when the store failed).
int finish(store_result result, const error_text &error);
