// store_module_client.cc: calls into the real module through its table.
#include "store_module_client.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace sqlite_test {

namespace {

// The call a section makes, holding its texts for the call's duration.
struct section_call {
    std::vector<quelmarauth_store_setting> entries;
    quelmarauth_store_call call{};

    explicit section_call(const settings &section) {
        for (const auto &[key, value] : section) {
            entries.push_back({key.c_str(), value.c_str()});
        }
        call.service = "login";
        call.config_path = "/test/quelmarauth.conf";
        call.settings = entries.data();
        call.setting_count = entries.size();
        call.hash_method = "sha512crypt";
        call.hash_cost = 1000;
    }
};

const quelmarauth_store_module *loaded(std::string &why) {
    void *handle = dlopen(SQLITE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        why = dlerror();
        return nullptr;
    }
    void *symbol = dlsym(handle, QUELMARAUTH_STORE_MODULE_SYMBOL);
    if (symbol == nullptr) {
        why = dlerror();
        return nullptr;
    }
    return reinterpret_cast<quelmarauth_store_module_entry>(symbol)();
}

const quelmarauth_store_module &module() {
    std::string why;
    const quelmarauth_store_module *m = sqlite_module(why);
    if (m == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", SQLITE_MODULE_PATH, why.c_str());
        std::abort();
    }
    return *m;
}

std::string field(const char *text) { return text[0] != '\0' ? text : "-"; }

int collect(void *arg, const quelmarauth_store_record *record, const char *hash) {
    auto &rows = *static_cast<std::vector<std::string> *>(arg);
    rows.push_back(std::string(record->name) + " " + hash + " " +
                   (record->has_uid != 0 ? std::to_string(record->uid) : "-") + " " +
                   (record->has_gid != 0 ? std::to_string(record->gid) : "-") + " " +
                   field(record->home) + " " + field(record->sysuser));
    return 0;
}

} // namespace

const quelmarauth_store_module *sqlite_module(std::string &why) {
    static std::string load_error;
    static const quelmarauth_store_module *m = loaded(load_error);
    why = load_error;
    return m;
}

fetched module_fetch(const settings &section, const std::string &user) {
    section_call c(section);
    fetched result;
    char hash[QUELMARAUTH_STORE_HASH_SIZE] = "unset";
    char error[256] = "";
    result.status = module().fetch(&c.call, user.c_str(), &result.record, hash, sizeof hash, error,
                                   sizeof error);
    result.hash = hash;
    result.error = error;
    return result;
}

answer module_replace(const settings &section, const std::string &user, const std::string &old_hash,
                      const std::string &new_hash) {
    section_call c(section);
    char error[256] = "";
    const int status = module().replace_hash(&c.call, user.c_str(), old_hash.c_str(),
                                             new_hash.c_str(), error, sizeof error);
    return {status, error};
}

answer module_add(const settings &section, const quelmarauth_store_record &record,
                  const std::string &hash) {
    section_call c(section);
    char error[256] = "";
    const int status = module().add(&c.call, &record, hash.c_str(), error, sizeof error);
    return {status, error};
}

answer module_remove(const settings &section, const std::string &user) {
    section_call c(section);
    char error[256] = "";
    const int status = module().remove(&c.call, user.c_str(), error, sizeof error);
    return {status, error};
}

answer module_list(const settings &section, std::vector<std::string> &rows) {
    section_call c(section);
    char error[256] = "";
    const int status = module().list(&c.call, collect, &rows, error, sizeof error);
    return {status, error};
}

} // namespace sqlite_test
