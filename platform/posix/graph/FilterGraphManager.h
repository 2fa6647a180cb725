// The filter graph manager (this class, and FilterGraph.cpp, GraphRender.cpp, GraphState.cpp,
// GraphEvents.cpp and GraphSeeking.cpp for its parts): IFilterGraph2 (graph building, RenderFile with intelligent
// connect), IMediaControl and IMediaFilter (state changes, downstream first), IMediaEventEx and
// IMediaEventSink (the event queue), IMediaSeeking (asking the filters).
//
// Threads and locks. Graph operations come from the application thread. Streaming threads of
// the filters only call IMediaEventSink::Notify.
//  - mutex_ guards the filter list, its version, the state, the clock and the positions.
//  - events_mutex_ guards the event queue, the notification settings and the completion count.
//  - log_mutex_ guards the log handle and serialises the writes. A line of the libraries'
//    own log arrives with the diagnostics subscription lock held (diagnostics.h), which is
//    therefore taken before log_mutex_, never after.
// No two of them are held together, and none is held while calling a filter, a pin, an
// opener or PostMessageA.
#pragma once

#include "platform/posix/graph/BaseFilter.h"
#include "platform/posix/graph/Graph.h"
#include "platform/posix/graph/Render.h"
#include "platform/posix/graph/Seeking.h"
#include "platform/posix/diagnostics.h"
#include "platform/posix/object.h"
#include "platform/posix/win/files.h"
#include "platform/hresult_names.h"
#include "platform/text.h"
#include "platform/win32.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tw::posix::graph_manager {


// How deep intelligent connect goes through intermediate filters for one pin.
inline constexpr int kMaxRenderDepth = 5;

inline std::string hr_text(HRESULT hr) {
    char buf[80];
    const char *name = tw::hresult_name(hr);
    if (name)
        std::snprintf(buf, sizeof buf, "%s (0x%08X)", name, static_cast<unsigned>(hr));
    else
        std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

inline ComPtr<IUnknown> identity_of(IUnknown *p) {
    ComPtr<IUnknown> u;
    if (p) p->QueryInterface(IID_IUnknown, u.out_void());
    return u;
}

inline std::vector<ComPtr<IPin>> pins_of(IBaseFilter *f) {
    std::vector<ComPtr<IPin>> v;
    ComPtr<IEnumPins> e;
    if (FAILED(f->EnumPins(e.out())) || !e) return v;
    ComPtr<IPin> p;
    while (e->Next(1, p.out(), nullptr) == S_OK) v.push_back(p);
    return v;
}

inline PIN_DIRECTION direction_of(IPin *p) {
    PIN_DIRECTION d = PINDIR_INPUT;
    p->QueryDirection(&d);
    return d;
}

inline bool connected(IPin *p) {
    ComPtr<IPin> peer;
    return SUCCEEDED(p->ConnectedTo(peer.out())) && peer;
}

inline ComPtr<IBaseFilter> owner_of(IPin *p) {
    PIN_INFO info{};
    if (FAILED(p->QueryPinInfo(&info))) return {};
    return ComPtr<IBaseFilter>::adopt(info.pFilter);
}

inline tw::wstring pin_name(IPin *p) {
    PIN_INFO info{};
    if (FAILED(p->QueryPinInfo(&info))) return {};
    if (info.pFilter) info.pFilter->Release();
    return tw::wstring(info.achName);
}

inline tw::wstring filter_name_of(IBaseFilter *f) {
    FILTER_INFO info{};
    if (FAILED(f->QueryFilterInfo(&info))) return {};
    if (info.pGraph) info.pGraph->Release();
    return tw::wstring(info.achName);
}

inline std::vector<MediaType> types_of(IPin *p) {
    std::vector<MediaType> v;
    ComPtr<IEnumMediaTypes> e;
    if (FAILED(p->EnumMediaTypes(e.out())) || !e) return v;
    AM_MEDIA_TYPE *mt = nullptr;
    ULONG got = 0;
    while (e->Next(1, &mt, &got) == S_OK && got == 1) {
        v.emplace_back(*mt);
        DeleteMediaType(mt);
        mt = nullptr;
    }
    return v;
}

inline void free_event_params(LONG code, LONG_PTR p1, LONG_PTR p2) {
    // The events whose parameters are BSTRs allocated by the sender.
    if (code == EC_OLE_EVENT || code == EC_STATUS) {
        if (p1) SysFreeString(reinterpret_cast<BSTR>(p1));
        if (p2) SysFreeString(reinterpret_cast<BSTR>(p2));
    }
}

inline REFERENCE_TIME steady_now() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count() / 100;
}

