// quelmarauth: the administration command of the account store: adds,
// removes, locks and re-hashes accounts, lists and checks them.
#include <syslog.h>

#include "arguments.h"
#include "command_table.h"
#include "report.h"

int main(int argc, char **argv) {
    openlog(PROGRAM_NAME, LOG_PID, LOG_AUTHPRIV);
    const admin_arguments arguments = parse_arguments(argc, argv);
    return find_command(arguments.command.c_str())->run(arguments);
}
