// config.h: finding and checking the configuration file, and picking the
// section that serves a service.
#ifndef QUELMARAUTH_CONFIG_H
#define QUELMARAUTH_CONFIG_H

#include "diagnostic.h"
#include "store.h"

// QUELMARAUTH_CONFIG when set and the process is not set-id, else the path
// compiled in.
const char *config_file_path();

// Reads and checks the whole file at path (every section, every key), then
// picks the section [service], else [*]. On success sets store and fills
// config. On failure returns false with a reason naming the file and, where
// there is one, the line.
[[nodiscard]] bool load_config(const char *path, const char *service, const store_ops *&store,
                               store_config &config, error_text &error);

#endif
