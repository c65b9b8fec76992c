// getpwnam_probe.cc: prints what one getpwnam lookup of argv[1] leaves in
// errno ("found" when the name exists), so a test can expect the program's
// "getpwnam failed" text without knowing the account sources of the machine.
#include <pwd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
    if (argc != 2) {
        return 2;
    }
    errno = 0;
    const passwd *entry = getpwnam(argv[1]);
    std::fputs(entry != nullptr ? "found" : std::strerror(errno), stdout);
    return 0;
}
