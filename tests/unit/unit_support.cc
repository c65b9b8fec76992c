// unit_support.cc: helpers of the library's unit tests.
#include "unit_support.h"

#include <crypt.h>
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return ::remove(path);
}

[[gnu::format(printf, 2, 0)]] void record(int priority, const char *format, va_list args)
{
    char text[4096];
    std::vsnprintf(text, sizeof text, format, args);
    logged_entries().push_back(logged_entry{priority, text});
}

} // namespace

// The library logs through syslog; _FORTIFY_SOURCE turns the calls into the
// _chk forms. All four end in the list above.
extern "C" {
[[gnu::format(printf, 3, 4)]] void __syslog_chk(int priority, int flag, const char *format, ...);
[[gnu::format(printf, 3, 0)]] void __vsyslog_chk(int priority, int flag, const char *format, va_list args);

void syslog(int priority, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    record(priority, format, args);
    va_end(args);
}
[[gnu::format(printf, 2, 0)]] void vsyslog(int priority, const char *format, va_list args)
{
    record(priority, format, args);
}
void __syslog_chk(int priority, int, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    record(priority, format, args);
    va_end(args);
}
void __vsyslog_chk(int priority, int, const char *format, va_list args)
{
    record(priority, format, args);
}
}

std::vector<logged_entry> &logged_entries()
{
    static std::vector<logged_entry> entries;
    return entries;
}

scratch_folder::scratch_folder()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/quelmarauth-unit.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a scratch folder");
    path_ = pattern;
}

scratch_folder::~scratch_folder()
{
    ::nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

scoped_env::scoped_env(const char *name, const std::string &value) : name_(name)
{
    if (const char *old = std::getenv(name)) {
        had_value_ = true;
        old_value_ = old;
    }
    ::setenv(name, value.c_str(), 1);
}

scoped_env::~scoped_env()
{
    if (had_value_)
        ::setenv(name_.c_str(), old_value_.c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

void write_file(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool file_exists(const std::string &path)
{
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

std::vector<std::string> folder_entries(const std::string &path)
{
    std::vector<std::string> names;
    if (DIR *folder = ::opendir(path.c_str())) {
        while (const dirent *item = ::readdir(folder)) {
            if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
                names.emplace_back(item->d_name);
        }
        ::closedir(folder);
    }
    return names;
}

std::string hash_of(const char *password, const char *prefix, unsigned long count)
{
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn(prefix, count, nullptr, 0, setting, sizeof setting) == nullptr)
        throw std::runtime_error("crypt_gensalt refused the prefix");
    crypt_data data{};
    const char *hash = crypt_rn(password, setting, &data, sizeof data);
    if (hash == nullptr || hash[0] == '*')
        throw std::runtime_error("crypt failed");
    return hash;
}

bool verifies(const char *password, const std::string &hash)
{
    crypt_data data{};
    const char *computed = crypt_rn(password, hash.c_str(), &data, sizeof data);
    return computed != nullptr && computed[0] != '*' && hash == computed;
}
