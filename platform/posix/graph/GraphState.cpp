// The filter graph manager: state changes and the clock.
#include "platform/posix/graph/FilterGraphManager.h"

namespace tw::posix::graph_manager {

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

}  // namespace tw::posix::graph_manager
