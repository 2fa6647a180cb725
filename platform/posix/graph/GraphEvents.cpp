// The filter graph manager: the event queue.
#include "platform/posix/graph/FilterGraphManager.h"

namespace tw::posix::graph_manager {

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

}  // namespace tw::posix::graph_manager
