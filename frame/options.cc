// Parsing and checking the command line.
#include "options.h"

#include "event_log.h"
#include "program.h"

#include <cstdio>
#include <cstring>

namespace {

// Service names end up in configuration lookups and log entries, so only a
// plain set of characters is let through. Blank and tab are allowed.
constexpr char VALID_SERVICE_CHARS[] = "abcdefghijklmnopqrstuvwxyz"
                                       "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                       "0123456789+_-. @\t";

constexpr char HELP_TEXT[] = "Usage: zembrovald [ OPTION [ OPTION ]]\n"
                             "\n"
                             "Changes passwords using the Quelmar authentication\n"
                             "library. Authentication tokens are delivered using the\n"
                             "poppassd protocol. This program is intended to be run\n"
                             "from a super-server such as tcpserver or xinetd.\n"
                             "\n"
                             "Options:\n"
                             "  -s, --service=SERVICE\tspecify the service name to use\n"
                             "\t\t\tdefault value is 'login'\n"
                             "  --stderr\t\tsend logging information to standard error\n"
                             "\t\t\tinstead of syslog\n"
                             "  -h, --help\t\tdisplay this help and exit\n"
                             "  -V, --version\t\tdisplay version information and exit\n";

// strlcpy's contract (glibc 2.36 has none): always terminates when size > 0,
// and returns the length of source, so that truncation can be detected.
std::size_t copy_bounded(char *destination, const char *source, std::size_t size) {
    const std::size_t length = std::strlen(source);
    if (size > 0) {
        const std::size_t copied = length < size ? length : size - 1;
        std::memcpy(destination, source, copied);
        destination[copied] = '\0';
    }
    return length;
}

void set_service(const char *argument, service_buffer service_name) {
    const char *invalid = argument + std::strspn(argument, VALID_SERVICE_CHARS);
    if (*invalid != '\0') {
        log_event("illegal character in service name: %c", *invalid);
        end_process(2);
    }
    if (copy_bounded(service_name.data(), argument, service_name.size()) >= service_name.size()) {
        log_event("service name too long (max %d characters)", static_cast<int>(MAX_SERVICE));
        end_process(2);
    }
}

} // namespace

const struct option long_options[] = {
    {"service", required_argument, nullptr, 's'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"stderr", no_argument, nullptr, STDERR_OPTION},
    {nullptr, 0, nullptr, 0},
};

void parse_options(int argc, char **argv, service_buffer service_name) {
    opterr = 0; // the refusal line below is the only diagnostic
    int index = 0;
    for (;;) {
        const int option = getopt_long(argc, argv, "s:hV", long_options, &index);
        switch (option) {
        case -1:
            return;
        case 's':
            set_service(optarg, service_name);
            break;
        case STDERR_OPTION:
            log_to_stderr = 1;
            break;
        case 'h':
            std::puts(HELP_TEXT);
            end_process(0);
        case 'V':
            std::printf("%s %s\n", PROGRAM_NAME, PROGRAM_VERSION);
            end_process(0);
        default:
            std::puts("Invalid command line, see --help");
            end_process(2);
        }
    }
}
