// config.cc: the configuration, checked as a whole on every load, so that a
// mistake anywhere in it is found at once and named by its line.
#include "config.h"

#include "config_ini.h"
#include "regular_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#ifndef QUELMARAUTH_DEFAULT_CONFIG
#error "QUELMARAUTH_DEFAULT_CONFIG must name the default configuration file"
#endif

namespace {

inline constexpr std::size_t MAX_COST_DIGITS = 10;

const store_key *find_key(const store_ops &store, std::string_view name)
{
    for (const store_key *key = store.keys; key != nullptr && key->name != nullptr; ++key) {
        if (name == key->name)
            return key;
    }
    return nullptr;
}

bool parse_cost(std::string_view text, unsigned long &cost)
{
    if (text.empty() || text.size() > MAX_COST_DIGITS)
        return false;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    cost = value;
    return true;
}

// What one section says, once checked.
struct checked_section {
    const store_ops *store = &USERDB_STORE;
    hash_settings hashing;
};

// Checks one section; records its errors in ini. Returns false only
// when libxcrypt is needed and cannot be used (reason in error).
bool check_section(const ini_section &part, ini_file &ini, checked_section &out, error_text &error)
{
    out = checked_section{};
    bool backend_known = true;
    for (const ini_entry &item : part.entries) {
        if (item.key == "backend") {
            // Only backends the file names are loaded: a site that does not
            // use a module never pays for it.
            error_text reason;
            out.store = find_store(item.value, reason);
            if (out.store == nullptr) {
                backend_known = false;
                ini.fail(item.line, "unknown backend '%s' (%s)", item.value.c_str(), reason.text);
            }
        }
    }
    // The keys of an unknown backend cannot be judged.
    if (!backend_known)
        return true;
    bool hash_known = true;
    const ini_entry *cost_entry = nullptr;
    for (const ini_entry &item : part.entries) {
        if (item.key == "backend")
            continue;
        const bool hash_key = item.key == "hash" || item.key == "cost";
        const store_key *key = hash_key ? nullptr : find_key(*out.store, item.key);
        if ((hash_key && !out.store->writes_hashes) || (!hash_key && key == nullptr)) {
            ini.fail(item.line, "unknown key '%s'", item.key.c_str());
        } else if (item.key == "hash") {
            hash_known = parse_hash_method(item.value, out.hashing.method);
            if (!hash_known)
                ini.fail(item.line, "unknown hash method '%s' (yescrypt, sha512crypt or bcrypt)",
                         item.value.c_str());
        } else if (item.key == "cost") {
            cost_entry = &item;
        } else if (item.value.empty()) {
            ini.fail(item.line, "empty value for '%s'", item.key.c_str());
        }
    }
    if (cost_entry == nullptr) {
        out.hashing.cost = default_cost(out.hashing.method);
        return true;
    }
    if (!parse_cost(cost_entry->value, out.hashing.cost)) {
        ini.fail(cost_entry->line, "cost '%s' is not a number", cost_entry->value.c_str());
        return true;
    }
    // Whether a cost is right depends on the method: judged only once the
    // method is known.
    if (!hash_known)
        return true;
    switch (check_cost(out.hashing, error)) {
    case cost_check::accepted:
        return true;
    case cost_check::refused:
        ini.fail(cost_entry->line, "cost %lu is not accepted for %s", out.hashing.cost,
                 hash_method_name(out.hashing.method));
        return true;
    case cost_check::failed:
        return false;
    }
    return true;
}

std::string folder_of(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

struct file_closer {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

} // namespace

const char *config_file_path()
{
    const char *path = secure_getenv("QUELMARAUTH_CONFIG");
    return path != nullptr && path[0] != '\0' ? path : QUELMARAUTH_DEFAULT_CONFIG;
}

bool load_config(const char *path, const char *service, const store_ops *&store, store_config &config,
                 error_text &error)
{
    unique_fd fd = open_regular_file(path, error);
    if (!fd.valid())
        return false;
    std::unique_ptr<std::FILE, file_closer> file(::fdopen(fd.get(), "r"));
    if (!file) {
        set_error(error, "%s: cannot open: %s", path, std::strerror(errno));
        return false;
    }
    (void)fd.release();
    ini_file ini;
    if (!read_ini_file(file.get(), ini)) {
        set_error(error, "%s: cannot read: %s", path, std::strerror(errno));
        return false;
    }

    std::vector<checked_section> checked(ini.sections.size());
    for (std::size_t i = 0; i < ini.sections.size(); ++i) {
        if (!check_section(ini.sections[i], ini, checked[i], error))
            return false;
    }
    if (ini.first_error_line != 0) {
        set_error(error, "%s:%d: %s", path, ini.first_error_line, ini.first_error.c_str());
        return false;
    }
    std::size_t chosen = ini.sections.size();
    for (std::size_t i = 0; i < ini.sections.size() && chosen == ini.sections.size(); ++i) {
        if (ini.sections[i].name == service)
            chosen = i;
    }
    for (std::size_t i = 0; i < ini.sections.size() && chosen == ini.sections.size(); ++i) {
        if (ini.sections[i].name == "*")
            chosen = i;
    }
    if (chosen == ini.sections.size()) {
        set_error(error, "service '%s': no section [%s] and no section [*] in %s", service, service, path);
        return false;
    }
    const ini_section &chosen_section = ini.sections[chosen];
    const checked_section &chosen_checked = checked[chosen];

    store = chosen_checked.store;
    config = store_config{};
    config.service = service;
    config.config_path = path;
    config.config_folder = folder_of(path);
    config.hashing = chosen_checked.hashing;
    for (const ini_entry &item : chosen_section.entries) {
        if (item.key == "backend" || item.key == "hash" || item.key == "cost")
            continue;
        std::string value = item.value;
        const store_key *key = find_key(*store, item.key);
        if (key != nullptr && key->kind == key_kind::path && value.front() != '/')
            value = config.config_folder + "/" + value;
        config.settings.emplace_back(item.key, std::move(value));
    }
    return true;
}
