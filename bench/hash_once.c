/*
 * Computes one hash with the setting given as the only argument, then exits:
 * the peak memory of this process is what the hash method itself costs a
 * small program.
 */
#include <crypt.h>
#include <stdio.h>

int main(int argc, char **argv) {
    static struct crypt_data data; /* 32 KiB: kept off the stack */
    const char *hash;

    if (argc != 2) {
        fputs("usage: hash_once SETTING\n", stderr);
        return 2;
    }
    hash = crypt_rn("bench-password", argv[1], &data, (int)sizeof data);
    /* A failure token starts with '*': the method did not run. */
    if (hash == NULL || hash[0] == '*') {
        fputs("hash_once: the setting was refused\n", stderr);
        return 1;
    }
    return 0;
}
