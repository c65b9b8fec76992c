// What the benchmark prints: progress notes while it measures, and at the end
// one table of figures, each beside its baseline, with PASS or MISS.
#pragma once

#include <cstddef>

inline constexpr std::size_t FIELD_SIZE = 96;

enum class better { lower, higher };

struct report_row {
    char goal[FIELD_SIZE];
    char measured[FIELD_SIZE];
    char baseline[FIELD_SIZE];
    double ratio;     // measured / baseline
    double bound;     // the ratio the goal allows
    better direction; // whether ratio must stay at most or at least bound
};

[[gnu::format(printf, 3, 4)]] void format_field(char *out, std::size_t size, const char *format,
                                                ...);

// One line of detail under the current heading, flushed at once so that a
// long run shows progress.
[[gnu::format(printf, 1, 2)]] void note(const char *format, ...);

void add_row(const report_row &row);
bool row_passes(const report_row &row);

// Prints the table of every row added; returns how many missed their goal.
int print_report();

// n with thousands separators ("1,000,000"), in out.
const char *with_separators(unsigned long long n, char (&out)[32]);
