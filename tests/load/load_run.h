// load_run.h: a bounded soak of the real program behind tcpserver -c: a fixed
// number of connections of a fixed mix, then everything the run left behind
// is looked at. Used by the CTest soak and by zembrovald_load_bench.
#ifndef ZEMBROVALD_TESTS_LOAD_RUN_H
#define ZEMBROVALD_TESTS_LOAD_RUN_H

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace load {

// What one connection does. Every kind but the two changes that end in
// "quit" is expected to end with status 1.
enum class client_kind {
    change,               // a full change, then "quit": status 0
    change_without_quit,  // a full change, then a line that is not "quit"
    wrong_password,       // an existing account, a wrong old password (pause)
    unknown_user,         // a name the store does not hold (pause)
    garbage,              // random bytes where the user or the pass line belongs
    long_user_line,       // a user line over the limit, some beyond the line buffer
    long_password_line,   // a pass line over the limit
    long_new_password,    // right old password, then a newpass line over the limit
    hang_up_at_greeting,  // reads the greeting and closes
    hang_up_mid_line,     // sends half a user line and closes
    hang_up_after_pass,   // sends the right old password and closes unanswered
    hang_up_after_newpass // sends the new password and closes unanswered
};
inline constexpr std::size_t KIND_COUNT = 12;
const char *kind_name(client_kind kind);

struct load_plan {
    std::string program;  // zembrovald
    std::string recorder; // run_recorder
    std::size_t connections = 300;
    unsigned clients = 16; // at once, and tcpserver's -c
    std::size_t accounts = 50;
    unsigned seed = 1;
};

struct kind_figures {
    std::size_t connections = 0;
    double median_run_ms = 0; // the program's life, from its run records
    double min_run_ms = 0;
};

struct load_result {
    std::string unavailable;         // why the run could not be made here
    std::vector<std::string> faults; // connections or runs that went wrong, in words

    std::size_t connections = 0;
    double seconds = 0; // from the first connection to the last one's end
    std::size_t changes_acknowledged = 0;
    std::size_t uncertain_applied = 0; // hung up after newpass, change stood
    std::size_t uncertain_dropped = 0; // hung up after newpass, old password stood
    std::array<kind_figures, KIND_COUNT> kinds{};

    std::size_t run_records = 0;
    std::size_t exits_0 = 0, exits_1 = 0, exits_other = 0;

    double change_hashes_ms = 0; // the three hashes of one change, in this process
    long cores = 1;

    int server_fds_before = -1, server_fds_after = -1;
    long server_rss_before_kib = -1, server_rss_after_kib = -1;
    // The program's peak memory in runs of full changes: the median of the
    // first and of the last tenth of them, and the largest of all.
    long program_rss_first_kib = 0, program_rss_last_kib = 0, program_rss_max_kib = 0;
    bool children_gone = false;          // tcpserver had no children left at the end
    std::vector<int> leftover_processes; // programs of this run still alive at the end
    std::string store_check;             // empty when every account holds what it should
};

load_result run_load(const load_plan &plan);

// The verdicts on a result, each with its figures, in one list for the test
// and the benchmark alike.
struct load_check {
    std::string what;
    bool passed;
    std::string detail;
};
std::vector<load_check> check_load(const load_plan &plan, const load_result &result);

} // namespace load

#endif
