// Media samples and the allocator that owns them: the buffers a stream passes downstream.
// The allocator has its own lock, for its free list; a sample is used by one thread at a time.
#pragma once

#include "platform/directshow.h"
#include "platform/posix/graph/MediaType.h"
#include "platform/posix/object.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace tw::posix {

class MemAllocator;

// What a producer may hand downstream instead of bytes: an object that writes the sample's
// data on demand. GetPointer writes it into the buffer first, so every consumer sees the
// bytes as usual; a consumer that knows the object reads it directly and the copy never
// happens (a decoded picture, read by the writer's scaler). It goes with the sample's
// other properties when the sample returns to its allocator.
class SampleContent {
public:
    virtual ~SampleContent() = default;
    // Writes the data into `dst`, the sample's buffer of `size` bytes.
    virtual HRESULT write(BYTE *dst, LONG size) const = 0;
};

// The samples of this process's allocators take such content. In-process only: C++ types
// cross it.
struct IDeferredSample : IUnknown {
    // Replaces the sample's content (null: none; the buffer holds the data as written).
    virtual void STDMETHODCALLTYPE SetContent(std::unique_ptr<SampleContent> content) = 0;
    // The content still held, or null; the sample keeps it.
    virtual const SampleContent *STDMETHODCALLTYPE Content() = 0;
};

// Media sample: a buffer of a MemAllocator. Its count starts at 1 when GetBuffer hands it out;
// at 0 it goes back to the allocator's free list (it is never deleted by Release).
class MediaSample final : public IMediaSample, public IDeferredSample {
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

    void STDMETHODCALLTYPE SetContent(std::unique_ptr<SampleContent> content) override;
    const SampleContent *STDMETHODCALLTYPE Content() override { return content_.get(); }

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
    std::unique_ptr<SampleContent> content_;
    bool content_written_ = false;  // into the buffer, by GetPointer
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

}  // namespace tw::posix

TW_DEFINE_GUID(IID_TwDeferredSample, 0x5C0D3E41, 0x8B7A, 0x4F0E, 0x9A, 0x52, 0x3D, 0x1E, 0x6B, 0x90, 0x27, 0xC4);
TW_BIND_IID(tw::posix::IDeferredSample, IID_TwDeferredSample)
