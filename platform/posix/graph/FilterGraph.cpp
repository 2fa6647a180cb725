// The filter graph manager: the object, its filter enumerator, its log, and building the graph
// by hand (IFilterGraph). The class is declared in FilterGraphManager.h.
#include "platform/posix/graph/FilterGraphManager.h"

namespace tw::posix::graph_manager {

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
    auto source = std::make_shared<FilterEnumerator::Source>();
    source->owner = ComPtr<IUnknown>::addref(static_cast<IFilterGraph2 *>(this));
    source->lock = &mutex_;
    source->take = [this](std::vector<IBaseFilter *> &filters) {
        for (auto &e : filters_) filters.push_back(e.filter.get());
        return version_;
    };
    source->version = [this] { return version_; };
    source->out_of_sync = VFW_E_ENUM_OUT_OF_SYNC;
    *ppEnum = new FilterEnumerator(std::move(source));
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

}  // namespace tw::posix::graph_manager

namespace tw::posix {

using graph_manager::FilterGraph;

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

