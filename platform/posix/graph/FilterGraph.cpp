// The filter graph manager: IFilterGraph2 (graph building, RenderFile with intelligent
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

namespace tw::posix {

namespace {

// How deep intelligent connect goes through intermediate filters for one pin.
constexpr int kMaxRenderDepth = 5;

std::string hr_text(HRESULT hr) {
    char buf[80];
    const char *name = tw::hresult_name(hr);
    if (name)
        std::snprintf(buf, sizeof buf, "%s (0x%08X)", name, static_cast<unsigned>(hr));
    else
        std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

ComPtr<IUnknown> identity_of(IUnknown *p) {
    ComPtr<IUnknown> u;
    if (p) p->QueryInterface(IID_IUnknown, u.out_void());
    return u;
}

std::vector<ComPtr<IPin>> pins_of(IBaseFilter *f) {
    std::vector<ComPtr<IPin>> v;
    ComPtr<IEnumPins> e;
    if (FAILED(f->EnumPins(e.out())) || !e) return v;
    ComPtr<IPin> p;
    while (e->Next(1, p.out(), nullptr) == S_OK) v.push_back(p);
    return v;
}

PIN_DIRECTION direction_of(IPin *p) {
    PIN_DIRECTION d = PINDIR_INPUT;
    p->QueryDirection(&d);
    return d;
}

bool connected(IPin *p) {
    ComPtr<IPin> peer;
    return SUCCEEDED(p->ConnectedTo(peer.out())) && peer;
}

ComPtr<IBaseFilter> owner_of(IPin *p) {
    PIN_INFO info{};
    if (FAILED(p->QueryPinInfo(&info))) return {};
    return ComPtr<IBaseFilter>::adopt(info.pFilter);
}

tw::wstring pin_name(IPin *p) {
    PIN_INFO info{};
    if (FAILED(p->QueryPinInfo(&info))) return {};
    if (info.pFilter) info.pFilter->Release();
    return tw::wstring(info.achName);
}

tw::wstring filter_name_of(IBaseFilter *f) {
    FILTER_INFO info{};
    if (FAILED(f->QueryFilterInfo(&info))) return {};
    if (info.pGraph) info.pGraph->Release();
    return tw::wstring(info.achName);
}

std::vector<MediaType> types_of(IPin *p) {
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

void free_event_params(LONG code, LONG_PTR p1, LONG_PTR p2) {
    // The events whose parameters are BSTRs allocated by the sender.
    if (code == EC_OLE_EVENT || code == EC_STATUS) {
        if (p1) SysFreeString(reinterpret_cast<BSTR>(p1));
        if (p2) SysFreeString(reinterpret_cast<BSTR>(p2));
    }
}

REFERENCE_TIME steady_now() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count() / 100;
}

class FilterGraph;

class FilterEnumerator final : public ComObject<IEnumFilters> {
public:
    FilterEnumerator(FilterGraph *graph, size_t pos, int version);
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IBaseFilter **out, ULONG *fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumFilters **pp) override;

protected:
    void *GetInterface(REFIID riid) override { return answer<IEnumFilters>(riid); }

private:
    ComPtr<IFilterGraph> keep_;  // keeps graph_ alive
    FilterGraph *graph_;
    size_t pos_;
    int version_;
};

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
    friend class FilterEnumerator;
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

// =============================================================================================
// Enumerator

FilterEnumerator::FilterEnumerator(FilterGraph *graph, size_t pos, int version)
    : keep_(ComPtr<IFilterGraph>::addref(graph)), graph_(graph), pos_(pos), version_(version) {}

HRESULT FilterEnumerator::Next(ULONG count, IBaseFilter **out, ULONG *fetched) {
    if (!out || (!fetched && count != 1)) return E_POINTER;
    std::vector<ComPtr<IBaseFilter>> got;
    {
        std::lock_guard<std::mutex> g(graph_->mutex_);
        if (version_ != graph_->version_) {
            if (fetched) *fetched = 0;
            return VFW_E_ENUM_OUT_OF_SYNC;
        }
        while (got.size() < count && pos_ < graph_->filters_.size()) got.push_back(graph_->filters_[pos_++].filter);
    }
    for (size_t i = 0; i < got.size(); ++i) out[i] = got[i].detach();
    if (fetched) *fetched = static_cast<ULONG>(got.size());
    return got.size() == count ? S_OK : S_FALSE;
}

HRESULT FilterEnumerator::Skip(ULONG count) {
    std::lock_guard<std::mutex> g(graph_->mutex_);
    if (version_ != graph_->version_) return VFW_E_ENUM_OUT_OF_SYNC;
    size_t left = graph_->filters_.size() - std::min(pos_, graph_->filters_.size());
    pos_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
}

HRESULT FilterEnumerator::Reset() {
    std::lock_guard<std::mutex> g(graph_->mutex_);
    pos_ = 0;
    version_ = graph_->version_;
    return S_OK;
}

HRESULT FilterEnumerator::Clone(IEnumFilters **pp) {
    if (!pp) return E_POINTER;
    *pp = new FilterEnumerator(graph_, pos_, version_);
    return S_OK;
}

// =============================================================================================
// Object

FilterGraph::~FilterGraph() {
    if (diagnostics_id_) unsubscribe_diagnostics(diagnostics_id_);
    // The graph goes away with its filters: stopped, disconnected, told they left.
    for (auto &f : downstream_first()) f->Stop();
    std::vector<Entry> filters;
    {
        std::lock_guard<std::mutex> g(mutex_);
        filters.swap(filters_);
    }
    for (auto &e : filters) disconnect_filter(e.filter.get());
    for (auto &e : filters) e.filter->JoinFilterGraph(nullptr, nullptr);
    filters.clear();
    for (auto &ev : queue_) free_event_params(ev.code, ev.p1, ev.p2);
    if (event_handle_) CloseHandle(event_handle_);
}

void *FilterGraph::GetInterface(REFIID riid) {
    if (void *p = answer<IFilterGraph, IFilterGraph2>(riid)) return p;
    if (void *p = answer<IGraphBuilder, IFilterGraph2>(riid)) return p;
    if (void *p = answer<IFilterGraph2>(riid)) return p;
    if (void *p = answer<IMediaControl>(riid)) return p;
    if (void *p = answer<IDispatch, IMediaControl>(riid)) return p;
    if (void *p = answer<IMediaEvent, IMediaEventEx>(riid)) return p;
    if (void *p = answer<IMediaEventEx>(riid)) return p;
    if (void *p = answer<IMediaEventSink>(riid)) return p;
    if (void *p = answer<IMediaSeeking>(riid)) return p;
    if (void *p = answer<IMediaFilter>(riid)) return p;
    if (void *p = answer<IPersist, IMediaFilter>(riid)) return p;
    return nullptr;
}

// =============================================================================================
// Log

void FilterGraph::log(const std::string &line) {
    std::lock_guard<std::mutex> g(log_mutex_);
    if (!log_handle_) return;
    int fd = fd_from_handle(reinterpret_cast<HANDLE>(log_handle_));
    if (fd < 0) return;
    std::string text = line + "\n";
    const char *p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n <= 0) break;  // a log that cannot be written is given up, the operation goes on
        p += n;
        left -= static_cast<size_t>(n);
    }
}

