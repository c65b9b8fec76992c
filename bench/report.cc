// Progress notes and the final table of figures.
#include "report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

inline constexpr std::size_t MAX_ROWS = 32;
report_row rows[MAX_ROWS];
std::size_t row_count = 0;

} // namespace

void format_field(char *out, std::size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(out, size, format, args);
    va_end(args);
}

void note(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::fputs("  ", stdout);
    std::vprintf(format, args);
    std::fputs("\n", stdout);
    std::fflush(stdout);
    va_end(args);
}

void add_row(const report_row &row) {
    if (row_count < MAX_ROWS)
        rows[row_count++] = row;
}

bool row_passes(const report_row &row) {
    return row.direction == better::lower ? row.ratio <= row.bound : row.ratio >= row.bound;
}

int print_report() {
    int misses = 0;
    std::puts("| goal | measured | baseline | ratio | goal | result |");
    std::puts("|---|---|---|---|---|---|");
    for (std::size_t i = 0; i < row_count; ++i) {
        const report_row &row = rows[i];
        const bool passes = row_passes(row);
        misses += passes ? 0 : 1;
        std::printf("| %s | %s | %s | %.3fx | %s %.2fx | %s |\n", row.goal, row.measured,
                    row.baseline, row.ratio,
                    row.direction == better::lower ? "<=" : ">=", row.bound,
                    passes ? "PASS" : "MISS");
    }
    std::fflush(stdout);
    return misses;
}

const char *with_separators(unsigned long long n, char (&out)[32]) {
    char digits[32];
    const int length = std::snprintf(digits, sizeof digits, "%llu", n);
    std::size_t at = 0;
    for (int i = 0; i < length; ++i) {
        if (i > 0 && (length - i) % 3 == 0)
            out[at++] = ',';
        out[at++] = digits[i];
    }
    out[at] = '\0';
    return out;
}
