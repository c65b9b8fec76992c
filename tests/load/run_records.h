// run_records.h: the record file that run_recorder appends to, read while a
// soak runs: one record per program run, found by the client's port.
#ifndef ZEMBROVALD_TESTS_RUN_RECORDS_H
#define ZEMBROVALD_TESTS_RUN_RECORDS_H

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace load {

struct run_record {
    int port = 0;
    int wait_status = 0; // as wait4 gave it
    long max_rss_kib = 0;
    long long elapsed_us = 0;
    long long start_us = 0; // CLOCK_MONOTONIC when the run began
};

// Parses one record line; false when it is not one.
bool parse_run_record(const std::string &line, run_record &record);

class run_records {
  public:
    explicit run_records(std::string path) : path_(std::move(path)) {}

    [[nodiscard]] const std::string &path() const { return path_; }
    // Waits until the file holds at least count records for port; false at
    // the timeout. Safe to call from several threads.
    bool wait_for(int port, std::size_t count, std::chrono::milliseconds timeout);
    // Every record so far, in the order they were written.
    std::vector<run_record> all();

  private:
    void read_new(); // with mutex_ held
    std::size_t count_for(int port) const;

    std::string path_;
    std::mutex mutex_;
    long long offset_ = 0;
    std::string partial_;
    std::vector<run_record> records_;
};

} // namespace load

#endif