HRESULT FilterGraph::SetLogFile(DWORD_PTR hFile) {
    {
        std::lock_guard<std::mutex> g(log_mutex_);
        log_handle_ = hFile;
    }
    // The libraries' own lines (FFmpeg's log) go to the log as well, from the first log on;
    // subscribed outside log_mutex_, which a delivered line takes after the subscription lock.
    if (hFile && !diagnostics_id_)
        diagnostics_id_ = subscribe_diagnostics([this](const std::string &line) { log("  FFmpeg " + line); });
    return S_OK;
}

std::string FilterGraph::pin_text(IPin *p) {
    ComPtr<IBaseFilter> f = owner_of(p);
    return "\"" + to_utf8(f ? filter_name_of(f.get()) : tw::wstring()) + "\".\"" + to_utf8(pin_name(p)) + "\"";
}

// =============================================================================================
// IFilterGraph

std::vector<ComPtr<IBaseFilter>> FilterGraph::snapshot() const {
    std::lock_guard<std::mutex> g(mutex_);
    std::vector<ComPtr<IBaseFilter>> v;
    for (auto &e : filters_) v.push_back(e.filter);
    return v;
}

bool FilterGraph::in_graph(IBaseFilter *f) const {
    ComPtr<IUnknown> id = identity_of(f);
    std::lock_guard<std::mutex> g(mutex_);
    for (auto &e : filters_)
        if (e.identity == id.get()) return true;
    return false;
}

bool FilterGraph::name_used_locked(const tw::wstring &name) const {
    for (auto &e : filters_)
        if (e.name == name) return true;
    return false;
}

HRESULT FilterGraph::AddFilter(IBaseFilter *pFilter, LPCWSTR pName) {
    if (!pFilter) return E_POINTER;
    ComPtr<IUnknown> id = identity_of(pFilter);
    tw::wstring name;
    bool renamed = false;
    ComPtr<IReferenceClock> clock;
    {
        std::lock_guard<std::mutex> g(mutex_);
        for (auto &e : filters_)
            if (e.identity == id.get()) return E_INVALIDARG;  // already in this graph
        tw::wstring base = (pName && *pName) ? tw::wstring(pName) : tw::wstring(OLESTR("Filter"));
        if (base.size() > MAX_FILTER_NAME - 6) base.resize(MAX_FILTER_NAME - 6);  // room for " 0001"
        name = base;
        if (!pName || !*pName || name_used_locked(name)) {
            // "<name> 0001", the counter going on per graph, as the platform does.
            renamed = pName && *pName;
            for (;;) {
                if (name_counter_ >= 9999) return VFW_E_DUPLICATE_NAME;
                char suffix[8];
                std::snprintf(suffix, sizeof suffix, " %04u", ++name_counter_);
                name = base + to_wide(suffix);
                if (!name_used_locked(name)) break;
            }
        }
        filters_.push_back(Entry{ComPtr<IBaseFilter>::addref(pFilter), id.get(), name});
        ++version_;
        clock = clock_;
    }
    HRESULT hr = pFilter->JoinFilterGraph(this, name.c_str());
    if (FAILED(hr)) {
        ComPtr<IBaseFilter> keep;
        {
            std::lock_guard<std::mutex> g(mutex_);
            for (auto it = filters_.begin(); it != filters_.end(); ++it)
                if (it->identity == id.get()) {
                    keep = std::move(it->filter);
                    filters_.erase(it);
                    ++version_;
                    break;
                }
        }
        log("AddFilter \"" + to_utf8(name) + "\": " + hr_text(hr));
        return hr;
    }
    if (clock) pFilter->SetSyncSource(clock.get());
    hr = renamed ? VFW_S_DUPLICATE_NAME : S_OK;
    log("AddFilter \"" + to_utf8(name) + "\": " + hr_text(hr));
    return hr;
}

void FilterGraph::disconnect_filter(IBaseFilter *f) {
    for (auto &p : pins_of(f)) {
        ComPtr<IPin> peer;
        if (SUCCEEDED(p->ConnectedTo(peer.out())) && peer) {
            peer->Disconnect();
            p->Disconnect();
        }
    }
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter *pFilter) {
    if (!pFilter) return E_POINTER;
    ComPtr<IUnknown> id = identity_of(pFilter);
    Entry removed;
    {
        std::lock_guard<std::mutex> g(mutex_);
        auto it = std::find_if(filters_.begin(), filters_.end(), [&](const Entry &e) { return e.identity == id.get(); });
        if (it == filters_.end()) return VFW_E_NOT_FOUND;
        removed = std::move(*it);
        filters_.erase(it);
        ++version_;
    }
    // A filter that leaves the graph leaves its connections too; it cannot stay running.
    FILTER_STATE fs = State_Stopped;
    if (SUCCEEDED(pFilter->GetState(0, &fs)) && fs != State_Stopped) pFilter->Stop();
    disconnect_filter(pFilter);
    pFilter->SetSyncSource(nullptr);
    pFilter->JoinFilterGraph(nullptr, nullptr);
    log("RemoveFilter \"" + to_utf8(removed.name) + "\": S_OK");
    return S_OK;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters **ppEnum) {
    if (!ppEnum) return E_POINTER;
    int version;
    {
        std::lock_guard<std::mutex> g(mutex_);
        version = version_;
    }
    *ppEnum = new FilterEnumerator(this, 0, version);
    return S_OK;
}

