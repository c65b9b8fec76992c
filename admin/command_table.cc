// command_table.cc: the sub-commands by name.
#include "command_table.h"

#include <cstring>

namespace {

constexpr admin_command COMMANDS[] = {
    {"useradd", true, true, run_useradd},  {"passwd", true, false, run_passwd},
    {"userdel", true, false, run_userdel}, {"lock", true, false, run_lock},
    {"unlock", true, false, run_unlock},   {"verify", true, false, run_verify},
    {"list", false, false, run_list},      {"check", false, false, run_check},
};

} // namespace

const admin_command *find_command(const char *name) {
    for (const admin_command &command : COMMANDS) {
        if (std::strcmp(name, command.name) == 0)
            return &command;
    }
    return nullptr;
}
