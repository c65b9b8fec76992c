// diagnostic.cc: formats failure reasons and sends them to the system log.
#include "diagnostic.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>

void set_error(error_text &error, const char *format, ...)
{
    if (!error.empty())
        return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(error.text, sizeof error.text, format, args);
    va_end(args);
    if (error.empty())
        std::snprintf(error.text, sizeof error.text, "%s", "unknown failure");
}

void write_diagnostic(const error_text &error)
{
    syslog(LOG_AUTHPRIV | LOG_ERR, "quelmarauth: %s", error.empty() ? "unknown failure" : error.text);
}
