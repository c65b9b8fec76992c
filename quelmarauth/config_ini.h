// config_ini.h: the configuration file as sections of keys, each with the
// line it came from, and the first error found while reading it.
#ifndef QUELMARAUTH_CONFIG_INI_H
#define QUELMARAUTH_CONFIG_INI_H

#include <cstdio>
#include <string>
#include <vector>

struct ini_entry {
    std::string key;
    std::string value;
    int line;
};

struct ini_section {
    std::string name;
    int line;
    std::vector<ini_entry> entries;
};

struct ini_file {
    std::vector<ini_section> sections;
    int first_error_line = 0; // 0: no error
    std::string first_error;

    // Records an error at line unless one at an earlier line is known.
    [[gnu::format(printf, 3, 4)]] void fail(int line, const char *format, ...);
};

// Reads every line of file. Lines that are not "[section]", "key = value",
// blank or '#' comments, keys given twice in a section, sections given twice
// and keys before any section are recorded in result as errors. False only
// when the file cannot be read (errno says why).
[[nodiscard]] bool read_ini_file(std::FILE *file, ini_file &result);

#endif
