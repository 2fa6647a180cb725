#include "platform/posix/graph/Pins.h"

#include "platform/posix/graph/BaseFilter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tw::posix {

// =============================================================================================
// Media type enumerator: over the types the pin offered when it was made.

namespace {

AM_MEDIA_TYPE *copy_type(const MediaType &mt) { return mt.create_copy(); }
using MediaTypeEnumerator = Enumerator<IEnumMediaTypes, AM_MEDIA_TYPE, MediaType, copy_type>;

}  // namespace


// =============================================================================================
// PinBase

PinBase::PinBase(FilterImpl *filter, const WCHAR *name, PIN_DIRECTION dir)
    : filter_(filter), name_(name ? name : OLESTR("")), dir_(dir) {}

PinBase::~PinBase() = default;

HRESULT PinBase::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    void *p = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IPin))
        p = static_cast<IPin *>(this);
    else
        p = GetPinInterface(riid);
    *ppv = p;
    if (!p) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG PinBase::AddRef() { return filter_->AddRef(); }
ULONG PinBase::Release() { return filter_->Release(); }

void *PinBase::GetPinInterface(REFIID) { return nullptr; }

HRESULT PinBase::check_stopped() const { return filter_->state() == State_Stopped ? S_OK : VFW_E_NOT_STOPPED; }

bool PinBase::is_connected() const {
    std::lock_guard<std::mutex> g(filter_->lock());
    return static_cast<bool>(connected_);
}

ComPtr<IPin> PinBase::peer() const {
    std::lock_guard<std::mutex> g(filter_->lock());
    return connected_;
}

void PinBase::set_connection(IPin *peer, const AM_MEDIA_TYPE *mt) {
    ComPtr<IPin> old;
    {
        std::lock_guard<std::mutex> g(filter_->lock());
        old = std::move(connected_);
        connected_ = ComPtr<IPin>::addref(peer);
        if (mt)
            mt_.assign(*mt);
        else
            mt_.clear();
    }
    // `old` is released here, outside the lock.
}

HRESULT PinBase::Disconnect() {
    {
        std::lock_guard<std::mutex> g(filter_->lock());
        if (!filter_->is_stopped_locked()) return VFW_E_NOT_STOPPED;
        if (!connected_) return S_FALSE;
    }
    set_connection(nullptr, nullptr);
    BreakConnect();
    return S_OK;
}

HRESULT PinBase::ConnectedTo(IPin **pPin) {
    if (!pPin) return E_POINTER;
    ComPtr<IPin> p = peer();
    *pPin = p.detach();
    return *pPin ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT PinBase::ConnectionMediaType(AM_MEDIA_TYPE *pmt) {
    if (!pmt) return E_POINTER;
    std::lock_guard<std::mutex> g(filter_->lock());
    if (!connected_) {
        std::memset(pmt, 0, sizeof(*pmt));
        return VFW_E_NOT_CONNECTED;
    }
    return mt_.copy_to(pmt);
}

HRESULT PinBase::QueryPinInfo(PIN_INFO *pInfo) {
    if (!pInfo) return E_POINTER;
    std::memset(pInfo, 0, sizeof(*pInfo));
    pInfo->pFilter = filter_;
    filter_->AddRef();
    pInfo->dir = dir_;
    size_t n = std::min<size_t>(name_.size(), MAX_PIN_NAME - 1);
    std::copy(name_.begin(), name_.begin() + n, pInfo->achName);
    return S_OK;
}

HRESULT PinBase::QueryDirection(PIN_DIRECTION *pPinDir) {
    if (!pPinDir) return E_POINTER;
    *pPinDir = dir_;
    return S_OK;
}

HRESULT PinBase::QueryId(LPWSTR *Id) {
    if (!Id) return E_POINTER;
    auto *p = static_cast<WCHAR *>(CoTaskMemAlloc((name_.size() + 1) * sizeof(WCHAR)));
    if (!p) return E_OUTOFMEMORY;
    std::copy(name_.begin(), name_.end(), p);
    p[name_.size()] = 0;
    *Id = p;
    return S_OK;
}

HRESULT PinBase::QueryAccept(const AM_MEDIA_TYPE *pmt) {
    if (!pmt) return E_POINTER;
    return CheckMediaType(*pmt) == S_OK ? S_OK : S_FALSE;
}

HRESULT PinBase::EnumMediaTypes(IEnumMediaTypes **ppEnum) {
    if (!ppEnum) return E_POINTER;
    std::vector<MediaType> types;
    for (int i = 0;; ++i) {
        MediaType mt;
        if (GetMediaType(i, &mt) != S_OK) break;
        types.push_back(std::move(mt));
    }
    auto source = std::make_shared<MediaTypeEnumerator::Source>();
    source->owner = ComPtr<IUnknown>::addref(static_cast<IPin *>(this));  // keeps the filter too
    *ppEnum = new MediaTypeEnumerator(std::move(source), std::move(types));
    return S_OK;
}

HRESULT PinBase::QueryInternalConnections(IPin **, ULONG *) { return E_NOTIMPL; }

HRESULT PinBase::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    seg_start_ = tStart;
    seg_stop_ = tStop;
    seg_rate_ = dRate;
    return S_OK;
}

