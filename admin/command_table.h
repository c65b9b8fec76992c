// command_table.h: the sub-commands, what each takes, and who runs it.
#pragma once

struct admin_arguments;

struct admin_command {
    const char *name;
    bool takes_name;                              // one account name
    bool takes_account_options;                   // --uid, --gid, --home, --sysuser
    int (*run)(const admin_arguments &arguments); // the exit status
};

// The command called name, or null.
const admin_command *find_command(const char *name);

int run_useradd(const admin_arguments &arguments);
int run_passwd(const admin_arguments &arguments);
int run_userdel(const admin_arguments &arguments);
int run_lock(const admin_arguments &arguments);
int run_unlock(const admin_arguments &arguments);
int run_verify(const admin_arguments &arguments);
int run_list(const admin_arguments &arguments);
int run_check(const admin_arguments &arguments);
