/*
 * The least a per-connection program can do on a refused user line: open the
 * log, greet, read one line, refuse it, close the log, exit. Built with the
 * default dynamic linking, as a plain C service would be.
 */
#include <stdio.h>
#include <stdlib.h>
#include <syslog.h>

int main(void) {
    char line[1024];

    openlog("zembrovald", LOG_PID, LOG_AUTHPRIV);
    fputs("200 zembrovald v1.1.2 hello, who are you?\r\n", stdout);
    fflush(stdout);
    if (fgets(line, (int)sizeof line, stdin) == NULL)
        line[0] = '\0';
    fputs("500 Username required.\r\n", stdout);
    fflush(stdout);
    closelog();
    exit(1);
}