class FilterGraph;

using FilterEnumerator = Enumerator<IEnumFilters, IBaseFilter>;

class FilterGraph final
    : public ComObject<IFilterGraph2, IMediaControl, IMediaEventEx, IMediaEventSink, MediaTimeSeeking, IMediaFilter> {
public:
    FilterGraph() = default;
    ~FilterGraph() override;

    // ---- IFilterGraph
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *pFilter, LPCWSTR pName) override;
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter *pFilter) override;
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters **ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR pName, IBaseFilter **ppFilter) override;
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin *ppinOut, IPin *ppinIn, const AM_MEDIA_TYPE *pmt) override;
    HRESULT STDMETHODCALLTYPE Reconnect(IPin *ppin) override;
    HRESULT STDMETHODCALLTYPE Disconnect(IPin *ppin) override;
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override;
    // ---- IGraphBuilder
    HRESULT STDMETHODCALLTYPE Connect(IPin *ppinOut, IPin *ppinIn) override;
    HRESULT STDMETHODCALLTYPE Render(IPin *ppinOut) override;
    HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) override;
    HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName,
                                              IBaseFilter **ppFilter) override;
    HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR hFile) override;
    HRESULT STDMETHODCALLTYPE Abort() override;
    HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override;
    // ---- IFilterGraph2
    HRESULT STDMETHODCALLTYPE AddSourceFilterForMoniker(IMoniker *, IBindCtx *, LPCWSTR, IBaseFilter **) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReconnectEx(IPin *ppin, const AM_MEDIA_TYPE *pmt) override;
    HRESULT STDMETHODCALLTYPE RenderEx(IPin *pPinOut, DWORD dwFlags, DWORD *pvContext) override;

    // ---- IDispatch (of IMediaControl and IMediaEventEx): automation is not offered.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *,
                                     UINT *) override {
        return E_NOTIMPL;
    }

    // ---- IMediaControl (Stop and Pause are also IMediaFilter's)
    HRESULT STDMETHODCALLTYPE Run() override { return run(nullptr); }
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState *pfs) override;
    HRESULT STDMETHODCALLTYPE RenderFile(BSTR strFilename) override { return RenderFile(strFilename, nullptr); }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR, IDispatch **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StopWhenReady() override;

    // ---- IMediaFilter
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *pClassID) override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) override { return run(&tStart); }
    HRESULT STDMETHODCALLTYPE GetState(DWORD dwMilliSecsTimeout, FILTER_STATE *State) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *pClock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **pClock) override;

    // ---- IMediaEvent / IMediaEventEx
    HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT *hEvent) override;
    HRESULT STDMETHODCALLTYPE GetEvent(LONG *lEventCode, LONG_PTR *lParam1, LONG_PTR *lParam2,
                                       LONG msTimeout) override;
    HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG msTimeout, LONG *pEvCode) override;
    HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG lEvCode) override;
    HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG lEvCode) override;
    HRESULT STDMETHODCALLTYPE FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) override;
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) override;
    HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG lNoNotifyFlags) override;
    HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG *lplNoNotifyFlags) override;

    // ---- IMediaEventSink
    HRESULT STDMETHODCALLTYPE Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

    // ---- IMediaSeeking: where the graph stands; the rest is MediaTimeSeeking's.
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG *pDuration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG *pStop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG *pCurrent) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest) override;

