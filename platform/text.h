// UTF-8 <-> UTF-16 conversion. Narrow strings are UTF-8 everywhere in this code base; COM
// strings are UTF-16.
//
// Narrow strings also carry file names, and a Linux file name is any string of bytes. So that
// such a name survives the wide API, a byte that is not part of valid UTF-8 becomes a lone low
// surrogate, U+DC80..U+DCFF (0x80..0xFF plus 0xDC00), and to_utf8 turns exactly those back into
// the byte: to_utf8(to_wide(s)) == s for every s, and valid UTF-8 converts as usual. Valid
// UTF-8 never yields a lone surrogate, so the two cannot be confused. Any other lone surrogate
// (only a wide string from elsewhere can hold one) becomes U+FFFD.
#pragma once

#include "platform/com.h"

#include <string>
#include <string_view>

namespace tw {

// The stand-in for a byte of a narrow string that is not valid UTF-8 (0x80..0xFF).
inline WCHAR escaped_byte(unsigned char c) { return static_cast<WCHAR>(0xDC00 + c); }

inline wstring to_wide(std::string_view s) {
    wstring out;
    out.reserve(s.size());
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        size_t len;
        if (c < 0x80) { cp = c; len = 1; }
        else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; len = 2; }
        else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; len = 3; }
        else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; len = 4; }
        else { out.push_back(escaped_byte(c)); ++i; continue; }
        bool ok = i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Reject overlong forms, surrogates and values past U+10FFFF.
        static const char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(escaped_byte(c));  // the following bytes are looked at on their own
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<WCHAR>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<WCHAR>(cp));
        }
        i += len;
    }
    return out;
}

inline std::string to_utf8(const WCHAR *s, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        char32_t cp = static_cast<char16_t>(s[i]);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && static_cast<char16_t>(s[i + 1]) >= 0xDC00 &&
            static_cast<char16_t>(s[i + 1]) <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char16_t>(s[i + 1]) - 0xDC00);
            ++i;
        } else if (cp >= 0xDC80 && cp <= 0xDCFF) {
            out.push_back(static_cast<char>(cp - 0xDC00));  // a byte to_wide kept as it was
            continue;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

inline std::string to_utf8(const wstring &s) { return to_utf8(s.data(), s.size()); }

// A zero-terminated UTF-16 string (nullptr gives "").
inline std::string to_utf8(const WCHAR *s) {
    if (!s) return {};
    size_t n = 0;
    while (s[n]) ++n;
    return to_utf8(s, n);
}

}  // namespace tw