HRESULT FilterGraph::FindFilterByName(LPCWSTR pName, IBaseFilter **ppFilter) {
    if (!ppFilter) return E_POINTER;
    *ppFilter = nullptr;
    if (!pName) return E_POINTER;
    std::lock_guard<std::mutex> g(mutex_);
    for (auto &e : filters_)
        if (e.name == pName) {
            *ppFilter = ComPtr<IBaseFilter>(e.filter).detach();
            return S_OK;
        }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterGraph::connect_direct_logged(IPin *out, IPin *in, const AM_MEDIA_TYPE *pmt) {
    HRESULT hr = out->Connect(in, pmt);
    std::string type;
    if (SUCCEEDED(hr)) {
        MediaType mt;
        if (SUCCEEDED(out->ConnectionMediaType(mt.ptr()))) type = " [" + mt.text() + "]";
    } else if (pmt) {
        type = " [" + media_type_text(*pmt) + "]";
    } else {
        auto types = types_of(out);
        if (!types.empty()) type = " [offers " + types.front().text() + (types.size() > 1 ? ", ..." : "") + "]";
    }
    log("  Connect " + pin_text(out) + " -> " + pin_text(in) + type + ": " + hr_text(hr));
    return hr;
}

HRESULT FilterGraph::ConnectDirect(IPin *ppinOut, IPin *ppinIn, const AM_MEDIA_TYPE *pmt) {
    if (!ppinOut || !ppinIn) return E_POINTER;
    ComPtr<IBaseFilter> fo = owner_of(ppinOut), fi = owner_of(ppinIn);
    if (!fo || !fi || !in_graph(fo.get()) || !in_graph(fi.get())) return VFW_E_NOT_IN_GRAPH;
    if (direction_of(ppinOut) != PINDIR_OUTPUT || direction_of(ppinIn) != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    return connect_direct_logged(ppinOut, ppinIn, pmt);
}

HRESULT FilterGraph::Disconnect(IPin *ppin) {
    if (!ppin) return E_POINTER;
    return ppin->Disconnect();
}

HRESULT FilterGraph::ReconnectEx(IPin *ppin, const AM_MEDIA_TYPE *pmt) {
    if (!ppin) return E_POINTER;
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    }
    ComPtr<IPin> peer;
    if (FAILED(ppin->ConnectedTo(peer.out())) || !peer) return VFW_E_NOT_CONNECTED;
    IPin *out = direction_of(ppin) == PINDIR_OUTPUT ? ppin : peer.get();
    IPin *in = out == ppin ? peer.get() : ppin;
    MediaType old;
    out->ConnectionMediaType(old.ptr());
    HRESULT hr = out->Disconnect();
    if (FAILED(hr)) return hr;
    in->Disconnect();
    hr = connect_direct_logged(out, in, pmt);
    if (FAILED(hr) && pmt) connect_direct_logged(out, in, old.ptr());  // back to what it was
    return hr;
}

HRESULT FilterGraph::Reconnect(IPin *ppin) { return ReconnectEx(ppin, nullptr); }

// =============================================================================================
// Intelligent connect and rendering

ComPtr<IBaseFilter> FilterGraph::add_candidate(const TransformCandidate &c) {
    ComPtr<IBaseFilter> f;
    HRESULT hr = c.create(f.out());
    if (FAILED(hr) || !f) {
        log("  create \"" + std::string(c.name) + "\": " + hr_text(FAILED(hr) ? hr : E_FAIL));
        return {};
    }
    if (FAILED(AddFilter(f.get(), to_wide(c.name).c_str()))) return {};
    return f;
}

HRESULT FilterGraph::connect_through(IPin *out, IPin *in, int depth) {
    if (abort_) return E_ABORT;
    if (SUCCEEDED(connect_direct_logged(out, in, nullptr))) return S_OK;
    if (depth >= kMaxRenderDepth) return VFW_E_CANNOT_CONNECT;
    auto types = types_of(out);
    for (const TransformCandidate &c : current_transforms()) {
        bool accepts = std::any_of(types.begin(), types.end(), [&](const MediaType &t) { return c.accepts(t.get()); });
        if (!accepts) continue;
        ComPtr<IBaseFilter> f = add_candidate(c);
        if (!f) continue;
        bool done = false;
        for (auto &ci : pins_of(f.get())) {
            if (direction_of(ci.get()) != PINDIR_INPUT || connected(ci.get())) continue;
            if (FAILED(connect_direct_logged(out, ci.get(), nullptr))) continue;
            for (auto &co : pins_of(f.get())) {
                if (direction_of(co.get()) != PINDIR_OUTPUT || connected(co.get())) continue;
                if (SUCCEEDED(connect_through(co.get(), in, depth + 1))) {
                    done = true;
                    break;
                }
            }
            break;
        }
        if (done) return S_OK;
        RemoveFilter(f.get());
        if (abort_) return E_ABORT;
    }
    return VFW_E_CANNOT_CONNECT;
}

HRESULT FilterGraph::Connect(IPin *ppinOut, IPin *ppinIn) {
    if (!ppinOut || !ppinIn) return E_POINTER;
    ComPtr<IBaseFilter> fo = owner_of(ppinOut), fi = owner_of(ppinIn);
    if (!fo || !fi || !in_graph(fo.get()) || !in_graph(fi.get())) return VFW_E_NOT_IN_GRAPH;
    if (direction_of(ppinOut) != PINDIR_OUTPUT || direction_of(ppinIn) != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    abort_ = false;
    log("Connect " + pin_text(ppinOut) + " -> " + pin_text(ppinIn));
    HRESULT hr = connect_through(ppinOut, ppinIn, 0);
    log("Connect: " + hr_text(hr));
    return hr;
}

HRESULT FilterGraph::render_pin(IPin *pin, int depth) {
    if (abort_) return E_ABORT;
    if (connected(pin)) return S_OK;
    ComPtr<IBaseFilter> self = owner_of(pin);
    ComPtr<IUnknown> self_id = identity_of(self.get());
    // 1. An input pin of a filter already in the graph, directly.
    for (auto &f : snapshot()) {
        if (identity_of(f.get()) == self_id) continue;
        for (auto &in : pins_of(f.get())) {
            if (direction_of(in.get()) != PINDIR_INPUT || connected(in.get())) continue;
            if (SUCCEEDED(connect_direct_logged(pin, in.get(), nullptr))) return S_OK;
            if (abort_) return E_ABORT;
        }
    }
    // 2. Through a transform candidate, whose outputs are rendered in turn.
    if (depth >= kMaxRenderDepth) return VFW_E_CANNOT_RENDER;
    auto types = types_of(pin);
    for (const TransformCandidate &c : current_transforms()) {
        bool accepts = std::any_of(types.begin(), types.end(), [&](const MediaType &t) { return c.accepts(t.get()); });
        if (!accepts) continue;
        ComPtr<IBaseFilter> f = add_candidate(c);
        if (!f) continue;
        bool linked = false, rendered = false;
        for (auto &ci : pins_of(f.get())) {
            if (direction_of(ci.get()) != PINDIR_INPUT) continue;
            if (FAILED(connect_direct_logged(pin, ci.get(), nullptr))) continue;
            linked = true;
            break;
        }
        if (linked) {
            int outputs = 0;
            for (auto &co : pins_of(f.get())) {
                if (direction_of(co.get()) != PINDIR_OUTPUT) continue;
                if (pin_name(co.get()).rfind(OLESTR("~"), 0) == 0) continue;  // '~' pins are not rendered
                ++outputs;
                if (SUCCEEDED(render_pin(co.get(), depth + 1))) rendered = true;
            }
            if (outputs == 0) rendered = true;  // the candidate renders the stream itself
        }
        if (rendered) return S_OK;
        RemoveFilter(f.get());
        if (abort_) return E_ABORT;
    }
    return VFW_E_CANNOT_RENDER;
}

HRESULT FilterGraph::Render(IPin *ppinOut) {
    if (!ppinOut) return E_POINTER;
    ComPtr<IBaseFilter> fo = owner_of(ppinOut);
    if (!fo || !in_graph(fo.get())) return VFW_E_NOT_IN_GRAPH;
    if (direction_of(ppinOut) != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (connected(ppinOut)) return VFW_E_ALREADY_CONNECTED;
    abort_ = false;
    log("Render " + pin_text(ppinOut));
    HRESULT hr = render_pin(ppinOut, 0);
    log("Render: " + hr_text(hr));
    return hr;
}

HRESULT FilterGraph::RenderEx(IPin *pPinOut, DWORD dwFlags, DWORD *pvContext) {
    // We never add renderers of our own, so rendering to the existing ones is all there is.
    if (pvContext || (dwFlags & ~static_cast<DWORD>(AM_RENDEREX_RENDERTOEXISTINGRENDERERS))) return E_INVALIDARG;
    return Render(pPinOut);
}

HRESULT FilterGraph::open_source(LPCWSTR url, LPCWSTR name, ComPtr<IBaseFilter> *source) {
    OpenContext ctx(&abort_, [this](const std::string &line) { log("  " + line); });
    HRESULT hr = VFW_E_UNKNOWN_FILE_TYPE;
    ComPtr<IBaseFilter> f;
    for (const SourceOpener &o : current_source_openers()) {
        if (abort_) return E_ABORT;
        HRESULT r = o.open(url, ctx, f.out());
        log(std::string("  source opener \"") + o.name + "\": " + hr_text(r));
        if (FAILED(r)) return r;
        if (r == S_OK && f) {
            hr = S_OK;
            break;
        }
        f = nullptr;
    }
    if (FAILED(hr)) return hr;
    hr = AddFilter(f.get(), name);
    if (FAILED(hr)) return hr;
    *source = std::move(f);
    return hr;
}

HRESULT FilterGraph::AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName, IBaseFilter **ppFilter) {
    if (!ppFilter) return E_POINTER;
    *ppFilter = nullptr;
    if (!lpcwstrFileName) return E_POINTER;
    abort_ = false;
    log("AddSourceFilter \"" + to_utf8(lpcwstrFileName) + "\"");
    ComPtr<IBaseFilter> f;
    HRESULT hr = open_source(lpcwstrFileName, lpcwstrFilterName ? lpcwstrFilterName : lpcwstrFileName, &f);
    log("AddSourceFilter: " + hr_text(hr));
    if (SUCCEEDED(hr)) *ppFilter = f.detach();
    return hr;
}

void FilterGraph::remove_added(const std::vector<ComPtr<IUnknown>> &before) {
    for (auto &f : snapshot()) {
        ComPtr<IUnknown> id = identity_of(f.get());
        if (std::find(before.begin(), before.end(), id) == before.end()) RemoveFilter(f.get());
    }
}

HRESULT FilterGraph::RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) {
    if (!lpcwstrFile) return E_POINTER;
    if (lpcwstrPlayList) return E_INVALIDARG;  // reserved
    abort_ = false;
    std::string url = to_utf8(lpcwstrFile);
    log("RenderFile \"" + url + "\"");
    std::vector<ComPtr<IUnknown>> before;
    for (auto &f : snapshot()) before.push_back(identity_of(f.get()));

    ComPtr<IBaseFilter> source;
    HRESULT hr = open_source(lpcwstrFile, lpcwstrFile, &source);
    if (FAILED(hr)) {
        log("RenderFile \"" + url + "\": " + hr_text(hr));
        return hr;
    }
    int rendered = 0, audio_left = 0, video_left = 0, other_left = 0;
    for (auto &p : pins_of(source.get())) {
        if (direction_of(p.get()) != PINDIR_OUTPUT) continue;
        HRESULT r = render_pin(p.get(), 0);
        if (r == E_ABORT) break;
        if (SUCCEEDED(r)) {
            ++rendered;
            continue;
        }
        auto types = types_of(p.get());
        if (!types.empty() && types.front().is_audio())
            ++audio_left;
        else if (!types.empty() && types.front().is_video())
            ++video_left;
        else
            ++other_left;
    }
    if (abort_) {
        hr = E_ABORT;
        remove_added(before);
    } else if (rendered == 0) {
        // Nothing could be rendered: the graph is left as it was.
        hr = VFW_E_CANNOT_RENDER;
        remove_added(before);
    } else if (audio_left + video_left + other_left == 0) {
        hr = S_OK;
    } else if (other_left == 0 && video_left == 0) {
        hr = VFW_S_AUDIO_NOT_RENDERED;
    } else if (other_left == 0 && audio_left == 0) {
        hr = VFW_S_VIDEO_NOT_RENDERED;
    } else {
        hr = VFW_S_PARTIAL_RENDER;
    }
    log("RenderFile \"" + url + "\": " + hr_text(hr));
    return hr;
}

HRESULT FilterGraph::Abort() {
    abort_ = true;
    return S_OK;
}

HRESULT FilterGraph::ShouldOperationContinue() { return abort_ ? S_FALSE : S_OK; }

// =============================================================================================
// State

std::vector<ComPtr<IBaseFilter>> FilterGraph::downstream_first() const {
    auto fs = snapshot();
    size_t n = fs.size();
    std::vector<ComPtr<IUnknown>> ids(n);
    for (size_t i = 0; i < n; ++i) ids[i] = identity_of(fs[i].get());
    std::vector<std::vector<size_t>> down(n);
    for (size_t i = 0; i < n; ++i) {
        for (auto &p : pins_of(fs[i].get())) {
            if (direction_of(p.get()) != PINDIR_OUTPUT) continue;
            ComPtr<IPin> peer;
            if (FAILED(p->ConnectedTo(peer.out())) || !peer) continue;
            ComPtr<IUnknown> id = identity_of(owner_of(peer.get()).get());
            for (size_t j = 0; j < n; ++j)
                if (ids[j] == id && j != i) down[i].push_back(j);
        }
    }
    std::vector<ComPtr<IBaseFilter>> order;
    std::vector<bool> done(n, false);
    for (size_t emitted = 0; emitted < n;) {
        bool progress = false;
        for (size_t i = 0; i < n; ++i) {
            if (done[i]) continue;
            if (std::all_of(down[i].begin(), down[i].end(), [&](size_t j) { return done[j]; })) {
                done[i] = true;
                order.push_back(fs[i]);
                ++emitted;
                progress = true;
            }
        }
        if (!progress) {  // a cycle: the rest in graph order
            for (size_t i = 0; i < n; ++i)
                if (!done[i]) {
                    done[i] = true;
                    order.push_back(fs[i]);
                    ++emitted;
                }
        }
    }
    return order;
}

REFERENCE_TIME FilterGraph::clock_now() const {
    ComPtr<IReferenceClock> c;
    {
        std::lock_guard<std::mutex> g(mutex_);
        c = clock_ ? clock_ : system_clock_;
    }
    REFERENCE_TIME t = 0;
    if (c && SUCCEEDED(c->GetTime(&t))) return t;
    return steady_now();
}

ComPtr<IReferenceClock> FilterGraph::default_clock(const std::vector<ComPtr<IBaseFilter>> &order) {
    // A filter's own clock, renderers first; otherwise the system clock.
    for (auto &f : order) {
        ComPtr<IReferenceClock> c;
        if (SUCCEEDED(f->QueryInterface(IID_IReferenceClock, c.out_void())) && c) return c;
    }
    std::lock_guard<std::mutex> g(mutex_);
    if (!system_clock_) system_clock_ = make_system_clock();
    return system_clock_;
}

HRESULT FilterGraph::set_clock(ComPtr<IReferenceClock> clock, bool explicit_call) {
    bool changed;
    {
        std::lock_guard<std::mutex> g(mutex_);
        changed = clock_ != clock || !clock_set_;
        clock_ = clock;
        clock_set_ = true;
    }
    HRESULT result = S_OK;
    for (auto &f : snapshot()) {
        HRESULT hr = f->SetSyncSource(clock.get());
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    // The application hears of a clock it chose; the implicit choice of the first Run is
    // not an event (a listener that rewinds on EC_CLOCK_CHANGED would restart the stream).
    if (changed && explicit_call) Notify(EC_CLOCK_CHANGED, 0, 0);
    return result;
}

HRESULT FilterGraph::SetDefaultSyncSource() { return set_clock(default_clock(downstream_first()), true); }

HRESULT FilterGraph::SetSyncSource(IReferenceClock *pClock) {
    return set_clock(ComPtr<IReferenceClock>::addref(pClock), true);
}

HRESULT FilterGraph::GetSyncSource(IReferenceClock **pClock) {
    if (!pClock) return E_POINTER;
    std::lock_guard<std::mutex> g(mutex_);
    *pClock = ComPtr<IReferenceClock>(clock_).detach();
    return S_OK;
}

HRESULT FilterGraph::GetClassID(CLSID *pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = CLSID_FilterGraph;
    return S_OK;
}

void FilterGraph::prepare_stream_start(const std::vector<ComPtr<IBaseFilter>> &order) {
    // Renderers: filters that take a stream and pass none on. Each sends its own EC_COMPLETE.
    int renderers = 0;
    for (auto &f : order) {
        int in = 0, out = 0;
        for (auto &p : pins_of(f.get())) {
            if (!connected(p.get())) continue;
            (direction_of(p.get()) == PINDIR_INPUT ? in : out)++;
        }
        if (in > 0 && out == 0) ++renderers;
    }
    std::lock_guard<std::mutex> g(events_mutex_);
    renderers_ = renderers;
    completed_.clear();
    complete_status_ = S_OK;
    complete_pending_ = false;
}

HRESULT FilterGraph::pause_filters(const std::vector<ComPtr<IBaseFilter>> &order) {
    HRESULT failure = S_OK;
    bool intermediate = false;
    for (auto &f : order) {
        HRESULT hr = f->Pause();
        if (FAILED(hr) && SUCCEEDED(failure)) failure = hr;
        if (hr == S_FALSE) intermediate = true;
    }
    return FAILED(failure) ? failure : intermediate ? S_FALSE : S_OK;
}

HRESULT FilterGraph::Pause() {
    auto order = downstream_first();
    FILTER_STATE was;
    {
        std::lock_guard<std::mutex> g(mutex_);
        was = state_;
    }
    if (was == State_Stopped) prepare_stream_start(order);
    if (was == State_Running) {
        std::lock_guard<std::mutex> g(events_mutex_);
        running_ = false;
    }
    REFERENCE_TIME now = clock_now();
    HRESULT hr = pause_filters(order);
    std::lock_guard<std::mutex> g(mutex_);
    if (was == State_Running) paused_stream_ = now - start_;
    state_ = State_Paused;
    return hr;
}

HRESULT FilterGraph::run(const REFERENCE_TIME *start) {
    FILTER_STATE was;
    bool clock_set;
    {
        std::lock_guard<std::mutex> g(mutex_);
        was = state_;
        clock_set = clock_set_;
    }
    if (was == State_Running) return S_OK;
    HRESULT result = S_OK;
    if (was == State_Stopped) {
        result = Pause();
        if (FAILED(result)) return result;
    }
    auto order = downstream_first();
    if (!clock_set) set_clock(default_clock(order), false);
    REFERENCE_TIME t0;
    {
        REFERENCE_TIME now = clock_now();
        std::lock_guard<std::mutex> g(mutex_);
        start_ = start ? *start : now - paused_stream_;
        t0 = start_;
    }
    HRESULT failure = S_OK;
    bool intermediate = result == S_FALSE;
    for (auto &f : order) {
        HRESULT hr = f->Run(t0);
        if (FAILED(hr) && SUCCEEDED(failure)) failure = hr;
        if (hr == S_FALSE) intermediate = true;
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        state_ = State_Running;
    }
    bool complete = false;
    HRESULT status = S_OK;
    {
        std::lock_guard<std::mutex> g(events_mutex_);
        running_ = true;
        complete = complete_pending_;
        status = complete_status_;
        complete_pending_ = false;
    }
    if (complete) queue_event(EC_COMPLETE, status, 0);
    return FAILED(failure) ? failure : intermediate ? S_FALSE : S_OK;
}

HRESULT FilterGraph::Stop() {
    auto order = downstream_first();
    FILTER_STATE was;
    {
        std::lock_guard<std::mutex> g(mutex_);
        was = state_;
    }
    {
        std::lock_guard<std::mutex> g(events_mutex_);
        running_ = false;
    }
    REFERENCE_TIME now = clock_now();
    if (was == State_Running) {
        for (auto &f : order) f->Pause();  // the platform pauses a running graph first
    }
    HRESULT failure = S_OK;
    for (auto &f : order) {
        HRESULT hr = f->Stop();
        if (FAILED(hr) && SUCCEEDED(failure)) failure = hr;
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        // Stop does not rewind: the position reached becomes the base of the next run.
        if (was == State_Running) seek_base_ += now - start_;
        if (was == State_Paused) seek_base_ += paused_stream_;
        paused_stream_ = 0;
        state_ = State_Stopped;
    }
    {
        std::lock_guard<std::mutex> g(events_mutex_);
        completed_.clear();
        complete_pending_ = false;
    }
    return failure;
}

HRESULT FilterGraph::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE *State) {
    if (!State) return E_POINTER;
    {
        std::lock_guard<std::mutex> g(mutex_);
        *State = state_;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwMilliSecsTimeout);
    bool intermediate = false, cant_cue = false;
    for (auto &f : downstream_first()) {
        DWORD left = dwMilliSecsTimeout;
        if (dwMilliSecsTimeout != INFINITE) {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                          .count();
            left = ms > 0 ? static_cast<DWORD>(ms) : 0;
        }
        FILTER_STATE fs;
        HRESULT hr = f->GetState(left, &fs);
        if (FAILED(hr)) return hr;
        if (hr == VFW_S_STATE_INTERMEDIATE) intermediate = true;
        if (hr == VFW_S_CANT_CUE) cant_cue = true;
    }
    return intermediate ? VFW_S_STATE_INTERMEDIATE : cant_cue ? VFW_S_CANT_CUE : S_OK;
}

HRESULT FilterGraph::GetState(LONG msTimeout, OAFilterState *pfs) {
    if (!pfs) return E_POINTER;
    FILTER_STATE fs = State_Stopped;
    HRESULT hr = GetState(static_cast<DWORD>(msTimeout), &fs);
    *pfs = fs;
    return hr;
}

HRESULT FilterGraph::StopWhenReady() {
    HRESULT hr = Pause();
    if (FAILED(hr)) {
        Stop();
        return hr;
    }
    FILTER_STATE fs;
    GetState(INFINITE, &fs);
    return Stop();
}

// =============================================================================================
// Events

void FilterGraph::queue_event(LONG code, LONG_PTR p1, LONG_PTR p2) {
    HWND hwnd;
    UINT msg;
    LONG_PTR instance;
    {
        std::lock_guard<std::mutex> g(events_mutex_);
        if (notify_flags_ & AM_MEDIAEVENT_NONOTIFY) {
            if (code == EC_COMPLETE && event_handle_) SetEvent(event_handle_);
            free_event_params(code, p1, p2);
            return;
        }
        queue_.push_back(Event{code, p1, p2});
        if (event_handle_) SetEvent(event_handle_);
        hwnd = notify_hwnd_;
        msg = notify_msg_;
        instance = notify_instance_;
    }
    events_cv_.notify_all();
    if (hwnd) PostMessageA(hwnd, msg, 0, instance);
}

HRESULT FilterGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    if (EventCode == EC_COMPLETE) {
        bool send = false;
        HRESULT status = S_OK;
        {
            std::lock_guard<std::mutex> g(events_mutex_);
            if (!cancelled_.count(EC_COMPLETE)) {
                // One EC_COMPLETE for the application once every renderer has sent its own.
                auto *f = reinterpret_cast<IBaseFilter *>(EventParam2);
                if (std::find(completed_.begin(), completed_.end(), f) == completed_.end()) {
                    completed_.push_back(f);
                    if (FAILED(static_cast<HRESULT>(EventParam1)) && SUCCEEDED(complete_status_))
                        complete_status_ = static_cast<HRESULT>(EventParam1);
                    if (renderers_ > 0 && static_cast<int>(completed_.size()) == renderers_) {
                        if (running_)
                            send = true;
                        else
                            complete_pending_ = true;  // sent when the graph runs
                        status = complete_status_;
                    }
                }
                if (!send) {
                    if ((notify_flags_ & AM_MEDIAEVENT_NONOTIFY) && event_handle_) SetEvent(event_handle_);
                    return S_OK;
                }
            }
        }
        if (send) {
            queue_event(EC_COMPLETE, status, 0);
            return S_OK;
        }
    }
    if (EventCode == EC_REPAINT) {
        std::lock_guard<std::mutex> g(events_mutex_);
        // Nothing to repaint without video windows: the default handling swallows it.
        if (!cancelled_.count(EC_REPAINT)) return S_OK;
    }
    queue_event(EventCode, EventParam1, EventParam2);
    return S_OK;
}

