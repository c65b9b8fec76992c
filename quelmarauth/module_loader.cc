// module_loader.cc: opens store modules and adapts their plain C tables to
// the library's own store_ops.
//
// A module is found beside the library itself, never through the
// environment: a program that uses the library must not be talked into
// loading code from elsewhere, and the build tree and an installed tree both
// work as they are.
#include "module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "module_adapter.h"
#include "store_module.h"

namespace {

inline constexpr std::size_t MAX_MODULE_NAME = 32;
inline constexpr const char *MODULE_FOLDER = "quelmarauth";

struct module_slot {
    std::string name;
    const quelmarauth_store_module *module = nullptr;
    std::vector<store_key> keys;
    store_ops ops{};
    store_admin_ops admin{};
};

std::array<module_slot, MAX_STORE_MODULES> &slots()
{
    static std::array<module_slot, MAX_STORE_MODULES> loaded;
    return loaded;
}

// The name becomes part of a file name: nothing that could leave the folder.
bool is_module_name(std::string_view name)
{
    if (name.empty() || name.size() > MAX_MODULE_NAME)
        return false;
    for (char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!allowed)
            return false;
    }
    return true;
}

// The folder holding this library (or, linked statically, the program).
bool own_folder(std::string &folder, error_text &error)
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&load_store_module), &info) == 0 || info.dli_fname == nullptr) {
        set_error(error, "cannot tell where libquelmarauth was loaded from");
        return false;
    }
    const std::string_view path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        set_error(error, "cannot tell the folder of '%s'", info.dli_fname);
        return false;
    }
    folder.assign(path.substr(0, slash == 0 ? 1 : slash));
    return true;
}

bool usable(const quelmarauth_store_module *module, std::string_view name, error_text &error, const char *path)
{
    if (module == nullptr) {
        set_error(error, "%s: %s() gave no store", path, QUELMARAUTH_STORE_MODULE_SYMBOL);
        return false;
    }
    if (module->abi_version != QUELMARAUTH_STORE_MODULE_ABI) {
        set_error(error, "%s: built for store module interface %u, not %d", path, module->abi_version,
                  QUELMARAUTH_STORE_MODULE_ABI);
        return false;
    }
    if (module->name == nullptr || name != module->name || module->keys == nullptr || !module_is_complete(*module)) {
        set_error(error, "%s: not a store module for backend '%.*s'", path, static_cast<int>(name.size()),
                  name.data());
        return false;
    }
    return true;
}

} // namespace

const store_ops *load_store_module(std::string_view name, error_text &error)
{
    if (!is_module_name(name)) {
        set_error(error, "not a module name");
        return nullptr;
    }
    std::array<module_slot, MAX_STORE_MODULES> &loaded = slots();
    std::size_t free_slot = loaded.size();
    for (std::size_t i = 0; i < loaded.size(); ++i) {
        if (loaded[i].module != nullptr && loaded[i].name == name)
            return &loaded[i].ops;
        if (loaded[i].module == nullptr && free_slot == loaded.size())
            free_slot = i;
    }
    if (free_slot == loaded.size()) {
        set_error(error, "more than %zu store modules in one process", MAX_STORE_MODULES);
        return nullptr;
    }
    std::string folder;
    if (!own_folder(folder, error))
        return nullptr;
    std::string path = folder + "/" + MODULE_FOLDER + "/" + std::string(name) + ".so";
    // Linked statically into a program (the administration command in
    // sbin/), the modules are where the shared library keeps them.
    if (::access(path.c_str(), F_OK) != 0) {
        std::string beside_library =
            folder + "/../" QUELMARAUTH_LIBDIR "/" + MODULE_FOLDER + "/" + std::string(name) + ".so";
        if (::access(beside_library.c_str(), F_OK) == 0)
            path = std::move(beside_library);
    }

    // A failure is not remembered: the module may be installed by the next call.
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *reason = dlerror();
        set_error(error, "%s", reason != nullptr ? reason : path.c_str());
        return nullptr;
    }
    void *symbol = dlsym(handle, QUELMARAUTH_STORE_MODULE_SYMBOL);
    if (symbol == nullptr) {
        const char *reason = dlerror();
        set_error(error, "%s", reason != nullptr ? reason : path.c_str());
        dlclose(handle);
        return nullptr;
    }
    // POSIX guarantees that the object pointer dlsym gives converts back to
    // the function it is.
    const auto entry = reinterpret_cast<quelmarauth_store_module_entry>(symbol);
    const quelmarauth_store_module *module = entry();
    if (!usable(module, name, error, path.c_str())) {
        dlclose(handle);
        return nullptr;
    }

    module_slot &slot = loaded[free_slot];
    slot.name.assign(name);
    slot.keys.clear();
    for (const quelmarauth_store_key *key = module->keys; key->name != nullptr; ++key)
        slot.keys.push_back({key->name, key->kind == QUELMARAUTH_KEY_PATH ? key_kind::path : key_kind::text});
    slot.keys.push_back({nullptr, key_kind::text});
    slot.ops = store_ops{};
    slot.ops.name = slot.name.c_str();
    slot.ops.keys = slot.keys.data();
    slot.ops.writes_hashes = module->writes_hashes != 0;
    module_binding &binding = module_in_slot(free_slot);
    binding.module = module;
    binding.name = slot.name.c_str();
    bind_module_calls(free_slot, slot.ops, slot.admin);
    slot.module = module;
    return &slot.ops;
}
