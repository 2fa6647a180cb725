// File names written the Windows way, as stored descriptions carry them.
//
// On Windows a path is used as written. On Linux, which has no drive letters, a path that
// starts with a drive ("C:\temp.asf") names the same file in the system's temporary directory
// ($TMPDIR, or /tmp): the place a Windows program's scratch files on the system drive would
// go. Any other path is used as written.
#pragma once

#include <string>
#include <string_view>

namespace tw {

std::string NativePath(std::string_view WindowsPath);

}  // namespace tw
