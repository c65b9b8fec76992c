/* afl_shim.c: preloaded into the program under AFL++ only, so that every run
 * starts from the same store at full speed without a product option that a
 * site could misuse:
 * - sleep returns at once: the pause after a refused password would
 *   otherwise make every such run a 3-second hang;
 * - a rename over the store named by ZEMBROVALD_AFL_STORE drops the new copy
 *   instead, so a changed password does not change the store that later runs
 *   log in to. Everything before the rename (lock, copy, flush) runs as it
 *   would. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

unsigned int sleep(unsigned int seconds) {
    (void)seconds;
    return 0;
}

int nanosleep(const struct timespec *wanted, struct timespec *left) {
    (void)wanted;
    if (left != NULL)
        memset(left, 0, sizeof *left);
    return 0;
}

int rename(const char *from, const char *to) {
    const char *store = getenv("ZEMBROVALD_AFL_STORE");
    if (store != NULL && to != NULL && strcmp(store, to) == 0)
        return unlink(from);
    int (*real_rename)(const char *, const char *) =
        (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
    return real_rename(from, to);
}
