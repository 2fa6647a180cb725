// Creating a Windows Media network sink on either target.
//
// The core calls tw::WMCreateWriterNetworkSinkChecked instead of WMCreateWriterNetworkSink:
// - Linux: our platform layer's WMCreateWriterNetworkSink (platform/posix/net).
// - Windows: wmvcore.dll's export, looked up at run time (MinGW has no import library, and a
//   system without the Windows Media runtime must fail cleanly). Under Wine the export is a stub
//   that aborts the process, so there it is never called and E_NOTIMPL is returned instead.
// *ppSink is null on failure.
#pragma once

#include "platform/wmf.h"

namespace tw {

#if defined(_WIN32)
HRESULT WMCreateWriterNetworkSinkChecked(IWMWriterNetworkSink **ppSink);  // platform/win32/wmsink.cpp
#else
inline HRESULT WMCreateWriterNetworkSinkChecked(IWMWriterNetworkSink **ppSink) {
    if (!ppSink) return E_POINTER;
    *ppSink = nullptr;
    return WMCreateWriterNetworkSink(ppSink);
}
#endif

}  // namespace tw
