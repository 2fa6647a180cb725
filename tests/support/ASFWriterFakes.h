// Recording fakes for the ASF writer's tests: the WM ASF Writer filter (with its
// configuration, file sink and service provider interfaces, pins and advanced writer), its
// class factory, and a network sink. Every call that matters goes to one CallLog.
#pragma once

#include "dsgraph/ASFWriter.h"
#include "platform/classfactory.h"
#include "platform/text.h"
#include "platform/wmf.h"
#include "tests/support/FakeDirectShow.h"

#include <cstring>
#include <string>
#include <vector>

namespace asf_fakes {

using tw::ComPtr;
using tw::test::CallLog;

inline std::string row_of(REFGUID g) {
    int row = ProfileFromGuid(g);
    return row == 255 ? "unknown" : tw::ProfileNames[row];
}

class FakeAdvancedWriter : public tw::test::Fake<IWMWriterAdvanced2> {
public:
    explicit FakeAdvancedWriter(CallLog *log) : log_(log) {}
    IWMWriterSink *added = nullptr;  // not counted: compared only
    bool log_releases = false;

    HRESULT STDMETHODCALLTYPE GetSinkCount(DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSink(DWORD, IWMWriterSink **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddSink(IWMWriterSink *sink) override {
        log_->add("AddSink");
        added = sink;
        if (sink) sinks_.push_back(ComPtr<IWMWriterSink>::addref(sink));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveSink(IWMWriterSink *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD, QWORD, DWORD, QWORD, DWORD, INSSBuffer *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetLiveSource(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsRealTime(BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWriterTime(QWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatistics(WORD, WM_WRITER_STATISTICS *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSyncTolerance(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSyncTolerance(DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputSetting(DWORD, LPCWSTR, WMT_ATTR_DATATYPE *, BYTE *, WORD *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetInputSetting(DWORD, LPCWSTR, WMT_ATTR_DATATYPE, const BYTE *, WORD) override {
        return E_NOTIMPL;
    }

protected:
    void *GetInterface(REFIID riid) override {
        if (void *p = answer<IWMWriterAdvanced2>(riid)) return p;
        return answer<IWMWriterAdvanced, IWMWriterAdvanced2>(riid);
    }
    void OnRelease() override {
        if (log_releases) log_->add("advanced.Release");
    }
    void OnFinalRelease() override { log_->add("advanced writer freed"); }

private:
    CallLog *log_;
    std::vector<ComPtr<IWMWriterSink>> sinks_;  // a real writer keeps its sinks until it goes
};

class FakeNetworkSink : public tw::test::Fake<IWMWriterNetworkSink> {
public:
    FakeNetworkSink(CallLog *log, DWORD opened_port) : log_(log), opened_port_(opened_port) {}
    bool log_releases = false;

    HRESULT STDMETHODCALLTYPE OnHeader(INSSBuffer *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsRealTime(BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AllocateDataUnit(DWORD, INSSBuffer **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnDataUnit(INSSBuffer *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnEndWriting() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMaximumClients(DWORD n) override {
        log_->add("SetMaximumClients(" + std::to_string(n) + ")");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMaximumClients(DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetNetworkProtocol(WMT_NET_PROTOCOL p) override {
        log_->add("SetNetworkProtocol(" + std::to_string(static_cast<int>(p)) + ")");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNetworkProtocol(WMT_NET_PROTOCOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHostURL(WCHAR *, DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Open(DWORD *port) override {
        if (!port) return E_POINTER;
        log_->add("Open(" + std::to_string(*port) + ")");
        *port = opened_port_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override {
        log_->add("sink.Disconnect");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        log_->add("sink.Close");
        return S_OK;
    }

protected:
    void *GetInterface(REFIID riid) override {
        if (void *p = answer<IWMWriterNetworkSink>(riid)) return p;
        return answer<IWMWriterSink, IWMWriterNetworkSink>(riid);
    }
    void OnRelease() override {
        if (log_releases) log_->add("sink.Release");
    }
    void OnFinalRelease() override { log_->add("sink freed"); }

private:
    CallLog *log_;
    DWORD opened_port_;
};

// What the fake filter answers for, and with how many pins it comes.
struct FilterSetup {
    int pins = 2;
    bool config = true;    // IConfigAsfWriter and IConfigAsfWriter2
    bool config2 = true;   // IConfigAsfWriter2 alone
    bool services = true;  // IServiceProvider
    bool advanced = true;  // QueryService gives the advanced writer
    HRESULT profile_guid_result = S_OK;
    HRESULT cur_file_result = S_OK;
};

class FakeAsfWriter : public tw::test::FakeFilterT<IConfigAsfWriter2, IFileSinkFilter2, IServiceProvider> {
public:
    FakeAsfWriter(CallLog *log, const FilterSetup &setup) : FakeFilterT("W", log), setup_(setup) {
        for (int i = 0; i < setup.pins; ++i) add_pin("In" + std::to_string(i));
        advanced = new FakeAdvancedWriter(log);
    }
    ~FakeAsfWriter() override { advanced->Release(); }

    FakeAdvancedWriter *advanced;  // ours: one reference, released with the filter
    GUID current{};
    tw::wstring file;

    // IConfigAsfWriter
    HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfileId(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentProfileId(DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfileGuid(REFGUID g) override {
        log()->add("Configure(" + row_of(g) + ")");
        current = g;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentProfileGuid(GUID *g) override {
        log()->add("GetCurrentProfileGuid");
        if (!g) return E_POINTER;
        if (FAILED(setup_.profile_guid_result)) return setup_.profile_guid_result;
        *g = current;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfile(IWMProfile *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentProfile(IWMProfile **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIndexMode(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIndexMode(BOOL *) override { return E_NOTIMPL; }
    // IConfigAsfWriter2
    HRESULT STDMETHODCALLTYPE StreamNumFromPin(IPin *, WORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetParam(DWORD p, DWORD v1, DWORD v2) override {
        log()->add("SetParam(" + std::to_string(p) + ", " + std::to_string(v1) + ", " + std::to_string(v2) + ")");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetParam(DWORD, DWORD *, DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ResetMultiPassState() override { return E_NOTIMPL; }
    // IFileSinkFilter / IFileSinkFilter2
    HRESULT STDMETHODCALLTYPE SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE *mt) override {
        log()->add("SetFileName(" + tw::to_utf8(name) + (mt ? ", type)" : ", null)"));
        file = name ? tw::wstring(name) : tw::wstring();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR *name, AM_MEDIA_TYPE *mt) override {
        log()->add(std::string("GetCurFile") + (mt ? "(type)" : "(null)"));
        if (!name) return E_POINTER;
        *name = nullptr;
        if (FAILED(setup_.cur_file_result)) return setup_.cur_file_result;
        auto *copy = static_cast<LPOLESTR>(CoTaskMemAlloc((file.size() + 1) * sizeof(OLECHAR)));
        std::memcpy(copy, file.c_str(), (file.size() + 1) * sizeof(OLECHAR));
        *name = copy;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMode(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMode(DWORD *) override { return E_NOTIMPL; }
    // IServiceProvider
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID riid, void **ppv) override {
        log()->add(std::string("QueryService(") + (IsEqualGUID(service, IID_IWMWriterAdvanced2) ? "Advanced2" : "?") +
                   ", " + (IsEqualGUID(riid, IID_IWMWriterAdvanced2) ? "Advanced2" : "?") + ")");
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!setup_.advanced || !IsEqualGUID(service, IID_IWMWriterAdvanced2)) return E_NOINTERFACE;
        return advanced->QueryInterface(riid, ppv);
    }

protected:
    void *GetInterface(REFIID riid) override {
        if (setup_.config) {
            if (void *p = answer<IConfigAsfWriter, IConfigAsfWriter2>(riid)) return p;
            if (setup_.config2)
                if (void *p = answer<IConfigAsfWriter2>(riid)) return p;
        }
        if (void *p = answer<IFileSinkFilter2>(riid)) return p;
        if (void *p = answer<IFileSinkFilter, IFileSinkFilter2>(riid)) return p;
        if (setup_.services)
            if (void *p = answer<IServiceProvider>(riid)) return p;
        return FakeFilterT::GetInterface(riid);
    }

private:
    FilterSetup setup_;
};

// Makes the fake filters; `refuse` makes creation fail as on a system without the filter.
class FakeAsfFactory : public tw::CallableFactory<tw::test::LiveFake> {
public:
    explicit FakeAsfFactory(CallLog *log) : CallableFactory([this](REFIID riid, void **ppv) { return make(riid, ppv); }), log_(log) {}
    FilterSetup setup;
    HRESULT refuse = S_OK;
    FakeAsfWriter *last = nullptr;  // not counted: valid while the writer holds it
    int created = 0;

private:
    HRESULT make(REFIID riid, void **ppv) {
        log_->add("CreateInstance");
        if (FAILED(refuse)) return refuse;
        auto *filter = new FakeAsfWriter(log_, setup);
        HRESULT hr = filter->QueryInterface(riid, ppv);
        filter->Release();
        if (SUCCEEDED(hr)) {
            last = filter;
            ++created;
        }
        return hr;
    }

    CallLog *log_;
};

}  // namespace asf_fakes
