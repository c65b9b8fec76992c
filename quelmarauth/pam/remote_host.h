// remote_host.h: the client's address as the super-server tells it, for
// PAM_RHOST.
#ifndef QUELMARAUTH_PAM_REMOTE_HOST_H
#define QUELMARAUTH_PAM_REMOTE_HOST_H

#include <cstddef>

// Longer than any address or host name a super-server sets.
inline constexpr std::size_t MAX_REMOTE_HOST = 255;

// Whether text may be handed to PAM as a host: 1 to MAX_REMOTE_HOST
// printable characters without blanks.
bool is_plain_host(const char *text);

// The first non-empty of TCPREMOTEIP (tcpserver), REMOTE_HOST (xinetd) and
// REMOTE_ADDR (systemd), or null when none is set or the first set is not a
// plain host.
const char *remote_host_from_environment();

#endif
