// userdb_rewrite.cc: changing the account file so that concurrent changes
// are all kept, readers never see a partial file, and a process killed at
// any moment leaves either the old file or the new one.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "userdb_rewrite.h"

#include "file_lock.h"
#include "unique_fd.h"
#include "userdb_line.h"

namespace {

inline constexpr const char *TEMP_MARK = ".tmp";
inline constexpr std::size_t TEMP_SUFFIX_LENGTH = 6; // mkstemp's XXXXXX
inline constexpr std::size_t COPY_CHUNK = 64 * 1024;

// The temporary file starts with a dot and ends in random letters, so no
// configuration can take it for a store, and a later change can tell the
// leftovers of a killed process by the name alone.
std::string temp_prefix(std::string_view base)
{
    std::string prefix(".");
    prefix.append(base);
    prefix.append(TEMP_MARK);
    return prefix;
}

bool write_all(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            return false;
        if (done == 0) {
            errno = EIO;
            return false;
        }
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

// Writes what the scanner releases, with the one splice applied.
struct substitution {
    int out_fd = -1;
    bool armed = false; // set when the edit has named its splice
    off_t splice_offset = 0;
    off_t splice_end = 0;
    std::string_view text;
    bool text_written = false;
    bool saw_bytes = false;
    char last_byte = '\n';
    int write_errno = 0;
};

bool write_substituted(void *context, const char *data, std::size_t size, off_t offset)
{
    auto &sub = *static_cast<substitution *>(context);
    const off_t end = offset + static_cast<off_t>(size);
    if (size > 0) {
        sub.saw_bytes = true;
        sub.last_byte = data[size - 1];
    }
    bool ok = true;
    if (!sub.armed) {
        ok = write_all(sub.out_fd, data, size);
    } else {
        if (offset < sub.splice_offset) {
            const off_t upto = end < sub.splice_offset ? end : sub.splice_offset;
            ok = write_all(sub.out_fd, data, static_cast<std::size_t>(upto - offset));
        }
        if (ok && !sub.text_written && end > sub.splice_offset) {
            ok = write_all(sub.out_fd, sub.text.data(), sub.text.size());
            sub.text_written = true;
        }
        if (ok && end > sub.splice_end) {
            const off_t from = offset > sub.splice_end ? offset : sub.splice_end;
            ok = write_all(sub.out_fd, data + (from - offset), static_cast<std::size_t>(end - from));
        }
    }
    if (!ok)
        sub.write_errno = errno;
    return ok;
}

// Copies length bytes of in from offset on to the end of out, in the kernel
// where it can.
bool copy_range(int in, off_t offset, off_t length, int out)
{
    while (length > 0) {
        const ssize_t done = ::copy_file_range(in, &offset, out, nullptr, static_cast<std::size_t>(length), 0);
        if (done > 0) {
            length -= done;
            continue;
        }
        if (done == 0) {
            errno = EIO; // the file is shorter than it was a moment ago
            return false;
        }
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP && errno != EPERM)
            return false;
        break; // not supported here: copy through a buffer
    }
    auto buffer = std::make_unique<char[]>(COPY_CHUNK);
    bool ok = true;
    while (ok && length > 0) {
        const std::size_t wanted = length < static_cast<off_t>(COPY_CHUNK) ? static_cast<std::size_t>(length) : COPY_CHUNK;
        const ssize_t got = ::pread(in, buffer.get(), wanted, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;
            ok = false;
            break;
        }
        ok = write_all(out, buffer.get(), static_cast<std::size_t>(got));
        offset += got;
        length -= got;
    }
    // Other accounts' hashes passed through the buffer.
    const int saved_errno = errno;
    explicit_bzero(buffer.get(), COPY_CHUNK);
    errno = saved_errno;
    return ok;
}

bool same_time(const timespec &a, const timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether the file open as in (described by current) is still the one the
// shortcut was found in, with the expected bytes where they were. Changes
// through this library replace the file (a new inode); other writers change
// its times, except within one tick of the file system's clock, which is why
// the bytes the change rests on are read again in any case.
bool shortcut_holds(int in, const struct stat &current, const userdb_shortcut &shortcut)
{
    const struct stat &then = shortcut.file;
    if (current.st_dev != then.st_dev || current.st_ino != then.st_ino || current.st_size != then.st_size
        || !same_time(current.st_mtim, then.st_mtim) || !same_time(current.st_ctim, then.st_ctim))
        return false;
    const userdb_splice &splice = shortcut.splice;
    if (splice.offset < 0 || splice.end < splice.offset || splice.end > current.st_size
        || shortcut.expected.size() > USERDB_MAX_LINE + 1)
        return false;
    char seen[USERDB_MAX_LINE + 1];
    const ssize_t got = ::pread(in, seen, shortcut.expected.size(), shortcut.check_offset);
    return got == static_cast<ssize_t>(shortcut.expected.size())
           && std::string_view(seen, shortcut.expected.size()) == shortcut.expected;
}

// Only one change runs at a time (the lock), so a temporary file found while
// holding the lock belongs to a process that died: remove it.
void remove_stale_temps(int folder_fd, std::string_view base)
{
    const std::string prefix = temp_prefix(base);
    const int listing_fd = ::dup(folder_fd);
    if (listing_fd < 0)
        return;
    DIR *listing = ::fdopendir(listing_fd);
    if (listing == nullptr) {
        ::close(listing_fd);
        return;
    }
    while (const dirent *item = ::readdir(listing)) {
        const std::string_view name = item->d_name;
        if (name.size() == prefix.size() + TEMP_SUFFIX_LENGTH && name.starts_with(prefix))
            ::unlinkat(folder_fd, item->d_name, 0);
    }
    ::closedir(listing);
}

// A temporary file that is removed unless it has taken the store's place.
struct temp_file {
    std::string path;
    unique_fd fd;
    bool committed = false;
    temp_file() = default;
    temp_file(const temp_file &) = delete;
    temp_file &operator=(const temp_file &) = delete;
    ~temp_file()
    {
        if (!path.empty() && !committed)
            ::unlink(path.c_str());
    }
};

// Flushes the new file and puts it in the store's place.
store_result commit(const char *path, temp_file &temp, int folder_fd, const std::string &folder, error_text &error)
{
    if (::fsync(temp.fd.get()) != 0 || temp.fd.close_checked() != 0) {
        set_error(error, "%s: cannot flush %s: %s", path, temp.path.c_str(), std::strerror(errno));
        return store_result::failed;
    }
    if (::rename(temp.path.c_str(), path) != 0) {
        set_error(error, "%s: cannot rename %s over it: %s", path, temp.path.c_str(), std::strerror(errno));
        return store_result::failed;
    }
    temp.committed = true;
    if (::fsync(folder_fd) != 0)
        set_error(error, "%s: changed, but cannot flush folder %s: %s", path, folder.c_str(), std::strerror(errno));
    return store_result::ok;
}

} // namespace

store_result userdb_rewrite(const char *path, const userdb_edit &edit, error_text &error)
{
    if (edit.line == nullptr || edit.end == nullptr) {
        set_error(error, "%s: an edit without its functions; not changed", path);
        return store_result::failed;
    }
    const std::string_view whole = path;
    const std::size_t slash = whole.rfind('/');
    const std::string folder = slash == std::string_view::npos ? "." : slash == 0 ? "/" : std::string(whole.substr(0, slash));
    const std::string_view base = slash == std::string_view::npos ? whole : whole.substr(slash + 1);

    // Declared first, so that signals stay blocked until every clean-up
    // below has run.
    signal_block signals;

    struct stat before;
    if (::lstat(path, &before) != 0) {
        set_error(error, "%s: cannot open: %s", path, std::strerror(errno));
        return store_result::failed;
    }
    // Renaming over a symbolic link would replace the link, not its target.
    if (!S_ISREG(before.st_mode)) {
        set_error(error, "%s: not a regular file; not changed", path);
        return store_result::failed;
    }
    file_lock lock;
    if (!lock.acquire((std::string(path) + ".lock").c_str(), before.st_uid, before.st_gid, edit.lock_wait_seconds,
                      error))
        return store_result::failed;

    unique_fd folder_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder_fd.valid()) {
        set_error(error, "%s: cannot open folder: %s", folder.c_str(), std::strerror(errno));
        return store_result::failed;
    }
    remove_stale_temps(folder_fd.get(), base);

