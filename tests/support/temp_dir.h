// temp_dir.h: a private temporary folder that is removed with everything in
// it when the test ends, even when an assertion failed on the way.
#ifndef ZEMBROVALD_TESTS_TEMP_DIR_H
#define ZEMBROVALD_TESTS_TEMP_DIR_H

#include <string>
#include <vector>

namespace test_support {

class temp_dir {
  public:
    // prefix: a few letters; the folder is made under /tmp with a short name,
    // since Unix socket paths inside it are limited to 108 bytes.
    explicit temp_dir(const char *prefix = "ze2e");
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;

    [[nodiscard]] const std::string &path() const { return path_; }
    [[nodiscard]] std::string file(const std::string &name) const { return path_ + "/" + name; }
    // Names of the entries in the folder, sorted.
    [[nodiscard]] std::vector<std::string> entries() const;

  private:
    std::string path_;
};

// Whole-file helpers; a failure is reported by the result, never thrown.
bool write_file(const std::string &path, const std::string &content);
std::string read_file(const std::string &path);
bool file_exists(const std::string &path);

} // namespace test_support

#endif
