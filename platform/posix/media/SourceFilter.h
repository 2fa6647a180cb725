// SourceFilter: the source and splitter of a path or URL, over libavformat.
//
// One output pin per audio and video stream ("Video" and "Audio", numbered "Video 1",
// "Video 2", ... when a source has several of a kind), each offering the stream's compressed
// type (MediaTypes.h). While the filter is paused or running, a demux thread reads packets
// into the per-stream PacketQueues and one thread per connected pin delivers them
// downstream through the pin's allocator; streams with an unconnected pin are discarded at
// the demuxer. A file is read as fast as downstream takes it; a network source delivers at
// the pace its data arrives.
//
// Times: each pin starts with NewSegment(segment start, stop, 1.0); sample times are stream
// times (100 ns, 0 = the start of the source) minus the segment start, so samples of the
// key frame before a seek target are negative and decoders drop what lies before 0.
//
// Stop: the base class decommits the allocators (which wakes a pin blocked for a buffer),
// then OnStop shuts the queues, interrupts a blocking read and joins every thread. The
// position stays where streaming stopped: Pause/Run again resumes from there (a seekable
// source seeks back to the earliest position some pin had not yet delivered).
//
// Errors: a read that fails beyond recovery (network drop, corrupt container) sends
// EC_ERRORABORT with its HRESULT, then each pin delivers what it has and its end of stream.
// A pin whose downstream refuses a sample stops delivering, quietly (downstream reports its
// own failures).
#pragma once

#include "platform/posix/graph/BaseFilter.h"
#include "platform/posix/graph/Seeking.h"
#include "platform/posix/graph/Render.h"
#include "platform/posix/media/Demuxer.h"
#include "platform/posix/media/MediaFilters.h"
#include "platform/posix/media/MediaTypes.h"
#include "platform/posix/media/PacketQueues.h"

#include <atomic>
#include <mutex>

namespace tw::posix::media {

// {72B05B90-3006-4593-9367-717082FE57C5}
TW_DEFINE_GUID(CLSID_TwMediaSource, 0x72B05B90, 0x3006, 0x4593, 0x93, 0x67, 0x71, 0x70, 0x82, 0xFE, 0x57, 0xC5);

class SourceFilter;

class SourcePin final : public OutputPin {
public:
    SourcePin(SourceFilter *filter, const WCHAR *name, int stream, size_t queue, MediaType type);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE &mt) override;
    HRESULT GetMediaType(int index, MediaType *mt) override;
    void DecideBufferSize(const AM_MEDIA_TYPE &mt, ALLOCATOR_PROPERTIES *props) override;

    int stream() const { return stream_; }
    size_t queue() const { return queue_; }
    const MediaType &type() const { return type_; }

private:
    friend class SourceFilter;
    int stream_;    // index in the demuxer
    size_t queue_;  // index in the filter's PacketQueues
    MediaType type_;
    std::jthread thread_;
    // Written by the pin's thread, read by the control thread.
    std::atomic<int64_t> last_time_{AV_NOPTS_VALUE};  // start of the last delivered sample (segment time)
    std::atomic<bool> ended_{false};
};

class SourceFilter final : public BaseFilter<MediaTimeSeeking, IAMFilterMiscFlags> {
public:
    // Opens `url` and makes the filter with its pins. `ctx` (may be null) gives the graph's
    // abort flag, polled while opening, and its log.
    static HRESULT create(const std::string &url, const OpenContext *ctx, ComPtr<IBaseFilter> *out,
                          const DemuxerOptions &options = {});

    // IMediaSeeking: where the source stands; the rest is MediaTimeSeeking's.
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG *pDuration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG *pStop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG *pCurrent) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest) override;

    // IAMFilterMiscFlags
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

    // Largest number of bytes any stream's queue held during the last streaming run.
    size_t peak_queue_bytes() const { return queues_ ? queues_->peak_bytes() : 0; }
    const Demuxer &demuxer() const { return demux_; }

protected:
    void *GetInterface(REFIID riid) override;
    HRESULT OnPause(FILTER_STATE previous) override;
    HRESULT OnStop() override;
    HRESULT OnGetState(DWORD timeout, FILTER_STATE state) override;

protected:
    // MediaTimeSeeking.
    DWORD SeekingCapabilities() override;
    bool CanSetCurrent() override { return demux_.seekable(); }  // a live stream cannot be moved
    HRESULT ApplyPositions(const LONGLONG *Current, DWORD CurrentFlags, const LONGLONG *Stop,
                           DWORD StopFlags) override;

private:
    SourceFilter();
    ~SourceFilter() override;

    HRESULT start_streaming();
    void stop_streaming();
    void demux_body();
    void pin_body(SourcePin *pin);
    bool live() const { return demux_.network() && !demux_.seekable(); }
    std::vector<SourcePin *> connected_pins() const;
    // Where a restart resumes: the earliest position a connected pin had not delivered.
    void remember_resume_position();

    Demuxer demux_;  // the demux thread's while streaming; the control thread's otherwise
    std::unique_ptr<PacketQueues> queues_;
    std::vector<SourcePin *> pins_;   // owned by FilterImpl
    std::vector<int> stream_pin_;     // demuxer stream index -> index in pins_, or -1
    std::jthread demux_thread_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex pos_mutex_;  // guards the positions below
    int64_t seg_start_ = 0;          // stream time of segment time 0
    int64_t stop_ = -1;              // stop position, -1 = none (the end)
    bool need_seek_ = false;         // the next start seeks to seek_target_ first
    int64_t seek_target_ = 0;
    bool at_end_ = false;            // every pin had delivered its end when streaming stopped
    bool streamed_ = false;          // streaming ran since the last seek
};

}  // namespace tw::posix::media
