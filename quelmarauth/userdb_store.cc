// userdb_store.cc: the account look-up, one full scan of the file.
#include "userdb_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "regular_file.h"
#include "unique_fd.h"
#include "userdb_line.h"
#include "userdb_scan.h"

void record_from_fields(const userdb_fields &fields, account_record &record)
{
    record.name.assign(fields.name);
    record.hash.assign(fields.hash);
    record.has_uid = fields.has_uid;
    record.uid = fields.uid;
    record.has_gid = fields.has_gid;
    record.gid = fields.gid;
    record.home.assign(fields.home);
    record.sysuser.assign(fields.sysuser);
}

store_result userdb_lookup(const char *path, const char *user, account_record &record, error_text &error,
                           userdb_position *position)
{
    unique_fd fd = open_regular_file(path, error);
    if (!fd.valid())
        return store_result::failed;
    // Taken before the first read: any later change of the file shows in
    // its times or its inode.
    struct stat opened {};
    const bool identified = ::fstat(fd.get(), &opened) == 0;
    if (position != nullptr)
        position->known = false;
    const std::string_view wanted = user;
    // A name that no line can carry is still looked for through the whole
    // file, so it takes as long as any other.
    const bool possible = is_valid_account_name(wanted);
    bool found = false;
    userdb_scanner scanner(fd.get());
    scanned_line line;
    for (;;) {
        const userdb_scanner::step step = scanner.next(line);
        if (step == userdb_scanner::step::end)
            break;
        if (step == userdb_scanner::step::failed) {
            set_error(error, "%s: cannot read: %s", path, std::strerror(errno));
            return store_result::failed;
        }
        // Every line's name is compared, the lines after a match and for an
        // impossible name included, so that the time of a look-up does not
        // tell where in the file the name stands. Only a line whose name
        // field is the wanted name is parsed at all.
        const bool same_name = !line.overlong && userdb_line_name(line.text) == wanted;
        if (found || !possible || !same_name)
            continue;
        userdb_fields fields;
        if (!parse_userdb_line(line.text, fields))
            continue;
        found = true;
        record_from_fields(fields, record);
        if (position != nullptr && identified) {
            position->known = true;
            position->file = opened;
            position->line_offset = line.offset;
            position->hash_end = line.offset + static_cast<off_t>(fields.hash_offset + fields.hash.size());
        }
    }
    return found ? store_result::ok : store_result::denied;
}
