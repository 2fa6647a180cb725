// The classes our platform layer provides to CoCreateInstance.
//
// CoCreateInstance looks first at class objects registered at run time (CoRegisterClassObject,
// which tests use to put fakes or refusing factories in place), then at this table.
#pragma once

#include "platform/com.h"

#include <cstddef>

namespace tw::posix {

// Creates a new object and returns the interface riid of it (a new reference) in *ppv.
using CreateFn = HRESULT (*)(IUnknown *outer, REFIID riid, void **ppv);

struct BuiltinClass {
    const CLSID *clsid;
    CreateFn create;
    const char *name;
};

// The table, defined in classes.cpp; count written to *count.
const BuiltinClass *builtin_classes(size_t *count);

}  // namespace tw::posix
