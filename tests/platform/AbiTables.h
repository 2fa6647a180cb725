// The GUIDs and integer constants of one header set, by name. AbiOurs.cpp fills the tables
// from our platform headers, AbiMinGW.cpp from MinGW's; the two never meet in one
// translation unit, because both sets declare the same interfaces.
#pragma once

#include <cstdint>
#include <span>

namespace tw::abi {

struct GuidValue {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};

struct NamedGuid {
    const char *name;
    GuidValue value;
};

struct NamedConstant {
    const char *name;
    uint32_t value;  // the 32-bit pattern: HRESULTs, event codes and flags alike
};

// Every GUID and integer macro our platform headers define on Windows.
std::span<const NamedGuid> our_guids();
std::span<const NamedConstant> our_constants();

// Those of the same names that MinGW's DirectShow and Windows Media headers define too, with
// MinGW's values.
std::span<const NamedGuid> mingw_guids();
std::span<const NamedConstant> mingw_constants();

}  // namespace tw::abi
