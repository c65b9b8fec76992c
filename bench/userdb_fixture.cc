// The files a run needs, and the plain file replacement to compare with.
#include "userdb_fixture.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Large enough that a big file is copied in few calls, small enough not to
// swell this process, whose resident size its forked children start from.
inline constexpr std::size_t COPY_CHUNK = 1 << 20;
char copy_buffer[COPY_CHUNK];

struct unique_fd {
    int fd;
    explicit unique_fd(int value) : fd(value) {}
    ~unique_fd() {
        if (fd >= 0)
            ::close(fd);
    }
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;
    // Closes now and reports the result, which carries delayed write errors.
    bool close_checked() {
        const int result = ::close(fd);
        fd = -1;
        return result == 0;
    }
};

bool write_all(int fd, const char *data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

bench_folder::bench_folder(const char *base) {
    const int length = std::snprintf(path, sizeof path, "%s/zembrovald-bench-XXXXXX", base);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path || mkdtemp(path) == nullptr)
        path[0] = '\0';
}

bench_folder::~bench_folder() {
    if (!ok())
        return;
    if (DIR *dir = opendir(path)) {
        while (const dirent *entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
        closedir(dir);
    }
    rmdir(path);
}

bool bench_folder::file(const char *name, char (&out)[PATH_MAX]) const {
    const int length = std::snprintf(out, sizeof out, "%s/%s", path, name);
    return length > 0 && static_cast<std::size_t>(length) < sizeof out;
}

bool use_config(const bench_folder &folder, const hash_method &method) {
    char config_path[PATH_MAX];
    if (!folder.file("quelmarauth.conf", config_path))
        return false;
    std::FILE *config = std::fopen(config_path, "w");
    if (config == nullptr)
        return false;
    std::fprintf(config, "[*]\nbackend = userdb\nuserdb = %s\nhash = %s\n", USERDB_NAME,
                 method.config_name);
    if (method.cost != 0)
        std::fprintf(config, "cost = %lu\n", method.cost);
    if (std::fclose(config) != 0)
        return false;
    return setenv("QUELMARAUTH_CONFIG", config_path, 1) == 0;
}

long long write_userdb(const bench_folder &folder, std::size_t filler_count,
                       const char *filler_hash, const tail_account *tail, std::size_t tail_count) {
    char userdb_path[PATH_MAX];
    if (!folder.file(USERDB_NAME, userdb_path))
        return 0;
    std::FILE *userdb = std::fopen(userdb_path, "w");
    if (userdb == nullptr)
        return 0;
    std::fputs("# name:hash:uid:gid:home:sysuser\n", userdb);
    for (std::size_t i = 0; i < filler_count; ++i) {
        const std::size_t id = 10000 + i;
        std::fprintf(userdb, "user%07zu:%s:%zu:%zu:/home/user%07zu:\n", i, filler_hash, id, id, i);
    }
    for (std::size_t i = 0; i < tail_count; ++i)
        std::fprintf(userdb, "%s:%s:5000:5000:/home/%s:\n", tail[i].name, tail[i].hash,
                     tail[i].name);
    const long long size = std::ftell(userdb);
    if (std::ferror(userdb) || std::fclose(userdb) != 0)
        return 0;
    return size;
}

bool copy_and_replace(const char *path, bool sync_folder) {
    char copy_path[PATH_MAX];
    const int length = std::snprintf(copy_path, sizeof copy_path, "%s.bench-copy", path);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof copy_path)
        return false;
    unique_fd source(::open(path, O_RDONLY | O_CLOEXEC));
    unique_fd copy(::open(copy_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (source.fd < 0 || copy.fd < 0)
        return false;
    for (;;) {
        const ssize_t got = ::read(source.fd, copy_buffer, sizeof copy_buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        if (!write_all(copy.fd, copy_buffer, static_cast<std::size_t>(got)))
            return false;
    }
    if (fsync(copy.fd) != 0 || !copy.close_checked())
        return false;
    if (std::rename(copy_path, path) != 0)
        return false;
    if (!sync_folder)
        return true;
    char *slash = std::strrchr(copy_path, '/');
    if (slash == nullptr)
        return false;
    *slash = '\0';
    unique_fd folder(::open(copy_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.fd >= 0 && fsync(folder.fd) == 0;
}
