// Our side of the comparison: nothing but our platform headers.
#include "AbiTables.h"

#include "abi_platform_headers.h"  // every header of platform/ (generated)

namespace tw::abi {
namespace {

constexpr GuidValue value_of(const GUID &g) {
    return {g.Data1, g.Data2, g.Data3, {g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                                        g.Data4[6], g.Data4[7]}};
}

#define TW_ABI_GUID(n) {#n, value_of(n)},
const NamedGuid guids[] = {
#include "abi_guid_names.inc"
};
#undef TW_ABI_GUID

#define TW_ABI_CONSTANT(n) {#n, static_cast<uint32_t>(n)},
const NamedConstant constants[] = {
#include "abi_constant_names.inc"
    {nullptr, 0}};
#undef TW_ABI_CONSTANT

}  // namespace

std::span<const NamedGuid> our_guids() { return guids; }
std::span<const NamedConstant> our_constants() { return {constants, std::size(constants) - 1}; }

}  // namespace tw::abi
