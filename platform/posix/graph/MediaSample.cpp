#include "platform/posix/graph/MediaSample.h"

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
    content_.reset();
    content_written_ = false;
}

HRESULT MediaSample::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IMediaSample)) {
        *ppv = static_cast<IMediaSample *>(this);
        AddRef();
        return S_OK;
    }
    if (IsEqualGUID(riid, IID_TwDeferredSample)) {
        *ppv = static_cast<IDeferredSample *>(this);
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
    *ppBuffer = nullptr;
    if (content_ && !content_written_) {
        HRESULT hr = content_->write(data_, size_);
        if (FAILED(hr)) return hr;
        content_written_ = true;
    }
    *ppBuffer = data_;
    return S_OK;
}

void MediaSample::SetContent(std::unique_ptr<SampleContent> content) {
    content_ = std::move(content);
    content_written_ = false;
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

}  // namespace tw::posix
