// zembrovald_postgresql_bench: what a PostgreSQL store costs a change, and
// what having the store modules built costs a site that does not use them.
#include "measure.h"
#include "pg_goals.h"
#include "report.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void usage(std::FILE *out) {
    std::fputs("usage: zembrovald_postgresql_bench [--quick] [--dir FOLDER]\n"
               "  --quick       1,000 and 100,000 accounts, few runs, for CI\n"
               "  --dir FOLDER  where to make the temporary files (default: $TMPDIR or /tmp)\n"
               "Exit status: 0 when every figure was measured (PASS or MISS),\n"
               "1 when a measurement failed, 2 on a bad command line.\n",
               out);
}

} // namespace

int main(int argc, char **argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const char *base = "/tmp";
    if (const char *tmpdir = std::getenv("TMPDIR"); tmpdir != nullptr && tmpdir[0] != '\0')
        base = tmpdir;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            base = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "zembrovald_postgresql_bench: unknown argument \"%s\"\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }
    std::printf("zembrovald_postgresql_bench%s: %s\n%ld cores, load average %.2f at the start\n",
                quick ? " --quick" : "", ZEMBROVALD_PATH, online_cores(), load_average());
    bool measured = bench_pg_change(base, quick);
    measured = bench_modules_startup(base, quick) && measured;
    std::printf("load average %.2f at the end\n\n", load_average());
    const int misses = print_report();
    std::printf("\n%d goal%s missed%s\n", misses, misses == 1 ? "" : "s",
                measured ? "" : "; some figures could not be measured");
    return measured ? 0 : 1;
}
