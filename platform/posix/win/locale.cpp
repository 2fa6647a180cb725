// GetLocaleInfoA/W with LOCALE_SENGLANGUAGE: the English name of a locale's language, from
// platform-locales.csv.
//
// Besides the listed locale identifiers this answers:
// - LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT and LOCALE_NEUTRAL, which stand for the user's
//   locale (taken from LC_ALL / LC_MESSAGES / LANG; en-US when those name none we know);
// - LOCALE_INVARIANT ("Invariant Language");
// - a language without a country (sub-language 0, e.g. 0x0009) when every listed locale of
//   that language has the same name;
// - identifiers with a sort order in bits 16-19, which do not change the language.
// The A version writes UTF-8, the code page of narrow strings here.
#include "platform/win32.h"

#include "platform/text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#define LOCALE_USE_CP_ACP 0x40000000

namespace tw::posix {
namespace {

struct LocaleName {
    uint32_t lcid;
    const char *name;
};

const LocaleName kNames[] = {
#include "locale_names.inc"
};

// POSIX locale names (language, or language_TERRITORY) of the listed locales.
struct PosixLocale {
    const char *tag;
    LCID lcid;
};
const PosixLocale kPosixLocales[] = {
    {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en", 0x0409},
    {"de_CH", 0x0807}, {"de", 0x0407},    {"fr_CA", 0x0C0C}, {"fr", 0x040C},    {"it", 0x0410},
    {"es_MX", 0x080A}, {"es", 0x0C0A},    {"pt_PT", 0x0816}, {"pt", 0x0416},    {"ja", 0x0411},
    {"ko", 0x0412},    {"zh_TW", 0x0404}, {"zh_HK", 0x0404}, {"zh", 0x0804},    {"ru", 0x0419},
    {"nl", 0x0413},    {"sv", 0x041D},    {"nb", 0x0414},    {"no", 0x0414},    {"da", 0x0406},
    {"fi", 0x040B},    {"pl", 0x0415},    {"cs", 0x0405},    {"hu", 0x040E},    {"el", 0x0408},
    {"tr", 0x041F},    {"he", 0x040D},    {"ar", 0x0401},    {"th", 0x041E},    {"id", 0x0421},
    {"vi", 0x042A},    {"uk", 0x0422},    {"ro", 0x0418},    {"hr", 0x041A},
};

LCID user_lcid() {
    const char *env = nullptr;
    for (const char *var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        env = std::getenv(var);
        if (env && *env) break;
        env = nullptr;
    }
    if (!env) return 0x0409;
    std::string tag = env;
    tag = tag.substr(0, tag.find_first_of(".@"));
    for (const PosixLocale &p : kPosixLocales) {
        const size_t n = std::strlen(p.tag);
        // "de" matches "de_AT"; "en_GB" matches only itself.
        if (tag.compare(0, n, p.tag) == 0 && (tag.size() == n || (n == 2 && tag[2] == '_'))) return p.lcid;
    }
    return 0x0409;
}

std::optional<std::string> language_name(LCID lcid) {
    if (lcid > 0xFFFFF) return std::nullopt;  // reserved bits set
    lcid &= 0xFFFF;                           // the sort order does not change the language
    if (lcid == LOCALE_USER_DEFAULT || lcid == LOCALE_SYSTEM_DEFAULT || lcid == LOCALE_NEUTRAL)
        lcid = user_lcid();
    if (lcid == LOCALE_INVARIANT) return std::string("Invariant Language");
    for (const LocaleName &n : kNames)
        if (n.lcid == lcid) return std::string(n.name);
    if (SUBLANGID(lcid) != SUBLANG_NEUTRAL || PRIMARYLANGID(lcid) == LANG_NEUTRAL) return std::nullopt;
    const char *found = nullptr;
    for (const LocaleName &n : kNames) {
        if (PRIMARYLANGID(n.lcid) != PRIMARYLANGID(lcid)) continue;
        if (found && std::strcmp(found, n.name) != 0) return std::nullopt;  // the country decides
        found = n.name;
    }
    if (!found) return std::nullopt;
    return std::string(found);
}

std::string encoded(const std::string &s, char *) { return s; }
wstring encoded(const std::string &s, WCHAR *) { return to_wide(s); }

template <class Char>
int answer(LCID lcid, LCTYPE type, Char *buf, int len) {
    if (len < 0 || (len > 0 && !buf)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((type & ~DWORD(LOCALE_NOUSEROVERRIDE | LOCALE_USE_CP_ACP)) != LOCALE_SENGLANGUAGE) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    std::optional<std::string> name = language_name(lcid);
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::basic_string<Char> text = encoded(*name, static_cast<Char *>(nullptr));
    const int needed = int(text.size()) + 1;
    if (len == 0) return needed;
    if (needed > len) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buf, text.c_str(), size_t(needed) * sizeof(Char));
    return needed;
}

}  // namespace
}  // namespace tw::posix

int GetLocaleInfoA(LCID Locale, LCTYPE LCType, LPSTR lpLCData, int cchData) {
    return tw::posix::answer<char>(Locale, LCType, lpLCData, cchData);
}

int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData) {
    return tw::posix::answer<WCHAR>(Locale, LCType, lpLCData, cchData);
}

LCID GetUserDefaultLCID() { return tw::posix::user_lcid(); }

// There is no separate system locale on Linux: the environment's locale stands for both.
LCID GetSystemDefaultLCID() { return tw::posix::user_lcid(); }
