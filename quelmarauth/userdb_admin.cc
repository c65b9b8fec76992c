// userdb_admin.cc: the account file store's administration: the changes of
// userdb_edit, and the whole-file listing and check.
#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "regular_file.h"
#include "store_admin.h"
#include "unique_fd.h"
#include "userdb_check.h"
#include "userdb_edit.h"
#include "userdb_line.h"
#include "userdb_scan.h"
#include "userdb_store.h"

namespace {

store_result admin_add(const store_config &config, const account_record &record, error_text &error)
{
    return userdb_add_account(userdb_file_path(config).c_str(), record, error);
}

store_result admin_remove(const store_config &config, const char *user, error_text &error)
{
    return userdb_remove_account(userdb_file_path(config).c_str(), user, error);
}

store_result admin_set_hash(const store_config &config, const char *user, std::string_view hash, error_text &error)
{
    return userdb_set_hash(userdb_file_path(config).c_str(), user, hash, config.hashing.method, error);
}

store_result admin_set_locked(const store_config &config, const char *user, bool locked, error_text &error)
{
    return userdb_set_locked(userdb_file_path(config).c_str(), user, locked, error);
}

// Calls each_line for every line of the file, numbered from 1.
template <typename each_line_function>
store_result scan_lines(const std::string &path, each_line_function each_line, error_text &error)
{
    unique_fd fd = open_regular_file(path.c_str(), error);
    if (!fd.valid())
        return store_result::failed;
    userdb_scanner scanner(fd.get());
    scanned_line line;
    for (unsigned long number = 1;; ++number) {
        const userdb_scanner::step step = scanner.next(line);
        if (step == userdb_scanner::step::end)
            return store_result::ok;
        if (step == userdb_scanner::step::failed) {
            set_error(error, "%s: cannot read: %s", path.c_str(), std::strerror(errno));
            return store_result::failed;
        }
        each_line(line, number);
    }
}

store_result admin_list(const store_config &config, account_visitor visit, void *arg, error_text &error)
{
    // Later lines of a name never count, so they are not shown either.
    std::map<std::string, bool, std::less<>> seen;
    return scan_lines(
        userdb_file_path(config),
        [&](const scanned_line &line, unsigned long) {
            userdb_fields fields;
            if (line.overlong || !parse_userdb_line(line.text, fields) || !seen.emplace(fields.name, true).second)
                return;
            account_record record;
            record_from_fields(fields, record);
            visit(arg, record);
        },
        error);
}

store_result admin_check(const store_config &config, problem_visitor report, void *arg, error_text &error)
{
    const std::string path = userdb_file_path(config);
    std::map<std::string, unsigned long, std::less<>> first_line;
    return scan_lines(
        path,
        [&](const scanned_line &line, unsigned long number) {
            error_text reason;
            if (line.overlong) {
                set_error(reason, "line longer than %zu bytes", USERDB_MAX_LINE);
                report(arg, path.c_str(), number, reason.text);
                return;
            }
            const bool problem = userdb_line_problem(line.text, reason);
            userdb_fields fields;
            // An account with a problem of its own still counts, so its
            // later lines are still never used.
            if (parse_userdb_line(line.text, fields)) {
                const auto [found, added] = first_line.emplace(fields.name, number);
                if (!added && !problem)
                    set_error(reason, "account %.*s again; only line %lu counts",
                              static_cast<int>(fields.name.size()), fields.name.data(), found->second);
                if (!added || problem)
                    report(arg, path.c_str(), number, reason.text);
                return;
            }
            if (!problem)
                return;
            report(arg, path.c_str(), number, reason.text);
        },
        error);
}

} // namespace

const store_admin_ops USERDB_ADMIN = {
    admin_add, admin_remove, admin_set_hash, admin_set_locked, admin_list, admin_check,
};
