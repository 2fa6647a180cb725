#include "platform/posix/media/DecoderFilters.h"

#include "platform/posix/media/MediaFilters.h"

#include <algorithm>
#include <cstring>

namespace tw::posix::media {

// Packets that fail in a row before a stream counts as broken.
static constexpr int kBrokenAfter = 32;

static bool decodable(const AM_MEDIA_TYPE &mt, AVMediaType kind) {
    CompressedStream cs;
    if (!parse_compressed_type(mt, &cs) || cs.par->codec_type != kind) return false;
    return avcodec_find_decoder(cs.par->codec_id) != nullptr;
}

static REFERENCE_TIME frame_duration(AVRational fr) {
    if (fr.num <= 0 || fr.den <= 0) return 0;
    return av_rescale(kUnits, fr.den, fr.num);
}

// =============================================================================================
// DecoderFilter

DecoderFilter::DecoderFilter(const CLSID &clsid, AVMediaType kind) : TransformFilter(clsid), kind_(kind) {}

HRESULT DecoderFilter::CheckInputType(const AM_MEDIA_TYPE &mt) {
    return decodable(mt, kind_) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT DecoderFilter::OnPause(FILTER_STATE previous) {
    if (previous != State_Stopped) return S_OK;
    if (!input()->is_connected()) return S_OK;
    CompressedStream cs;
    if (!parse_compressed_type(input()->connection_type().get(), &cs)) return VFW_E_TYPE_NOT_ACCEPTED;
    stream_ = std::move(cs);
    HRESULT hr = decoder_.open(stream_.par.get());
    if (FAILED(hr)) return hr;
    if (output()->is_connected()) {
        hr = configure_output(output()->connection_type().get());
        if (FAILED(hr)) return hr;
    }
    reset_timing();
    discontinuity_ = true;
    failed_ = false;
    return S_OK;
}

HRESULT DecoderFilter::OnStop() {
    // The pins are inactive: no Receive runs any more.
    decoder_.close();
    reset_timing();
    return S_OK;
}

HRESULT DecoderFilter::fail(HRESULT hr) {
    failed_ = true;
    NotifyEvent(EC_ERRORABORT, hr, 0);
    output()->DeliverEndOfStream();
    return hr;
}

HRESULT DecoderFilter::decode(const AVPacket *pkt) {
    for (;;) {
        HRESULT hr = decoder_.send(pkt);
        if (FAILED(hr)) return decoder_.errors_in_row() >= kBrokenAfter ? fail(hr) : S_OK;  // skip the packet
        bool again = hr == S_FALSE;
        for (;;) {
            HRESULT r = decoder_.receive(frame_.get());
            if (r == S_FALSE) break;
            if (FAILED(r)) {
                if (decoder_.errors_in_row() >= kBrokenAfter) return fail(r);
                break;
            }
            HRESULT d = deliver_frame(frame_.get());
            av_frame_unref(frame_.get());
            if (d != S_OK) return d;
        }
        if (!again) return S_OK;
    }
}

HRESULT DecoderFilter::Receive(IMediaSample *in) {
    if (failed_) return S_FALSE;
    if (!decoder_.is_open()) return VFW_E_WRONG_STATE;
    BYTE *data = nullptr;
    if (FAILED(in->GetPointer(&data))) return E_POINTER;
    LONG len = in->GetActualDataLength();
    if (len <= 0) return S_OK;
    PacketPtr pkt = make_packet();
    if (!pkt) return E_OUTOFMEMORY;
    // Not reference counted: libavcodec copies what it keeps.
    pkt->data = data;
    pkt->size = len;
    REFERENCE_TIME a = 0, b = 0;
    HRESULT th = in->GetTime(&a, &b);
    if (th == S_OK || th == VFW_S_NO_STOP_TIME) pkt->pts = a;
    if (th == S_OK && b > a) pkt->duration = b - a;
    if (in->IsSyncPoint() == S_OK) pkt->flags |= AV_PKT_FLAG_KEY;
    return decode(pkt.get());
}

HRESULT DecoderFilter::EndOfStream() {
    if (failed_) return S_OK;  // the end went downstream with the failure
    if (decoder_.is_open()) {
        HRESULT hr = decode(nullptr);
        if (hr == S_OK) drain_output();
        decoder_.flush();  // ready for data again after a seek
        reset_timing();
        if (failed_) return S_OK;
    }
    return output()->DeliverEndOfStream();
}

HRESULT DecoderFilter::EndFlush() {
    decoder_.flush();
    reset_timing();
    discontinuity_ = true;
    failed_ = false;
    return TransformFilter::EndFlush();
}

HRESULT DecoderFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    reset_timing();
    discontinuity_ = true;
    return TransformFilter::NewSegment(start, stop, rate);
}

// =============================================================================================
// VideoDecoderFilter

HRESULT VideoDecoderFilter::create(IBaseFilter **out) {
    if (!out) return E_POINTER;
    *out = static_cast<IBaseFilter *>(new VideoDecoderFilter());
    return S_OK;
}

bool VideoDecoderFilter::accepts(const AM_MEDIA_TYPE &mt) { return decodable(mt, AVMEDIA_TYPE_VIDEO); }

HRESULT VideoDecoderFilter::GetOutputType(const AM_MEDIA_TYPE &in, int index, MediaType *out) {
    if (index < 0) return E_INVALIDARG;
    CompressedStream cs;
    if (!parse_compressed_type(in, &cs)) return VFW_S_NO_MORE_ITEMS;
    std::vector<VideoFormat> formats = preferred_video_formats((AVPixelFormat)cs.par->format);
    if (index >= (int)formats.size()) return VFW_S_NO_MORE_ITEMS;
    *out = video_type(formats[index], cs.par->width, cs.par->height, frame_duration(cs.frame_rate));
    return S_OK;
}

HRESULT VideoDecoderFilter::CheckOutputType(const AM_MEDIA_TYPE &, const AM_MEDIA_TYPE &out) {
    VideoTypeInfo vi;
    return parse_video_type(out, &vi) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

void VideoDecoderFilter::DecideBufferSize(const AM_MEDIA_TYPE &out, ALLOCATOR_PROPERTIES *props) {
    VideoTypeInfo vi;
    LONG size = 64 * 1024;
    if (parse_video_type(out, &vi)) size = (LONG)picture_layout(vi.format, vi.width, vi.height).size;
    props->cBuffers = std::max<LONG>(props->cBuffers, 4);
    props->cbBuffer = std::max(props->cbBuffer, size);
    if (props->cbAlign <= 0) props->cbAlign = 1;
}

HRESULT VideoDecoderFilter::configure_output(const AM_MEDIA_TYPE &out) {
    VideoTypeInfo vi;
    if (!parse_video_type(out, &vi)) return VFW_E_TYPE_NOT_ACCEPTED;
    converter_ = std::make_shared<VideoConverter>(vi.format, vi.width, vi.height, vi.flipped);
    frame_time_ = vi.avg_time_per_frame > 0 ? vi.avg_time_per_frame : frame_duration(stream_.frame_rate);
    return S_OK;
}

void VideoDecoderFilter::reset_timing() {
    next_ = AV_NOPTS_VALUE;
    last_ = AV_NOPTS_VALUE;
}

HRESULT VideoDecoderFilter::deliver_frame(AVFrame *frame) {
    const int64_t dur = frame_time_ > 0 ? frame_time_ : 400000;  // 25 fps when the source says nothing
    int64_t t = frame->best_effort_timestamp;
    if (t == AV_NOPTS_VALUE) t = next_ != AV_NOPTS_VALUE ? next_ : 0;
    if (last_ != AV_NOPTS_VALUE && t <= last_) t = last_ + dur;  // repeated or missing times
    last_ = t;
    next_ = t + dur;
    if (t + dur <= 0) return S_OK;  // lead-in before the segment start

    ComPtr<IMediaSample> out;
    HRESULT hr = output()->GetDeliveryBuffer(out.out());
    if (FAILED(hr)) return hr;
    if (!converter_) return fail(VFW_E_NOT_CONNECTED);
    const PictureLayout &layout = converter_->layout();
    if ((size_t)out->GetSize() < layout.size) return fail(VFW_E_BUFFER_OVERFLOW);
    // The picture goes as it is where the sample can carry it: it is copied or converted into
    // the buffer only if downstream asks for the bytes (our writer scales it from where it
    // lies, in its own format, in one pass).
    std::unique_ptr<FrameContent> shared;
    ComPtr<IDeferredSample> deferred = out.query<IDeferredSample>();
    if (deferred) shared = converter_->share(frame);
    if (shared) {
        deferred->SetContent(std::move(shared));
    } else {
        BYTE *p = nullptr;
        out->GetPointer(&p);
        hr = converter_->convert(frame, p);
        if (FAILED(hr)) return fail(hr);
    }
    out->SetActualDataLength((LONG)layout.size);
    REFERENCE_TIME a = t, b = t + dur;
    out->SetTime(&a, &b);
    out->SetSyncPoint(TRUE);
    out->SetDiscontinuity(discontinuity_);
    discontinuity_ = false;
    return output()->Deliver(out.get());
}

// =============================================================================================
// AudioDecoderFilter

HRESULT AudioDecoderFilter::create(IBaseFilter **out) {
    if (!out) return E_POINTER;
    *out = static_cast<IBaseFilter *>(new AudioDecoderFilter());
    return S_OK;
}

bool AudioDecoderFilter::accepts(const AM_MEDIA_TYPE &mt) { return decodable(mt, AVMEDIA_TYPE_AUDIO); }

HRESULT AudioDecoderFilter::GetOutputType(const AM_MEDIA_TYPE &in, int index, MediaType *out) {
    if (index < 0) return E_INVALIDARG;
    CompressedStream cs;
    if (!parse_compressed_type(in, &cs)) return VFW_S_NO_MORE_ITEMS;
    int channels = std::min(cs.par->ch_layout.nb_channels, 8);
    if (index == 0) {
        *out = pcm_type(cs.par->sample_rate, channels);
        return S_OK;
    }
    if (index == 1 && channels > 2) {
        *out = pcm_type(cs.par->sample_rate, 2);
        return S_OK;
    }
    return VFW_S_NO_MORE_ITEMS;
}

HRESULT AudioDecoderFilter::CheckOutputType(const AM_MEDIA_TYPE &, const AM_MEDIA_TYPE &out) {
    int rate, channels;
    return parse_pcm_type(out, &rate, &channels) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

void AudioDecoderFilter::DecideBufferSize(const AM_MEDIA_TYPE &out, ALLOCATOR_PROPERTIES *props) {
    int rate = 44100, channels = 2;
    parse_pcm_type(out, &rate, &channels);
    LONG block = channels * 2;
    LONG size = std::max<LONG>(rate / 10 * block, 16384);  // 100 ms
    size -= size % block;
    props->cBuffers = std::max<LONG>(props->cBuffers, 8);
    props->cbBuffer = std::max(props->cbBuffer, size);
    if (props->cbAlign <= 0) props->cbAlign = 1;
}

HRESULT AudioDecoderFilter::configure_output(const AM_MEDIA_TYPE &out) {
    int rate, channels;
    if (!parse_pcm_type(out, &rate, &channels)) return VFW_E_TYPE_NOT_ACCEPTED;
    converter_.set_output(rate, channels);
    pcm_.clear();
    return S_OK;
}

void AudioDecoderFilter::reset_timing() {
    base_ = AV_NOPTS_VALUE;
    samples_ = 0;
    pcm_.clear();
    converter_.reset();
}

int64_t AudioDecoderFilter::sample_time(int64_t samples) const {
    return base_ + av_rescale(samples, kUnits, converter_.sample_rate());
}

HRESULT AudioDecoderFilter::deliver_frame(AVFrame *frame) {
    int n = converter_.convert(frame, pcm_);
    if (n < 0) return fail(E_FAIL);
    return deliver_pcm(frame->best_effort_timestamp);
}

HRESULT AudioDecoderFilter::drain_output() {
    if (converter_.convert(nullptr, pcm_) < 0) return S_OK;
    return deliver_pcm(AV_NOPTS_VALUE);
}

HRESULT AudioDecoderFilter::deliver_pcm(int64_t frame_time) {
    const size_t block = (size_t)converter_.block_align();
    if (pcm_.empty() || block == 0) return S_OK;
    if (base_ == AV_NOPTS_VALUE) {
        base_ = frame_time != AV_NOPTS_VALUE ? frame_time : 0;
        samples_ = 0;
    } else if (frame_time != AV_NOPTS_VALUE && std::llabs(frame_time - sample_time(samples_)) > 400000) {
        // More than 40 ms off the sample count: a gap or jump in the source.
        base_ = frame_time;
        samples_ = 0;
        discontinuity_ = true;
    }
    const size_t total = pcm_.size() / block;
    size_t off = 0;
    int64_t start = sample_time(samples_);
    if (start < 0) {  // the lead-in before the segment start is cut off
        int64_t skip = av_rescale_rnd(-start, converter_.sample_rate(), kUnits, AV_ROUND_UP);
        off = (size_t)std::min<int64_t>(skip, (int64_t)total);
        samples_ += (int64_t)off;
    }
    HRESULT hr = S_OK;
    while (off < total) {
        ComPtr<IMediaSample> out;
        hr = output()->GetDeliveryBuffer(out.out());
        if (FAILED(hr)) break;
        size_t n = std::min((size_t)out->GetSize() / block, total - off);
        if (n == 0) {
            hr = fail(VFW_E_BUFFER_OVERFLOW);
            break;
        }
        BYTE *p = nullptr;
        out->GetPointer(&p);
        std::memcpy(p, pcm_.data() + off * block, n * block);
        out->SetActualDataLength((LONG)(n * block));
        REFERENCE_TIME a = sample_time(samples_), b = sample_time(samples_ + (int64_t)n);
        out->SetTime(&a, &b);
        out->SetSyncPoint(TRUE);
        out->SetDiscontinuity(discontinuity_);
        discontinuity_ = false;
        samples_ += (int64_t)n;
        off += n;
        hr = output()->Deliver(out.get());
        if (hr != S_OK) break;
    }
    pcm_.clear();
    return hr;
}

// =============================================================================================
// Entry points for intelligent connect

bool video_decoder_accepts(const AM_MEDIA_TYPE &input) { return VideoDecoderFilter::accepts(input); }
HRESULT create_video_decoder(IBaseFilter **filter) { return VideoDecoderFilter::create(filter); }
bool audio_decoder_accepts(const AM_MEDIA_TYPE &input) { return AudioDecoderFilter::accepts(input); }
HRESULT create_audio_decoder(IBaseFilter **filter) { return AudioDecoderFilter::create(filter); }

}  // namespace tw::posix::media
