// Recording fakes for the filter graph component's tests: graph objects registered in place of
// the platform's classes, members, listeners, filters and pins. Every call that matters goes to
// one shared call log, so a test can check the order of the calls that matter (InOrder). The
// fakes count themselves, so a test can check that nothing is left alive. They work the same on
// Linux and under Wine. One file, though long: a fake for each graph object the component meets.
#pragma once

#include "dsgraph/FilterGraph.h"
#include "tests/support/FakeCom.h"
#include "platform/classfactory.h"
#include "platform/comobject.h"
#include "platform/enumerator.h"
#include "platform/comptr.h"
#include "platform/directshow.h"
#include "platform/text.h"
#include "platform/win32.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace fakes {

// ---- The call log and the live-fake counter (UI thread only, except where noted).
std::vector<std::string> &Log();
inline void Record(std::string s) { Log().push_back(std::move(s)); }
std::vector<std::string> TakeLog();
// Whether the calls in `wanted` were made in that order; other calls may come between them.
// Tests name the calls whose order matters, not every call.
bool InOrder(const std::vector<std::string> &log, const std::vector<std::string> &wanted);

std::string Hex(uint32_t v);

// ---- A COM object: the platform's counted object, counted in LiveFakes.
using tw::test::LiveFake;
template <class Primary, class... Others>
using Object = tw::test::Fake<Primary, Others...>;
inline int LiveFakes() { return tw::test::live_fakes(); }

// ---- Stubs: every method E_NOTIMPL; fakes override what they use.
#define TW_DISPATCH_STUBS                                                                                    \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }                       \
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }          \
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override {            \
        return E_NOTIMPL;                                                                                    \
    }                                                                                                        \
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) \
        override {                                                                                           \
        return E_NOTIMPL;                                                                                    \
    }

struct MediaSeekingStub : IMediaSeeking {
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG *, const GUID *, LONGLONG, const GUID *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *, DWORD, LONGLONG *, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetRate(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRate(double *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG *) override { return E_NOTIMPL; }
};

// An object answering IMediaSeeking alone: the interface a builder offers in the precedence tests.
class FakeSeeking : public Object<MediaSeekingStub> {
protected:
    void *GetInterface(REFIID iid) override { return answer<IMediaSeeking>(iid); }
};

// ---- Filters and pins.
class FakeFilter;

class FakePin : public Object<IPin> {
public:
    FakePin(std::string name) : name_(std::move(name)) {}
    HRESULT disconnectResult = S_OK;
    std::function<void()> onDisconnect;  // runs after the call is logged

    HRESULT STDMETHODCALLTYPE Disconnect() override {
        Record(name_ + ".Disconnect");
        if (onDisconnect) onDisconnect();
        return disconnectResult;
    }
    HRESULT STDMETHODCALLTYPE Connect(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **p) override {
        if (p) *p = nullptr;
        return VFW_E_NOT_CONNECTED;
    }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *) override { return VFW_E_NOT_CONNECTED; }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_NOTIMPL; }

protected:
    void *GetInterface(REFIID iid) override { return answer<IPin>(iid); }

private:
    std::string name_;
};

// A snapshot enumerator over counted references.
template <class Enum, class Item>
Enum *NewFakeEnum(std::vector<tw::ComPtr<Item>> items) {
    using E = tw::SnapshotEnumerator<LiveFake, Enum, Item, tw::ComPtr<Item>, tw::hand_out_counted<Item>>;
    return new E(std::make_shared<typename E::Source>(), std::move(items));
}

