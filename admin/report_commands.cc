// report_commands.cc: list and check, which read the store and change
// nothing.
#include <cstdio>

#include "command_table.h"
#include "password_hash.h"
#include "report.h"
#include "store_access.h"

namespace {

bool can_list(const store_admin_ops &admin) { return admin.list != nullptr; }

// Hashes are never shown; only whether they can verify at all.
void print_account(void *, const account_record &record) {
    char uid[16] = "";
    char gid[16] = "";
    if (record.has_uid)
        std::snprintf(uid, sizeof uid, "%lu", static_cast<unsigned long>(record.uid));
    if (record.has_gid)
        std::snprintf(gid, sizeof gid, "%lu", static_cast<unsigned long>(record.gid));
    std::printf("%s\t%s\t%s\t%s\t%s%s\n", record.name.c_str(), uid, gid, record.home.c_str(),
                record.sysuser.c_str(), hash_is_usable(record.hash.view()) ? "" : "\tlocked");
}

void print_problem(void *arg, const char *file, unsigned long line, const char *reason) {
    ++*static_cast<unsigned long *>(arg);
    std::printf("%s:%lu: %s\n", file, line, reason);
}

} // namespace

int run_list(const admin_arguments &arguments) {
    const opened_store opened = open_store(arguments);
    const store_admin_ops &admin = admin_of(opened, can_list, "list accounts");
    error_text error;
    const int status = finish(admin.list(opened.config, print_account, nullptr, error), error);
    if (std::fflush(stdout) != 0)
        fail(EXIT_STORE, "cannot write the list");
    return status;
}

int run_check(const admin_arguments &arguments) {
    // A configuration that does not load ends the process here, with 3.
    const opened_store opened = open_store(arguments);
    const store_admin_ops *admin = opened.store->admin;
    if (admin == nullptr || admin->check == nullptr) {
        complain("configuration is valid; the %s store's accounts cannot be checked here",
                 opened.store->name);
        return EXIT_SUCCEEDED;
    }
    unsigned long problems = 0;
    error_text error;
    const store_result result = admin->check(opened.config, print_problem, &problems, error);
    std::fflush(stdout);
    if (result != store_result::ok)
        return finish(result, error);
    return problems == 0 ? EXIT_SUCCEEDED : EXIT_REFUSED;
}
