// DSUtil: the error check and its message, running-object-table registration, the time
// helpers and the profile table.
#include "dsutil/DSUtil.h"

#include "tests/support/FakeCom.h"
#include "platform/directshow.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using tw::ComPtr;

namespace {

// ---- Error check

TEST(CheckGraphResult, SuccessCodesComeBackUnchanged) {
    EXPECT_EQ(CheckGraphResult(S_OK), S_OK);
    EXPECT_EQ(CheckGraphResult(S_FALSE), S_FALSE);
    EXPECT_EQ(CheckGraphResult(static_cast<HRESULT>(0x00040254)), static_cast<HRESULT>(0x00040254));
    EXPECT_EQ(CheckGraphResult(static_cast<HRESULT>(0x7FFFFFFF)), static_cast<HRESULT>(0x7FFFFFFF));
}

TEST(CheckGraphResult, FailureRaisesWithTextAndCode) {
    const HRESULT codes[] = {E_FAIL, E_NOINTERFACE, E_UNEXPECTED, static_cast<HRESULT>(0x80040203),
                             static_cast<HRESULT>(0x80000000)};
    const char *const tails[] = {" ($80004005).", " ($80004002).", " ($8000FFFF).", " ($80040203).",
                                 " ($80000000)."};
    for (size_t i = 0; i < sizeof codes / sizeof codes[0]; ++i) {
        SCOPED_TRACE(tails[i]);
        try {
            CheckGraphResult(codes[i]);
            ADD_FAILURE() << "no exception";
        } catch (const EDirectShowException &e) {
            EXPECT_EQ(e.ResultCode(), codes[i]);
            EXPECT_EQ(e.Message(), DirectShowErrorText(codes[i]) + tails[i]);
            EXPECT_STREQ(e.what(), e.Message().c_str());
            EXPECT_EQ(e.HelpContext(), 0);
        }
    }
    // Every exception of the components is caught as the general class.
    EXPECT_THROW(CheckGraphResult(E_FAIL), Exception);
}

TEST(CheckGraphResult, TextIsTrimmedAndBounded) {
    // System texts end in CR LF on Windows; the message must not. The platform's texts differ
    // between targets, so only their form is checked.
    const HRESULT codes[] = {E_FAIL,         E_NOTIMPL,   E_OUTOFMEMORY, E_INVALIDARG,
                             E_POINTER,      E_ACCESSDENIED, static_cast<HRESULT>(0x80040290),
                             static_cast<HRESULT>(0x80040217), static_cast<HRESULT>(0x80070020)};
    for (HRESULT hr : codes) {
        std::string text = DirectShowErrorText(hr);
        SCOPED_TRACE(text);
        EXPECT_LE(text.size(), 255u);
        if (!text.empty()) {
            EXPECT_NE(text.back(), '\n');
            EXPECT_NE(text.back(), '\r');
        }
        EXPECT_EQ(text.find('\0'), std::string::npos);
    }
}

TEST(CheckGraphResult, MessageKeepsTextLiterally) {
    EXPECT_EQ(tw::DirectShowErrorMessage("100% done %d %s %x", E_FAIL), "100% done %d %s %x ($80004005).");
    EXPECT_EQ(tw::DirectShowErrorMessage("", static_cast<HRESULT>(0x8000FFFF)), " ($8000FFFF).");
    // No leading zeros, uppercase, no prefix.
    EXPECT_EQ(tw::DirectShowErrorMessage("x", static_cast<HRESULT>(0x000401E7)), "x ($401E7).");
    EXPECT_EQ(tw::DirectShowErrorMessage("x", static_cast<HRESULT>(0xABCDEF01)), "x ($ABCDEF01).");
}

// ---- Running object table

// A graph stand-in: any counted object will do for the table.
class FakeGraphObject : public tw::test::Fake<IUnknown> {
protected:
    void *GetInterface(REFIID) override { return nullptr; }
};

std::vector<std::string> running_names() {
    std::vector<std::string> names;
    ComPtr<IRunningObjectTable> table;
    if (GetRunningObjectTable(0, table.out()) != S_OK) return names;
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(table->EnumRunning(monikers.out())) || !monikers) return names;
    for (;;) {
        ComPtr<IMoniker> moniker;
        ULONG fetched = 0;
        if (monikers->Next(1, moniker.out(), &fetched) != S_OK) break;
        LPOLESTR name = nullptr;
        // An item moniker needs no bind context for its name.
        if (SUCCEEDED(moniker->GetDisplayName(nullptr, nullptr, &name)) && name) {
            names.push_back(tw::to_utf8(name));
            CoTaskMemFree(name);
        }
    }
    return names;
}

class RotTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

TEST(RotGraphName, FullPointerWidthAndUppercasePid) {
    const void *address = reinterpret_cast<const void *>(static_cast<uintptr_t>(0x1234));
    const std::string zeros(sizeof(void *) * 2 - 4, '0');
    EXPECT_EQ(tw::RotGraphName(address, 0x3F0), "FilterGraph " + zeros + "1234 pid 3F0");
    EXPECT_EQ(tw::RotGraphName(address, 0xABCDEF), "FilterGraph " + zeros + "1234 pid ABCDEF");
    // The whole address, never cut to 32 bits.
    const uintptr_t high = ~static_cast<uintptr_t>(0) - 0x10;
    std::string name = tw::RotGraphName(reinterpret_cast<const void *>(high), 1);
    EXPECT_EQ(name, "FilterGraph " + std::string(sizeof(void *) * 2 - 2, 'F') + "EF pid 1");
}

TEST_F(RotTest, RegisterNamesGraphAndRevokeRemovesIt) {
    auto *graph = new FakeGraphObject;
    const ULONG before = graph->refs();
    const std::string expected = "!" + tw::RotGraphName(graph->identity(), GetCurrentProcessId());

    DWORD cookie = 0;
    ASSERT_EQ(RotRegisterGraph(graph->identity(), cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    std::vector<std::string> names = running_names();
    EXPECT_EQ(std::count(names.begin(), names.end(), expected), 1) << expected;

    // The registration answers for the object itself.
    {
        ComPtr<IRunningObjectTable> table;
        ASSERT_EQ(GetRunningObjectTable(0, table.out()), S_OK);
        ComPtr<IMoniker> moniker;
        ASSERT_EQ(CreateItemMoniker(OLESTR("!"), tw::to_wide(expected.substr(1)).c_str(), moniker.out()), S_OK);
        EXPECT_EQ(table->IsRunning(moniker.get()), S_OK);
        ComPtr<IUnknown> object;
        ASSERT_EQ(table->GetObject(moniker.get(), object.out()), S_OK);
        EXPECT_EQ(object.get(), graph->identity());
    }

    EXPECT_EQ(RotRevokeGraph(cookie), S_OK);
    names = running_names();
    EXPECT_EQ(std::count(names.begin(), names.end(), expected), 0);
    EXPECT_EQ(graph->refs(), before);  // the table dropped what it held
    // A cookie is good for one revocation only.
    EXPECT_TRUE(FAILED(RotRevokeGraph(cookie)));
    graph->Release();
}

TEST_F(RotTest, SecondRegistrationOfSameGraphIsReportedAndRevokedSeparately) {
    auto *graph = new FakeGraphObject;
    DWORD first = 0, second = 0;
    ASSERT_EQ(RotRegisterGraph(graph->identity(), first), S_OK);
    EXPECT_EQ(RotRegisterGraph(graph->identity(), second), MK_S_MONIKERALREADYREGISTERED);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(RotRevokeGraph(first), S_OK);
    EXPECT_EQ(RotRevokeGraph(second), S_OK);
    EXPECT_EQ(graph->refs(), 1u);
    graph->Release();
}

TEST_F(RotTest, TwoGraphsGetTwoNames) {
    auto *a = new FakeGraphObject;
    auto *b = new FakeGraphObject;
    DWORD ca = 0, cb = 0;
    ASSERT_EQ(RotRegisterGraph(a->identity(), ca), S_OK);
    ASSERT_EQ(RotRegisterGraph(b->identity(), cb), S_OK);  // not "already registered"
    EXPECT_EQ(RotRevokeGraph(cb), S_OK);
    EXPECT_EQ(RotRevokeGraph(ca), S_OK);
    a->Release();
    b->Release();
    EXPECT_EQ(tw::test::live_fakes(), 0);
}

TEST_F(RotTest, UnknownCookieFailsWithoutRaising) {
    EXPECT_TRUE(FAILED(RotRevokeGraph(0x7A5E1234u)));
}

// ---- Time

// The record's fields in order, as numbers (the platform may declare them as bit fields).
std::vector<int> fields(const tagDVD_TIMECODE &r) {
    return {static_cast<int>(r.Hours1),   static_cast<int>(r.Hours10),   static_cast<int>(r.Minutes1),
            static_cast<int>(r.Minutes10), static_cast<int>(r.Seconds1), static_cast<int>(r.Seconds10),
            static_cast<int>(r.Frames1),   static_cast<int>(r.Frames10), static_cast<int>(r.FrameRateCode)};
}

TEST(SplitDVDTimeCode, FieldsFromMostSignificantEnd) {
    tagDVD_TIMECODE rec{};
    SplitDVDTimeCode(0x12345678u, rec);
    EXPECT_EQ(fields(rec), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 2, 0}));
    SplitDVDTimeCode(0xFFFFFFFFu, rec);
    EXPECT_EQ(fields(rec), (std::vector<int>{15, 15, 15, 15, 15, 15, 15, 3, 3}));
    SplitDVDTimeCode(0x00000009u, rec);  // low bits 10 01: frames tens 2, rate code 1
    EXPECT_EQ(fields(rec), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 2, 1}));
    SplitDVDTimeCode(0x80000000u, rec);
    EXPECT_EQ(fields(rec), (std::vector<int>{8, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(RefTimeToMilliseconds, TruncatesTowardZero) {
    EXPECT_EQ(RefTimeToMilliseconds(-15000), -1);
    EXPECT_EQ(RefTimeToMilliseconds(19999), 1);
    EXPECT_EQ(RefTimeToMilliseconds(-19999), -1);
    EXPECT_EQ(RefTimeToMilliseconds(9999), 0);
    EXPECT_EQ(RefTimeToMilliseconds(36000000000LL), 3600000);  // one hour, past 32 bits
    EXPECT_EQ(RefTimeToMilliseconds(INT64_MIN), INT64_MIN / 10000);
}

// ---- Profiles

std::string guid_text(const GUID &g) {
    char s[40];
    std::snprintf(s, sizeof s, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.Data1),
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                  g.Data4[6], g.Data4[7]);
    return s;
}

TEST(Profiles, TableHoldsThe27SystemProfilesInOrder) {
    static_assert(sizeof(ProfileGUIDs) / sizeof(ProfileGUIDs[0]) == 27);
    static_assert(sizeof(ProfileGUIDs) == 27 * 16);
    static_assert(sizeof(TWMPofiles8) == 1);
    // The runtime's published identifiers, row by row.
    static const char *const kExpected[27][2] = {
        {"wmp_V80_255VideoPDA", "{FEEDBCDF-3FAC-4C93-AC0D-47941EC72C0B}"},
        {"wmp_V80_150VideoPDA", "{AEE16DFA-2C14-4A2F-AD3F-A3034031784F}"},
        {"wmp_V80_28856VideoMBR", "{D66920C4-C21F-4EC8-A0B4-95CF2BD57FC4}"},
        {"wmp_V80_100768VideoMBR", "{5BDB5A0E-979E-47D3-9596-73B386392A55}"},
        {"wmp_V80_288100VideoMBR", "{D8722C69-2419-4B36-B4E0-6E17B60564E5}"},
        {"wmp_V80_288Video", "{3DF678D9-1352-4186-BBF8-74F0C19B6AE2}"},
        {"wmp_V80_56Video", "{254E8A96-2612-405C-8039-F0BF725CED7D}"},
        {"wmp_V80_100Video", "{A2E300B4-C2D4-4FC0-B5DD-ECBD948DC0DF}"},
        {"wmp_V80_256Video", "{BBC75500-33D2-4466-B86B-122B201CC9AE}"},
        {"wmp_V80_384Video", "{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}"},
        {"wmp_V80_768Video", "{74D01102-E71A-4820-8F0D-13D2EC1E4872}"},
        {"wmp_V80_700NTSCVideo", "{C8C2985F-E5D9-4538-9E23-9B21BF78F745}"},
        {"wmp_V80_1400NTSCVideo", "{931D1BEE-617A-4BCD-9905-CCD0786683EE}"},
        {"wmp_V80_384PALVideo", "{9227C692-AE62-4F72-A7EA-736062D0E21E}"},
        {"wmp_V80_700PALVideo", "{EC298949-639B-45E2-96FD-4AB32D5919C2}"},
        {"wmp_V80_288MonoAudio", "{7EA3126D-E1BA-4716-89AF-F65CEE0C0C67}"},
        {"wmp_V80_288StereoAudio", "{7E4CAB5C-35DC-45BB-A7C0-19B28070D0CC}"},
        {"wmp_V80_32StereoAudio", "{60907F9F-B352-47E5-B210-0EF1F47E9F9D}"},
        {"wmp_V80_48StereoAudio", "{5EE06BE5-492B-480A-8A8F-12F373ECF9D4}"},
        {"wmp_V80_64StereoAudio", "{09BB5BC4-3176-457F-8DD6-3CD919123E2D}"},
        {"wmp_V80_96StereoAudio", "{1FC81930-61F2-436F-9D33-349F2A1C0F10}"},
        {"wmp_V80_128StereoAudio", "{407B9450-8BDC-4EE5-88B8-6F527BD941F2}"},
        {"wmp_V80_288VideoOnly", "{8C45B4C7-4AEB-4F78-A5EC-88420B9DADEF}"},
        {"wmp_V80_56VideoOnly", "{6E2A6955-81DF-4943-BA50-68A986A708F6}"},
        {"wmp_V80_FAIRVBRVideo", "{3510A862-5850-4886-835F-D78EC6A64042}"},
        {"wmp_V80_HIGHVBRVideo", "{0F10D9D3-3B04-4FB0-A3D3-88D4AC854ACC}"},
        {"wmp_V80_BESTVBRVideo", "{048439BA-309C-440E-9CB4-3DCCA3756423}"},
    };
    for (int i = 0; i < 27; ++i) {
        EXPECT_EQ(guid_text(ProfileGUIDs[i]), kExpected[i][1]) << i;
        EXPECT_STREQ(tw::ProfileNames[i], kExpected[i][0]) << i;
    }
    EXPECT_EQ(wmp_V80_BESTVBRVideo, 26);
}

TEST(Profiles, EveryRowRoundTripsAndOtherGuidsGive255) {
    for (int i = 0; i < 27; ++i) {
        GUID copy = ProfileGUIDs[i];  // equal by value, not by address
        EXPECT_EQ(ProfileFromGuid(copy), static_cast<TWMPofiles8>(i)) << i;
    }
    const GUID zero = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    EXPECT_EQ(static_cast<int>(ProfileFromGuid(zero)), 255);
    const GUID advanced2 = {0x962DC1EC, 0xC046, 0x4DB8, {0x9C, 0xC7, 0x26, 0xCE, 0xAE, 0x50, 0x08, 0x17}};
    EXPECT_EQ(static_cast<int>(ProfileFromGuid(advanced2)), 255);
    // One byte off in the last position is another GUID.
    GUID other = ProfileGUIDs[26];
    other.Data4[7] ^= 1;
    EXPECT_EQ(static_cast<int>(ProfileFromGuid(other)), 255);
}

}  // namespace
