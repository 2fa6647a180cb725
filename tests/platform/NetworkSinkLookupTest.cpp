// The run-time lookup of wmvcore.dll's WMCreateWriterNetworkSink. Wine exports the function
// as a stub that aborts the process when called, so reaching the end of these tests under
// Wine is itself part of the check.
#include "platform/comptr.h"
#include "platform/wmsink.h"

#include <gtest/gtest.h>

namespace {

bool on_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(NetworkSinkLookup, RefusesANullOutParameter) {
    EXPECT_EQ(E_POINTER, tw::WMCreateWriterNetworkSinkChecked(nullptr));
}

TEST(NetworkSinkLookup, CreatesASinkOrFailsCleanly) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    IWMWriterNetworkSink *raw = reinterpret_cast<IWMWriterNetworkSink *>(&raw);  // must be overwritten
    HRESULT hr = tw::WMCreateWriterNetworkSinkChecked(&raw);
    auto sink = tw::ComPtr<IWMWriterNetworkSink>::adopt(SUCCEEDED(hr) ? raw : nullptr);
    if (on_wine()) {
        EXPECT_EQ(E_NOTIMPL, hr) << "the stub must not be reached under Wine";
        EXPECT_EQ(nullptr, raw);
    } else if (SUCCEEDED(hr)) {
        ASSERT_TRUE(sink);
        EXPECT_EQ(1u, tw::ref_count(sink.get()));
        DWORD max_clients = 0;
        EXPECT_EQ(S_OK, sink->GetMaximumClients(&max_clients));
    } else {
        // A system without the Windows Media runtime.
        EXPECT_TRUE(hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND))
            << std::hex << hr;
        EXPECT_EQ(nullptr, raw);
    }
    sink = nullptr;
    CoUninitialize();
}

}  // namespace