class FakeFilter : public Object<IBaseFilter> {
public:
    // A filter with `pins` pins named "<name>.pin0", "<name>.pin1", ...
    FakeFilter(std::string name, int pins = 0) : name_(std::move(name)) {
        for (int i = 0; i < pins; ++i)
            pins_.push_back(tw::ComPtr<FakePin>::adopt(new FakePin(name_ + ".pin" + std::to_string(i))));
    }
    const std::string &name() const { return name_; }
    FakePin *pin(int i) const { return pins_[static_cast<size_t>(i)].get(); }
    // Drops every pin after the first `keep`, as a splitter drops its outputs with its input.
    void DropPins(size_t keep) { pins_.resize(std::min(keep, pins_.size())); }

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Pause() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE *s) override {
        if (s) *s = State_Stopped;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **c) override {
        if (c) *c = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **out) override {
        std::vector<tw::ComPtr<IPin>> items;
        for (auto &p : pins_) items.push_back(tw::ComPtr<IPin>::addref(p.get()));
        *out = NewFakeEnum<IEnumPins, IPin>(std::move(items));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *) override { return E_NOTIMPL; }
    // The graph holds the filter; the filter does not hold the graph (no cycle).
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *) override { return E_NOTIMPL; }

protected:
    void *GetInterface(REFIID iid) override {
        if (auto p = answer<IBaseFilter>(iid)) return p;
        if (auto p = answer<IMediaFilter, IBaseFilter>(iid)) return p;
        return answer<IPersist, IBaseFilter>(iid);
    }

private:
    std::string name_;
    std::vector<tw::ComPtr<FakePin>> pins_;
};

// ---- The filter graph manager.
class FakeGraph : public Object<IFilterGraph2, IMediaControl, IMediaEventEx, MediaSeekingStub> {
public:
    FakeGraph() = default;

    // Configurable results.
    HRESULT runResult = S_OK, stopResult = S_OK, renderResult = S_OK;
    // Filters RenderFile adds on success.
    std::vector<tw::ComPtr<FakeFilter>> renderAdds;

    // Where SetLogFile pointed the log (0: none).
    DWORD_PTR logHandle = 0;
    HWND notifyWindow = nullptr;
    LONG notifyMessage = 0;
    LONG_PTR notifyInstance = 0;
    LONG notifyFlags = 0;

    std::vector<std::string> FilterNames() const {
        std::vector<std::string> names;
        for (auto &f : filters_) names.push_back(f.name);
        return names;
    }

    // Queues an event and posts the notification, as the graph manager does. Any thread.
    void Post(LONG code, LONG_PTR p1, LONG_PTR p2) {
        HWND wnd;
        LONG msg;
        LONG_PTR inst;
        {
            std::lock_guard<std::mutex> lock(queueLock_);
            if (notifyFlags != 0) return;
            queue_.push_back({code, p1, p2});
            wnd = notifyWindow;
            msg = notifyMessage;
            inst = notifyInstance;
        }
        if (wnd) PostMessageA(wnd, static_cast<UINT>(msg), 0, inst);
    }
    size_t Queued() {
        std::lock_guard<std::mutex> lock(queueLock_);
        return queue_.size();
    }

