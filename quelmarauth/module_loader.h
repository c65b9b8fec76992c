// module_loader.h: stores that live in modules, opened the first time a
// configuration names them.
#ifndef QUELMARAUTH_MODULE_LOADER_H
#define QUELMARAUTH_MODULE_LOADER_H

#include <cstddef>
#include <string_view>

#include "diagnostic.h"
#include "module_adapter.h"
#include "store.h"

// The store of the module for backend name: loaded once per process and kept
// open. Null, with the reason in error, when there is no such module or it
// cannot be used.
const store_ops *load_store_module(std::string_view name, error_text &error);

#endif
