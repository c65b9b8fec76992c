// config_fuzzer.cc: arbitrary text as the configuration file. The loader
// either loads it or refuses with a reason that names the file and a line of
// it; a loaded configuration obeys the rules (known keys only, no empty
// values, absolute paths, an accepted cost, the service's own section or
// [*]), and every line the loader let through is one of the forms a
// configuration may hold. Checked against a plain reading of the lines.
#include "config.h"
#include "fuzz_check.h"
#include "password_hash.h"
#include "store.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

inline constexpr const char *SERVICE = "login";
inline constexpr std::size_t LONGEST_LINE = 197; // what the reader's buffer holds
inline constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The lines of the file, without their line feeds; a last line without one
// counts too.
std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t line_feed = text.find('\n');
        lines.push_back(text.substr(0, line_feed));
        if (line_feed == std::string_view::npos)
            break;
        text.remove_prefix(line_feed + 1);
    }
    return lines;
}

bool has_control(std::string_view text) {
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7f)
            return true;
    }
    return false;
}

// The first line (from 1) that no configuration may hold, or 0.
std::size_t first_impossible_line(const std::vector<std::string_view> &lines) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (i == 0 && line.starts_with(BYTE_ORDER_MARK))
            line.remove_prefix(BYTE_ORDER_MARK.size());
        if (lines[i].size() > LONGEST_LINE || has_control(line))
            return i + 1;
        const std::string_view text = trim(line);
        if (text.empty() || text.front() == '#')
            continue;
        if (text.front() == ';')
            return i + 1;
        if (text.front() != '[' && text.find('=') == std::string_view::npos)
            return i + 1;
    }
    return 0;
}

bool has_header(const std::vector<std::string_view> &lines, std::string_view name) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (i == 0 && line.starts_with(BYTE_ORDER_MARK))
            line.remove_prefix(BYTE_ORDER_MARK.size());
        const std::string_view text = trim(line);
        if (text.size() == name.size() + 2 && text.front() == '[' && text.back() == ']'
            && text.substr(1, name.size()) == name)
            return true;
    }
    return false;
}

// Whether some line says "key = value", blanks around either aside.
bool has_setting(const std::vector<std::string_view> &lines, std::string_view key,
                 std::string_view value) {
    for (std::string_view line : lines) {
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos && trim(line.substr(0, equals)) == key
            && trim(line.substr(equals + 1)) == value)
            return true;
    }
    return false;
}

bool is_store_key(const store_ops &store, const std::string &name) {
    for (const store_key *key = store.keys; key != nullptr && key->name != nullptr; ++key) {
        if (name == key->name)
            return true;
    }
    return false;
}

const store_key *find_store_key(const store_ops &store, const std::string &name) {
    for (const store_key *key = store.keys; key != nullptr && key->name != nullptr; ++key) {
        if (name == key->name)
            return key;
    }
    return nullptr;
}

void check_loaded(const std::vector<std::string_view> &lines, const std::string &path,
                  const store_ops *store, const store_config &config) {
    if (const std::size_t bad = first_impossible_line(lines))
        fuzz_fail("loaded although line %zu cannot be part of a configuration: '%s'", bad,
                  shown(lines[bad - 1]).c_str());
    if (store == nullptr)
        fuzz_fail("loaded without a store");
    if (!has_header(lines, SERVICE) && !has_header(lines, "*"))
        fuzz_fail("loaded with neither [%s] nor [*] in the file", SERVICE);
    if (config.service != SERVICE || config.config_path != path
        || config.config_folder != fuzz_folder())
        fuzz_fail("loaded with service '%s', path '%s', folder '%s'", config.service.c_str(),
                  config.config_path.c_str(), config.config_folder.c_str());

    for (std::size_t i = 0; i < config.settings.size(); ++i) {
        const auto &[key, value] = config.settings[i];
        if (!is_store_key(*store, key))
            fuzz_fail("loaded with key '%s', which store %s does not take", shown(key).c_str(),
                      store->name);
        if (value.empty())
            fuzz_fail("loaded with an empty value for '%s'", key.c_str());
        for (std::size_t j = 0; j < i; ++j) {
            if (config.settings[j].first == key)
                fuzz_fail("loaded with key '%s' twice", key.c_str());
        }
        std::string_view written = value;
        if (find_store_key(*store, key)->kind == key_kind::path) {
            if (value.front() != '/')
                fuzz_fail("loaded with a relative path '%s' for '%s'", shown(value).c_str(),
                          key.c_str());
            if (written.starts_with(config.config_folder + "/") && !has_setting(lines, key, value))
                written.remove_prefix(config.config_folder.size() + 1);
        }
        if (!has_setting(lines, key, written))
            fuzz_fail("loaded '%s = %s', which no line says", key.c_str(), shown(value).c_str());
    }

    if (hash_method_name(config.hashing.method) == nullptr)
        fuzz_fail("loaded with an unknown hash method");
    error_text error;
    if (store->writes_hashes && check_cost(config.hashing, error) != cost_check::accepted)
        fuzz_fail("loaded cost %lu for %s, which libxcrypt does not accept (%s)",
                  config.hashing.cost, hash_method_name(config.hashing.method), error.text);
}

void check_refused(const std::vector<std::string_view> &lines, const std::string &path,
                   const char *reason) {
    const std::string_view text = reason;
    if (text.empty())
        fuzz_fail("refused without a reason");
    const std::string no_section = std::string("service '") + SERVICE + "': no section";
    if (text.starts_with(no_section)) {
        if (first_impossible_line(lines) != 0)
            fuzz_fail("'%s' for a file with a bad line", reason);
        if (has_header(lines, SERVICE) || has_header(lines, "*"))
            fuzz_fail("'%s' for a file that has one", reason);
        return;
    }
    const std::string file_prefix = path + ":";
    if (!text.starts_with(file_prefix))
        fuzz_fail("reason '%s' does not name the file", shown(text).c_str());
    unsigned long line = 0;
    int used = 0;
    const std::string rest(text.substr(file_prefix.size()));
    if (std::sscanf(rest.c_str(), "%lu: %n", &line, &used) != 1 || used == 0)
        fuzz_fail("reason '%s' does not name a line", shown(text).c_str());
    if (line < 1 || line > lines.size())
        fuzz_fail("reason '%s' names line %lu of %zu", shown(text).c_str(), line, lines.size());
    if (static_cast<std::size_t>(used) == rest.size())
        fuzz_fail("reason '%s' says nothing after the line", shown(text).c_str());
    const std::size_t impossible = first_impossible_line(lines);
    if (impossible != 0 && line > impossible)
        fuzz_fail("reason '%s' names a line after the bad line %zu", shown(text).c_str(),
                  impossible);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::string path = write_fuzz_file("quelmarauth.conf", text);
    const std::vector<std::string_view> lines = lines_of(text);

    const store_ops *store = nullptr;
    store_config config;
    error_text error;
    const bool loaded = load_config(path.c_str(), SERVICE, store, config, error);
    if (::strnlen(error.text, sizeof error.text) == sizeof error.text)
        fuzz_fail("reason without an end");
    if (loaded)
        check_loaded(lines, path, store, config);
    else
        check_refused(lines, path, error.text);

    // The same file, the same answer.
    const store_ops *store_again = nullptr;
    store_config config_again;
    error_text error_again;
    const bool loaded_again = load_config(path.c_str(), SERVICE, store_again, config_again,
                                          error_again);
    if (loaded_again != loaded || store_again != store
        || std::strcmp(error.text, error_again.text) != 0
        || config_again.settings != config.settings)
        fuzz_fail("a second load of the same file answered differently");
    return 0;
}