HRESULT FilterGraph::GetEventHandle(OAEVENT *hEvent) {
    if (!hEvent) return E_POINTER;
    std::lock_guard<std::mutex> g(events_mutex_);
    if (!event_handle_) {
        // Manual reset: signalled while the queue holds events.
        event_handle_ = CreateEventA(nullptr, TRUE, queue_.empty() ? FALSE : TRUE, nullptr);
        if (!event_handle_) return E_OUTOFMEMORY;
    }
    *hEvent = reinterpret_cast<OAEVENT>(event_handle_);
    return S_OK;
}

HRESULT FilterGraph::GetEvent(LONG *lEventCode, LONG_PTR *lParam1, LONG_PTR *lParam2, LONG msTimeout) {
    if (!lEventCode || !lParam1 || !lParam2) return E_POINTER;
    *lEventCode = 0;
    *lParam1 = *lParam2 = 0;
    std::unique_lock<std::mutex> g(events_mutex_);
    auto ready = [&] { return !queue_.empty(); };
    if (static_cast<DWORD>(msTimeout) == INFINITE)
        events_cv_.wait(g, ready);
    else if (msTimeout > 0)
        events_cv_.wait_for(g, std::chrono::milliseconds(msTimeout), ready);
    if (queue_.empty()) return E_ABORT;
    Event e = queue_.front();
    queue_.pop_front();
    if (queue_.empty() && event_handle_) ResetEvent(event_handle_);
    *lEventCode = e.code;
    *lParam1 = e.p1;
    *lParam2 = e.p2;
    return S_OK;
}

