// The filter graph manager: seeking, by asking the filters.
#include "platform/posix/graph/FilterGraphManager.h"

namespace tw::posix::graph_manager {

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

}  // namespace tw::posix::graph_manager
