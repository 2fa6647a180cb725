#include "platform/posix/media/SourceFilter.h"

#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace tw::posix::media {

static constexpr int64_t kNoStop = INT64_MAX;

// =============================================================================================
// SourcePin

SourcePin::SourcePin(SourceFilter *filter, const WCHAR *name, int stream, size_t queue, MediaType type)
    : OutputPin(filter, name), stream_(stream), queue_(queue), type_(std::move(type)) {}

HRESULT SourcePin::CheckMediaType(const AM_MEDIA_TYPE &mt) {
    return equal_types(mt, type_.get()) || (mt.majortype == type_.majortype() && mt.subtype == type_.subtype() &&
                                            mt.formattype == kGuidNull)
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT SourcePin::GetMediaType(int index, MediaType *mt) {
    if (index < 0) return E_INVALIDARG;
    if (index > 0) return VFW_S_NO_MORE_ITEMS;
    *mt = type_;
    return S_OK;
}

void SourcePin::DecideBufferSize(const AM_MEDIA_TYPE &mt, ALLOCATOR_PROPERTIES *props) {
    // Room for the largest packet a stream of this kind plausibly has: a key frame never comes
    // near four bytes per pixel, and audio packets are far below a second of 32-bit samples.
    LONG size = 256 * 1024;
    LONG count = 8;
    CompressedStream cs;
    if (parse_compressed_type(mt, &cs)) {
        if (cs.par->codec_type == AVMEDIA_TYPE_VIDEO) {
            size = (LONG)std::min<int64_t>(std::max<int64_t>((int64_t)cs.par->width * cs.par->height * 4 + 65536, 1 << 20),
                                           256 << 20);
            count = 4;
        } else {
            int64_t second = (int64_t)cs.par->sample_rate * std::max(cs.par->ch_layout.nb_channels, 1) * 4;
            size = (LONG)std::min<int64_t>(std::max<int64_t>(second, size), 64 << 20);
        }
    }
    props->cBuffers = std::max(props->cBuffers, count);
    props->cbBuffer = std::max(props->cbBuffer, size);
    if (props->cbAlign <= 0) props->cbAlign = 1;
}

// =============================================================================================
// SourceFilter: creation

SourceFilter::SourceFilter() : BaseFilter(CLSID_TwMediaSource) {}

SourceFilter::~SourceFilter() { stop_streaming(); }

void *SourceFilter::GetInterface(REFIID riid) {
    if (void *p = answer<IMediaSeeking>(riid)) return p;
    if (void *p = answer<IAMFilterMiscFlags>(riid)) return p;
    return BaseFilter::GetInterface(riid);
}

HRESULT SourceFilter::create(const std::string &url, const OpenContext *ctx, ComPtr<IBaseFilter> *out,
                             const DemuxerOptions &options) {
    ComPtr<SourceFilter> f = ComPtr<SourceFilter>::adopt(new SourceFilter());
    if (ctx) f->demux_.interrupt().set_external([ctx] { return ctx->aborted(); });
    HRESULT hr = f->demux_.open(url, options);
    f->demux_.interrupt().set_external(nullptr);
    if (FAILED(hr)) {
        if (ctx) ctx->log("FFmpeg source \"" + url + "\": not opened");
        return hr;
    }

    AVFormatContext *fc = f->demux_.context();
    const std::vector<int> &streams = f->demux_.media_streams();
    int videos = 0, audios = 0;
    for (int i : streams) (fc->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? videos : audios)++;
    f->stream_pin_.assign(fc->nb_streams, -1);
    f->queues_ = std::make_unique<PacketQueues>(streams.size());
    int video_no = 0, audio_no = 0;
    for (int i : streams) {
        AVStream *st = fc->streams[i];
        bool video = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        std::string name = video ? "Video" : "Audio";
        int &no = video ? video_no : audio_no;
        ++no;
        if ((video ? videos : audios) > 1) name += " " + std::to_string(no);
        MediaType type = compressed_type(st);
        size_t q = f->pins_.size();
        f->stream_pin_[i] = (int)q;
        SourcePin *pin = f->add_pin(std::make_unique<SourcePin>(f.get(), tw::to_wide(name).c_str(), i, q, type));
        f->pins_.push_back(pin);
        if (ctx) {
            const AVCodecDescriptor *d = avcodec_descriptor_get(st->codecpar->codec_id);
            ctx->log("FFmpeg source pin \"" + name + "\": stream " + std::to_string(i) + ", " +
                     (d ? d->name : "unknown codec") + ", " + type.text());
        }
    }
    if (ctx) {
        char line[256];
        snprintf(line, sizeof line, "FFmpeg source: %s (%s), %.3f s, %zu streams", fc->iformat->name,
                 fc->iformat->long_name ? fc->iformat->long_name : "", f->demux_.duration() / 1e7, streams.size());
        ctx->log(line);
    }
    ComPtr<IBaseFilter> base;
    base = ComPtr<IBaseFilter>::addref(static_cast<IBaseFilter *>(f.get()));
    *out = std::move(base);
    return S_OK;
}

HRESULT open_media_source(LPCWSTR url, const OpenContext &ctx, IBaseFilter **source) {
    if (!source) return E_POINTER;
    *source = nullptr;
    if (!url) return E_POINTER;
    ComPtr<IBaseFilter> f;
    HRESULT hr = SourceFilter::create(tw::to_utf8(url), &ctx, &f);
    if (FAILED(hr)) return hr;
    *source = f.detach();
    return S_OK;
}

// =============================================================================================
// Streaming

std::vector<SourcePin *> SourceFilter::connected_pins() const {
    std::vector<SourcePin *> v;
    for (SourcePin *p : pins_)
        if (p->is_connected()) v.push_back(p);
    return v;
}

HRESULT SourceFilter::OnPause(FILTER_STATE previous) {
    if (previous != State_Stopped) return S_OK;
    return start_streaming();
}

HRESULT SourceFilter::OnStop() {
    stop_streaming();
    remember_resume_position();
    return S_OK;
}

HRESULT SourceFilter::OnGetState(DWORD, FILTER_STATE state) {
    return state == State_Paused && live() ? VFW_S_CANT_CUE : S_OK;
}

void SourceFilter::remember_resume_position() {
    std::lock_guard<std::mutex> g(pos_mutex_);
    if (!streamed_) return;
    auto pins = connected_pins();
    bool all_ended = !pins.empty();
    int64_t earliest = INT64_MAX;
    for (SourcePin *p : pins) {
        if (p->ended_) continue;
        all_ended = false;
        int64_t t = p->last_time_;
        // The lead-in of a seek (negative times) is not progress.
        earliest = std::min(earliest, t == AV_NOPTS_VALUE ? 0 : std::max<int64_t>(t, 0));
    }
    if (all_ended) {
        at_end_ = true;
        return;
    }
    if (earliest == INT64_MAX) earliest = 0;
    if (demux_.seekable()) {
        need_seek_ = true;
        seek_target_ = std::max<int64_t>(0, seg_start_ + earliest);
    }
}

HRESULT SourceFilter::start_streaming() {
    if (!queues_) return E_UNEXPECTED;
    bool seek = false;
    int64_t target = 0;
    bool ended;
    {
        std::lock_guard<std::mutex> g(pos_mutex_);
        if (need_seek_) {
            seek = true;
            target = seek_target_;
            need_seek_ = false;
            at_end_ = false;
        }
        ended = at_end_;
        streamed_ = true;
    }
    demux_.interrupt().clear();
    if (seek) {
        HRESULT hr = demux_.seek(target);
        if (FAILED(hr) && hr != E_NOTIMPL) return hr;
        std::lock_guard<std::mutex> g(pos_mutex_);
        seg_start_ = hr == E_NOTIMPL ? seg_start_ : target;
    }
    queues_->reset();
    AVFormatContext *fc = demux_.context();
    for (SourcePin *p : pins_) {
        bool on = p->is_connected();
        queues_->set_open(p->queue(), on);
        fc->streams[p->stream()]->discard = on ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        p->ended_ = false;
        p->last_time_ = AV_NOPTS_VALUE;
    }
    stopping_ = false;
    if (ended)
        queues_->finish();  // resumed at the end: every pin just reports its end again
    else
        demux_thread_ = std::jthread([this] { demux_body(); });
    for (SourcePin *p : connected_pins()) p->thread_ = std::jthread([this, p] { pin_body(p); });
    return S_OK;
}

void SourceFilter::stop_streaming() {
    stopping_ = true;
    if (queues_) queues_->shutdown();
    demux_.interrupt().abort();
    demux_thread_ = {};  // joined
    for (SourcePin *p : pins_) p->thread_ = {};
}

void SourceFilter::demux_body() {
    PacketPtr pkt = make_packet();
    for (;;) {
        if (stopping_) return;
        HRESULT hr = demux_.read(pkt.get());
        if (hr == S_FALSE) break;
        if (FAILED(hr)) {
            if (stopping_) return;
            NotifyEvent(EC_ERRORABORT, hr, 0);
            break;
        }
        int idx = pkt->stream_index;
        if (idx < 0 || idx >= (int)stream_pin_.size() || stream_pin_[idx] < 0) continue;
        int64_t ts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
        int64_t t = demux_.packet_time(pkt.get(), ts);
        PacketPtr queued = make_packet();
        if (!queued) {
            NotifyEvent(EC_ERRORABORT, E_OUTOFMEMORY, 0);
            break;
        }
        av_packet_move_ref(queued.get(), pkt.get());
        if (!queues_->push((size_t)stream_pin_[idx], std::move(queued), t)) return;
    }
    queues_->finish();
}

void SourceFilter::pin_body(SourcePin *pin) {
    int64_t seg_start, stop;
    {
        std::lock_guard<std::mutex> g(pos_mutex_);
        seg_start = seg_start_;
        stop = stop_;
    }
    const AVStream *st = demux_.stream(pin->stream());
    int64_t seg_stop = stop >= 0 ? stop : (demux_.duration() > 0 ? demux_.duration() : kNoStop);
    pin->DeliverNewSegment(seg_start, seg_stop, 1.0);
    bool first = true;
    PacketPtr pkt;
    for (;;) {
        PacketQueues::Pop r = queues_->pop(pin->queue(), pkt);
        if (r == PacketQueues::Pop::Shutdown) return;
        if (r == PacketQueues::Pop::End) break;
        int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        int64_t t = demux_.packet_time(pkt.get(), ts);
        if (stop >= 0 && t != AV_NOPTS_VALUE && t >= stop) break;  // past the stop position
        ComPtr<IMediaSample> sample;
        if (FAILED(pin->GetDeliveryBuffer(sample.out()))) {  // stopping, or downstream went away
            queues_->close(pin->queue());
            return;
        }
        if (pkt->size > sample->GetSize()) {
            sample = nullptr;
            NotifyEvent(EC_ERRORABORT, VFW_E_BUFFER_OVERFLOW, 0);
            queues_->close(pin->queue());
            break;
        }
        BYTE *data = nullptr;
        sample->GetPointer(&data);
        std::memcpy(data, pkt->data, (size_t)pkt->size);
        sample->SetActualDataLength(pkt->size);
        if (t != AV_NOPTS_VALUE) {
            REFERENCE_TIME a = t - seg_start;
            REFERENCE_TIME b = a + std::max<int64_t>(to_units(pkt->duration, st->time_base), 0);
            if (pkt->duration > 0)
                sample->SetTime(&a, &b);
            else
                sample->SetTime(&a, nullptr);
        }
        sample->SetSyncPoint((pkt->flags & AV_PKT_FLAG_KEY) != 0);
        sample->SetDiscontinuity(first);
        first = false;
        HRESULT hr = pin->Deliver(sample.get());
        sample = nullptr;
        if (hr != S_OK) {
            queues_->close(pin->queue());
            return;
        }
        if (t != AV_NOPTS_VALUE) pin->last_time_ = t - seg_start;
    }
    pin->ended_ = true;
    pin->DeliverEndOfStream();
}

// =============================================================================================
// IMediaSeeking

DWORD SourceFilter::SeekingCapabilities() {
    DWORD caps = AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos;
    if (demux_.duration() > 0) caps |= AM_SEEKING_CanGetDuration;
    if (demux_.seekable())
        caps |= AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards;
    return caps;
}

HRESULT SourceFilter::GetDuration(LONGLONG *pDuration) {
    if (!pDuration) return E_POINTER;
    int64_t d = demux_.duration();
    if (d <= 0) return E_NOTIMPL;  // a live stream has no duration
    *pDuration = d;
    return S_OK;
}

HRESULT SourceFilter::GetStopPosition(LONGLONG *pStop) {
    if (!pStop) return E_POINTER;
    std::lock_guard<std::mutex> g(pos_mutex_);
    if (stop_ >= 0) {
        *pStop = stop_;
        return S_OK;
    }
    int64_t d = demux_.duration();
    if (d <= 0) return E_NOTIMPL;
    *pStop = d;
    return S_OK;
}

HRESULT SourceFilter::GetCurrentPosition(LONGLONG *pCurrent) {
    if (!pCurrent) return E_POINTER;
    std::lock_guard<std::mutex> g(pos_mutex_);
    if (need_seek_) {
        *pCurrent = seek_target_;
        return S_OK;
    }
    // The earliest of what the streams still delivering have reached.
    int64_t pos = INT64_MAX, latest = 0;
    bool any = false;
    for (SourcePin *p : pins_) {
        if (!p->is_connected()) continue;
        int64_t t = p->last_time_;
        if (t == AV_NOPTS_VALUE) t = 0;
        latest = std::max(latest, t);
        if (!p->ended_) {
            pos = std::min(pos, t);
            any = true;
        }
    }
    *pCurrent = seg_start_ + std::max<int64_t>(0, any ? pos : latest);
    return S_OK;
}

HRESULT SourceFilter::ApplyPositions(const LONGLONG *Current, DWORD, const LONGLONG *Stop, DWORD) {
    {
        std::lock_guard<std::mutex> g(pos_mutex_);
        if (Current) {
            need_seek_ = true;
            seek_target_ = *Current;
            at_end_ = false;
        }
        if (Stop) stop_ = *Stop;
    }
    if (state() != State_Stopped && Current) {
        // Streaming: flush downstream, stop the threads, seek, and stream on from the new place.
        auto pins = connected_pins();
        for (SourcePin *p : pins) p->DeliverBeginFlush();
        stop_streaming();
        for (SourcePin *p : pins) p->DeliverEndFlush();
        HRESULT hr = start_streaming();
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT SourceFilter::GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest) {
    if (!pEarliest && !pLatest) return E_POINTER;
    int64_t d = demux_.duration();
    if (pEarliest) *pEarliest = 0;
    if (pLatest) {
        if (d > 0) {
            *pLatest = d;
        } else {
            GetCurrentPosition(pLatest);  // a live stream has what it has delivered
        }
    }
    return S_OK;
}

}  // namespace tw::posix::media
