#include "platform/hresult_names.h"

#include <cstdio>

namespace tw {

namespace {
struct Name {
    HRESULT hr;
    const char *name;
};
const Name kNames[] = {
#include "hresult_names.inc"
};
}  // namespace

const char *hresult_name(HRESULT hr) {
    for (const Name &n : kNames)
        if (n.hr == hr) return n.name;
    return nullptr;
}

std::string hresult_text(HRESULT hr) {
    if (const char *name = hresult_name(hr)) return name;
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

}  // namespace tw
