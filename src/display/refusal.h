// Why a kernel request failed, for the lines after a fatal check's diagnostic.
#pragma once

#include <cstddef>

// "REQUEST: <strerror(error)>\n"; when the kernel refused the display itself
// (EACCES or EPERM: another process is its master), a second line names the other
// processes that hold the device open. In a buffer that lasts until the process ends.
const char* request_failed(int fd, const char* request, int error);

// "/dev/dri/card0 is in use by: panelshow (pid 412), weston (pid 77)", or "... is in
// use by another program" when no other process under proc_root (normally /proc)
// holds the file that fd is open on. Returns the length written (cut to fit room).
size_t describe_holders(int fd, const char* proc_root, char* out, size_t room);
