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

#include "store_module.h"

namespace {

inline constexpr std::size_t MAX_MODULE_NAME = 32;
inline constexpr const char *MODULE_FOLDER = "quelmarauth";

struct module_slot {
    std::string name;
    const quelmarauth_store_module *module = nullptr;
    std::vector<store_key> keys;
    store_ops ops{};
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

// Copies a module's text into a fixed field of the record, cut at its size.
template <std::size_t SIZE>
std::string field_text(const char (&field)[SIZE])
{
    return std::string(field, ::strnlen(field, SIZE));
}

store_result status_of(int status)
{
    switch (status) {
    case QUELMARAUTH_STORE_OK:
        return store_result::ok;
    case QUELMARAUTH_STORE_DENIED:
        return store_result::denied;
    default:
        return store_result::failed;
    }
}

// The section's settings as the module sees them; points into config.
struct call_view {
    std::vector<quelmarauth_store_setting> settings;
    quelmarauth_store_call call{};

    explicit call_view(const store_config &config)
    {
        settings.reserve(config.settings.size());
        for (const auto &[key, value] : config.settings)
            settings.push_back({key.c_str(), value.c_str()});
        call.service = config.service.c_str();
        call.config_path = config.config_path.c_str();
        call.settings = settings.data();
        call.setting_count = settings.size();
        call.hash_method = hash_method_name(config.hashing.method);
        call.hash_cost = config.hashing.cost;
    }
};

// The module's answer, with its reason under the module's name; a failure
// without a reason still gets one.
store_result finish_call(const module_slot &slot, int status, char (&reason)[ERROR_TEXT_SIZE], error_text &error)
{
    reason[sizeof reason - 1] = '\0';
    const store_result result = status_of(status);
    if (reason[0] != '\0')
        set_error(error, "%s: %s", slot.name.c_str(), reason);
    else if (result == store_result::failed)
        set_error(error, "%s: failed (status %d) without a reason", slot.name.c_str(), status);
    return result;
}

void fill_record(const quelmarauth_store_record &from, account_record &to)
{
    to = account_record{};
    to.name = field_text(from.name);
    to.has_uid = from.has_uid != 0;
    to.uid = from.uid;
    to.has_gid = from.has_gid != 0;
    to.gid = from.gid;
    to.home = field_text(from.home);
    to.sysuser = field_text(from.sysuser);
}

template <std::size_t SLOT>
store_result slot_login(const store_config &config, const char *user, const char *password, account_record &record,
                        error_text &error)
{
    const module_slot &slot = slots()[SLOT];
    call_view view(config);
    quelmarauth_store_record found{};
    char reason[ERROR_TEXT_SIZE] = "";
    const int status = slot.module->login(&view.call, user, password, &found, reason, sizeof reason);
    const store_result result = finish_call(slot, status, reason, error);
    if (result == store_result::ok)
        fill_record(found, record);
    return result;
}

template <std::size_t SLOT>
store_result slot_lookup(const store_config &config, const char *user, account_record &record, error_text &error)
{
    const module_slot &slot = slots()[SLOT];
    call_view view(config);
    quelmarauth_store_record found{};
    char reason[ERROR_TEXT_SIZE] = "";
    const int status = slot.module->lookup(&view.call, user, &found, reason, sizeof reason);
    const store_result result = finish_call(slot, status, reason, error);
    if (result == store_result::ok)
        fill_record(found, record);
    return result;
}

template <std::size_t SLOT>
store_result slot_passwd(const store_config &config, const char *user, const char *old_password,
                         const char *new_password, error_text &error)
{
    const module_slot &slot = slots()[SLOT];
    call_view view(config);
    char reason[ERROR_TEXT_SIZE] = "";
    const int status = slot.module->passwd(&view.call, user, old_password, new_password, reason, sizeof reason);
    return finish_call(slot, status, reason, error);
}

// store_ops holds plain function pointers without a context, so each slot
// gets functions of its own that know their slot.
template <std::size_t... SLOTS>
void bind_slot(std::size_t index, store_ops &ops, std::index_sequence<SLOTS...>)
{
    ((SLOTS == index ? (ops.login = slot_login<SLOTS>, ops.lookup = slot_lookup<SLOTS>,
                        ops.passwd = slot_passwd<SLOTS>, true)
                     : false),
     ...);
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
    if (module->name == nullptr || name != module->name || module->keys == nullptr || module->login == nullptr
        || module->lookup == nullptr || module->passwd == nullptr) {
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
    bind_slot(free_slot, slot.ops, std::make_index_sequence<MAX_STORE_MODULES>{});
    slot.module = module;
    return &slot.ops;
}
