// Input and output pins: connection and media type negotiation, allocators, and the streaming
// path (Receive, EndOfStream, flushes). Their connection fields are guarded by their filter's
// lock (see BaseFilter.h).
#pragma once

#include "platform/directshow.h"
#include "platform/posix/graph/MediaSample.h"
#include "platform/posix/graph/MediaType.h"
#include "platform/posix/object.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace tw::posix {

class FilterImpl;

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

}  // namespace tw::posix