    unique_fd in(::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat current;
    if (!in.valid() || ::fstat(in.get(), &current) != 0) {
        set_error(error, "%s: cannot open: %s", path, std::strerror(errno));
        return store_result::failed;
    }
    if (!S_ISREG(current.st_mode)) {
        set_error(error, "%s: not a regular file; not changed", path);
        return store_result::failed;
    }

    temp_file temp;
    std::string name = folder + "/" + temp_prefix(base) + "XXXXXX";
    temp.fd = unique_fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!temp.fd.valid()) {
        set_error(error, "%s: cannot create a temporary file in %s: %s", path, folder.c_str(), std::strerror(errno));
        return store_result::failed;
    }
    temp.path = std::move(name);
    struct stat made;
    if (::fstat(temp.fd.get(), &made) != 0
        || ((made.st_uid != current.st_uid || made.st_gid != current.st_gid)
            && ::fchown(temp.fd.get(), current.st_uid, current.st_gid) != 0)) {
        set_error(error, "%s: cannot give the new file the old owner: %s", path, std::strerror(errno));
        return store_result::failed;
    }
    if (::fchmod(temp.fd.get(), current.st_mode & 07777) != 0) {
        set_error(error, "%s: cannot give the new file the old mode: %s", path, std::strerror(errno));
        return store_result::failed;
    }

