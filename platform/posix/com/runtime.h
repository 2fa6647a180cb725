// What the COM runtime of our platform layer shares with the rest of the layer.
#pragma once

#include "platform/com.h"

#include <cstddef>

#ifndef CO_E_OBJNOTREG
#define CO_E_OBJNOTREG ((HRESULT)0x800401FB)
#endif

namespace tw::posix {

// True between the calling thread's first successful CoInitialize(Ex) and its last
// CoUninitialize.
bool com_initialized();

// ---- The built-in classes of CoCreateInstance. CoCreateInstance looks first at class objects
// registered at run time (CoRegisterClassObject, which tests use to put fakes or refusing
// factories in place), then at this table.

// Creates a new object and returns the interface riid of it (a new reference) in *ppv.
using CreateFn = HRESULT (*)(IUnknown *outer, REFIID riid, void **ppv);

struct BuiltinClass {
    const CLSID *clsid;
    CreateFn create;
    const char *name;
};

// The table, defined with the other registrations in platform/posix/registry.cpp, above every
// area it names; its length is written to *count.
const BuiltinClass *builtin_classes(size_t *count);

}  // namespace tw::posix

namespace tw::posix {

// Upper-case form of a UTF-16 code unit for the case-insensitive name comparisons of
// monikers (ASCII and Latin-1 letters; other characters compare exactly).
inline WCHAR fold_case(WCHAR c) {
    if (c >= u'a' && c <= u'z') return WCHAR(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return WCHAR(c - 32);
    return c;
}

inline bool equal_no_case(const wstring &a, const wstring &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold_case(a[i]) != fold_case(b[i])) return false;
    return true;
}

}  // namespace tw::posix
