// What the rest of the platform layer needs to know about the HANDLEs of platform/win32.h.
#pragma once

#include "platform/win32.h"

namespace tw::posix {

// The file descriptor behind a handle from CreateFileA/CreateFileW, or -1 when the handle is
// not an open file handle. The descriptor stays owned by the handle (CloseHandle closes it).
int fd_from_handle(HANDLE h);

}  // namespace tw::posix
