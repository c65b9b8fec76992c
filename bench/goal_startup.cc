// Start-up per connection, on the path that hashes nothing (a refused user
// line), against a plain dynamically linked C program doing the same I/O.
#include "child_run.h"
#include "goals.h"
#include "measure.h"
#include "report.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

inline constexpr const char *REFUSED_INPUT = "hello\n";
inline constexpr const char *EXPECTED_OUTPUT =
    "200 zembrovald v1.1.2 hello, who are you?\r\n500 Username required.\r\n";

struct contender {
    const char *label;
    const char *const *argv;
    std::vector<double> samples;
};

bool run_batch(contender &who, int runs, bool keep) {
    for (int i = 0; i < runs; ++i) {
        child_result result;
        if (!run_child(who.argv, REFUSED_INPUT, spawn_style::spawned, result)) {
            std::fprintf(stderr, "zembrovald_bench: cannot run %s\n", who.argv[0]);
            return false;
        }
        // Checked every time: a figure from a program that misbehaved is
        // no figure.
        if (!exited_with(result, 1) || std::strcmp(result.output, EXPECTED_OUTPUT) != 0) {
            std::fprintf(stderr,
                         "zembrovald_bench: %s answered a refused user line with "
                         "status %d and output \"%s\"\n",
                         who.label, result.wait_status, result.output);
            return false;
        }
        if (keep)
            who.samples.push_back(result.wall_ms);
    }
    return true;
}

} // namespace

bool bench_startup(const bench_options &options) {
    const int total = options.quick ? 200 : 2000;
    const int batch = options.quick ? 25 : 50;
    std::printf("1. start-up per connection, refused user line (%d runs each, interleaved "
                "in batches of %d)\n",
                total, batch);

    // The refused path never reaches the library; unset, so that no
    // configuration left by another figure can make a difference.
    unsetenv("QUELMARAUTH_CONFIG");
    static const char *const PROGRAM_ARGV[] = {ZEMBROVALD_PATH, nullptr};
    static const char *const BASELINE_ARGV[] = {BASELINE_GREETER_PATH, nullptr};
    contender program{"zembrovald", PROGRAM_ARGV, {}};
    contender baseline{"the C baseline", BASELINE_ARGV, {}};
    program.samples.reserve(static_cast<std::size_t>(total));
    baseline.samples.reserve(static_cast<std::size_t>(total));

    // Warm the page cache and the loader's caches for both before counting.
    if (!run_batch(program, batch, false) || !run_batch(baseline, batch, false))
        return false;
    for (int done = 0; done < total; done += batch) {
        // Alternate which goes first, so neither always follows the other.
        contender &first = (done / batch) % 2 == 0 ? program : baseline;
        contender &second = &first == &program ? baseline : program;
        if (!run_batch(first, batch, true) || !run_batch(second, batch, true))
            return false;
    }

    const double program_ms = median_of(program.samples);
    const double baseline_ms = median_of(baseline.samples);
    note("zembrovald %.3f ms, C baseline %.3f ms (medians)", program_ms, baseline_ms);

    report_row row{};
    format_field(row.goal, sizeof row.goal, "1 start-up, refused user line");
    format_field(row.measured, sizeof row.measured, "%.3f ms", program_ms);
    format_field(row.baseline, sizeof row.baseline, "%.3f ms (C program)", baseline_ms);
    row.ratio = program_ms / baseline_ms;
    row.bound = 1.2;
    row.direction = better::lower;
    add_row(row);
    return true;
}
