// MinGW's side of the comparison: nothing but MinGW's headers.
//
// The values are taken from the header text itself, not from the symbols of libstrmiids or
// libuuid: a GUID our headers define (an inline variable) has the same linker name as MinGW's,
// so in one program both sides would read the same object and every comparison would pass.
// DEFINE_GUID and EXTERN_GUID are therefore redefined, for the DirectShow and Windows Media
// headers only, to make constants of namespace tw::abi::mingw.
#include "AbiTables.h"

#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <ddraw.h>
#include <mmsystem.h>
#include <strsafe.h>

namespace tw::abi {
// A name MinGW does not define resolves to one of these instead (the inner namespace hides
// them where it defines the name).
struct absent_t {};
#define TW_ABI_GUID(n) inline constexpr absent_t n{};
#include "abi_guid_names.inc"
#undef TW_ABI_GUID
}  // namespace tw::abi

#undef DEFINE_GUID
#define DEFINE_GUID(n, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    namespace tw::abi::mingw {                                     \
    constexpr GUID n = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}; \
    }
#undef EXTERN_GUID
#define EXTERN_GUID DEFINE_GUID

#include <dshow.h>
#include <qedit.h>
#include <vfwmsgs.h>
#include <wmsdkidl.h>
#include <nserror.h>

#include <iterator>

namespace tw::abi::mingw {
namespace {

constexpr bool defined(absent_t) { return false; }
constexpr bool defined(const GUID &) { return true; }
constexpr GuidValue value_of(absent_t) { return {}; }
constexpr GuidValue value_of(const GUID &g) {
    return {g.Data1, g.Data2, g.Data3, {g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                                        g.Data4[6], g.Data4[7]}};
}

struct Candidate {
    bool defined;
    NamedGuid entry;
};

#define TW_ABI_GUID(n) {defined(n), {#n, value_of(n)}},
constexpr Candidate candidates[] = {
#include "abi_guid_names.inc"
};
#undef TW_ABI_GUID

constexpr size_t defined_count() {
    size_t k = 0;
    for (const Candidate &c : candidates) k += c.defined;
    return k;
}

struct Guids {
    NamedGuid items[defined_count() + 1];
    constexpr Guids() : items{} {
        size_t k = 0;
        for (const Candidate &c : candidates)
            if (c.defined) items[k++] = c.entry;
    }
};
constexpr Guids guids;

#define TW_ABI_CONSTANT(n) {#n, static_cast<uint32_t>(n)},
const NamedConstant constants[] = {
#include "abi_constant_names.inc"
    {nullptr, 0}};
#undef TW_ABI_CONSTANT

}  // namespace
}  // namespace tw::abi::mingw

namespace tw::abi {
std::span<const NamedGuid> mingw_guids() { return {mingw::guids.items, mingw::defined_count()}; }
std::span<const NamedConstant> mingw_constants() {
    return {mingw::constants, std::size(mingw::constants) - 1};
}
}  // namespace tw::abi
