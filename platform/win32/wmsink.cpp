#include "platform/wmsink.h"

namespace tw {

namespace {
// Wine's ntdll exports wine_get_version; Windows' does not.
bool running_on_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
}  // namespace

HRESULT WMCreateWriterNetworkSinkChecked(IWMWriterNetworkSink **ppSink) {
    if (!ppSink) return E_POINTER;
    *ppSink = nullptr;
    if (running_on_wine()) return E_NOTIMPL;
    // Loaded once and kept: the sinks it creates run its code for as long as they live.
    static HMODULE wmvcore = LoadLibraryA("wmvcore.dll");
    if (!wmvcore) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    auto create = reinterpret_cast<PFN_WMCreateWriterNetworkSink>(
        reinterpret_cast<void (*)()>(GetProcAddress(wmvcore, "WMCreateWriterNetworkSink")));
    if (!create) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    return create(ppSink);
}

}  // namespace tw
