// module_adapter.h: the library's store_ops (and store_admin_ops) for a
// loaded store module. store_ops holds plain function pointers without a
// context, so every slot of the loader gets functions of its own.
#ifndef QUELMARAUTH_MODULE_ADAPTER_H
#define QUELMARAUTH_MODULE_ADAPTER_H

#include <cstddef>

#include "store.h"
#include "store_admin.h"
#include "store_module.h"

// At most this many different modules in one process; a configuration with
// more backends than that is refused.
inline constexpr std::size_t MAX_STORE_MODULES = 8;

// The module in slot, and the name its errors are reported under.
struct module_binding {
    const quelmarauth_store_module *module = nullptr;
    const char *name = "";
};
module_binding &module_in_slot(std::size_t slot);

// Whether module gives one of the two complete sets of calls.
bool module_is_complete(const quelmarauth_store_module &module);

// Fills ops (and admin, which ops points to when the module offers any
// administration) with the calls of the module in slot.
void bind_module_calls(std::size_t slot, store_ops &ops, store_admin_ops &admin);

#endif
