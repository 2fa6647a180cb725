// AMGetErrorTextA/W: the platform's texts for HRESULTs, from platform-errors.csv.
//
// Texts of the system message table end in CR LF as FormatMessage gives them; DirectShow's
// own texts end without one. A code without a text, a buffer too small for the whole text
// (terminating NUL included) or no buffer at all gives 0 and an empty buffer; otherwise the
// result is the number of characters written, not counting the NUL. Narrow texts are UTF-8.
#include "platform/directshow.h"
#include "platform/text.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace tw::posix {
namespace {

struct ErrorText {
    uint32_t code;
    const char *text;
    bool system;  // from the system message table: ends in CR LF
};

const ErrorText kTexts[] = {
#include "error_texts.inc"
};

const ErrorText *find_text(HRESULT hr) {
    for (const ErrorText &t : kTexts)
        if (t.code == uint32_t(hr)) return &t;
    return nullptr;
}

std::string full_text(const ErrorText &t) { return t.system ? std::string(t.text) + "\r\n" : std::string(t.text); }

template <class Char>
DWORD copy_out(const std::basic_string<Char> &text, Char *buffer, DWORD max_len) {
    if (text.size() + 1 > max_len) {
        buffer[0] = 0;
        return 0;
    }
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(Char));
    return DWORD(text.size());
}

}  // namespace
}  // namespace tw::posix

DWORD WINAPI AMGetErrorTextA(HRESULT hr, LPSTR pbuffer, DWORD MaxLen) {
    if (!pbuffer || MaxLen == 0) return 0;
    const tw::posix::ErrorText *t = tw::posix::find_text(hr);
    if (!t) {
        pbuffer[0] = 0;
        return 0;
    }
    return tw::posix::copy_out(tw::posix::full_text(*t), pbuffer, MaxLen);
}

DWORD WINAPI AMGetErrorTextW(HRESULT hr, LPWSTR pbuffer, DWORD MaxLen) {
    if (!pbuffer || MaxLen == 0) return 0;
    const tw::posix::ErrorText *t = tw::posix::find_text(hr);
    if (!t) {
        pbuffer[0] = 0;
        return 0;
    }
    return tw::posix::copy_out(tw::to_wide(tw::posix::full_text(*t)), pbuffer, MaxLen);
}
