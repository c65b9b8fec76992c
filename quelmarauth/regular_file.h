// regular_file.h: opening a file the library only reads (configuration,
// account file) without ever blocking on a FIFO or reading a device.
#ifndef QUELMARAUTH_REGULAR_FILE_H
#define QUELMARAUTH_REGULAR_FILE_H

#include "diagnostic.h"
#include "unique_fd.h"

// The open file, or an invalid one with the reason in error ("PATH: cannot
// open: ..." or "PATH: not a regular file").
unique_fd open_regular_file(const char *path, error_text &error);

#endif
