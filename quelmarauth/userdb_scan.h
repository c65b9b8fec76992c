// userdb_scan.h: reads the account file line by line through one fixed
// buffer, so that a file of any size costs the same small memory.
#ifndef QUELMARAUTH_USERDB_SCAN_H
#define QUELMARAUTH_USERDB_SCAN_H

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string_view>

inline constexpr std::size_t SCAN_BUFFER_SIZE = 64 * 1024;

struct scanned_line {
    std::string_view text; // without the line feed; empty when overlong
    off_t offset = 0;      // of the line's first byte in the file
    bool overlong = false; // longer than USERDB_MAX_LINE: never parsed
};

// Receives every byte of the file exactly once, in order, with the file
// offset of its first byte. Returns false (errno set) to stop the scan.
struct byte_sink {
    bool (*write)(void *context, const char *data, std::size_t size, off_t offset) = nullptr;
    void *context = nullptr;
};

class userdb_scanner {
public:
    // Reads fd from its current position, which must be the start. Does not
    // take ownership of fd.
    explicit userdb_scanner(int fd, byte_sink sink = {});
    userdb_scanner(const userdb_scanner &) = delete;
    userdb_scanner &operator=(const userdb_scanner &) = delete;
    ~userdb_scanner(); // wipes the buffer: it held other accounts' hashes

    enum class step { line, end, failed };

    // The next line. failed: reading (or the sink) failed, errno says why.
    // A line is valid until the next call.
    step next(scanned_line &line);

    // Hands every byte read so far to the sink, lines not yet returned
    // included. Afterwards the fd's position is where reading stopped.
    [[nodiscard]] bool release_all();

    bool allocated() const { return buffer_ != nullptr; }

private:
    [[nodiscard]] bool release(std::size_t upto);
    [[nodiscard]] bool fill();

    int fd_;
    byte_sink sink_;
    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0;    // first byte not yet returned
    std::size_t end_ = 0;      // end of the bytes read
    std::size_t released_ = 0; // bytes before this went to the sink
    off_t buffer_offset_ = 0;  // file offset of buffer_[0]
    bool at_eof_ = false;
    bool skipping_ = false; // inside an overlong line already returned
};

#endif
