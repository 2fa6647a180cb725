// GetLocaleInfoA/W with LOCALE_SENGLANGUAGE.
#include "platform/win32.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string language(LCID lcid) {
    char buf[64] = "unchanged";
    const int n = GetLocaleInfoA(lcid, LOCALE_SENGLANGUAGE, buf, sizeof buf);
    if (n == 0) return "<error " + std::to_string(GetLastError()) + ">";
    EXPECT_EQ(size_t(n), std::string(buf).size() + 1) << "the count includes the NUL";
    return buf;
}

TEST(Locale, ListedLocalesShareTheLanguageName) {
    EXPECT_EQ("English", language(0x0409));
    EXPECT_EQ("English", language(0x0809));
    EXPECT_EQ("English", language(0x1009));
    EXPECT_EQ("Spanish", language(0x040A));
    EXPECT_EQ("Spanish", language(0x0C0A));
    EXPECT_EQ("Chinese (Simplified)", language(0x0804));
    EXPECT_EQ("Chinese (Traditional)", language(0x0404));
    EXPECT_EQ("Norwegian Bokm\xC3\xA5l", language(0x0414)) << "UTF-8 in narrow strings";
    EXPECT_EQ("Croatian", language(0x041A));
    EXPECT_EQ("German", language(0x10407)) << "a sort order does not change the language";
    EXPECT_EQ("English", language(0x0009)) << "language without a country";
    EXPECT_EQ("<error 87>", language(0x0004)) << "Chinese without a script is ambiguous here";
    EXPECT_EQ("Invariant Language", language(LOCALE_INVARIANT));
}

TEST(Locale, UnknownLocalesTypesAndBuffers) {
    EXPECT_EQ("<error 87>", language(0x0477));  // not a listed language
    EXPECT_EQ("<error 87>", language(0x1234567));
    char buf[8];
    EXPECT_EQ(0, GetLocaleInfoA(0x0409, 0x1002 + 0x100, buf, sizeof buf));
    EXPECT_EQ(ERROR_INVALID_FLAGS, GetLastError());

    // "English" takes 8 with its NUL.
    EXPECT_EQ(8, GetLocaleInfoA(0x0409, LOCALE_SENGLANGUAGE, nullptr, 0)) << "length 0 asks for the size";
    EXPECT_EQ(0, GetLocaleInfoA(0x0409, LOCALE_SENGLANGUAGE, buf, 7));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(8, GetLocaleInfoA(0x0409, LOCALE_SENGLANGUAGE | LOCALE_NOUSEROVERRIDE, buf, 8));
    EXPECT_STREQ("English", buf);
    EXPECT_EQ(0, GetLocaleInfoA(0x0409, LOCALE_SENGLANGUAGE, nullptr, 8));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());

    WCHAR wide[32];
    EXPECT_EQ(17, GetLocaleInfoW(0x0414, LOCALE_SENGLANGUAGE, wide, 32)) << "UTF-16 characters";
    EXPECT_EQ(tw::to_wide("Norwegian Bokm\xC3\xA5l"), tw::wstring(wide));
    EXPECT_EQ(18, GetLocaleInfoA(0x0414, LOCALE_SENGLANGUAGE, nullptr, 0)) << "UTF-8 bytes";
}

TEST(Locale, DefaultLocalesFollowTheEnvironment) {
    const char *saved = std::getenv("LC_ALL");
    std::string keep = saved ? saved : "";
    setenv("LC_ALL", "de_AT.UTF-8", 1);
    EXPECT_EQ(0x0407u, GetUserDefaultLCID());
    EXPECT_EQ("German", language(LOCALE_USER_DEFAULT));
    EXPECT_EQ("German", language(LOCALE_SYSTEM_DEFAULT));
    setenv("LC_ALL", "pt_PT", 1);
    EXPECT_EQ(0x0816u, GetUserDefaultLCID());
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ("English", language(LOCALE_USER_DEFAULT));
    if (saved) setenv("LC_ALL", keep.c_str(), 1);
    else unsetenv("LC_ALL");
}

}  // namespace
