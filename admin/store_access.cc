// store_access.cc: the configuration and the store's answers.
#include "store_access.h"

#include "config.h"
#include "report.h"

opened_store open_store(const admin_arguments &arguments) {
    opened_store opened;
    error_text error;
    const char *path =
        arguments.config_path.empty() ? config_file_path() : arguments.config_path.c_str();
    if (!load_config(path, arguments.service.c_str(), opened.store, opened.config, error)) {
        write_diagnostic(error);
        fail(EXIT_CONFIG, "%s", error.text);
    }
    return opened;
}

const store_admin_ops &admin_of(const opened_store &opened,
                                bool (*has_function)(const store_admin_ops &), const char *what) {
    const store_admin_ops *admin = opened.store->admin;
    if (admin == nullptr || !has_function(*admin))
        fail(EXIT_REFUSED, "the %s store cannot %s; use the system's own tools", opened.store->name,
             what);
    return *admin;
}

int finish(store_result result, const error_text &error) {
    switch (result) {
    case store_result::ok:
        // Changed, but something after the change failed (the folder flush).
        if (!error.empty())
            complain("warning: %s", error.text);
        return EXIT_SUCCEEDED;
    case store_result::denied:
        complain("%s", error.empty() ? "refused" : error.text);
        return EXIT_REFUSED;
    case store_result::failed:
        write_diagnostic(error);
        complain("%s", error.empty() ? "the store failed" : error.text);
        return EXIT_STORE;
    }
    return EXIT_STORE;
}
