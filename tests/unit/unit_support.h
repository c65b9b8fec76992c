// unit_support.h: what the library's unit tests share: a scratch folder that
// removes itself, whole-file reads and writes, hashes made with libxcrypt
// directly, and the library's diagnostics as the system log received them.
#ifndef QUELMARAUTH_UNIT_SUPPORT_H
#define QUELMARAUTH_UNIT_SUPPORT_H

#include <string>
#include <vector>

// A fresh folder under TMPDIR (or /tmp), removed with everything in it when
// the object goes, even after a failed assertion.
class scratch_folder {
public:
    scratch_folder();
    scratch_folder(const scratch_folder &) = delete;
    scratch_folder &operator=(const scratch_folder &) = delete;
    ~scratch_folder();
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets an environment variable for its lifetime.
class scoped_env {
public:
    scoped_env(const char *name, const std::string &value);
    scoped_env(const scoped_env &) = delete;
    scoped_env &operator=(const scoped_env &) = delete;
    ~scoped_env();

private:
    std::string name_;
    bool had_value_ = false;
    std::string old_value_;
};

void write_file(const std::string &path, const std::string &content);
std::string read_file(const std::string &path);
bool file_exists(const std::string &path);
std::vector<std::string> folder_entries(const std::string &path);

// A hash of password made by libxcrypt itself; prefix like "$6$", count as
// crypt_gensalt takes it.
std::string hash_of(const char *password, const char *prefix = "$6$", unsigned long count = 1000);

// Whether password verifies against hash, by libxcrypt itself.
bool verifies(const char *password, const std::string &hash);

// Entries the library sent to the system log since the last clear. The test
// program defines syslog itself (there is no log daemon here), so the
// library's calls land in this list with their priority.
struct logged_entry {
    int priority;
    std::string text;
};
std::vector<logged_entry> &logged_entries();

#endif
