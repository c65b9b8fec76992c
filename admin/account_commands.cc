// account_commands.cc: the commands that act on one account. Each first
// looks the account up, so that the administrator is not asked for a
// password for nothing; the change itself checks again under the lock.
#include <syslog.h>

#include <cstdlib>

#include "command_table.h"
#include "password_hash.h"
#include "password_input.h"
#include "report.h"
#include "store_access.h"

namespace {

bool can_add(const store_admin_ops &admin) { return admin.add != nullptr; }
bool can_remove(const store_admin_ops &admin) { return admin.remove != nullptr; }
bool can_set_hash(const store_admin_ops &admin) { return admin.set_hash != nullptr; }
bool can_lock(const store_admin_ops &admin) { return admin.set_locked != nullptr; }

// denied when there is no such account; ends the process when the store fails.
store_result look_up(const opened_store &opened, const admin_arguments &arguments) {
    error_text error;
    account_record record;
    const store_result result =
        opened.store->lookup(opened.config, arguments.name.c_str(), record, error);
    if (result == store_result::failed)
        std::exit(finish(result, error));
    return result;
}

void require_account(const opened_store &opened, const admin_arguments &arguments) {
    if (look_up(opened, arguments) != store_result::ok)
        fail(EXIT_REFUSED, "no account %s", arguments.name.c_str());
}

// The hash of a new password read from the administrator; otherwise the
// exit status, after saying why. Returns, so that the password is wiped.
bool new_password_hash(const opened_store &opened, new_hash &hash, int &status) {
    password_text password;
    if (!read_new_password(password)) {
        status = EXIT_REFUSED;
        return false;
    }
    error_text error;
    if (!make_hash(password.text, opened.config.hashing, hash, error)) {
        status = finish(store_result::failed, error);
        return false;
    }
    return true;
}

// Changes are recorded where the library's own entries go.
int audited(int status, const admin_arguments &arguments, const char *done) {
    if (status == EXIT_SUCCEEDED)
        syslog(LOG_AUTHPRIV | LOG_NOTICE, "%s account %s (service %s)", done,
               arguments.name.c_str(), arguments.service.c_str());
    return status;
}

int set_locked(const admin_arguments &arguments, bool locked) {
    const opened_store opened = open_store(arguments);
    const store_admin_ops &admin =
        admin_of(opened, can_lock, locked ? "lock accounts" : "unlock accounts");
    error_text error;
    const store_result result =
        admin.set_locked(opened.config, arguments.name.c_str(), locked, error);
    return audited(finish(result, error), arguments, locked ? "locked" : "unlocked");
}

} // namespace

int run_useradd(const admin_arguments &arguments) {
    const opened_store opened = open_store(arguments);
    const store_admin_ops &admin = admin_of(opened, can_add, "add accounts");
    if (look_up(opened, arguments) == store_result::ok)
        fail(EXIT_REFUSED, "account %s exists", arguments.name.c_str());
    new_hash hash;
    int status = EXIT_SUCCEEDED;
    if (!new_password_hash(opened, hash, status))
        return status;
    account_record record;
    record.name = arguments.name;
    record.hash.assign(hash.view());
    record.has_uid = arguments.has_uid;
    record.uid = arguments.uid;
    record.has_gid = arguments.has_gid;
    record.gid = arguments.gid;
    record.home = arguments.home;
    record.sysuser = arguments.sysuser;
    error_text error;
    return audited(finish(admin.add(opened.config, record, error), error), arguments, "added");
}

int run_passwd(const admin_arguments &arguments) {
    const opened_store opened = open_store(arguments);
    const store_admin_ops &admin = admin_of(opened, can_set_hash, "set passwords");
    require_account(opened, arguments);
    new_hash hash;
    int status = EXIT_SUCCEEDED;
    if (!new_password_hash(opened, hash, status))
        return status;
    error_text error;
    const store_result result =
        admin.set_hash(opened.config, arguments.name.c_str(), hash.view(), error);
    return audited(finish(result, error), arguments, "set the password of");
}

int run_userdel(const admin_arguments &arguments) {
    const opened_store opened = open_store(arguments);
    const store_admin_ops &admin = admin_of(opened, can_remove, "remove accounts");
    error_text error;
    const store_result result = admin.remove(opened.config, arguments.name.c_str(), error);
    return audited(finish(result, error), arguments, "removed");
}

int run_lock(const admin_arguments &arguments) { return set_locked(arguments, true); }

int run_unlock(const admin_arguments &arguments) { return set_locked(arguments, false); }

int run_verify(const admin_arguments &arguments) {
    const opened_store opened = open_store(arguments);
    require_account(opened, arguments);
    password_text password;
    if (!read_current_password(password))
        return EXIT_REFUSED;
    error_text error;
    account_record record;
    const store_result result =
        opened.store->login(opened.config, arguments.name.c_str(), password.text, record, error);
    if (result != store_result::denied)
        return finish(result, error);
    complain("wrong password for %s", arguments.name.c_str());
    return EXIT_REFUSED;
}
