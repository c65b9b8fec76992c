// userdb_scan.cc: chunked line reading with memchr, so that scanning a large
// file costs little more than reading it.
#include "userdb_scan.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "userdb_line.h"

static_assert(SCAN_BUFFER_SIZE > 2 * USERDB_MAX_LINE,
              "a line up to the limit must fit the buffer with room to read more");

userdb_scanner::userdb_scanner(int fd, byte_sink sink)
    : fd_(fd), sink_(sink), buffer_(new (std::nothrow) char[SCAN_BUFFER_SIZE])
{
}

userdb_scanner::~userdb_scanner()
{
    if (buffer_)
        explicit_bzero(buffer_.get(), SCAN_BUFFER_SIZE);
}

bool userdb_scanner::release(std::size_t upto)
{
    if (upto > released_ && sink_.write != nullptr
        && !sink_.write(sink_.context, buffer_.get() + released_, upto - released_,
                        buffer_offset_ + static_cast<off_t>(released_)))
        return false;
    if (upto > released_)
        released_ = upto;
    return true;
}

bool userdb_scanner::release_all()
{
    return release(end_);
}

bool userdb_scanner::fill()
{
    // Bytes already returned are done with: hand them on and move the
    // unfinished line to the front.
    if (!release(begin_))
        return false;
    const std::size_t kept = end_ - begin_;
    if (kept > 0 && begin_ > 0)
        std::memmove(buffer_.get(), buffer_.get() + begin_, kept);
    buffer_offset_ += static_cast<off_t>(begin_);
    // Bytes already handed to the sink by release_all stay handed.
    released_ = released_ > begin_ ? released_ - begin_ : 0;
    begin_ = 0;
    end_ = kept;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer_.get() + end_, SCAN_BUFFER_SIZE - end_);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            at_eof_ = true;
        end_ += static_cast<std::size_t>(got);
        return true;
    }
}

userdb_scanner::step userdb_scanner::next(scanned_line &line)
{
    if (!buffer_) {
        errno = ENOMEM;
        return step::failed;
    }
    for (;;) {
        char *const base = buffer_.get();
        const std::size_t available = end_ - begin_;
        const auto *newline = static_cast<const char *>(std::memchr(base + begin_, '\n', available));
        if (skipping_) {
            if (newline != nullptr) {
                begin_ = static_cast<std::size_t>(newline - base) + 1;
                skipping_ = false;
                continue;
            }
            begin_ = end_;
        } else if (newline != nullptr) {
            const auto length = static_cast<std::size_t>(newline - base) - begin_;
            line.offset = buffer_offset_ + static_cast<off_t>(begin_);
            line.overlong = length > USERDB_MAX_LINE;
            line.text = line.overlong ? std::string_view{} : std::string_view{base + begin_, length};
            begin_ += length + 1;
            return step::line;
        } else if (available > USERDB_MAX_LINE) {
            // Too long to ever match: report it once and skip to its end
            // without keeping it.
            line.offset = buffer_offset_ + static_cast<off_t>(begin_);
            line.overlong = true;
            line.text = {};
            skipping_ = true;
            begin_ = end_;
            return step::line;
        } else if (at_eof_) {
            if (available == 0)
                return step::end;
            // The last line lacks its line feed.
            line.offset = buffer_offset_ + static_cast<off_t>(begin_);
            line.overlong = false;
            line.text = std::string_view{base + begin_, available};
            begin_ = end_;
            return step::line;
        }
        if (at_eof_)
            return step::end;
        if (!fill())
            return step::failed;
    }
}
