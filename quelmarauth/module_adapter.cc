// module_adapter.cc: calls into a store module, and for modules that only
// read and write hashes, the password work the library does on their
// behalf: the same checks, dummy hash and prefixes as for the account file.
#include "module_adapter.h"

#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "hash_scheme.h"
#include "password_hash.h"

namespace {

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

template <std::size_t SIZE>
std::string field_text(const char (&field)[SIZE])
{
    return std::string(field, ::strnlen(field, SIZE));
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

template <std::size_t SIZE>
bool put_text(char (&to)[SIZE], const std::string &from)
{
    if (from.size() >= SIZE)
        return false;
    std::memcpy(to, from.c_str(), from.size() + 1);
    return true;
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

// A module's reason, which the library logs under the module's name; a
// failure without a reason still gets one.
struct module_reason {
    char text[ERROR_TEXT_SIZE] = "";

    store_result finish(const module_binding &binding, int status, error_text &error)
    {
        text[sizeof text - 1] = '\0';
        const store_result result = status_of(status);
        if (text[0] != '\0')
            set_error(error, "%s: %s", binding.name, text);
        else if (result == store_result::failed)
            set_error(error, "%s: failed (status %d) without a reason", binding.name, status);
        return result;
    }
};

// A stored hash as a module handed it over, wiped when it goes.
struct fetched_hash {
    char text[QUELMARAUTH_STORE_HASH_SIZE] = "";
    fetched_hash() = default;
    fetched_hash(const fetched_hash &) = delete;
    fetched_hash &operator=(const fetched_hash &) = delete;
    ~fetched_hash() { explicit_bzero(text, sizeof text); }
    std::string_view view() const { return {text, ::strnlen(text, sizeof text)}; }
};

// ---- modules that do their own password work ----

template <std::size_t SLOT>
store_result call_login(const store_config &config, const char *user, const char *password, account_record &record,
                        error_text &error)
{
    const module_binding &binding = module_in_slot(SLOT);
    call_view view(config);
    quelmarauth_store_record found{};
    module_reason reason;
    const int status = binding.module->login(&view.call, user, password, &found, reason.text, sizeof reason.text);
    const store_result result = reason.finish(binding, status, error);
    if (result == store_result::ok)
        fill_record(found, record);
    return result;
}

template <std::size_t SLOT>
store_result call_lookup(const store_config &config, const char *user, account_record &record, error_text &error)
{
    const module_binding &binding = module_in_slot(SLOT);
    call_view view(config);
    quelmarauth_store_record found{};
    module_reason reason;
    const int status = binding.module->lookup(&view.call, user, &found, reason.text, sizeof reason.text);
    const store_result result = reason.finish(binding, status, error);
    if (result == store_result::ok)
        fill_record(found, record);
    return result;
}

template <std::size_t SLOT>
store_result call_passwd(const store_config &config, const char *user, const char *old_password,
                         const char *new_password, error_text &error)
{
    const module_binding &binding = module_in_slot(SLOT);
    call_view view(config);
    module_reason reason;
    const int status =
        binding.module->passwd(&view.call, user, old_password, new_password, reason.text, sizeof reason.text);
    return reason.finish(binding, status, error);
}

// ---- modules that keep hashes: the library checks and makes them ----

// The account and its stored hash. An account without a usable hash is
// still found: only the password check tells, after the same work.
template <std::size_t SLOT>
store_result fetch_account(const store_config &config, const char *user, quelmarauth_store_record &found,
                           fetched_hash &hash, error_text &error)
{
    const module_binding &binding = module_in_slot(SLOT);
    call_view view(config);
    module_reason reason;
    const int status = binding.module->fetch(&view.call, user, &found, hash.text, sizeof hash.text, reason.text,
                                             sizeof reason.text);
    hash.text[sizeof hash.text - 1] = '\0';
    return reason.finish(binding, status, error);
}

template <std::size_t SLOT>
store_result replace_account_hash(const store_config &config, const char *user, std::string_view old_hash,
                                  std::string_view new_hash, error_text &error)
{
    const module_binding &binding = module_in_slot(SLOT);
    call_view view(config);
    module_reason reason;
    // Both are NUL-terminated: old_hash is a fetched_hash, new_hash a new_hash.
    const int status = binding.module->replace_hash(&view.call, user, old_hash.data(), new_hash.data(),
                                                    reason.text, sizeof reason.text);
    return reason.finish(binding, status, error);
}

// Checks password against the account's hash, or against a dummy when there
// is no account, so that both take the same time.
store_result check_password(const store_config &config, const char *password, store_result found,
                            const fetched_hash &hash, error_text &error)
{
    if (found == store_result::failed)
        return store_result::failed;
    const char *stored = found == store_result::ok ? hash.text : nullptr;
    switch (verify_password(password, stored, config.hashing, error)) {
    case verify_result::match:
        return store_result::ok;
    case verify_result::mismatch:
        return store_result::denied;
    case verify_result::failed:
        return store_result::failed;
    }
    return store_result::failed;
}

template <std::size_t SLOT>
store_result hash_login(const store_config &config, const char *user, const char *password, account_record &record,
                        error_text &error)
{
    quelmarauth_store_record found{};
    fetched_hash hash;
    const store_result fetched = fetch_account<SLOT>(config, user, found, hash, error);
    const store_result checked = check_password(config, password, fetched, hash, error);
    if (checked == store_result::ok)
        fill_record(found, record);
    return checked;
}

template <std::size_t SLOT>
store_result hash_lookup(const store_config &config, const char *user, account_record &record, error_text &error)
{
    quelmarauth_store_record found{};
    fetched_hash hash;
    const store_result result = fetch_account<SLOT>(config, user, found, hash, error);
    if (result == store_result::ok)
        fill_record(found, record);
    return result;
}

// The old password is checked against the hash just fetched, and the update
// replaces only that very hash: a change made meanwhile is never overwritten.
template <std::size_t SLOT>
store_result hash_passwd(const store_config &config, const char *user, const char *old_password,
                         const char *new_password, error_text &error)
{
    quelmarauth_store_record found{};
    fetched_hash stored;
    const store_result fetched = fetch_account<SLOT>(config, user, found, stored, error);
    const store_result checked = check_password(config, old_password, fetched, stored, error);
    if (checked != store_result::ok)
        return checked;
    if (new_password[0] == '\0')
        return store_result::denied;
    new_hash replacement;
    if (!make_hash(new_password, config.hashing, replacement, error)
        || !style_like(stored.view(), config.hashing.method, replacement, error))
        return store_result::failed;
    return replace_account_hash<SLOT>(config, user, stored.view(), replacement.view(), error);
}

// ---- administration ----

template <std::size_t SLOT>
store_result admin_add(const store_config &config, const account_record &record, error_text &error)
{
    const module_binding &binding = module_in_slot(SLOT);
    quelmarauth_store_record added{};
    if (!put_text(added.name, record.name) || !put_text(added.home, record.home)
        || !put_text(added.sysuser, record.sysuser)) {
        set_error(error, "name, home or system user of %s is too long for the store", record.name.c_str());
        return store_result::denied;
    }
    added.has_uid = record.has_uid ? 1 : 0;
    added.uid = record.uid;
    added.has_gid = record.has_gid ? 1 : 0;
    added.gid = record.gid;
    call_view view(config);
    module_reason reason;
    const int status = binding.module->add(&view.call, &added, record.hash.c_str(), reason.text, sizeof reason.text);
    return reason.finish(binding, status, error);
}

template <std::size_t SLOT>
store_result admin_remove(const store_config &config, const char *user, error_text &error)
{
    const module_binding &binding = module_in_slot(SLOT);
    call_view view(config);
    module_reason reason;
    const int status = binding.module->remove(&view.call, user, reason.text, sizeof reason.text);
    return reason.finish(binding, status, error);
}

template <std::size_t SLOT>
store_result admin_set_hash(const store_config &config, const char *user, std::string_view hash, error_text &error)
{
    quelmarauth_store_record found{};
    fetched_hash stored;
    const store_result fetched = fetch_account<SLOT>(config, user, found, stored, error);
    if (fetched == store_result::denied && error.empty())
        set_error(error, "no account %s", user);
    if (fetched != store_result::ok)
        return fetched;
    new_hash replacement;
    if (hash.size() >= sizeof replacement.text) {
        set_error(error, "new hash of %s is too long", user);
        return store_result::failed;
    }
    std::memcpy(replacement.text, hash.data(), hash.size());
    replacement.text[hash.size()] = '\0';
    if (!style_like(stored.view(), config.hashing.method, replacement, error))
        return store_result::failed;
    return replace_account_hash<SLOT>(config, user, stored.view(), replacement.view(), error);
}

template <std::size_t SLOT>
store_result admin_set_locked(const store_config &config, const char *user, bool locked, error_text &error)
{
    quelmarauth_store_record found{};
    fetched_hash stored;
    const store_result fetched = fetch_account<SLOT>(config, user, found, stored, error);
    if (fetched == store_result::denied && error.empty())
        set_error(error, "no account %s", user);
    if (fetched != store_result::ok)
        return fetched;
    const std::string_view current = stored.view();
    const bool is_locked = current.starts_with('!');
    if (is_locked == locked) {
        set_error(error, "account %s is %s", user, locked ? "already locked" : "not locked");
        return store_result::denied;
    }
    fetched_hash changed;
    if (locked) {
        if (current.size() + 1 >= sizeof changed.text) {
            set_error(error, "hash of %s is too long to lock", user);
            return store_result::failed;
        }
        changed.text[0] = '!';
        std::memcpy(changed.text + 1, current.data(), current.size());
    } else {
        std::memcpy(changed.text, current.data() + 1, current.size() - 1);
    }
    return replace_account_hash<SLOT>(config, user, current, changed.view(), error);
}

struct list_context {
    account_visitor visit;
    void *arg;
};

int visit_row(void *arg, const quelmarauth_store_record *row, const char *hash)
{
    const auto &context = *static_cast<const list_context *>(arg);
    try {
        account_record record;
        fill_record(*row, record);
        record.hash.assign(hash != nullptr ? hash : "");
        context.visit(context.arg, record);
        return 0;
    } catch (...) {
        return 1;
    }
}

template <std::size_t SLOT>
store_result admin_list(const store_config &config, account_visitor visit, void *arg, error_text &error)
{
    const module_binding &binding = module_in_slot(SLOT);
    call_view view(config);
    module_reason reason;
    list_context context{visit, arg};
    const int status = binding.module->list(&view.call, visit_row, &context, reason.text, sizeof reason.text);
    return reason.finish(binding, status, error);
}

template <std::size_t SLOT>
void bind_one(const quelmarauth_store_module &module, store_ops &ops, store_admin_ops &admin)
{
    const bool keeps_hashes = module.fetch != nullptr && module.replace_hash != nullptr;
    if (keeps_hashes) {
        ops.login = hash_login<SLOT>;
        ops.lookup = hash_lookup<SLOT>;
        ops.passwd = hash_passwd<SLOT>;
    } else {
        ops.login = call_login<SLOT>;
        ops.lookup = call_lookup<SLOT>;
        ops.passwd = call_passwd<SLOT>;
    }
    admin = store_admin_ops{};
    admin.add = module.add != nullptr ? admin_add<SLOT> : nullptr;
    admin.remove = module.remove != nullptr ? admin_remove<SLOT> : nullptr;
    admin.set_hash = keeps_hashes ? admin_set_hash<SLOT> : nullptr;
    admin.set_locked = keeps_hashes ? admin_set_locked<SLOT> : nullptr;
    admin.list = module.list != nullptr ? admin_list<SLOT> : nullptr;
    const bool administers = admin.add != nullptr || admin.remove != nullptr || admin.set_hash != nullptr
                             || admin.list != nullptr;
    ops.admin = administers ? &admin : nullptr;
}

template <std::size_t... SLOTS>
void bind_slot(std::size_t slot, store_ops &ops, store_admin_ops &admin, std::index_sequence<SLOTS...>)
{
    const quelmarauth_store_module &module = *module_in_slot(slot).module;
    ((SLOTS == slot ? bind_one<SLOTS>(module, ops, admin) : void()), ...);
}

} // namespace

module_binding &module_in_slot(std::size_t slot)
{
    static std::array<module_binding, MAX_STORE_MODULES> bindings;
    return bindings[slot];
}

bool module_is_complete(const quelmarauth_store_module &module)
{
    const bool does_own_work = module.login != nullptr && module.lookup != nullptr && module.passwd != nullptr;
    const bool keeps_hashes = module.writes_hashes != 0 && module.fetch != nullptr && module.replace_hash != nullptr;
    return does_own_work || keeps_hashes;
}

void bind_module_calls(std::size_t slot, store_ops &ops, store_admin_ops &admin)
{
    bind_slot(slot, ops, admin, std::make_index_sequence<MAX_STORE_MODULES>{});
}