protected:
    // MediaTimeSeeking: what every seeking filter offers, and the graph's own current
    // position; a seek goes to every filter that seeks, sources first.
    DWORD SeekingCapabilities() override;
    HRESULT ApplyPositions(const LONGLONG *Current, DWORD CurrentFlags, const LONGLONG *Stop,
                           DWORD StopFlags) override;

protected:
    void *GetInterface(REFIID riid) override;

private:
    struct Entry {
        ComPtr<IBaseFilter> filter;
        IUnknown *identity;  // not counted: `filter` keeps the object alive
        tw::wstring name;
    };
    struct Event {
        LONG code;
        LONG_PTR p1, p2;
    };
    struct Seeker {
        ComPtr<IMediaSeeking> seeking;
        bool sink;    // no connected output pin
        bool source;  // no connected input pin
    };

    // Graph building.
    std::vector<ComPtr<IBaseFilter>> snapshot() const;
    bool in_graph(IBaseFilter *f) const;
    bool name_used_locked(const tw::wstring &name) const;
    HRESULT open_source(LPCWSTR url, LPCWSTR name, ComPtr<IBaseFilter> *source);
    HRESULT connect_direct_logged(IPin *out, IPin *in, const AM_MEDIA_TYPE *pmt);
    HRESULT render_pin(IPin *pin, int depth);
    HRESULT connect_through(IPin *out, IPin *in, int depth);
    ComPtr<IBaseFilter> add_candidate(const TransformCandidate &c);
    void remove_added(const std::vector<ComPtr<IUnknown>> &before);
    void disconnect_filter(IBaseFilter *f);
    void log(const std::string &line);
    std::string pin_text(IPin *p);

    // State.
    std::vector<ComPtr<IBaseFilter>> downstream_first() const;
    HRESULT run(const REFERENCE_TIME *start);
    HRESULT pause_filters(const std::vector<ComPtr<IBaseFilter>> &order);
    void prepare_stream_start(const std::vector<ComPtr<IBaseFilter>> &order);
    HRESULT set_clock(ComPtr<IReferenceClock> clock, bool explicit_call);
    ComPtr<IReferenceClock> default_clock(const std::vector<ComPtr<IBaseFilter>> &order);
    REFERENCE_TIME clock_now() const;
    std::vector<Seeker> seekers() const;

    // Events.
    void queue_event(LONG code, LONG_PTR p1, LONG_PTR p2);

    mutable std::mutex mutex_;  // see the top of the file
    std::vector<Entry> filters_;
    int version_ = 0;
    unsigned name_counter_ = 0;
    FILTER_STATE state_ = State_Stopped;
    ComPtr<IReferenceClock> clock_;
    ComPtr<IReferenceClock> system_clock_;
    bool clock_set_ = false;  // chosen by SetSyncSource/SetDefaultSyncSource or by Run
    REFERENCE_TIME start_ = 0;         // clock time of stream time 0 while running
    REFERENCE_TIME paused_stream_ = 0; // stream time reached at the last pause
    LONGLONG seek_base_ = 0;           // position of stream time 0
    LONGLONG stop_pos_ = -1;           // -1: not set, the duration holds
    std::atomic<bool> abort_{false};

    std::mutex log_mutex_;
    DWORD_PTR log_handle_ = 0;
    int diagnostics_id_ = 0;  // subscription of log() to the libraries' lines; application thread

    std::mutex events_mutex_;
    std::condition_variable events_cv_;
    std::deque<Event> queue_;
    HWND notify_hwnd_ = nullptr;
    UINT notify_msg_ = 0;
    LONG_PTR notify_instance_ = 0;
    LONG notify_flags_ = 0;
    std::set<LONG> cancelled_;
    int renderers_ = 0;
    std::vector<IBaseFilter *> completed_;  // identities only, never called: not counted
    HRESULT complete_status_ = S_OK;
    bool complete_pending_ = false;  // every renderer finished before the graph ran
    bool running_ = false;           // the graph is in Running (for EC_COMPLETE)
    HANDLE event_handle_ = nullptr;
};

}  // namespace tw::posix::graph_manager
