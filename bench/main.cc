// zembrovald_bench: measures the program against its performance goals and
// prints each figure beside the baseline it is judged by.
#include "goals.h"
#include "measure.h"
#include "report.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct goal_entry {
    const char *name;
    bool (*run)(const bench_options &);
};

constexpr goal_entry GOALS[] = {
    {"startup", bench_startup},
    {"change", bench_change},
    {"memory", bench_memory},
    {"throughput", bench_throughput},
};
inline constexpr std::size_t GOAL_COUNT = sizeof GOALS / sizeof GOALS[0];

void usage(std::FILE *out) {
    std::fputs("usage: zembrovald_bench [--quick] [--dir FOLDER] [GOAL...]\n"
               "  GOAL: startup, change, memory, throughput (default: all)\n"
               "  --quick       a run of a few seconds, for CI\n"
               "  --dir FOLDER  where to make the temporary userdb files "
               "(default: $TMPDIR or /tmp)\n"
               "Exit status: 0 when every figure was measured (PASS or MISS),\n"
               "1 when a measurement failed, 2 on a bad command line.\n",
               out);
}

} // namespace

int main(int argc, char **argv) {
    // A refused client closes its input early; writing to it must fail
    // quietly rather than end the benchmark.
    std::signal(SIGPIPE, SIG_IGN);

    bench_options options;
    if (const char *tmpdir = std::getenv("TMPDIR"); tmpdir != nullptr && tmpdir[0] != '\0')
        options.base = tmpdir;
    bool chosen[GOAL_COUNT] = {};
    bool any_chosen = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            options.quick = true;
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            options.base = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return 0;
        } else {
            std::size_t goal = 0;
            while (goal < GOAL_COUNT && std::strcmp(argv[i], GOALS[goal].name) != 0)
                ++goal;
            if (goal == GOAL_COUNT) {
                std::fprintf(stderr, "zembrovald_bench: unknown argument \"%s\"\n", argv[i]);
                usage(stderr);
                return 2;
            }
            chosen[goal] = any_chosen = true;
        }
    }

    // Every figure assumes an otherwise idle machine; the load says whether
    // it was.
    std::printf("zembrovald_bench%s: %s\n%ld cores, load average %.2f at the start\n",
                options.quick ? " --quick" : "", ZEMBROVALD_PATH, online_cores(), load_average());
    bool measured = true;
    for (std::size_t goal = 0; goal < GOAL_COUNT; ++goal)
        if (!any_chosen || chosen[goal])
            measured = GOALS[goal].run(options) && measured;

    std::printf("load average %.2f at the end\n\n", load_average());
    const int misses = print_report();
    std::printf("\n%d goal%s missed%s\n", misses, misses == 1 ? "" : "s",
                measured ? "" : "; some figures could not be measured");
    return measured ? 0 : 1;
}
