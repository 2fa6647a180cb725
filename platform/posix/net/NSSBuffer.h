// A plain memory INSSBuffer: a block of fixed capacity and a current length within it.
// The network sink hands these out from AllocateDataUnit; the ASF writer can use them for its
// own packets.
#pragma once

#include "platform/wmf.h"

namespace tw::posix {

// Creates a buffer of maxLength bytes (zero-filled) whose length starts at maxLength.
// E_INVALIDARG for a null out pointer, E_OUTOFMEMORY when the block cannot be had.
HRESULT CreateNSSBuffer(DWORD maxLength, INSSBuffer **out);

}  // namespace tw::posix
