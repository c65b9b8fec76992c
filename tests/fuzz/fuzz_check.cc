// fuzz_check.cc: reporting for the harnesses, and their scratch folder.
#include "fuzz_check.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

inline constexpr std::size_t SHOWN_LIMIT = 300;

struct scratch_folder {
    std::string path;
    scratch_folder() {
        const char *base = std::getenv("TMPDIR");
        if (base == nullptr || base[0] == '\0')
            base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/zembrovald-fuzz.XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            fuzz_fail("cannot make a folder under %s: %s", base, std::strerror(errno));
        path = pattern;
    }
    ~scratch_folder() {
        if (DIR *listing = ::opendir(path.c_str())) {
            while (const dirent *item = ::readdir(listing)) {
                if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
                    ::unlink((path + "/" + item->d_name).c_str());
            }
            ::closedir(listing);
        }
        ::rmdir(path.c_str());
    }
};

} // namespace

void fuzz_fail(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::fputs("broken promise: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

const std::string &fuzz_folder() {
    static const scratch_folder folder;
    return folder.path;
}

std::string write_fuzz_file(std::string_view name, std::string_view data) {
    std::string path = fuzz_folder() + "/" + std::string(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        fuzz_fail("cannot write %s: %s", path.c_str(), std::strerror(errno));
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t wrote = ::write(fd, data.data() + done, data.size() - done);
        if (wrote <= 0)
            fuzz_fail("cannot write %s: %s", path.c_str(), std::strerror(errno));
        done += static_cast<std::size_t>(wrote);
    }
    ::close(fd);
    return path;
}

std::string read_fuzz_file(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fuzz_fail("cannot read %s: %s", path.c_str(), std::strerror(errno));
    std::string content;
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0)
            fuzz_fail("cannot read %s: %s", path.c_str(), std::strerror(errno));
        if (got == 0)
            break;
        content.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return content;
}

std::string shown(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < SHOWN_LIMIT; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            out.push_back(static_cast<char>(byte));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out.append(escaped);
        }
    }
    if (text.size() > SHOWN_LIMIT)
        out.append("...");
    return out;
}
