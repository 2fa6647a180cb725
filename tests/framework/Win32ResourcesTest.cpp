// The program's resources, as this test program carries them: the manifest and the icon.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>
#include <vector>

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct GroupIconDir {
    WORD reserved, type, count;
    GroupIconEntry entries[1];
};
#pragma pack(pop)

std::string ResourceBytes(HRSRC Res) {
    HGLOBAL data = LoadResource(nullptr, Res);
    const auto *bytes = static_cast<const char *>(LockResource(data));
    return std::string(bytes, SizeofResource(nullptr, Res));
}

}  // namespace

TEST(Win32Resources, ManifestAsksForTheCommonControlsSix) {
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(res, nullptr);
    const std::string xml = ResourceBytes(res);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0), 0u);
    const size_t dependency = xml.find("<dependency>");
    ASSERT_NE(dependency, std::string::npos);
    for (const char *attribute :
         {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"", "publicKeyToken=\"6595b64144ccf1df\"",
          "language=\"*\"", "processorArchitecture=\"*\""})
        EXPECT_NE(xml.find(attribute, dependency), std::string::npos) << attribute;
}

TEST(Win32Resources, MainIconHasA32And16PixelImageOf256ColoursInChinese) {
    HRSRC group = FindResourceExW(nullptr, MAKEINTRESOURCEW(14), L"MAINICON",
                                  MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    ASSERT_NE(group, nullptr);
    const std::string bytes = ResourceBytes(group);
    ASSERT_GE(bytes.size(), 6u);
    const auto *dir = reinterpret_cast<const GroupIconDir *>(bytes.data());
    ASSERT_EQ(dir->count, 2);
    ASSERT_GE(bytes.size(), 6u + 2 * sizeof(GroupIconEntry));
    const int sizes[] = {32, 16};
    for (int i = 0; i < 2; ++i) {
        const GroupIconEntry &e = dir->entries[i];
        EXPECT_EQ(e.width, sizes[i]);
        EXPECT_EQ(e.height, sizes[i]);
        EXPECT_EQ(e.bitCount, 8);
        HRSRC image = FindResourceExW(nullptr, MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(e.id),
                                      MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
        ASSERT_NE(image, nullptr);
        const std::string bitmap = ResourceBytes(image);
        ASSERT_GE(bitmap.size(), sizeof(BITMAPINFOHEADER));
        const auto *h = reinterpret_cast<const BITMAPINFOHEADER *>(bitmap.data());
        EXPECT_EQ(h->biWidth, sizes[i]);
        EXPECT_EQ(h->biBitCount, 8);
        // The system makes an icon of it at that size.
        HICON icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), L"MAINICON", IMAGE_ICON, sizes[i], sizes[i], 0));
        ASSERT_NE(icon, nullptr);
        ICONINFO info;
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP mask;
        GetObjectW(info.hbmMask, sizeof mask, &mask);
        EXPECT_EQ(mask.bmWidth, sizes[i]);
        DeleteObject(info.hbmMask);
        DeleteObject(info.hbmColor);
        DestroyIcon(icon);
    }
}

// The manifest takes effect: the system loads the common controls 6 from the side-by-side
// store, not the 5.x library of the system folder.
TEST(Win32Resources, TheCommonControlsSixAreLoaded) {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_BAR_CLASSES;
    ASSERT_TRUE(InitCommonControlsEx(&icc));
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), path, MAX_PATH), 0u);
    std::wstring lower(path);
    for (wchar_t &c : lower) c = wchar_t(towlower(c));
    EXPECT_NE(lower.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos) << lower;
}
