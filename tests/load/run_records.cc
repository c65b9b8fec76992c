// run_records.cc: incremental reading of the record file, so that waiting for
// one run's record does not re-read thousands of earlier ones.
#include "run_records.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>

namespace load {

bool parse_run_record(const std::string &line, run_record &record) {
    return std::sscanf(line.c_str(),
                       "port=%d status=%d maxrss_kib=%ld elapsed_us=%lld start_us=%lld",
                       &record.port, &record.wait_status, &record.max_rss_kib, &record.elapsed_us,
                       &record.start_us) == 5;
}

void run_records::read_new() {
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    char buffer[8192];
    for (;;) {
        const ssize_t n = pread(fd, buffer, sizeof buffer, offset_);
        if (n <= 0) {
            break;
        }
        offset_ += n;
        partial_.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    std::string::size_type start = 0;
    for (std::string::size_type nl; (nl = partial_.find('\n', start)) != std::string::npos;
         start = nl + 1) {
        run_record record;
        if (parse_run_record(partial_.substr(start, nl - start), record)) {
            records_.push_back(record);
        }
    }
    partial_.erase(0, start);
}

std::size_t run_records::count_for(int port) const {
    return static_cast<std::size_t>(std::count_if(
        records_.begin(), records_.end(), [port](const run_record &r) { return r.port == port; }));
}

bool run_records::wait_for(int port, std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            read_new();
            if (count_for(port) >= count) {
                return true;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::vector<run_record> run_records::all() {
    const std::lock_guard<std::mutex> hold(mutex_);
    read_new();
    return records_;
}

} // namespace load
