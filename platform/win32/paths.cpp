#include "platform/paths.h"

namespace tw {

std::string NativePath(std::string_view WindowsPath) { return std::string(WindowsPath); }

}  // namespace tw
