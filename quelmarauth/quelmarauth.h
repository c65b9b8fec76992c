/*
 * quelmarauth.h: the account library's public interface, usable from C and C++.
 *
 * Every call names an authentication service; the configuration file maps the
 * service to the store that holds its accounts. Results of all three calls:
 *   0         yes: the password is right / the account exists / it was changed
 *   negative  wrong password, no such account, or the callback's own refusal
 *             (a negative value returned by the callback is passed through)
 *   positive  the store itself failed (configuration, file, database); the
 *             library has left one diagnostic in the system log
 * A failure of the store is never reported as a wrong password.
 */
#ifndef QUELMARAUTH_H
#define QUELMARAUTH_H

#include <sys/types.h>

#ifdef __cplusplus
#define QMA_API extern "C" __attribute__((visibility("default")))
#define QMA_NOEXCEPT noexcept
#else
#define QMA_API extern __attribute__((visibility("default")))
#define QMA_NOEXCEPT
#endif

/*
 * The account record handed to a callback. Absent fields are null pointers.
 * The record and everything it points to live only for the callback's call.
 */
struct quelmarauth_account {
    const char *name;        /* account name as stored */
    const uid_t *sysuserid;  /* system user id, or null */
    const gid_t *sysgroupid; /* system group id, or null */
    const char *homedir;     /* home folder, or null */
    const char *sysusername; /* system account this account maps to, or null */
};

/*
 * Verifies password for user. On a right password the callback (if not null)
 * is called with the account record and arg, and its result is returned.
 */
QMA_API int auth_login(const char *service, const char *user, const char *password,
                       int (*callback)(const struct quelmarauth_account *, void *),
                       void *arg) QMA_NOEXCEPT;

/*
 * Looks user up and calls the callback (if not null) with its record and arg;
 * returns the callback's result, or 0 when there is no callback.
 */
QMA_API int auth_getuserinfo(const char *service, const char *user,
                             int (*callback)(const struct quelmarauth_account *, void *),
                             void *arg) QMA_NOEXCEPT;

/*
 * Replaces the password of user by new_password, after verifying
 * old_password itself.
 */
QMA_API int auth_passwd(const char *service, const char *user, const char *old_password,
                        const char *new_password) QMA_NOEXCEPT;

#endif
