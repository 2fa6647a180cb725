// Base classes for the filters of our platform layer: the Stop/Pause/Run state machine written
// once with hooks, input and output pins with media type negotiation and the streaming path,
// a memory allocator with a fixed number of buffers, media samples, and a one-in one-out
// transform filter.
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
#include "platform/posix/object.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tw::posix {

class FilterImpl;
class MemAllocator;

// ---------------------------------------------------------------------------------------------
// Media sample: a buffer of a MemAllocator. Its count starts at 1 when GetBuffer hands it out;
// at 0 it goes back to the allocator's free list (it is never deleted by Release).
class MediaSample final : public IMediaSample {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetPointer(BYTE **ppBuffer) override;
    LONG STDMETHODCALLTYPE GetSize() override;
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME *pTimeStart, REFERENCE_TIME *pTimeEnd) override;
    HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME *pTimeStart, REFERENCE_TIME *pTimeEnd) override;
    HRESULT STDMETHODCALLTYPE IsSyncPoint() override;
    HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL bIsSyncPoint) override;
    HRESULT STDMETHODCALLTYPE IsPreroll() override;
    HRESULT STDMETHODCALLTYPE SetPreroll(BOOL bIsPreroll) override;
    LONG STDMETHODCALLTYPE GetActualDataLength() override;
    HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG len) override;
    HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE **ppMediaType) override;
    HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE *pMediaType) override;
    HRESULT STDMETHODCALLTYPE IsDiscontinuity() override;
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL bDiscontinuity) override;
    HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG *pTimeStart, LONGLONG *pTimeEnd) override;
    HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG *pTimeStart, LONGLONG *pTimeEnd) override;

private:
    friend class MemAllocator;
    MediaSample(MemAllocator *owner, BYTE *data, LONG size);
    ~MediaSample();
    void reset_properties();

    MemAllocator *owner_;  // not counted: the allocator owns its samples (see MemAllocator)
    std::atomic<ULONG> refs_{0};
    // Written by the one thread that holds the sample.
    BYTE *data_;
    LONG size_;
    LONG actual_ = 0;
    REFERENCE_TIME start_ = 0, stop_ = 0;
    bool has_start_ = false, has_stop_ = false;
    LONGLONG media_start_ = 0, media_stop_ = 0;
    bool has_media_time_ = false;
    bool sync_ = false, preroll_ = false, discontinuity_ = false;
    AM_MEDIA_TYPE *type_ = nullptr;  // task memory; set when the format changes with this sample
    LiveObject live_;
};

// ---------------------------------------------------------------------------------------------
// Allocator with a fixed number of buffers. GetBuffer blocks while every buffer is out, so a
// stream holds at most cBuffers buffers however fast its source is. Decommit wakes every
// blocked GetBuffer with VFW_E_NOT_COMMITTED; the memory goes when the last buffer comes back.
// A sample that is out holds a reference to its allocator, so the allocator outlives its
// samples.
class MemAllocator final : public ComObject<IMemAllocator> {
public:
    static ComPtr<IMemAllocator> create();

    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES *pRequest, ALLOCATOR_PROPERTIES *pActual) override;
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES *pProps) override;
    HRESULT STDMETHODCALLTYPE Commit() override;
    HRESULT STDMETHODCALLTYPE Decommit() override;
    // dwFlags: AM_GBF_NOWAIT gives VFW_E_TIMEOUT instead of blocking. The times, when given,
    // are set on the sample.
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample **ppBuffer, REFERENCE_TIME *pStartTime,
                                        REFERENCE_TIME *pEndTime, DWORD dwFlags) override;
    // Samples return themselves on their last Release; a caller cannot hand one back early.
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample *pBuffer) override;

    // Buffers currently handed out (tests and diagnostics).
    int outstanding() const;

protected:
    void *GetInterface(REFIID riid) override;

private:
    friend class MediaSample;
    MemAllocator() = default;
    ~MemAllocator() override;
    void give_back(MediaSample *s);  // from MediaSample::Release at count 0
    void free_memory_locked();

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable freed_;
    ALLOCATOR_PROPERTIES props_{0, 0, 1, 0};
    bool committed_ = false;
    std::vector<MediaSample *> all_;   // owned; deleted with the allocator or the memory
    std::vector<MediaSample *> free_;  // subset of all_ that is not handed out
    std::vector<void *> blocks_;       // the buffers' memory (one per sample)
};