HRESULT PinBase::GetMediaType(int, MediaType *) { return VFW_S_NO_MORE_ITEMS; }
HRESULT PinBase::CompleteConnect(IPin *) { return S_OK; }
void PinBase::BreakConnect() {}
HRESULT PinBase::Active() { return S_OK; }
HRESULT PinBase::Inactive() { return S_OK; }

// =============================================================================================
// OutputPin

OutputPin::OutputPin(FilterImpl *filter, const WCHAR *name) : PinBase(filter, name, PINDIR_OUTPUT) {}

HRESULT OutputPin::Connect(IPin *pReceivePin, const AM_MEDIA_TYPE *pmt) {
    if (!pReceivePin) return E_POINTER;
    {
        std::lock_guard<std::mutex> g(filter_->lock());
        if (connected_) return VFW_E_ALREADY_CONNECTED;
        if (!filter_->is_stopped_locked()) return VFW_E_NOT_STOPPED;
    }
    PIN_DIRECTION d;
    if (FAILED(pReceivePin->QueryDirection(&d)) || d != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;

    if (pmt && !tw::posix::is_partial(*pmt)) {
        if (CheckMediaType(*pmt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        HRESULT hr = attempt(pReceivePin, *pmt);
        return hr;
    }

    // Our types first, then the input pin's; each one that fits the partial type and that we
    // accept ourselves is offered to the input.
    auto try_types = [&](IEnumMediaTypes *types) -> HRESULT {
        AM_MEDIA_TYPE *mt = nullptr;
        ULONG got = 0;
        while (types->Next(1, &mt, &got) == S_OK && got == 1) {
            bool ok = (!pmt || matches_partial(*mt, *pmt)) && CheckMediaType(*mt) == S_OK;
            HRESULT hr = ok ? attempt(pReceivePin, *mt) : VFW_E_TYPE_NOT_ACCEPTED;
            DeleteMediaType(mt);
            mt = nullptr;
            if (SUCCEEDED(hr)) return hr;
        }
        return VFW_E_NO_ACCEPTABLE_TYPES;
    };
    ComPtr<IEnumMediaTypes> ours;
    if (SUCCEEDED(EnumMediaTypes(ours.out())) && SUCCEEDED(try_types(ours.get()))) return S_OK;
    ComPtr<IEnumMediaTypes> theirs;
    if (SUCCEEDED(pReceivePin->EnumMediaTypes(theirs.out())) && theirs && SUCCEEDED(try_types(theirs.get())))
        return S_OK;
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT OutputPin::attempt(IPin *receive, const AM_MEDIA_TYPE &mt) {
    // The connection is in place before the input is asked, as it may look at us.
    set_connection(receive, &mt);
    HRESULT hr = receive->ReceiveConnection(this, &mt);
    if (FAILED(hr)) {
        set_connection(nullptr, nullptr);
        return hr;
    }
    hr = CompleteConnect(receive);
    if (FAILED(hr)) {
        receive->Disconnect();
        set_connection(nullptr, nullptr);
        BreakConnect();
        return hr;
    }
    return S_OK;
}

HRESULT OutputPin::CompleteConnect(IPin *peer) {
    ComPtr<IMemInputPin> input;
    if (FAILED(peer->QueryInterface(IID_IMemInputPin, input.out_void())) || !input) return VFW_E_NO_TRANSPORT;
    HRESULT hr = decide_allocator(input.get());
    if (FAILED(hr)) return hr;
    input_ = std::move(input);
    return S_OK;
}

void OutputPin::DecideBufferSize(const AM_MEDIA_TYPE &mt, ALLOCATOR_PROPERTIES *props) {
    props->cBuffers = std::max<LONG>(props->cBuffers, 4);
    LONG want = std::max<LONG>(static_cast<LONG>(mt.lSampleSize), 64 * 1024);
    props->cbBuffer = std::max<LONG>(props->cbBuffer, want);
    if (props->cbAlign <= 0) props->cbAlign = 1;
}

HRESULT OutputPin::decide_allocator(IMemInputPin *input) {
    ALLOCATOR_PROPERTIES req{0, 0, 0, 0};
    if (FAILED(input->GetAllocatorRequirements(&req))) req = ALLOCATOR_PROPERTIES{0, 0, 0, 0};
    DecideBufferSize(mt_.get(), &req);

    ComPtr<IMemAllocator> alloc;
    ALLOCATOR_PROPERTIES actual{};
    if (SUCCEEDED(input->GetAllocator(alloc.out())) && alloc && SUCCEEDED(alloc->SetProperties(&req, &actual)) &&
        SUCCEEDED(input->NotifyAllocator(alloc.get(), FALSE))) {
        allocator_ = std::move(alloc);
        return S_OK;
    }
    alloc = MemAllocator::create();
    HRESULT hr = alloc->SetProperties(&req, &actual);
    if (FAILED(hr)) return hr;
    hr = input->NotifyAllocator(alloc.get(), FALSE);
    if (FAILED(hr)) return hr;
    allocator_ = std::move(alloc);
    return S_OK;
}

void OutputPin::BreakConnect() {
    if (allocator_) allocator_->Decommit();
    allocator_ = nullptr;
    input_ = nullptr;
}

HRESULT OutputPin::ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) { return E_UNEXPECTED; }
HRESULT OutputPin::EndOfStream() { return E_UNEXPECTED; }
HRESULT OutputPin::BeginFlush() { return E_UNEXPECTED; }
HRESULT OutputPin::EndFlush() { return E_UNEXPECTED; }

HRESULT OutputPin::Active() { return allocator_ ? allocator_->Commit() : S_OK; }
HRESULT OutputPin::Inactive() { return allocator_ ? allocator_->Decommit() : S_OK; }

HRESULT OutputPin::GetDeliveryBuffer(IMediaSample **sample, REFERENCE_TIME *start, REFERENCE_TIME *stop,
                                     DWORD flags) {
    if (!sample) return E_POINTER;
    *sample = nullptr;
    if (!allocator_) return VFW_E_NOT_CONNECTED;
    return allocator_->GetBuffer(sample, start, stop, flags);
}

HRESULT OutputPin::Deliver(IMediaSample *sample) {
    if (!input_) return VFW_E_NOT_CONNECTED;
    return input_->Receive(sample);
}

HRESULT OutputPin::DeliverEndOfStream() {
    ComPtr<IPin> p = connected_;
    return p ? p->EndOfStream() : VFW_E_NOT_CONNECTED;
}
HRESULT OutputPin::DeliverBeginFlush() {
    ComPtr<IPin> p = connected_;
    return p ? p->BeginFlush() : VFW_E_NOT_CONNECTED;
}
HRESULT OutputPin::DeliverEndFlush() {
    ComPtr<IPin> p = connected_;
    return p ? p->EndFlush() : VFW_E_NOT_CONNECTED;
}
HRESULT OutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    PinBase::NewSegment(start, stop, rate);
    ComPtr<IPin> p = connected_;
    return p ? p->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}

// =============================================================================================
// InputPin

InputPin::InputPin(FilterImpl *filter, const WCHAR *name) : PinBase(filter, name, PINDIR_INPUT) {}

void *InputPin::GetPinInterface(REFIID riid) {
    if (IsEqualGUID(riid, IID_IMemInputPin)) return static_cast<IMemInputPin *>(this);
    return nullptr;
}

HRESULT InputPin::Connect(IPin *, const AM_MEDIA_TYPE *) { return E_UNEXPECTED; }

HRESULT InputPin::ReceiveConnection(IPin *pConnector, const AM_MEDIA_TYPE *pmt) {
    if (!pConnector || !pmt) return E_POINTER;
    {
        std::lock_guard<std::mutex> g(filter_->lock());
        if (connected_) return VFW_E_ALREADY_CONNECTED;
        if (!filter_->is_stopped_locked()) return VFW_E_NOT_STOPPED;
    }
    PIN_DIRECTION d;
    if (FAILED(pConnector->QueryDirection(&d)) || d != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (CheckMediaType(*pmt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    set_connection(pConnector, pmt);
    HRESULT hr = CompleteConnect(pConnector);
    if (FAILED(hr)) {
        set_connection(nullptr, nullptr);
        BreakConnect();
        return hr;
    }
    return S_OK;
}

void InputPin::BreakConnect() {
    ComPtr<IMemAllocator> a;
    {
        std::lock_guard<std::mutex> g(filter_->lock());
        a = std::move(allocator_);
    }
}

HRESULT InputPin::GetAllocator(IMemAllocator **ppAllocator) {
    if (!ppAllocator) return E_POINTER;
    std::lock_guard<std::mutex> g(filter_->lock());
    if (!own_allocator_) own_allocator_ = MemAllocator::create();
    *ppAllocator = ComPtr<IMemAllocator>(own_allocator_).detach();
    return S_OK;
}

HRESULT InputPin::NotifyAllocator(IMemAllocator *pAllocator, BOOL) {
    if (!pAllocator) return E_POINTER;
    ComPtr<IMemAllocator> old;
    std::lock_guard<std::mutex> g(filter_->lock());
    old = std::move(allocator_);
    allocator_ = ComPtr<IMemAllocator>::addref(pAllocator);
    return S_OK;
}

HRESULT InputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES *pProps) {
    if (!pProps) return E_POINTER;
    return OnGetAllocatorRequirements(pProps);
}

HRESULT InputPin::OnGetAllocatorRequirements(ALLOCATOR_PROPERTIES *) { return E_NOTIMPL; }

bool InputPin::enter(HRESULT *hr, bool sample) {
    std::lock_guard<std::mutex> g(stream_mutex_);
    if (!active_) {
        *hr = VFW_E_WRONG_STATE;
        return false;
    }
    if (flushing_) {
        *hr = S_FALSE;
        return false;
    }
    if (eos_) {
        *hr = sample ? VFW_E_SAMPLE_REJECTED_EOS : S_OK;
        return false;
    }
    ++busy_;
    return true;
}

void InputPin::leave() {
    std::lock_guard<std::mutex> g(stream_mutex_);
    if (--busy_ == 0) idle_.notify_all();
}

HRESULT InputPin::Receive(IMediaSample *pSample) {
    if (!pSample) return E_POINTER;
    HRESULT hr = S_OK;
    if (!enter(&hr, true)) return hr;
    // A sample that carries a media type changes the connection's format from here on.
    AM_MEDIA_TYPE *changed = nullptr;
    if (pSample->GetMediaType(&changed) == S_OK && changed) {
        if (CheckMediaType(*changed) != S_OK) {
            DeleteMediaType(changed);
            leave();
            return VFW_E_INVALIDMEDIATYPE;
        }
        {
            std::lock_guard<std::mutex> g(filter_->lock());
            mt_.assign(*changed);
        }
        DeleteMediaType(changed);
    }
    hr = OnReceive(pSample);
    leave();
    return hr;
}

HRESULT InputPin::ReceiveMultiple(IMediaSample **pSamples, LONG nSamples, LONG *nSamplesProcessed) {
    if (!pSamples || !nSamplesProcessed) return E_POINTER;
    *nSamplesProcessed = 0;
    HRESULT hr = S_OK;
    for (LONG i = 0; i < nSamples; ++i) {
        hr = Receive(pSamples[i]);
        if (hr != S_OK) break;
        ++*nSamplesProcessed;
    }
    return hr;
}

HRESULT InputPin::ReceiveCanBlock() { return S_OK; }

HRESULT InputPin::EndOfStream() {
    HRESULT hr = S_OK;
    if (!enter(&hr, false)) return hr;
    eos_ = true;
    hr = OnEndOfStream();
    leave();
    return hr;
}

HRESULT InputPin::BeginFlush() {
    flushing_ = true;
    return OnBeginFlush();
}

HRESULT InputPin::EndFlush() {
    {
        // A Receive that was in progress when the flush began has returned before the stream
        // starts again.
        std::unique_lock<std::mutex> g(stream_mutex_);
        idle_.wait(g, [&] { return busy_ == 0; });
    }
    HRESULT hr = OnEndFlush();
    eos_ = false;
    flushing_ = false;
    return hr;
}

HRESULT InputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    PinBase::NewSegment(tStart, tStop, dRate);
    {
        // Counted like a Receive, so that Stop waits for it before its hooks reset the filter's
        // stream state. A pin that is not active keeps the segment and passes nothing on.
        std::lock_guard<std::mutex> g(stream_mutex_);
        if (!active_) return S_OK;
        ++busy_;
    }
    HRESULT hr = OnNewSegment(tStart, tStop, dRate);
    leave();
    return hr;
}

HRESULT InputPin::OnEndOfStream() { return S_OK; }
HRESULT InputPin::OnBeginFlush() { return S_OK; }
HRESULT InputPin::OnEndFlush() { return S_OK; }
HRESULT InputPin::OnNewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

HRESULT InputPin::Active() {
    std::lock_guard<std::mutex> g(stream_mutex_);
    active_ = true;
    eos_ = false;
    flushing_ = false;
    return S_OK;
}

HRESULT InputPin::Inactive() {
    ComPtr<IMemAllocator> a;
    {
        std::lock_guard<std::mutex> g(filter_->lock());
        a = allocator_;
    }
    {
        std::lock_guard<std::mutex> g(stream_mutex_);
        active_ = false;
    }
    // Wakes an upstream thread waiting for one of our buffers, so a Receive in progress that
    // waits on it downstream can finish too.
    if (a) a->Decommit();
    std::unique_lock<std::mutex> g(stream_mutex_);
    idle_.wait(g, [&] { return busy_ == 0; });
    return S_OK;
}

}  // namespace tw::posix
