// remote_host.cc: PAM modules (access rules, logs) judge the client by
// PAM_RHOST, and the program has no socket of its own to ask: the
// super-server's environment is the only source.
#include "remote_host.h"

#include <cstdlib>

namespace {

constexpr const char *REMOTE_HOST_VARIABLES[] = {"TCPREMOTEIP", "REMOTE_HOST", "REMOTE_ADDR"};

} // namespace

bool is_plain_host(const char *text)
{
    if (text == nullptr)
        return false;
    std::size_t length = 0;
    for (const char *c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte <= 0x20 || byte >= 0x7f || ++length > MAX_REMOTE_HOST)
            return false;
    }
    return length > 0;
}

const char *remote_host_from_environment()
{
    for (const char *name : REMOTE_HOST_VARIABLES) {
        const char *value = secure_getenv(name);
        if (value == nullptr || value[0] == '\0')
            continue;
        // A value that is not plain is not trusted, and not replaced by a
        // later variable either: the super-server set this one.
        return is_plain_host(value) ? value : nullptr;
    }
    return nullptr;
}
