// zembrovald: changes an account's password over the poppassd protocol, for
// one client connected on standard input and output by a super-server.
#include "dialogue.h"
#include "event_log.h"
#include "options.h"
#include "program.h"

#include <csignal>
#include <syslog.h>

int main(int argc, char **argv) {
    char service_name[MAX_SERVICE + 1] = "login";

    // A client that hangs up must not kill the process with SIGPIPE between
    // changing a password and logging it: writes to it then fail quietly.
    std::signal(SIGPIPE, SIG_IGN);

    // Opened before the command line is read, so that a refused service name
    // is logged under the program's own identity.
    openlog(PROGRAM_NAME, LOG_PID, LOG_AUTHPRIV);
    parse_options(argc, argv, service_name);
    run_dialogue(service_name);
}