    // IFilterGraph
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *f, LPCWSTR name) override {
        std::string n = name ? tw::to_utf8(name) : std::string("(null)");
        Record("graph.AddFilter(" + n + ")");
        if (!f) return E_POINTER;
        for (auto &e : filters_)
            if (e.filter.get() == f) return E_INVALIDARG;  // already in this graph
        filters_.push_back({tw::ComPtr<IBaseFilter>::addref(f), n});
        f->JoinFilterGraph(this, name);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter *f) override {
        for (auto it = filters_.begin(); it != filters_.end(); ++it) {
            if (it->filter.get() == f) {
                Record("graph.RemoveFilter(" + it->name + ")");
                f->JoinFilterGraph(nullptr, nullptr);
                filters_.erase(it);
                return S_OK;
            }
        }
        Record("graph.RemoveFilter(?)");
        return VFW_E_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters **out) override {
        std::vector<tw::ComPtr<IBaseFilter>> items;
        for (auto &f : filters_) items.push_back(f.filter);
        *out = NewFakeEnum<IEnumFilters, IBaseFilter>(std::move(items));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin *, IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reconnect(IPin *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect(IPin *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }
    // IGraphBuilder
    HRESULT STDMETHODCALLTYPE Connect(IPin *, IPin *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Render(IPin *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR file, LPCWSTR playList) override {
        Record("graph.RenderFile(" + tw::to_utf8(file) + (playList ? ", list)" : ")"));
        if (SUCCEEDED(renderResult))
            for (auto &f : renderAdds) AddFilter(f.get(), tw::to_wide(f->name()).c_str());
        return renderResult;
    }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR h) override {
        Record(h ? "graph.SetLogFile(file)" : "graph.SetLogFile(0)");
        logHandle = h;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Abort() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override { return E_NOTIMPL; }
    // IFilterGraph2
    HRESULT STDMETHODCALLTYPE AddSourceFilterForMoniker(IMoniker *, IBindCtx *, LPCWSTR, IBaseFilter **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReconnectEx(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RenderEx(IPin *, DWORD, DWORD *) override { return E_NOTIMPL; }
    // IDispatch, shared by IMediaControl and IMediaEventEx
    TW_DISPATCH_STUBS
    // IMediaControl
    HRESULT STDMETHODCALLTYPE Run() override {
        Record("graph.Run");
        return runResult;
    }
    HRESULT STDMETHODCALLTYPE Pause() override {
        Record("graph.Pause");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        Record("graph.Stop");
        return stopResult;
    }
    HRESULT STDMETHODCALLTYPE GetState(LONG, OAFilterState *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RenderFile(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR, IDispatch **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StopWhenReady() override { return E_NOTIMPL; }
    // IMediaEvent / IMediaEventEx
    HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetEvent(LONG *code, LONG_PTR *p1, LONG_PTR *p2, LONG) override {
        std::lock_guard<std::mutex> lock(queueLock_);
        if (queue_.empty()) {
            Record("events.GetEvent -> E_ABORT");
            return E_ABORT;
        }
        Event e = queue_.front();
        queue_.pop_front();
        *code = e.code;
        *p1 = e.p1;
        *p2 = e.p2;
        Record("events.GetEvent -> " + Hex(static_cast<uint32_t>(e.code)));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG, LONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FreeEventParams(LONG code, LONG_PTR, LONG_PTR) override {
        Record("events.FreeEventParams(" + Hex(static_cast<uint32_t>(code)) + ")");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR inst) override {
        Record("events.SetNotifyWindow");
        std::lock_guard<std::mutex> lock(queueLock_);
        notifyWindow = reinterpret_cast<HWND>(hwnd);
        notifyMessage = msg;
        notifyInstance = inst;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG flags) override {
        Record("events.SetNotifyFlags(" + std::to_string(flags) + ")");
        std::lock_guard<std::mutex> lock(queueLock_);
        notifyFlags = flags;
        if (flags) queue_.clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG *f) override {
        *f = notifyFlags;
        return S_OK;
    }
    // IMediaSeeking: the positions a test sets; seeks are recorded and move them.
    LONGLONG duration = 0, current = 0, stop = 0;
    HRESULT durationResult = S_OK, currentResult = S_OK;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG *d) override {
        if (SUCCEEDED(durationResult)) *d = duration;
        return durationResult;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG *c) override {
        if (SUCCEEDED(currentResult)) *c = current;
        return currentResult;
    }
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG *s) override {
        *s = stop;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *cur, DWORD curFlags, LONGLONG *st, DWORD stopFlags) override {
        Record("seek.SetPositions(" + std::to_string(*cur) + ", " + std::to_string(curFlags) + ", " +
               std::to_string(*st) + ", " + std::to_string(stopFlags) + ")");
        if (curFlags == AM_SEEKING_AbsolutePositioning) current = *cur;
        if (stopFlags == AM_SEEKING_AbsolutePositioning) stop = *st;
        return S_OK;
    }

protected:
    ~FakeGraph() override { Record("~graph"); }
    void *GetInterface(REFIID iid) override {
        if (auto p = answer<IFilterGraph2>(iid)) return p;
        if (auto p = answer<IGraphBuilder, IFilterGraph2>(iid)) return p;
        if (auto p = answer<IFilterGraph, IFilterGraph2>(iid)) return p;
        if (auto p = answer<IMediaControl>(iid)) return p;
        if (auto p = answer<IMediaEventEx>(iid)) return p;
        if (auto p = answer<IMediaEvent, IMediaEventEx>(iid)) return p;
        return answer<IMediaSeeking, MediaSeekingStub>(iid);
    }

private:
    struct Entry {
        tw::ComPtr<IBaseFilter> filter;
        std::string name;
    };
    struct Event {
        LONG code;
        LONG_PTR p1, p2;
    };
    std::vector<Entry> filters_;
    std::mutex queueLock_;  // guards queue_ and the notification target: Post comes from any thread
    std::deque<Event> queue_;
};

// ---- The capture graph builder. It keeps the graph it is given uncounted, so that the order
// in which the component releases its objects shows in the order of their destruction.
class FakeCaptureBuilder : public Object<ICaptureGraphBuilder2> {
public:
    IGraphBuilder *graph = nullptr;  // not counted, see above
    tw::ComPtr<FakeSeeking> seeking;  // when set, the builder answers IMediaSeeking

    HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder *g) override {
        Record("capture.SetFiltergraph");
        graph = g;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID *, LPCOLESTR, IBaseFilter **, IFileSinkFilter **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindInterface(const GUID *, const GUID *, IBaseFilter *, REFIID, void **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RenderStream(const GUID *, const GUID *, IUnknown *, IBaseFilter *,
                                           IBaseFilter *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ControlStream(const GUID *, const GUID *, IBaseFilter *, REFERENCE_TIME *,
                                            REFERENCE_TIME *, WORD, WORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindPin(IUnknown *, PIN_DIRECTION, const GUID *, const GUID *, BOOL, int,
                                      IPin **) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **ppv) override {
        if (ppv && seeking && IsEqualGUID(iid, IID_IMediaSeeking)) return seeking->QueryInterface(iid, ppv);
        return Object<ICaptureGraphBuilder2>::QueryInterface(iid, ppv);
    }

protected:
    ~FakeCaptureBuilder() override { Record("~capture"); }
    void *GetInterface(REFIID iid) override { return answer<ICaptureGraphBuilder2>(iid); }
};

// ---- IDvdInfo2 with the two language queries.
class FakeDvdInfo : public Object<IDvdInfo2> {
public:
    HRESULT languageResult = S_OK;
    LCID audioLcid = 0, subpictureLcid = 0;

    HRESULT STDMETHODCALLTYPE GetAudioLanguage(ULONG stream, LCID *lcid) override {
        Record("dvdinfo.GetAudioLanguage(" + std::to_string(stream) + ")");
        *lcid = audioLcid;
        return languageResult;
    }
    HRESULT STDMETHODCALLTYPE GetSubpictureLanguage(ULONG stream, LCID *lcid) override {
        Record("dvdinfo.GetSubpictureLanguage(" + std::to_string(stream) + ")");
        *lcid = subpictureLcid;
        return languageResult;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentDomain(DVD_DOMAIN *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentLocation(DVD_PLAYBACK_LOCATION2 *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTotalTitleTime(DVD_HMSF_TIMECODE *, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentButton(ULONG *, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentAngle(ULONG *, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentAudio(ULONG *, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentSubpicture(ULONG *, ULONG *, BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentUOPS(ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAllSPRMs(SPRMARRAY *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAllGPRMs(GPRMARRAY *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTitleAttributes(ULONG, DVD_MenuAttributes *, DVD_TitleAttributes *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetVMGAttributes(DVD_MenuAttributes *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentVideoAttributes(DVD_VideoAttributes *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAudioAttributes(ULONG, DVD_AudioAttributes *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetKaraokeAttributes(ULONG, DVD_KaraokeAttributes *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSubpictureAttributes(ULONG, DVD_SubpictureAttributes *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDVDVolumeInfo(ULONG *, ULONG *, DVD_DISC_SIDE *, ULONG *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDVDTextNumberOfLanguages(ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDVDTextLanguageInfo(ULONG, ULONG *, LCID *, DVD_TextCharSet *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDVDTextStringAsNative(ULONG, ULONG, BYTE *, ULONG, ULONG *,
                                                       DVD_TextStringType *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDVDTextStringAsUnicode(ULONG, ULONG, WCHAR *, ULONG, ULONG *,
                                                        DVD_TextStringType *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPlayerParentalLevel(ULONG *, BYTE[2]) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNumberOfChapters(ULONG, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTitleParentalLevels(ULONG, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDVDDirectory(LPWSTR, ULONG, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsAudioStreamEnabled(ULONG, BOOL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDiscID(LPCWSTR, ULONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetState(IDvdState **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMenuLanguages(LCID *, ULONG, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetButtonAtPosition(POINT, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCmdFromEvent(LONG_PTR, IDvdCmd **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDefaultMenuLanguage(LCID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioLanguage(LCID *, DVD_AUDIO_LANG_EXT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDefaultSubpictureLanguage(LCID *, DVD_SUBPICTURE_LANG_EXT *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDecoderCaps(DVD_DECODER_CAPS *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetButtonRect(ULONG, RECT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsSubpictureStreamEnabled(ULONG, BOOL *) override { return E_NOTIMPL; }

protected:
    void *GetInterface(REFIID iid) override { return answer<IDvdInfo2>(iid); }
};

// ---- The DVD graph builder: makes its graph on first GetFiltergraph and keeps it.
class FakeDvdBuilder : public Object<IDvdGraphBuilder> {
public:
    tw::ComPtr<FakeGraph> graph;
    HRESULT getGraphResult = S_OK;
    tw::ComPtr<FakeDvdInfo> info;     // handed out by GetDvdInterface when set
    tw::ComPtr<FakeSeeking> seeking;  // handed out by GetDvdInterface when set

    HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder **out) override {
        Record("dvd.GetFiltergraph");
        *out = nullptr;
        if (FAILED(getGraphResult)) return getGraphResult;
        if (!graph) graph = tw::ComPtr<FakeGraph>::adopt(new FakeGraph);
        *out = tw::ComPtr<IGraphBuilder>::addref(graph.get()).detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDvdInterface(REFIID iid, void **out) override {
        Record("dvd.GetDvdInterface");
        *out = nullptr;
        if (info && IsEqualGUID(iid, IID_IDvdInfo2)) return info->QueryInterface(iid, out);
        if (seeking && IsEqualGUID(iid, IID_IMediaSeeking)) return seeking->QueryInterface(iid, out);
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE RenderDvdVideoVolume(LPCWSTR, DWORD, AM_DVD_RENDERSTATUS *) override {
        return E_NOTIMPL;
    }

protected:
    ~FakeDvdBuilder() override { Record("~dvd"); }
    void *GetInterface(REFIID iid) override { return answer<IDvdGraphBuilder>(iid); }
};

using FakeFactory = tw::CallableFactory<LiveFake>;

// Registers a factory for a class for the lifetime of the object.
class Registration {
public:
    Registration(REFCLSID clsid, std::function<HRESULT(REFIID, void **)> create) {
        tw::ComPtr<FakeFactory> f = tw::ComPtr<FakeFactory>::adopt(new FakeFactory(std::move(create)));
        hr = CoRegisterClassObject(clsid, static_cast<IClassFactory *>(f.get()), CLSCTX_INPROC_SERVER,
                                   REGCLS_MULTIPLEUSE, &cookie_);
    }
    ~Registration() {
        if (SUCCEEDED(hr)) CoRevokeClassObject(cookie_);
    }
    Registration(const Registration &) = delete;
    Registration &operator=(const Registration &) = delete;
    HRESULT hr;

private:
    DWORD cookie_ = 0;
};

// ---- Member and listener. Neither counts references; each logs every call, AddRef and
// Release included, so a test sees that the graph leaves their counts alone.
class FakeMember : public IGraphMember {
public:
    explicit FakeMember(std::string name, bool withFilter = true) : name_(std::move(name)) {
        if (withFilter) filter = tw::ComPtr<FakeFilter>::adopt(new FakeFilter(name_, 1));
    }
    tw::ComPtr<FakeFilter> filter;
    std::function<void(TMemberOperation)> onNotify;  // runs after the call is logged

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **ppv) override {
        *ppv = nullptr;
        if (IsEqualGUID(iid, tw::iid_of<IUnknown>()) || IsEqualGUID(iid, IID_IGraphMember)) {
            *ppv = static_cast<IGraphMember *>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        Record(name_ + ".AddRef");
        return static_cast<ULONG>(-1);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        Record(name_ + ".Release");
        return static_cast<ULONG>(-1);
    }
    HRESULT STDMETHODCALLTYPE MemberFilter(IBaseFilter **out) override {
        Record(name_ + ".MemberFilter");
        *out = tw::ComPtr<IBaseFilter>::addref(filter.get()).detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MemberName(std::string &n) override {
        Record(name_ + ".MemberName");
        n = name_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MemberNotify(TMemberOperation op, LONG param) override {
        static const char *const names[] = {"moBeforeAdd", "moAfterAdd", "moBeforeRemove", "moAfterRemove"};
        Record(name_ + "." + names[op] + "(" + std::to_string(param) + ")");
        if (onNotify) onNotify(op);
        return S_OK;
    }

private:
    std::string name_;
};

class FakeListener : public IGraphListener {
public:
    explicit FakeListener(std::string name) : name_(std::move(name)) {}
    std::function<void(LONG)> onEvent;                // runs after the call is logged
    std::function<void(TGraphAction, LONG)> onAction;  // runs after the call is logged

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **ppv) override {
        *ppv = nullptr;
        if (IsEqualGUID(iid, tw::iid_of<IUnknown>()) || IsEqualGUID(iid, IID_IGraphListener)) {
            *ppv = static_cast<IGraphListener *>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        Record(name_ + ".AddRef");
        return static_cast<ULONG>(-1);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        Record(name_ + ".Release");
        return static_cast<ULONG>(-1);
    }
    HRESULT STDMETHODCALLTYPE NotifyEvent(LONG code, LONG_PTR p1, LONG_PTR p2) override {
        Record(name_ + ".NotifyEvent(" + Hex(static_cast<uint32_t>(code)) + "," + std::to_string(p1) + "," +
               std::to_string(p2) + ")");
        if (onEvent) onEvent(code);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NotifyAction(TGraphAction a, LONG param) override {
        Record(name_ + "." + ActionName(a) + "(" + std::to_string(param) + ")");
        if (onAction) onAction(a, param);
        return S_OK;
    }
    static std::string ActionName(TGraphAction a);

private:
    std::string name_;
};

// Pumps the calling thread's messages until done() holds. A timer bounds the wait (it is not
// a delay: the loop returns as soon as the condition holds); returns false when it fired first.
bool PumpUntil(const std::function<bool()> &done, UINT timeoutMs = 20000);

// A path in the temporary directory, unique to this process.
std::string TempPath(const std::string &name);
std::string ReadText(const std::string &path);
bool FileExists(const std::string &path);
void RemoveFile(const std::string &path);

// The display names of the running object table's entries.
std::vector<std::string> RotDisplayNames();
// "!FilterGraph <address> pid <pid>" as the graph's registration names it.
std::string RotName(const void *graph);

}  // namespace fakes