HRESULT FilterGraph::WaitForCompletion(LONG msTimeout, LONG *pEvCode) {
    if (!pEvCode) return E_POINTER;
    *pEvCode = 0;
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (state_ != State_Running) return VFW_E_WRONG_STATE;
    }
    bool infinite = static_cast<DWORD>(msTimeout) == INFINITE;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite ? 0 : msTimeout);
    for (;;) {
        LONG left = -1;
        if (!infinite) {
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                          .count();
            left = ms > 0 ? static_cast<LONG>(ms) : 0;
        }
        LONG code;
        LONG_PTR p1, p2;
        if (GetEvent(&code, &p1, &p2, left) != S_OK) return E_ABORT;
        FreeEventParams(code, p1, p2);
        // Every other event is discarded while waiting, as the platform does.
        if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT) {
            *pEvCode = code;
            return S_OK;
        }
    }
}

HRESULT FilterGraph::CancelDefaultHandling(LONG lEvCode) {
    std::lock_guard<std::mutex> g(events_mutex_);
    cancelled_.insert(lEvCode);
    return S_OK;
}

HRESULT FilterGraph::RestoreDefaultHandling(LONG lEvCode) {
    std::lock_guard<std::mutex> g(events_mutex_);
    cancelled_.erase(lEvCode);
    return S_OK;
}

