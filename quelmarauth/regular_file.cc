// regular_file.cc: a path from a configuration may name anything; a FIFO
// would hang the caller and /dev/zero would never end, so only regular files
// are read.
#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

unique_fd open_regular_file(const char *path, error_text &error)
{
    // O_NONBLOCK keeps open() from waiting for a FIFO's writer; it has no
    // effect on reading a regular file.
    unique_fd fd(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat status;
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0) {
        set_error(error, "%s: cannot open: %s", path, std::strerror(errno));
        return unique_fd();
    }
    if (!S_ISREG(status.st_mode)) {
        set_error(error, "%s: not a regular file", path);
        return unique_fd();
    }
    return fd;
}
