// arguments.h: the command line: global options, the sub-command, its
// account name and the options of useradd.
#pragma once

#include <sys/types.h>

#include <string>

struct admin_arguments {
    std::string service = "login";
    std::string config_path; // empty: the library's own choice
    std::string command;
    std::string name; // the account, for the commands that take one
    bool has_uid = false;
    uid_t uid = 0;
    bool has_gid = false;
    gid_t gid = 0;
    std::string home;
    std::string sysuser;
};

// Fills arguments from argv, or ends the process: --help and --version with
// 0, a wrong command line with 2, an invalid name or field with 1.
admin_arguments parse_arguments(int argc, char **argv);
