// store_table.cc: the stores a configuration can name.
#include "store.h"

#include "module_loader.h"

namespace {

const store_ops *const STORES[] = {&USERDB_STORE};

} // namespace

const std::string *store_config::find(std::string_view key) const
{
    for (const auto &[name, value] : settings) {
        if (name == key)
            return &value;
    }
    return nullptr;
}

const store_ops *find_store(std::string_view name, error_text &reason)
{
    for (const store_ops *store : STORES) {
        if (name == store->name)
            return store;
    }
    return load_store_module(name, reason);
}

const store_ops *find_store(std::string_view name)
{
    error_text ignored;
    return find_store(name, ignored);
}