// ---------------------------------------------------------------------------------------------
// Pins. A pin's name is also its Id (FindPin). Pins are created by their filter (normally in
// the filter's constructor) and handed to FilterImpl::add_pin.
class PinBase : public IPin {
public:
    // IUnknown: interfaces of the pin, counts of the filter.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **pPin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *pmt) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *pInfo) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *pPinDir) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *Id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *pmt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **ppEnum) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **apPin, ULONG *nPin) override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // ---- Hooks.
    // S_OK when the pin accepts mt for a connection (or a format change); any failure rejects.
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE &mt) = 0;
    // The pin's preferred types in order, index from 0: S_OK with *mt, VFW_S_NO_MORE_ITEMS past
    // the end. The default has none.
    virtual HRESULT GetMediaType(int index, MediaType *mt);
    // After both sides agreed on the type: a failure undoes the connection.
    virtual HRESULT CompleteConnect(IPin *peer);
    // After the connection is gone (either side disconnected this pin).
    virtual void BreakConnect();
    // The filter leaves Stopped (Active) or enters it (Inactive).
    virtual HRESULT Active();
    virtual HRESULT Inactive();

    // ---- For the filter and the streaming code.
    FilterImpl *filter() const { return filter_; }
    const tw::wstring &name() const { return name_; }
    PIN_DIRECTION direction() const { return dir_; }
    bool is_connected() const;
    ComPtr<IPin> peer() const;
    // The connection's type. Stable while the filter is not stopped.
    const MediaType &connection_type() const { return mt_; }
    REFERENCE_TIME segment_start() const { return seg_start_; }
    REFERENCE_TIME segment_stop() const { return seg_stop_; }
    double segment_rate() const { return seg_rate_; }

    virtual ~PinBase();

protected:
    PinBase(FilterImpl *filter, const WCHAR *name, PIN_DIRECTION dir);
    // Extra interfaces of a derived pin (already cast), or nullptr. IUnknown and IPin are
    // answered before this is asked.
    virtual void *GetPinInterface(REFIID riid);
    // VFW_E_NOT_STOPPED unless the filter is stopped.
    HRESULT check_stopped() const;
    // Sets or clears the connection fields (under the filter lock).
    void set_connection(IPin *peer, const AM_MEDIA_TYPE *mt);

    FilterImpl *filter_;  // not counted: the filter owns this pin; our counts go to it
    tw::wstring name_;
    PIN_DIRECTION dir_;
    // Guarded by filter_->lock(); changed only while the filter is stopped.
    ComPtr<IPin> connected_;
    MediaType mt_;
    // Written by NewSegment on the streaming thread.
    REFERENCE_TIME seg_start_ = 0, seg_stop_ = 0x7FFFFFFFFFFFFFFFLL;
    double seg_rate_ = 1.0;

private:
    LiveObject live_;
};

// Output pin: proposes its types (GetMediaType order), then the input pin's, until the input
// accepts one; picks the allocator (the input pin's, or one of ours) and commits it while the
// filter is not stopped.
class OutputPin : public PinBase {
public:
    OutputPin(FilterImpl *filter, const WCHAR *name);

    // Results: E_POINTER, VFW_E_ALREADY_CONNECTED, VFW_E_NOT_STOPPED, VFW_E_INVALID_DIRECTION;
    // a complete pmt that either side rejects gives VFW_E_TYPE_NOT_ACCEPTED (or the input's
    // own failure); a partial or null pmt with no type both accept gives
    // VFW_E_NO_ACCEPTABLE_TYPES; VFW_E_NO_TRANSPORT when the peer has no IMemInputPin.
    HRESULT STDMETHODCALLTYPE Connect(IPin *pReceivePin, const AM_MEDIA_TYPE *pmt) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *pConnector, const AM_MEDIA_TYPE *pmt) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    // Hook: the buffers this pin wants. `props` holds the input pin's requirements (or zeros);
    // the default asks for 4 buffers of max(lSampleSize, 64 KiB) unless the input asked for more.
    virtual void DecideBufferSize(const AM_MEDIA_TYPE &mt, ALLOCATOR_PROPERTIES *props);

    // ---- Streaming (on the filter's streaming thread). Not connected: VFW_E_NOT_CONNECTED.
    // Blocks while all buffers are out; VFW_E_NOT_COMMITTED once downstream or this filter stops.
    HRESULT GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start = nullptr,
                              REFERENCE_TIME *stop = nullptr, DWORD flags = 0);
    HRESULT Deliver(IMediaSample *sample);
    HRESULT DeliverEndOfStream();
    HRESULT DeliverBeginFlush();
    HRESULT DeliverEndFlush();
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    IMemAllocator *allocator() const { return allocator_.get(); }

    HRESULT Active() override;
    HRESULT Inactive() override;
    void BreakConnect() override;

protected:
    HRESULT CompleteConnect(IPin *peer) override;

private:
    HRESULT attempt(IPin *receive, const AM_MEDIA_TYPE &mt);
    HRESULT decide_allocator(IMemInputPin *input);

    // Set while connected (filter stopped), read by the streaming thread.
    ComPtr<IMemInputPin> input_;
    ComPtr<IMemAllocator> allocator_;
};

