#include "platform/paths.h"

#include <cctype>
#include <cstdlib>

namespace tw {

std::string NativePath(std::string_view WindowsPath) {
    const bool drive = WindowsPath.size() >= 3 && std::isalpha(static_cast<unsigned char>(WindowsPath[0])) &&
                       WindowsPath[1] == ':' && (WindowsPath[2] == '\\' || WindowsPath[2] == '/');
    if (!drive) return std::string(WindowsPath);
    const char *tmp = std::getenv("TMPDIR");
    std::string dir = tmp && *tmp ? tmp : "/tmp";
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    std::string rest(WindowsPath.substr(3));
    for (char &c : rest)
        if (c == '\\') c = '/';
    return dir == "/" ? "/" + rest : dir + "/" + rest;
}

}  // namespace tw
