// The symbolic names of result codes ("E_NOTIMPL", "VFW_E_NOT_CONNECTED",
// "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"), for logs and test messages. The table is made at
// build time from the platform's error table, so a code has the same name everywhere.
#pragma once

#include "platform/com.h"

#include <string>

namespace tw {

// The name, or null for a code the table does not hold. Any thread.
const char *hresult_name(HRESULT hr);

// The name, or "0x8XXXXXXX" for a code the table does not hold.
std::string hresult_text(HRESULT hr);

}  // namespace tw
