// unique_fd.h: a file descriptor that is closed exactly once, on every path.
#ifndef QUELMARAUTH_UNIQUE_FD_H
#define QUELMARAUTH_UNIQUE_FD_H

#include <unistd.h>

#include <utility>

class unique_fd {
public:
    unique_fd() = default;
    explicit unique_fd(int fd) : fd_(fd) {}
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;
    unique_fd(unique_fd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    unique_fd &operator=(unique_fd &&other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~unique_fd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    // Gives up ownership, for a FILE that now closes it.
    [[nodiscard]] int release() { return std::exchange(fd_, -1); }

    void reset()
    {
        if (fd_ >= 0)
            ::close(std::exchange(fd_, -1));
    }

    // For files whose contents matter: a failed close can mean lost data,
    // so its result is reported instead of dropped. Closes either way.
    [[nodiscard]] int close_checked() { return fd_ >= 0 ? ::close(std::exchange(fd_, -1)) : 0; }

private:
    int fd_ = -1;
};

#endif