HRESULT FilterGraph::FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) {
    free_event_params(lEvCode, lParam1, lParam2);
    return S_OK;
}

HRESULT FilterGraph::SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) {
    HWND h = reinterpret_cast<HWND>(hwnd);
    if (h && !IsWindow(h)) return E_INVALIDARG;
    bool pending;
    {
        std::lock_guard<std::mutex> g(events_mutex_);
        notify_hwnd_ = h;
        notify_msg_ = static_cast<UINT>(lMsg);
        notify_instance_ = lInstanceData;
        pending = !queue_.empty() && !(notify_flags_ & AM_MEDIAEVENT_NONOTIFY);
    }
    // Events queued before the window was given are announced now.
    if (h && pending) PostMessageA(h, static_cast<UINT>(lMsg), 0, lInstanceData);
    return S_OK;
}

HRESULT FilterGraph::SetNotifyFlags(LONG lNoNotifyFlags) {
    if (lNoNotifyFlags != 0 && lNoNotifyFlags != AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
    std::deque<Event> dropped;
    {
        std::lock_guard<std::mutex> g(events_mutex_);
        notify_flags_ = lNoNotifyFlags;
        if (lNoNotifyFlags & AM_MEDIAEVENT_NONOTIFY) {
            dropped.swap(queue_);
            if (event_handle_) ResetEvent(event_handle_);
        }
    }
    for (auto &e : dropped) free_event_params(e.code, e.p1, e.p2);
    return S_OK;
}

HRESULT FilterGraph::GetNotifyFlags(LONG *lplNoNotifyFlags) {
    if (!lplNoNotifyFlags) return E_POINTER;
    std::lock_guard<std::mutex> g(events_mutex_);
    *lplNoNotifyFlags = notify_flags_;
    return S_OK;
}

// =============================================================================================
// IMediaSeeking

std::vector<FilterGraph::Seeker> FilterGraph::seekers() const {
    std::vector<Seeker> v;
    for (auto &f : downstream_first()) {
        ComPtr<IMediaSeeking> s;
        if (FAILED(f->QueryInterface(IID_IMediaSeeking, s.out_void())) || !s) continue;
        int in = 0, out = 0;
        for (auto &p : pins_of(f.get())) {
            if (!connected(p.get())) continue;
            (direction_of(p.get()) == PINDIR_INPUT ? in : out)++;
        }
        v.push_back(Seeker{s, out == 0, in == 0});
    }
    return v;
}

DWORD FilterGraph::SeekingCapabilities() {
    // The graph always knows a current position; the rest is what every seeking filter offers.
    DWORD caps = 0;
    bool any = false;
    for (auto &s : seekers()) {
        DWORD c = 0;
        if (FAILED(s.seeking->GetCapabilities(&c))) continue;
        caps = any ? (caps & c) : c;
        any = true;
    }
    return caps | AM_SEEKING_CanGetCurrentPos;
}

HRESULT FilterGraph::GetDuration(LONGLONG *pDuration) {
    if (!pDuration) return E_POINTER;
    bool any = false;
    LONGLONG longest = 0;
    for (auto &s : seekers()) {
        LONGLONG d = 0;
        if (s.seeking->GetDuration(&d) != S_OK) continue;
        longest = any ? std::max(longest, d) : d;
        any = true;
    }
    if (!any) return E_NOTIMPL;
    *pDuration = longest;
    return S_OK;
}

HRESULT FilterGraph::GetStopPosition(LONGLONG *pStop) {
    if (!pStop) return E_POINTER;
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (stop_pos_ >= 0) {
            *pStop = stop_pos_;
            return S_OK;
        }
    }
    bool any = false;
    LONGLONG latest = 0;
    for (auto &s : seekers()) {
        LONGLONG v = 0;
        if (s.seeking->GetStopPosition(&v) != S_OK) continue;
        latest = any ? std::max(latest, v) : v;
        any = true;
    }
    if (any) {
        *pStop = latest;
        return S_OK;
    }
    return GetDuration(pStop);
}

