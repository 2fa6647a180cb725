#include "platform/posix/graph/BaseFilter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tw::posix {

// =============================================================================================
// MediaSample

MediaSample::MediaSample(MemAllocator *owner, BYTE *data, LONG size) : owner_(owner), data_(data), size_(size) {}

MediaSample::~MediaSample() { DeleteMediaType(type_); }

void MediaSample::reset_properties() {
    actual_ = 0;
    has_start_ = has_stop_ = has_media_time_ = false;
    sync_ = preroll_ = discontinuity_ = false;
    DeleteMediaType(type_);
    type_ = nullptr;
}

HRESULT MediaSample::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IMediaSample)) {
        *ppv = static_cast<IMediaSample *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG MediaSample::AddRef() { return ++refs_; }

ULONG MediaSample::Release() {
    ULONG n = --refs_;
    if (n == 0) owner_->give_back(this);  // may destroy the allocator and this sample with it
    return n;
}

HRESULT MediaSample::GetPointer(BYTE **ppBuffer) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = data_;
    return S_OK;
}

LONG MediaSample::GetSize() { return size_; }

HRESULT MediaSample::GetTime(REFERENCE_TIME *pTimeStart, REFERENCE_TIME *pTimeEnd) {
    if (!pTimeStart || !pTimeEnd) return E_POINTER;
    if (!has_start_) return VFW_E_SAMPLE_TIME_NOT_SET;
    *pTimeStart = start_;
    if (!has_stop_) {
        *pTimeEnd = start_ + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *pTimeEnd = stop_;
    return S_OK;
}

HRESULT MediaSample::SetTime(REFERENCE_TIME *pTimeStart, REFERENCE_TIME *pTimeEnd) {
    has_start_ = pTimeStart != nullptr;
    has_stop_ = pTimeStart && pTimeEnd;
    if (pTimeStart) start_ = *pTimeStart;
    if (pTimeStart && pTimeEnd) stop_ = *pTimeEnd;
    return S_OK;
}

HRESULT MediaSample::IsSyncPoint() { return sync_ ? S_OK : S_FALSE; }
HRESULT MediaSample::SetSyncPoint(BOOL b) {
    sync_ = b != FALSE;
    return S_OK;
}
HRESULT MediaSample::IsPreroll() { return preroll_ ? S_OK : S_FALSE; }
HRESULT MediaSample::SetPreroll(BOOL b) {
    preroll_ = b != FALSE;
    return S_OK;
}
LONG MediaSample::GetActualDataLength() { return actual_; }
HRESULT MediaSample::SetActualDataLength(LONG len) {
    if (len < 0 || len > size_) return VFW_E_BUFFER_OVERFLOW;
    actual_ = len;
    return S_OK;
}

HRESULT MediaSample::GetMediaType(AM_MEDIA_TYPE **ppMediaType) {
    if (!ppMediaType) return E_POINTER;
    *ppMediaType = nullptr;
    if (!type_) return S_FALSE;
    *ppMediaType = CreateMediaType(type_);
    return *ppMediaType ? S_OK : E_OUTOFMEMORY;
}

HRESULT MediaSample::SetMediaType(AM_MEDIA_TYPE *pMediaType) {
    DeleteMediaType(type_);
    type_ = nullptr;
    if (!pMediaType) return S_OK;
    type_ = CreateMediaType(pMediaType);
    return type_ ? S_OK : E_OUTOFMEMORY;
}

HRESULT MediaSample::IsDiscontinuity() { return discontinuity_ ? S_OK : S_FALSE; }
HRESULT MediaSample::SetDiscontinuity(BOOL b) {
    discontinuity_ = b != FALSE;
    return S_OK;
}

HRESULT MediaSample::GetMediaTime(LONGLONG *pTimeStart, LONGLONG *pTimeEnd) {
    if (!pTimeStart || !pTimeEnd) return E_POINTER;
    if (!has_media_time_) return VFW_E_MEDIA_TIME_NOT_SET;
    *pTimeStart = media_start_;
    *pTimeEnd = media_stop_;
    return S_OK;
}

HRESULT MediaSample::SetMediaTime(LONGLONG *pTimeStart, LONGLONG *pTimeEnd) {
    if (!pTimeStart) {
        has_media_time_ = false;
        return S_OK;
    }
    if (!pTimeEnd) return E_POINTER;
    media_start_ = *pTimeStart;
    media_stop_ = *pTimeEnd;
    has_media_time_ = true;
    return S_OK;
}

// =============================================================================================
// MemAllocator

ComPtr<IMemAllocator> MemAllocator::create() { return ComPtr<IMemAllocator>::adopt(new MemAllocator()); }

MemAllocator::~MemAllocator() {
    // No sample can be out: each one out holds a reference to us.
    for (MediaSample *s : all_) delete s;
    for (void *b : blocks_) std::free(b);
}

void *MemAllocator::GetInterface(REFIID riid) { return answer<IMemAllocator>(riid); }

HRESULT MemAllocator::SetProperties(ALLOCATOR_PROPERTIES *pRequest, ALLOCATOR_PROPERTIES *pActual) {
    if (!pRequest || !pActual) return E_POINTER;
    std::lock_guard<std::mutex> g(mutex_);
    if (committed_) return VFW_E_ALREADY_COMMITTED;
    if (all_.size() != free_.size()) return VFW_E_BUFFERS_OUTSTANDING;
    LONG align = pRequest->cbAlign ? pRequest->cbAlign : 1;
    if (align < 0 || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
    if (pRequest->cBuffers < 0 || pRequest->cbBuffer < 0 || pRequest->cbPrefix < 0) return E_INVALIDARG;
    free_memory_locked();
    props_.cBuffers = std::max<LONG>(pRequest->cBuffers, 1);
    props_.cbBuffer = pRequest->cbBuffer;
    props_.cbAlign = align;
    props_.cbPrefix = pRequest->cbPrefix;
    *pActual = props_;
    return S_OK;
}

HRESULT MemAllocator::GetProperties(ALLOCATOR_PROPERTIES *pProps) {
    if (!pProps) return E_POINTER;
    std::lock_guard<std::mutex> g(mutex_);
    *pProps = props_;
    return S_OK;
}

HRESULT MemAllocator::Commit() {
    std::lock_guard<std::mutex> g(mutex_);
    if (props_.cbBuffer <= 0) return VFW_E_SIZENOTSET;
    if (committed_) return S_OK;
    if (all_.empty()) {
        size_t align = static_cast<size_t>(props_.cbAlign);
        size_t prefix = static_cast<size_t>(props_.cbPrefix);
        // The data starts after the prefix, on the alignment.
        size_t offset = (prefix + align - 1) / align * align;
        size_t total = offset + static_cast<size_t>(props_.cbBuffer);
        for (LONG i = 0; i < props_.cBuffers; ++i) {
            void *block = nullptr;
            if (posix_memalign(&block, std::max(align, sizeof(void *)), total) != 0) {
                free_memory_locked();
                return E_OUTOFMEMORY;
            }
            blocks_.push_back(block);
            auto *s = new MediaSample(this, static_cast<BYTE *>(block) + offset, props_.cbBuffer);
            all_.push_back(s);
            free_.push_back(s);
        }
    }
    committed_ = true;
    return S_OK;
}

HRESULT MemAllocator::Decommit() {
    std::lock_guard<std::mutex> g(mutex_);
    committed_ = false;
    if (all_.size() == free_.size()) free_memory_locked();
    freed_.notify_all();
    return S_OK;
}

HRESULT MemAllocator::GetBuffer(IMediaSample **ppBuffer, REFERENCE_TIME *pStartTime, REFERENCE_TIME *pEndTime,
                                DWORD dwFlags) {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = nullptr;
    MediaSample *s = nullptr;
    {
        std::unique_lock<std::mutex> g(mutex_);
        for (;;) {
            if (!committed_) return VFW_E_NOT_COMMITTED;
            if (!free_.empty()) break;
            if (dwFlags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
            freed_.wait(g);
        }
        s = free_.back();
        free_.pop_back();
        s->refs_ = 1;
    }
    AddRef();  // held by the sample until it comes back
    s->SetTime(pStartTime, pStartTime ? pEndTime : nullptr);
    *ppBuffer = s;
    return S_OK;
}

HRESULT MemAllocator::ReleaseBuffer(IMediaSample *) { return E_NOTIMPL; }

int MemAllocator::outstanding() const {
    std::lock_guard<std::mutex> g(mutex_);
    return static_cast<int>(all_.size() - free_.size());
}

void MemAllocator::give_back(MediaSample *s) {
    s->reset_properties();
    {
        std::lock_guard<std::mutex> g(mutex_);
        free_.push_back(s);
        if (!committed_ && all_.size() == free_.size()) free_memory_locked();
        freed_.notify_one();
    }
    Release();  // the sample's reference; may delete this allocator
}

void MemAllocator::free_memory_locked() {
    for (MediaSample *s : all_) delete s;
    all_.clear();
    free_.clear();
    for (void *b : blocks_) std::free(b);
    blocks_.clear();
}

// =============================================================================================
// Enumerators

namespace {

class MediaTypeEnumerator final : public ComObject<IEnumMediaTypes> {
public:
    MediaTypeEnumerator(ComPtr<IPin> pin, std::vector<MediaType> types, size_t pos = 0)
        : pin_(std::move(pin)), types_(std::move(types)), pos_(pos) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE **out, ULONG *fetched) override {
        if (!out || (!fetched && count != 1)) return E_POINTER;
        ULONG n = 0;
        while (n < count && pos_ < types_.size()) {
            out[n] = types_[pos_].create_copy();
            if (!out[n]) break;
            ++n;
            ++pos_;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        size_t left = types_.size() - pos_;
        pos_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes **pp) override {
        if (!pp) return E_POINTER;
        *pp = new MediaTypeEnumerator(pin_, types_, pos_);
        return S_OK;
    }

protected:
    void *GetInterface(REFIID riid) override { return answer<IEnumMediaTypes>(riid); }

private:
    ComPtr<IPin> pin_;  // keeps the filter alive while its types are enumerated
    std::vector<MediaType> types_;
    size_t pos_;
};

}  // namespace

class PinEnumerator final : public ComObject<IEnumPins> {
public:
    PinEnumerator(FilterImpl *filter, size_t pos, int version)
        : filter_(ComPtr<IBaseFilter>::addref(filter)), impl_(filter), pos_(pos), version_(version) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **out, ULONG *fetched) override {
        if (!out || (!fetched && count != 1)) return E_POINTER;
        ULONG n = 0;
        {
            std::lock_guard<std::mutex> g(impl_->mutex_);
            if (version_ != impl_->pins_version_) {
                if (fetched) *fetched = 0;
                return VFW_E_ENUM_OUT_OF_SYNC;
            }
            while (n < count && pos_ < impl_->pins_.size()) {
                out[n] = impl_->pins_[pos_].get();
                ++n;
                ++pos_;
            }
        }
        for (ULONG i = 0; i < n; ++i) out[i]->AddRef();
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        std::lock_guard<std::mutex> g(impl_->mutex_);
        if (version_ != impl_->pins_version_) return VFW_E_ENUM_OUT_OF_SYNC;
        size_t left = impl_->pins_.size() - std::min(pos_, impl_->pins_.size());
        pos_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        std::lock_guard<std::mutex> g(impl_->mutex_);
        pos_ = 0;
        version_ = impl_->pins_version_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins **pp) override {
        if (!pp) return E_POINTER;
        *pp = new PinEnumerator(impl_, pos_, version_);
        return S_OK;
    }

protected:
    void *GetInterface(REFIID riid) override { return answer<IEnumPins>(riid); }

private:
    ComPtr<IBaseFilter> filter_;  // keeps impl_ alive
    FilterImpl *impl_;
    size_t pos_;
    int version_;
};

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
    *ppEnum = new MediaTypeEnumerator(ComPtr<IPin>::addref(this), std::move(types));
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

// =============================================================================================
// FilterImpl

FilterImpl::FilterImpl() = default;
FilterImpl::~FilterImpl() = default;

FILTER_STATE FilterImpl::state() const {
    std::lock_guard<std::mutex> g(mutex_);
    return state_;
}

REFERENCE_TIME FilterImpl::start_time() const {
    std::lock_guard<std::mutex> g(mutex_);
    return start_;
}

ComPtr<IReferenceClock> FilterImpl::clock() const {
    std::lock_guard<std::mutex> g(mutex_);
    return clock_;
}

IFilterGraph *FilterImpl::graph() const {
    std::lock_guard<std::mutex> g(mutex_);
    return graph_;
}

tw::wstring FilterImpl::filter_name() const {
    std::lock_guard<std::mutex> g(mutex_);
    return name_;
}

std::vector<PinBase *> FilterImpl::pins_snapshot() const {
    std::lock_guard<std::mutex> g(mutex_);
    std::vector<PinBase *> v;
    for (auto &p : pins_) v.push_back(p.get());
    return v;
}

void FilterImpl::add_pin_base(std::unique_ptr<PinBase> pin) {
    std::lock_guard<std::mutex> g(mutex_);
    pins_.push_back(std::move(pin));
    ++pins_version_;
}

int FilterImpl::pin_count() const {
    std::lock_guard<std::mutex> g(mutex_);
    return static_cast<int>(pins_.size());
}

PinBase *FilterImpl::pin_at(int index) const {
    std::lock_guard<std::mutex> g(mutex_);
    return index >= 0 && index < static_cast<int>(pins_.size()) ? pins_[index].get() : nullptr;
}

HRESULT FilterImpl::GetClassID(CLSID *pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = clsid_;
    return S_OK;
}

HRESULT FilterImpl::Stop() {
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (state_ == State_Stopped) return S_OK;
        state_ = State_Stopped;
    }
    HRESULT result = S_OK;
    for (PinBase *p : pins_snapshot()) {
        HRESULT hr = p->Inactive();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    HRESULT hr = OnStop();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    return result;
}

HRESULT FilterImpl::Pause() {
    FILTER_STATE previous;
    {
        std::lock_guard<std::mutex> g(mutex_);
        previous = state_;
        if (previous == State_Paused) return S_OK;
    }
    HRESULT result = S_OK;
    if (previous == State_Stopped) {
        for (PinBase *p : pins_snapshot()) {
            if (!p->is_connected()) continue;
            HRESULT hr = p->Active();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        state_ = State_Paused;
    }
    HRESULT hr = OnPause(previous);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    if (hr == S_FALSE && result == S_OK) result = S_FALSE;  // still cueing: GetState tells when done
    return result;
}

HRESULT FilterImpl::Run(REFERENCE_TIME tStart) {
    HRESULT result = S_OK;
    FILTER_STATE now = state();
    if (now == State_Running) return S_OK;
    if (now == State_Stopped) {
        result = Pause();
        if (FAILED(result)) return result;
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        start_ = tStart;
        state_ = State_Running;
    }
    HRESULT hr = OnRun(tStart);
    if (FAILED(hr)) return hr;
    return hr == S_FALSE ? S_FALSE : result;
}

HRESULT FilterImpl::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE *State) {
    if (!State) return E_POINTER;
    FILTER_STATE s = state();
    *State = s;
    return OnGetState(dwMilliSecsTimeout, s);
}

HRESULT FilterImpl::SetSyncSource(IReferenceClock *pClock) {
    ComPtr<IReferenceClock> old;
    std::lock_guard<std::mutex> g(mutex_);
    old = std::move(clock_);
    clock_ = ComPtr<IReferenceClock>::addref(pClock);
    return S_OK;
}

HRESULT FilterImpl::GetSyncSource(IReferenceClock **pClock) {
    if (!pClock) return E_POINTER;
    std::lock_guard<std::mutex> g(mutex_);
    *pClock = ComPtr<IReferenceClock>(clock_).detach();
    return S_OK;
}

HRESULT FilterImpl::EnumPins(IEnumPins **ppEnum) {
    if (!ppEnum) return E_POINTER;
    int version;
    {
        std::lock_guard<std::mutex> g(mutex_);
        version = pins_version_;
    }
    *ppEnum = new PinEnumerator(this, 0, version);
    return S_OK;
}

HRESULT FilterImpl::FindPin(LPCWSTR Id, IPin **ppPin) {
    if (!Id || !ppPin) return E_POINTER;
    *ppPin = nullptr;
    tw::wstring id(Id);
    for (PinBase *p : pins_snapshot()) {
        if (p->name() == id) {
            p->AddRef();
            *ppPin = p;
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterImpl::QueryFilterInfo(FILTER_INFO *pInfo) {
    if (!pInfo) return E_POINTER;
    std::memset(pInfo, 0, sizeof(*pInfo));
    std::lock_guard<std::mutex> g(mutex_);
    size_t n = std::min<size_t>(name_.size(), MAX_FILTER_NAME - 1);
    std::copy(name_.begin(), name_.begin() + n, pInfo->achName);
    pInfo->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT FilterImpl::JoinFilterGraph(IFilterGraph *pGraph, LPCWSTR pName) {
    IMediaEventSink *sink = nullptr;
    if (pGraph) {
        // Kept without a count: the graph holds this filter and outlives its membership.
        if (SUCCEEDED(pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void **>(&sink))) && sink)
            sink->Release();
        else
            sink = nullptr;
    }
    std::lock_guard<std::mutex> g(mutex_);
    graph_ = pGraph;
    sink_ = pGraph ? sink : nullptr;
    name_ = (pGraph && pName) ? tw::wstring(pName) : tw::wstring();
    return S_OK;
}

HRESULT FilterImpl::QueryVendorInfo(LPWSTR *) { return E_NOTIMPL; }

HRESULT FilterImpl::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink *sink;
    {
        std::lock_guard<std::mutex> g(mutex_);
        sink = sink_;
    }
    return sink ? sink->Notify(code, param1, param2) : S_FALSE;
}

HRESULT FilterImpl::NotifyComplete(HRESULT status) {
    return NotifyEvent(EC_COMPLETE, status, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(this)));
}

HRESULT FilterImpl::OnPause(FILTER_STATE) { return S_OK; }
HRESULT FilterImpl::OnRun(REFERENCE_TIME) { return S_OK; }
HRESULT FilterImpl::OnStop() { return S_OK; }
HRESULT FilterImpl::OnGetState(DWORD, FILTER_STATE) { return S_OK; }

// =============================================================================================
// TransformFilter

class TransformFilter::In final : public InputPin {
public:
    In(TransformFilter *f, const WCHAR *name) : InputPin(f, name), f_(f) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE &mt) override { return f_->CheckInputType(mt); }
    HRESULT OnReceive(IMediaSample *s) override { return f_->Receive(s); }
    HRESULT OnEndOfStream() override { return f_->EndOfStream(); }
    HRESULT OnBeginFlush() override { return f_->BeginFlush(); }
    HRESULT OnEndFlush() override { return f_->EndFlush(); }
    HRESULT OnNewSegment(REFERENCE_TIME a, REFERENCE_TIME b, double r) override { return f_->NewSegment(a, b, r); }

private:
    TransformFilter *f_;  // not counted: owns this pin
};

class TransformFilter::Out final : public OutputPin {
public:
    Out(TransformFilter *f, const WCHAR *name) : OutputPin(f, name), f_(f) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE &mt) override {
        if (!f_->in_->is_connected()) return VFW_E_NOT_CONNECTED;
        return f_->CheckOutputType(f_->in_->connection_type().get(), mt);
    }
    HRESULT GetMediaType(int index, MediaType *mt) override {
        if (!f_->in_->is_connected()) return VFW_S_NO_MORE_ITEMS;
        return f_->GetOutputType(f_->in_->connection_type().get(), index, mt);
    }
    void DecideBufferSize(const AM_MEDIA_TYPE &mt, ALLOCATOR_PROPERTIES *props) override {
        f_->DecideBufferSize(mt, props);
    }
    void base_decide(const AM_MEDIA_TYPE &mt, ALLOCATOR_PROPERTIES *props) { OutputPin::DecideBufferSize(mt, props); }

private:
    TransformFilter *f_;  // not counted: owns this pin
};

TransformFilter::TransformFilter(const CLSID &clsid, const WCHAR *input_name, const WCHAR *output_name)
    : BaseFilter<>(clsid) {
    in_ = add_pin(std::make_unique<In>(this, input_name));
    out_ = add_pin(std::make_unique<Out>(this, output_name));
}

InputPin *TransformFilter::input() const { return in_; }
OutputPin *TransformFilter::output() const { return out_; }

HRESULT TransformFilter::CheckOutputType(const AM_MEDIA_TYPE &in, const AM_MEDIA_TYPE &out) {
    for (int i = 0;; ++i) {
        MediaType mt;
        if (GetOutputType(in, i, &mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        if (matches_partial(out, mt.get()) && (mt.get().cbFormat == 0 || equal_types(out, mt.get()))) return S_OK;
    }
}

void TransformFilter::DecideBufferSize(const AM_MEDIA_TYPE &out, ALLOCATOR_PROPERTIES *props) {
    out_->base_decide(out, props);
}

HRESULT TransformFilter::Receive(IMediaSample *in) {
    ComPtr<IMediaSample> out;
    HRESULT hr = out_->GetDeliveryBuffer(out.out());
    if (FAILED(hr)) return hr;
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT th = in->GetTime(&start, &stop);
    if (th == S_OK)
        out->SetTime(&start, &stop);
    else if (th == VFW_S_NO_STOP_TIME)
        out->SetTime(&start, nullptr);
    out->SetSyncPoint(in->IsSyncPoint() == S_OK);
    out->SetDiscontinuity(in->IsDiscontinuity() == S_OK);
    out->SetPreroll(in->IsPreroll() == S_OK);
    hr = Transform(in, out.get());
    if (hr == S_FALSE) return S_OK;
    if (FAILED(hr)) return hr;
    return out_->Deliver(out.get());
}

HRESULT TransformFilter::EndOfStream() { return out_->DeliverEndOfStream(); }
HRESULT TransformFilter::BeginFlush() { return out_->DeliverBeginFlush(); }
HRESULT TransformFilter::EndFlush() { return out_->DeliverEndFlush(); }
HRESULT TransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return out_->DeliverNewSegment(start, stop, rate);
}

}  // namespace tw::posix
