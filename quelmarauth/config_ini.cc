// config_ini.cc: reads the configuration file's lines with inih, keeping
// the line number of every section and key so that errors can name it.
#include "config_ini.h"

#include <ini.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

void ini_file::fail(int line, const char *format, ...)
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

namespace {

// What the reader and the handler share. inih tells its handler neither the
// line number nor the raw line, and truncates section names at 50 bytes, so
// the reader counts lines, keeps the raw text and reads section headers
// itself; inih only splits "key = value" lines.
struct parse_state {
    std::FILE *file = nullptr;
    int line_number = 0;
    std::string raw_line;
    ini_file &result;
};

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

ini_section *find_section(std::vector<ini_section> &sections, std::string_view name)
{
    for (ini_section &candidate : sections) {
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
        state.result.fail(line, "line too long (at most %zu bytes)", capacity);
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
            state.result.fail(line, "control character in line");
            return buffer;
        }
    }
    text = trim(text);
    if (text.empty() || text.front() == '#')
        return buffer;
    // inih skips a byte order mark at the start of the first line it is
    // given, so a mark after blanks would make "<blanks><mark>[name]" a
    // section for inih and a silently ignored line here.
    if (line == 1 && text.starts_with("\xEF\xBB\xBF")) {
        state.result.fail(line, "malformed line");
        return buffer;
    }
    // inih would take these for comments too.
    if (text.front() == ';') {
        state.result.fail(line, "malformed line (comments start with '#')");
        return buffer;
    }
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1 || !trim(text.substr(close + 1)).empty()) {
            state.result.fail(line, "malformed section header");
            return buffer;
        }
        const std::string_view name = text.substr(1, close - 1);
        if (find_section(state.result.sections, name) != nullptr) {
            state.result.fail(line, "duplicate section [%.*s]", static_cast<int>(name.size()), name.data());
            return buffer;
        }
        state.result.sections.push_back(ini_section{std::string(name), line, {}});
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
        state.result.fail(line, "malformed line");
        return 1;
    }
    if (state.result.sections.empty()) {
        state.result.fail(line, "key '%s' outside any section", name);
        return 1;
    }
    ini_section &current = state.result.sections.back();
    for (const ini_entry &seen : current.entries) {
        if (seen.key == name) {
            state.result.fail(line, "duplicate key '%s' (first on line %d)", name, seen.line);
            return 1;
        }
    }
    current.entries.push_back(ini_entry{name, value, line});
    return 1;
}

} // namespace

bool read_ini_file(std::FILE *file, ini_file &result)
{
    parse_state state{file, 0, {}, result};
    const int inih_error = ini_parse_stream(read_for_inih, &state, handle_entry, &state);
    if (std::ferror(file))
        return false;
    // inih reports the first line it could not split; any line it refused
    // is one the reader passed on as a key line.
    if (inih_error > 0)
        result.fail(inih_error, "malformed line");
    if (inih_error < 0)
        result.fail(1, "cannot parse");
    return true;
}
