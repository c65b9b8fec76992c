// arguments.cc: getopt_long twice: once for the options before the
// sub-command, once for the sub-command's own.
#include "arguments.h"

#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "command_table.h"
#include "report.h"
#include "userdb_line.h"

#ifndef QUELMARAUTH_VERSION
#error "QUELMARAUTH_VERSION must give the project's version"
#endif

namespace {

// The same service names the program accepts, so that a section an
// administrator can name here is one the program can reach.
constexpr char VALID_SERVICE_CHARS[] = "abcdefghijklmnopqrstuvwxyz"
                                       "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                       "0123456789+_-. @\t";
inline constexpr std::size_t MAX_SERVICE = 128;

constexpr char HELP_TEXT[] =
    "Usage: quelmarauth [-s SERVICE] [-c FILE] COMMAND [ARGUMENTS]\n"
    "\n"
    "Manages the accounts of the store that a service is configured with.\n"
    "Passwords are read from the terminal (asked twice, not shown), or as one\n"
    "line from standard input; never from the command line.\n"
    "\n"
    "Commands:\n"
    "  useradd NAME [--uid N] [--gid N] [--home DIR] [--sysuser NAME]\n"
    "\t\t\tadd an account, asking for its password\n"
    "  passwd NAME\t\tset an account's password\n"
    "  userdel NAME\t\tremove an account (the line that counts)\n"
    "  lock NAME\t\tlock an account ('!' in front of its hash)\n"
    "  unlock NAME\t\tunlock it again: the old password works again\n"
    "  verify NAME\t\tcheck a password against an account\n"
    "  list\t\t\tlist the accounts: name, uid, gid, home, sysuser, locked\n"
    "  check\t\t\tcheck the configuration and every line of the store\n"
    "\n"
    "Options:\n"
    "  -s, --service=SERVICE\tthe service whose store is used (default 'login')\n"
    "  -c, --config=FILE\tthe configuration file to read\n"
    "  -h, --help\t\tdisplay this help and exit\n"
    "  -V, --version\t\tdisplay version information and exit\n"
    "\n"
    "Exit status: 0 success; 1 the operation was refused (unknown account,\n"
    "existing name, invalid name or field, wrong password, passwords do not\n"
    "match, already locked or not locked, not possible for this store), or\n"
    "check found problems; 2 usage error; 3 configuration unreadable or\n"
    "invalid; 4 the store failed (unreadable or unwritable file, or locked\n"
    "by another change for more than 10 seconds).\n";

constexpr struct option GLOBAL_OPTIONS[] = {
    {"service", required_argument, nullptr, 's'},
    {"config", required_argument, nullptr, 'c'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

enum { UID_OPTION = 256, GID_OPTION, HOME_OPTION, SYSUSER_OPTION };

constexpr struct option ACCOUNT_OPTIONS[] = {
    {"uid", required_argument, nullptr, UID_OPTION},
    {"gid", required_argument, nullptr, GID_OPTION},
    {"home", required_argument, nullptr, HOME_OPTION},
    {"sysuser", required_argument, nullptr, SYSUSER_OPTION},
    {nullptr, 0, nullptr, 0},
};

constexpr struct option NO_OPTIONS[] = {{nullptr, 0, nullptr, 0}};

// Plain decimal digits within 32 bits, as the store keeps ids.
std::uint32_t parse_id(const char *what, const char *text) {
    std::uint64_t value = 0;
    bool valid = text[0] != '\0';
    for (const char *c = text; *c != '\0' && valid; ++c) {
        valid = *c >= '0' && *c <= '9';
        value = value * 10 + static_cast<std::uint64_t>(*c - '0');
        valid = valid && value <= UINT32_MAX;
    }
    if (!valid)
        fail(EXIT_REFUSED, "invalid %s '%s': a decimal number up to 4294967295", what, shown(text));
    return static_cast<std::uint32_t>(value);
}

// home and sysuser become fields of the account's line.
std::string parse_field(const char *what, const char *text) {
    for (const char *c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (*c == ':' || byte < 0x20 || byte == 0x7f)
            fail(EXIT_REFUSED, "invalid %s '%s': no ':' and no control characters", what,
                 shown(text));
    }
    return text;
}

void parse_global(int argc, char **argv, admin_arguments &arguments) {
    opterr = 0; // the messages below are the only ones
    for (;;) {
        const int option = getopt_long(argc, argv, "+s:c:hV", GLOBAL_OPTIONS, nullptr);
        switch (option) {
        case -1:
            return;
        case 's':
            if (optarg[std::strspn(optarg, VALID_SERVICE_CHARS)] != '\0' || optarg[0] == '\0' ||
                std::strlen(optarg) > MAX_SERVICE)
                fail(EXIT_USAGE, "invalid service name '%s'; see --help", shown(optarg));
            arguments.service = optarg;
            break;
        case 'c':
            if (optarg[0] == '\0')
                fail(EXIT_USAGE, "empty configuration file name; see --help");
            arguments.config_path = optarg;
            break;
        case 'h':
            std::fputs(HELP_TEXT, stdout);
            std::exit(EXIT_SUCCEEDED);
        case 'V':
            std::printf("%s %s\n", PROGRAM_NAME, QUELMARAUTH_VERSION);
            std::exit(EXIT_SUCCEEDED);
        default:
            fail(EXIT_USAGE, "invalid option '%s'; see --help", shown(argv[optind - 1]));
        }
    }
}

// argv[0] of the sub-command's part is the command word itself.
void parse_command(int argc, char **argv, const admin_command &command,
                   admin_arguments &arguments) {
    optind = 0; // glibc: start afresh on another argv
    const option *options = command.takes_account_options ? ACCOUNT_OPTIONS : NO_OPTIONS;
    for (;;) {
        const int option = getopt_long(argc, argv, "", options, nullptr);
        if (option == -1)
            break;
        switch (option) {
        case UID_OPTION:
            arguments.has_uid = true;
            arguments.uid = parse_id("uid", optarg);
            break;
        case GID_OPTION:
            arguments.has_gid = true;
            arguments.gid = parse_id("gid", optarg);
            break;
        case HOME_OPTION:
            arguments.home = parse_field("home", optarg);
            break;
        case SYSUSER_OPTION:
            arguments.sysuser = parse_field("sysuser", optarg);
            break;
        default:
            fail(EXIT_USAGE, "%s: invalid option '%s'; see --help", command.name,
                 shown(argv[optind - 1]));
        }
    }
    const int names = argc - optind;
    if (names != (command.takes_name ? 1 : 0)) {
        if (command.takes_name)
            fail(EXIT_USAGE, "%s takes one account name; see --help", command.name);
        fail(EXIT_USAGE, "%s takes no arguments; see --help", command.name);
    }
    if (!command.takes_name)
        return;
    arguments.name = argv[optind];
    if (!is_valid_account_name(arguments.name))
        fail(EXIT_REFUSED,
             "invalid account name '%s': not empty, no ':', blanks or control characters",
             shown(argv[optind]));
}

} // namespace

admin_arguments parse_arguments(int argc, char **argv) {
    admin_arguments arguments;
    parse_global(argc, argv, arguments);
    if (optind >= argc)
        fail(EXIT_USAGE, "no command given; see --help");
    const admin_command *command = find_command(argv[optind]);
    if (command == nullptr)
        fail(EXIT_USAGE, "unknown command '%s'; see --help", shown(argv[optind]));
    arguments.command = command->name;
    parse_command(argc - optind, argv + optind, *command, arguments);
    return arguments;
}
