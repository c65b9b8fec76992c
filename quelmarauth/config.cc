// config.cc: the INI configuration, parsed with inih and checked as a whole
// on every load, so that a mistake anywhere in it is found at once and named
// by its line.
#include "config.h"

#include <ini.h>

#include <cerrno>
#include <cstdarg>
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

struct entry {
    std::string key;
    std::string value;
    int line;
};

struct section {
    std::string name;
    int line;
    std::vector<entry> entries;
};

// What the reader and the handler share. inih tells its handler neither the
// line number nor the raw line, and truncates section names at 50 bytes, so
// the reader counts lines, keeps the raw text and reads section headers
// itself; inih only splits "key = value" lines.
struct parse_state {
    std::FILE *file = nullptr;
    int line_number = 0;
    std::string raw_line;
    std::vector<section> sections;
    int first_error_line = 0;
    std::string first_error;

    [[gnu::format(printf, 3, 4)]] void fail(int line, const char *format, ...);
};

void parse_state::fail(int line, const char *format, ...)
{
    if (first_error_line != 0 && first_error_line <= line)
        return;
    char reason[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
    first_error_line = line;
    first_error = reason;
}

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && (is_blank(text.front()) || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (is_blank(text.back()) || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

section *find_section(std::vector<section> &sections, std::string_view name)
{
    for (section &candidate : sections) {
        if (candidate.name == name)
            return &candidate;
    }
    return nullptr;
}

// Reads one raw line; false at the end of the file. Sets too_long when the
// line did not fit in capacity bytes (the rest of it is consumed).
bool read_raw_line(std::FILE *file, std::string &line, std::size_t capacity, bool &too_long)
{
    line.clear();
    too_long = false;
    int c = std::getc(file);
    if (c == EOF)
        return false;
    for (; c != EOF && c != '\n'; c = std::getc(file)) {
        if (line.size() < capacity)
            line.push_back(static_cast<char>(c));
        else
            too_long = true;
    }
    return true;
}

// Hands inih one line at a time. Section headers, comments and every line
// in error become blank lines for inih; key lines go through with their
// leading white space removed, so inih never takes them for continuations.
char *read_for_inih(char *buffer, int size, void *stream)
{
    auto &state = *static_cast<parse_state *>(stream);
    // inih needs room for the line feed and the terminating NUL.
    const std::size_t capacity = size > 3 ? static_cast<std::size_t>(size) - 3 : 0;
    bool too_long = false;
    if (!read_raw_line(state.file, state.raw_line, capacity, too_long))
        return nullptr;
    const int line = ++state.line_number;
    std::snprintf(buffer, static_cast<std::size_t>(size), "\n");

    if (too_long) {
        state.fail(line, "line too long (at most %zu bytes)", capacity);
        return buffer;
    }
    std::string_view text = state.raw_line;
    // A byte order mark some editors write; inih would skip it silently.
    if (line == 1 && text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    for (char c : text) {
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) {
            state.fail(line, "control character in line");
            return buffer;
        }
    }
    text = trim(text);
    if (text.empty() || text.front() == '#')
        return buffer;
    // inih would take these for comments too.
    if (text.front() == ';') {
        state.fail(line, "malformed line (comments start with '#')");
        return buffer;
    }
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1 || !trim(text.substr(close + 1)).empty()) {
            state.fail(line, "malformed section header");
            return buffer;
        }
        const std::string_view name = text.substr(1, close - 1);
        if (find_section(state.sections, name) != nullptr) {
            state.fail(line, "duplicate section [%.*s]", static_cast<int>(name.size()), name.data());
            return buffer;
        }
        state.sections.push_back(section{std::string(name), line, {}});
        return buffer;
    }
    std::snprintf(buffer, static_cast<std::size_t>(size), "%.*s\n", static_cast<int>(text.size()),
                  text.data());
    state.raw_line.assign(text);
    return buffer;
}

int handle_entry(void *user, const char *, const char *name, const char *value)
{
    auto &state = *static_cast<parse_state *>(user);
    const int line = state.line_number;
    // inih also takes "key: value" and strips "; comments"; neither is part
    // of this format, so the pair must be exactly what the line says.
    const std::string_view raw = state.raw_line;
    const std::size_t equals = raw.find('=');
    if (equals == std::string_view::npos || trim(raw.substr(0, equals)) != name
        || trim(raw.substr(equals + 1)) != value) {
        state.fail(line, "malformed line");
        return 1;
    }
    if (state.sections.empty()) {
        state.fail(line, "key '%s' outside any section", name);
        return 1;
    }
    section &current = state.sections.back();
    for (const entry &seen : current.entries) {
        if (seen.key == name) {
            state.fail(line, "duplicate key '%s' (first on line %d)", name, seen.line);
            return 1;
        }
    }
    current.entries.push_back(entry{name, value, line});
    return 1;
}

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

// Checks one section; reports its errors through state. Returns false only
// when libxcrypt is needed and cannot be used (reason in error).
bool check_section(const section &part, parse_state &state, checked_section &out, error_text &error)
{
    out = checked_section{};
    bool backend_known = true;
    const entry *cost_entry = nullptr;
    for (const entry &item : part.entries) {
        if (item.key == "backend") {
            out.store = find_store(item.value);
            if (out.store == nullptr) {
                backend_known = false;
                state.fail(item.line, "unknown backend '%s'", item.value.c_str());
            }
        }
    }
    for (const entry &item : part.entries) {
        if (item.key == "backend")
            continue;
        if (item.key == "hash") {
            if (!parse_hash_method(item.value, out.hashing.method))
                state.fail(item.line, "unknown hash method '%s' (yescrypt, sha512crypt or bcrypt)",
                           item.value.c_str());
            continue;
        }
        if (item.key == "cost") {
            cost_entry = &item;
            if (!parse_cost(item.value, out.hashing.cost))
                state.fail(item.line, "cost '%s' is not a number", item.value.c_str());
            continue;
        }
        if (!backend_known)
            continue;
        const store_key *key = find_key(*out.store, item.key);
        if (key == nullptr)
            state.fail(item.line, "unknown key '%s'", item.key.c_str());
        else if (item.value.empty())
            state.fail(item.line, "empty value for '%s'", item.key.c_str());
    }
    if (cost_entry == nullptr) {
        out.hashing.cost = default_cost(out.hashing.method);
        return true;
    }
    if (!parse_cost(cost_entry->value, out.hashing.cost))
        return true;
    switch (check_cost(out.hashing, error)) {
    case cost_check::accepted:
        return true;
    case cost_check::refused:
        state.fail(cost_entry->line, "cost %lu is not accepted for %s", out.hashing.cost,
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
    std::unique_ptr<std::FILE, file_closer> file(std::fopen(path, "re"));
    if (!file) {
        set_error(error, "%s: cannot open: %s", path, std::strerror(errno));
        return false;
    }
    parse_state state;
    state.file = file.get();
    const int inih_error = ini_parse_stream(read_for_inih, &state, handle_entry, &state);
    if (std::ferror(file.get())) {
        set_error(error, "%s: cannot read: %s", path, std::strerror(errno));
        return false;
    }
    // inih reports the first line it could not split; any line it refused
    // is one the reader passed on as a key line.
    if (inih_error > 0)
        state.fail(inih_error, "malformed line");
    if (inih_error < 0)
        state.fail(1, "cannot parse");

    std::vector<checked_section> checked(state.sections.size());
    for (std::size_t i = 0; i < state.sections.size(); ++i) {
        if (!check_section(state.sections[i], state, checked[i], error))
            return false;
    }
    if (state.first_error_line != 0) {
        set_error(error, "%s:%d: %s", path, state.first_error_line, state.first_error.c_str());
        return false;
    }
    std::size_t chosen = state.sections.size();
    for (std::size_t i = 0; i < state.sections.size() && chosen == state.sections.size(); ++i) {
        if (state.sections[i].name == service)
            chosen = i;
    }
    for (std::size_t i = 0; i < state.sections.size() && chosen == state.sections.size(); ++i) {
        if (state.sections[i].name == "*")
            chosen = i;
    }
    if (chosen == state.sections.size()) {
        set_error(error, "service '%s': no section [%s] and no section [*] in %s", service, service, path);
        return false;
    }
    const section &chosen_section = state.sections[chosen];
    const checked_section &chosen_checked = checked[chosen];

    store = chosen_checked.store;
    config = store_config{};
    config.config_path = path;
    config.config_folder = folder_of(path);
    config.hashing = chosen_checked.hashing;
    for (const entry &item : chosen_section.entries) {
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