// Input pin: receives on the upstream thread. While the filter is stopped Receive gives
// VFW_E_WRONG_STATE, while flushing S_FALSE, after end of stream VFW_E_SAMPLE_REJECTED_EOS.
// Inactive (Stop) waits until a Receive or EndOfStream in progress has returned.
class InputPin : public PinBase, public IMemInputPin {
public:
    InputPin(FilterImpl *filter, const WCHAR *name);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override { return PinBase::QueryInterface(riid, ppv); }
    ULONG STDMETHODCALLTYPE AddRef() override { return PinBase::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return PinBase::Release(); }

    HRESULT STDMETHODCALLTYPE Connect(IPin *pReceivePin, const AM_MEDIA_TYPE *pmt) override;
    // Results: E_POINTER, VFW_E_ALREADY_CONNECTED, VFW_E_NOT_STOPPED, VFW_E_INVALID_DIRECTION,
    // VFW_E_TYPE_NOT_ACCEPTED (CheckMediaType refused) or CompleteConnect's failure.
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *pConnector, const AM_MEDIA_TYPE *pmt) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator **ppAllocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator *pAllocator, BOOL bReadOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES *pProps) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample *pSample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample **pSamples, LONG nSamples, LONG *nSamplesProcessed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    // ---- Hooks, called on the upstream thread (OnBeginFlush/OnEndFlush on the caller's).
    // The sample is valid for the call; AddRef it to keep it (and give it back soon: it is one
    // of a fixed number of buffers upstream).
    virtual HRESULT OnReceive(IMediaSample *sample) = 0;
    virtual HRESULT OnEndOfStream();
    virtual HRESULT OnBeginFlush();
    virtual HRESULT OnEndFlush();
    virtual HRESULT OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    // Requirements reported to the upstream allocator; the default has none (E_NOTIMPL, as the
    // interface allows).
    virtual HRESULT OnGetAllocatorRequirements(ALLOCATOR_PROPERTIES *props);

    bool flushing() const { return flushing_; }
    bool end_of_stream() const { return eos_; }

    HRESULT Active() override;
    HRESULT Inactive() override;
    void BreakConnect() override;

protected:
    void *GetPinInterface(REFIID riid) override;

private:
    // Enters a streaming call: false (with *hr) when the pin may not take it now.
    bool enter(HRESULT *hr, bool sample);
    void leave();

    std::mutex stream_mutex_;  // guards active_, busy_
    std::condition_variable idle_;
    bool active_ = false;  // the filter is paused or running
    int busy_ = 0;         // Receive/EndOfStream/NewSegment calls in progress
    std::atomic<bool> flushing_{false};
    std::atomic<bool> eos_{false};
    ComPtr<IMemAllocator> allocator_;  // ours (GetAllocator) or the one NotifyAllocator gave; filter lock
    ComPtr<IMemAllocator> own_allocator_;
};

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
    friend class PinEnumerator;
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
// Transform filter: one input pin, one output pin; each input sample is transformed on the
// upstream thread into a buffer of the output's allocator and delivered downstream. End of
// stream, flushes and new segments pass downstream. The output's types come from the input's.
class TransformFilter : public BaseFilter<> {
public:
    class In;
    class Out;

protected:
    TransformFilter(const CLSID &clsid, const WCHAR *input_name = OLESTR("Input"),
                    const WCHAR *output_name = OLESTR("Output"));

    // S_OK when the filter can take mt as input.
    virtual HRESULT CheckInputType(const AM_MEDIA_TYPE &mt) = 0;
    // The output types for the connected input type `in`, index from 0; VFW_S_NO_MORE_ITEMS.
    virtual HRESULT GetOutputType(const AM_MEDIA_TYPE &in, int index, MediaType *out) = 0;
    // S_OK when mt is an output the filter can make from `in`. Default: one of GetOutputType's.
    virtual HRESULT CheckOutputType(const AM_MEDIA_TYPE &in, const AM_MEDIA_TYPE &out);
    // Output buffers (see OutputPin::DecideBufferSize). Default: the output pin's default.
    virtual void DecideBufferSize(const AM_MEDIA_TYPE &out, ALLOCATOR_PROPERTIES *props);
    // Fills `out` from `in` (times, flags and length included). S_FALSE drops the sample.
    virtual HRESULT Transform(IMediaSample *in, IMediaSample *out) = 0;
    // Receive: the default gets one output buffer, copies the times and flags of `in`, calls
    // Transform and delivers. Filters that make several outputs per input override it.
    virtual HRESULT Receive(IMediaSample *in);
    // End of stream on the input: the default passes it on (decoders flush delayed data first).
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    InputPin *input() const;
    OutputPin *output() const;

private:
    In *in_;
    Out *out_;
};

// ---------------------------------------------------------------------------------------------
// A source filter's streaming threads are std::jthread: started from OnPause(State_Stopped),
// stopped and joined from OnStop (assigning an empty std::jthread does both). A body blocked
// in GetDeliveryBuffer or Deliver returns because Stop decommits the allocators first.

}  // namespace tw::posix
