// Our platform headers against MinGW's: every GUID and integer constant both define must have
// the same value. The names come from our headers (see abi_names.awk), so a declaration added
// there is checked without touching this file.
#include "AbiTables.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <string_view>

namespace tw::abi {
namespace {

std::string format(const GuidValue &g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(g.data1),
                  unsigned(g.data2), unsigned(g.data3), g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4],
                  g.data4[5], g.data4[6], g.data4[7]);
    return buf;
}

bool same(const GuidValue &a, const GuidValue &b) { return format(a) == format(b); }

std::map<std::string_view, GuidValue> by_name(std::span<const NamedGuid> table) {
    std::map<std::string_view, GuidValue> m;
    for (const NamedGuid &e : table) m.emplace(e.name, e.value);
    return m;
}

// Fewer names in common than this means the comparison lost its footing (a header moved, the
// name scan broke), not that all is well.
constexpr size_t kMinimumGuidsCompared = 60;
constexpr size_t kMinimumConstantsCompared = 80;

TEST(PlatformAbi, GuidsMatchMinGW) {
    const auto ours = by_name(our_guids());
    size_t compared = 0;
    for (const NamedGuid &theirs : mingw_guids()) {
        auto it = ours.find(theirs.name);
        ASSERT_NE(it, ours.end()) << theirs.name << " is in MinGW's table but not in ours";
        ++compared;
        EXPECT_TRUE(same(it->second, theirs.value))
            << theirs.name << ": ours " << format(it->second) << ", MinGW " << format(theirs.value);
    }
    std::printf("compared %zu of our %zu GUIDs with MinGW's\n", compared, ours.size());
    EXPECT_GE(compared, kMinimumGuidsCompared);
}

TEST(PlatformAbi, ConstantsMatchMinGW) {
    std::map<std::string_view, uint32_t> ours;
    for (const NamedConstant &e : our_constants()) ours.emplace(e.name, e.value);
    size_t compared = 0;
    for (const NamedConstant &theirs : mingw_constants()) {
        auto it = ours.find(theirs.name);
        ASSERT_NE(it, ours.end()) << theirs.name << " is in MinGW's table but not in ours";
        ++compared;
        EXPECT_EQ(it->second, theirs.value) << theirs.name << std::hex << ": ours 0x" << it->second << ", MinGW 0x"
                                            << theirs.value;
    }
    std::printf("compared %zu of our %zu constants with MinGW's\n", compared, ours.size());
    EXPECT_GE(compared, kMinimumConstantsCompared);
}

// MinGW has no dshowasf.h and lacks these Windows Media interfaces; their IIDs are checked
// against the SDK's values as published, written here independently of our headers.
TEST(PlatformAbi, IidsMinGWLacksMatchTheSdk) {
    const auto ours = by_name(our_guids());
    const struct {
        const char *name;
        const char *sdk;
    } expected[] = {
        {"IID_IConfigAsfWriter", "{45086030-F7E4-486A-B504-826BB5792A3B}"},
        {"IID_IConfigAsfWriter2", "{7989CCAA-53F0-44F0-884A-F3B03F6AE066}"},
        {"IID_IWMWriterNetworkSink", "{96406BE7-2B2B-11D3-B36B-00C04F6108FF}"},
        {"IID_IWMRegisterCallback", "{CF4B1F99-4DE2-4E49-A363-252740D99BC1}"},
        {"IID_IWMClientConnections", "{73C66010-A299-41DF-B1F0-CCF03B09C1C6}"},
    };
    for (const auto &e : expected) {
        auto it = ours.find(e.name);
        if (it == ours.end()) {
            ADD_FAILURE() << e.name << " is not declared in platform/";
            continue;
        }
        EXPECT_EQ(format(it->second), e.sdk) << e.name;
    }
}

}  // namespace
}  // namespace tw::abi
