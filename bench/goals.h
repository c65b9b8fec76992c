// The four measurements. Each prints its notes, adds its rows to the report,
// and returns false only when it could not measure (a refused change, a
// program that would not start), never because a goal was missed.
#pragma once

struct bench_options {
    bool quick = false;        // a few seconds in all, so the program never rots
    const char *base = "/tmp"; // where the private folders are made
};

bool bench_startup(const bench_options &options);
bool bench_change(const bench_options &options);
bool bench_memory(const bench_options &options);
bool bench_throughput(const bench_options &options);