HRESULT FilterGraph::GetCurrentPosition(LONGLONG *pCurrent) {
    if (!pCurrent) return E_POINTER;
    // What the sinks have received, when they can say; otherwise the graph's stream time.
    bool any = false;
    LONGLONG pos = 0;
    for (auto &s : seekers()) {
        if (!s.sink) continue;
        LONGLONG v = 0;
        if (s.seeking->GetCurrentPosition(&v) != S_OK) continue;
        pos = any ? std::max(pos, v) : v;
        any = true;
    }
    if (any) {
        *pCurrent = pos;
        return S_OK;
    }
    REFERENCE_TIME now = clock_now();
    std::lock_guard<std::mutex> g(mutex_);
    LONGLONG stream = state_ == State_Running ? now - start_ : state_ == State_Paused ? paused_stream_ : 0;
    *pCurrent = seek_base_ + std::max<LONGLONG>(stream, 0);
    return S_OK;
}

HRESULT FilterGraph::ApplyPositions(const LONGLONG *cur, DWORD dwCurrentFlags, const LONGLONG *stop,
                                    DWORD dwStopFlags) {
    auto list = seekers();
    if (list.empty()) return E_NOTIMPL;

    // Streaming stops (threads joined, buffers returned), the sources seek, the graph resumes
    // in the state it had.
    FILTER_STATE was;
    {
        std::lock_guard<std::mutex> g(mutex_);
        was = state_;
    }
    if (was != State_Stopped) Stop();

    DWORD modifiers = AM_SEEKING_SeekToKeyFrame | AM_SEEKING_Segment | AM_SEEKING_NoFlush;
    DWORD cf = cur ? (AM_SEEKING_AbsolutePositioning | (dwCurrentFlags & modifiers)) : 0;
    DWORD sf = stop ? (AM_SEEKING_AbsolutePositioning | (dwStopFlags & modifiers)) : 0;
    int done = 0;
    HRESULT failure = S_OK;
    // Sources first: they are the ones that move.
    std::stable_sort(list.begin(), list.end(), [](const Seeker &a, const Seeker &b) { return a.source && !b.source; });
    for (auto &s : list) {
        LONGLONG c = cur ? *cur : 0, t = stop ? *stop : 0;
        HRESULT hr = s.seeking->SetPositions(cf ? &c : nullptr, cf, sf ? &t : nullptr, sf);
        if (SUCCEEDED(hr))
            ++done;
        else if (hr != E_NOTIMPL && SUCCEEDED(failure))
            failure = hr;
    }
    if (done > 0) {
        std::lock_guard<std::mutex> g(mutex_);
        if (cur) seek_base_ = *cur;
        if (stop) stop_pos_ = *stop;
        paused_stream_ = 0;
    }
    HRESULT resumed = S_OK;
    if (was == State_Paused) resumed = Pause();
    if (was == State_Running) resumed = run(nullptr);
    if (done == 0) return FAILED(failure) ? failure : E_NOTIMPL;
    return FAILED(resumed) ? resumed : S_OK;
}

HRESULT FilterGraph::GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest) {
    if (!pEarliest || !pLatest) return E_POINTER;
    LONGLONG d = 0;
    HRESULT hr = GetDuration(&d);
    if (FAILED(hr)) return hr;
    *pEarliest = 0;
    *pLatest = d;
    return S_OK;
}

}  // namespace

HRESULT create_filter_graph(IUnknown *outer, REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto *g = new FilterGraph();
    HRESULT hr = g->QueryInterface(riid, ppv);
    g->Release();
    return hr;
}

}  // namespace tw::posix