    if (edit.shortcut != nullptr && shortcut_holds(in.get(), current, *edit.shortcut)) {
        // The file is the one the change was planned on: no need to scan it
        // again to find the place.
        const userdb_splice &splice = edit.shortcut->splice;
        if (!copy_range(in.get(), 0, splice.offset, temp.fd.get())
            || !write_all(temp.fd.get(), splice.text.data(), splice.text.size())
            || !copy_range(in.get(), splice.end, current.st_size - splice.end, temp.fd.get())) {
            set_error(error, "%s: cannot write %s: %s", path, temp.path.c_str(), std::strerror(errno));
            return store_result::failed;
        }
        return commit(path, temp, folder_fd.get(), folder, error);
    }

    substitution sub;
    sub.out_fd = temp.fd.get();
    userdb_scanner scanner(in.get(), byte_sink{write_substituted, &sub});
    scanned_line line;
    userdb_splice splice;
    bool at_end = false;
    for (;;) {
        const userdb_scanner::step step = scanner.next(line);
        if (step == userdb_scanner::step::failed) {
            if (sub.write_errno != 0)
                set_error(error, "%s: cannot write %s: %s", path, temp.path.c_str(), std::strerror(sub.write_errno));
            else
                set_error(error, "%s: cannot read: %s", path, std::strerror(errno));
            return store_result::failed;
        }
        at_end = step == userdb_scanner::step::end;
        if (at_end && !scanner.release_all()) {
            set_error(error, "%s: cannot write %s: %s", path, temp.path.c_str(), std::strerror(sub.write_errno));
            return store_result::failed;
        }
        const edit_step decision = at_end ? edit.end(edit.context, !sub.saw_bytes || sub.last_byte == '\n', splice,
                                                     error)
                                          : edit.line(edit.context, line, splice, error);
        if (decision == edit_step::denied)
            return store_result::denied;
        if (decision == edit_step::failed)
            return store_result::failed;
        if (decision == edit_step::change)
            break;
        if (at_end) {
            set_error(error, "%s: the change found no place in the file; not changed", path);
            return store_result::failed;
        }
    }
    if (at_end) {
        if (!write_all(temp.fd.get(), splice.text.data(), splice.text.size())) {
            set_error(error, "%s: cannot write %s: %s", path, temp.path.c_str(), std::strerror(errno));
            return store_result::failed;
        }
    } else {
        sub.armed = true;
        sub.splice_offset = splice.offset;
        sub.splice_end = splice.end;
        sub.text = splice.text;
        // The scanner has read up to the descriptor's offset; the rest of
        // the file follows unchanged.
        const off_t read_so_far = ::lseek(in.get(), 0, SEEK_CUR);
        if (!scanner.release_all() || read_so_far < 0 || read_so_far > current.st_size
            || !copy_range(in.get(), read_so_far, current.st_size - read_so_far, temp.fd.get())) {
            set_error(error, "%s: cannot write %s: %s", path, temp.path.c_str(),
                      std::strerror(sub.write_errno != 0 ? sub.write_errno : errno));
            return store_result::failed;
        }
    }
    return commit(path, temp, folder_fd.get(), folder, error);
}
