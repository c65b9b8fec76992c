// sql_row.cc: settings and result rows of the database stores.
#include "sql_row.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

inline constexpr unsigned DEFAULT_TIMEOUT_SECONDS = 10;
inline constexpr unsigned MAX_TIMEOUT_SECONDS = 3600;

// A user or group id as the account database keeps it: plain decimal, no
// sign, no blanks, below (uid_t)-1, which means "no id" to the system.
bool parse_id(const char *text, unsigned long &id)
{
    if (text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value >= 0xffffffffUL)
        return false;
    id = value;
    return true;
}

template <std::size_t SIZE>
bool copy_text(char (&to)[SIZE], const char *from)
{
    const std::size_t length = from != nullptr ? std::strlen(from) : 0;
    if (length >= SIZE)
        return false;
    if (length > 0)
        std::memcpy(to, from, length);
    to[length] = '\0';
    return true;
}

// An id column: NULL and empty text are absent; anything else must be an id.
bool read_id(const char *text, int &has_id, unsigned long &id)
{
    has_id = 0;
    if (text == nullptr || text[0] == '\0')
        return true;
    if (!parse_id(text, id))
        return false;
    has_id = 1;
    return true;
}

} // namespace

void sql_error(char *error, std::size_t error_size, const char *format, ...)
{
    if (error == nullptr || error_size == 0)
        return;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(error, error_size, format, arguments);
    va_end(arguments);
}

const char *sql_setting(const quelmarauth_store_call *call, const char *key)
{
    for (std::size_t i = 0; i < call->setting_count; ++i) {
        if (std::strcmp(call->settings[i].key, key) == 0)
            return call->settings[i].value;
    }
    return nullptr;
}

bool sql_timeout_seconds(const quelmarauth_store_call *call, unsigned &seconds, char *error, std::size_t error_size)
{
    const char *text = sql_setting(call, "timeout");
    seconds = DEFAULT_TIMEOUT_SECONDS;
    if (text == nullptr)
        return true;
    unsigned long value = 0;
    if (!parse_id(text, value) || value < 1 || value > MAX_TIMEOUT_SECONDS) {
        sql_error(error, error_size, "%s: timeout '%s' is not a number of seconds from 1 to %u", call->config_path,
                  text, MAX_TIMEOUT_SECONDS);
        return false;
    }
    seconds = static_cast<unsigned>(value);
    return true;
}

bool sql_record_from_row(const char *user, const char *const columns[SQL_LOOKUP_COLUMNS],
                         quelmarauth_store_record *record, char *hash, std::size_t hash_size, char *error,
                         std::size_t error_size)
{
    const char *stored = columns[SQL_HASH] != nullptr ? columns[SQL_HASH] : "";
    const std::size_t hash_length = std::strlen(stored);
    if (hash_length >= hash_size) {
        sql_error(error, error_size, "hash of %s is %zu bytes long, more than a hash can be", user, hash_length);
        return false;
    }
    if (!copy_text(record->name, user) || !copy_text(record->home, columns[SQL_HOME])
        || !copy_text(record->sysuser, columns[SQL_SYSUSER])) {
        sql_error(error, error_size, "name, home or system user of %s is too long", user);
        return false;
    }
    unsigned long uid = 0;
    unsigned long gid = 0;
    if (!read_id(columns[SQL_UID], record->has_uid, uid) || !read_id(columns[SQL_GID], record->has_gid, gid)) {
        sql_error(error, error_size, "user or group id of %s is not a number", user);
        return false;
    }
    record->uid = static_cast<uid_t>(uid);
    record->gid = static_cast<gid_t>(gid);
    std::memcpy(hash, stored, hash_length + 1);
    return true;
}

void sql_id_text(int has_id, unsigned long id, char (&text)[24])
{
    if (has_id == 0)
        text[0] = '\0';
    else
        std::snprintf(text, sizeof text, "%lu", id);
}
