// Base classes for the filters of our platform layer: the Stop/Pause/Run state machine written
// once with hooks (here), input and output pins with media type negotiation and the streaming
// path (Pins.h), a memory allocator with a fixed number of buffers and its media samples
// (MediaSample.h), and a one-in one-out transform filter (TransformFilter.h).
//
// Threads. The graph calls IMediaFilter and the connection methods on the application thread.
// Streaming threads belong to source filters; every other filter receives on the thread of the
// filter upstream of it (InputPin::Receive runs the transform and delivers downstream on that
// thread). A filter's OnStop hook joins its streaming threads, so once Stop has returned no
// thread of the filter delivers any more.
//
// Ownership. The graph owns its filters; a filter keeps a NON-counted pointer to its graph (a
// counted one would be a cycle). A filter owns its pins: pins have no count of their own, their
// AddRef/Release go to the filter, so a pin reference keeps the whole filter alive. A connected
// pin holds a counted reference to its peer; the graph breaks connections before it releases
// its filters.
//
// Locks. FilterImpl::lock() guards the filter's state, clock, name, graph pointer, pin list
// and every pin's connection fields. Connection fields change only while the filter is
// stopped, so streaming code reads them without the lock. The allocator has its own lock for
// its free list. No lock is held while calling out (downstream pin, graph, event sink, peer).
#pragma once

#include "platform/directshow.h"
#include "platform/posix/graph/MediaType.h"
#include "platform/posix/graph/Pins.h"
#include "platform/posix/object.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tw::posix {

using PinEnumerator = Enumerator<IEnumPins, IPin>;

// ---------------------------------------------------------------------------------------------
// The filter. Derive from BaseFilter<Extra interfaces...> (below), create pins in the
// constructor with add_pin, and override the hooks.
class FilterImpl : public IBaseFilter {
public:
    // IPersist / IMediaFilter. Stop, Pause and Run are the state machine:
    //  - Pause from Stopped: every pin Active (allocators committed), then OnPause(State_Stopped).
    //  - Run from Stopped pauses first; Run stores the stream start time, then OnRun.
    //  - Stop: state Stopped, every pin Inactive (allocators decommitted, which wakes a streaming
    //    thread blocked in GetBuffer; input pins wait for a Receive in progress), then OnStop,
    //    which joins the filter's streaming threads.
    // A hook's failure is returned; the state change stands. A hook's S_FALSE (transition not
    // finished, e.g. a renderer waiting for its first sample) is returned as S_FALSE.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *pClassID) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD dwMilliSecsTimeout, FILTER_STATE *State) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *pClock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **pClock) override;

    // IBaseFilter.
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **ppEnum) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR Id, IPin **ppPin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *pInfo) override;
    // Keeps pGraph and the graph's IMediaEventSink without counting them (the graph owns us).
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *pGraph, LPCWSTR pName) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *pVendorInfo) override;

    // ---- For derived filters.
    std::mutex &lock() const { return mutex_; }
    FILTER_STATE state() const;
    // The same, for a caller that holds lock().
    bool is_stopped_locked() const { return state_ == State_Stopped; }
    REFERENCE_TIME start_time() const;
    ComPtr<IReferenceClock> clock() const;
    IFilterGraph *graph() const;  // not counted; null outside a graph
    tw::wstring filter_name() const;
    // Sends an event to the graph (IMediaEventSink::Notify); S_FALSE when not in a graph.
    // Safe from any thread as long as the filter is in the graph.
    HRESULT NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);
    // EC_COMPLETE for this filter (renderers and sinks, once every input reached its end).
    HRESULT NotifyComplete(HRESULT status = S_OK);

    // Adds a pin the filter owns from now on; returns it.
    template <class P>
    P *add_pin(std::unique_ptr<P> pin) {
        P *raw = pin.get();
        add_pin_base(std::unique_ptr<PinBase>(std::move(pin)));
        return raw;
    }
    int pin_count() const;
    PinBase *pin_at(int index) const;  // the pin stays as long as the filter

protected:
    FilterImpl();
    virtual ~FilterImpl();

    // Hooks (application thread; no lock held). Default: S_OK.
    virtual HRESULT OnPause(FILTER_STATE previous);
    virtual HRESULT OnRun(REFERENCE_TIME start);
    virtual HRESULT OnStop();
    // Asked by GetState after the state is known: VFW_S_STATE_INTERMEDIATE while a transition
    // is unfinished (the hook may wait up to `timeout` ms), VFW_S_CANT_CUE for a live source
    // that is paused. Default S_OK.
    virtual HRESULT OnGetState(DWORD timeout, FILTER_STATE state);

    CLSID clsid_{};  // what GetClassID reports; set by the derived constructor

private:
    void add_pin_base(std::unique_ptr<PinBase> pin);
    std::vector<PinBase *> pins_snapshot() const;

    mutable std::mutex mutex_;
    FILTER_STATE state_ = State_Stopped;
    REFERENCE_TIME start_ = 0;
    ComPtr<IReferenceClock> clock_;
    IFilterGraph *graph_ = nullptr;     // not counted: the graph owns this filter
    IMediaEventSink *sink_ = nullptr;   // not counted, for the same reason
    tw::wstring name_;
    std::vector<std::unique_ptr<PinBase>> pins_;
    int pins_version_ = 0;  // changes when a pin is added: enumerators go out of sync
};

template <class... Others>
class BaseFilter : public ComObject<FilterImpl, Others...> {
protected:
    explicit BaseFilter(const CLSID &clsid) { this->clsid_ = clsid; }
    // Derived filters answer their own interfaces and then call this.
    void *GetInterface(REFIID riid) override {
        if (void *p = this->template answer<IBaseFilter>(riid)) return p;
        if (void *p = this->template answer<IMediaFilter, IBaseFilter>(riid)) return p;
        if (void *p = this->template answer<IPersist, IBaseFilter>(riid)) return p;
        return nullptr;
    }
};

// ---------------------------------------------------------------------------------------------
// A source filter's streaming threads are std::jthread: started from OnPause(State_Stopped),
// stopped and joined from OnStop (assigning an empty std::jthread does both). A body blocked
// in GetDeliveryBuffer or Deliver returns because Stop decommits the allocators first.

}  // namespace tw::posix
