// Our WM ASF Writer filter (CLSID_WMAsfWriter): input pins per the configured WM8 profile,
// recording through the Recorder engine into an ASF file, and the advanced-writer object that
// takes network sinks.
#pragma once

#include "platform/com.h"

namespace tw::posix::asf {

// Class factory entry for classes.cpp. Aggregation is refused.
HRESULT create_asf_writer(IUnknown *outer, REFIID riid, void **ppv);

}  // namespace tw::posix::asf
