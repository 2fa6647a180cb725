#include "platform/posix/media/Codecs.h"

#include "platform/posix/ffmpeg/PixelFormats.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <thread>

namespace tw::posix::media {

// ---- Video formats

static const VideoFormatInfo kVideoFormats[] = {
    {VideoFormat::I420, MKTAG('I', '4', '2', '0'), MKTAG('I', '4', '2', '0'), 12, AV_PIX_FMT_YUV420P, false, "I420"},
    {VideoFormat::YV12, MKTAG('Y', 'V', '1', '2'), MKTAG('Y', 'V', '1', '2'), 12, AV_PIX_FMT_YUV420P, false, "YV12"},
    {VideoFormat::NV12, MKTAG('N', 'V', '1', '2'), MKTAG('N', 'V', '1', '2'), 12, AV_PIX_FMT_NV12, false, "NV12"},
    {VideoFormat::YUY2, MKTAG('Y', 'U', 'Y', '2'), MKTAG('Y', 'U', 'Y', '2'), 16, AV_PIX_FMT_YUYV422, false, "YUY2"},
    // MEDIASUBTYPE_RGB32 {e436eb7e-...} and MEDIASUBTYPE_RGB24 {e436eb7d-...}; bytes B, G, R(, X).
    {VideoFormat::RGB32, 0, 0xE436EB7E, 32, AV_PIX_FMT_BGR0, true, "RGB32"},
    {VideoFormat::RGB24, 0, 0xE436EB7D, 24, AV_PIX_FMT_BGR24, true, "RGB24"},
};

const VideoFormatInfo &video_format_info(VideoFormat f) { return kVideoFormats[(int)f]; }

const std::vector<VideoFormat> &all_video_formats() {
    static const std::vector<VideoFormat> all = {VideoFormat::I420, VideoFormat::YV12,  VideoFormat::NV12,
                                                 VideoFormat::YUY2, VideoFormat::RGB32, VideoFormat::RGB24};
    return all;
}

PictureLayout picture_layout(VideoFormat f, int w, int h) {
    PictureLayout l;
    if (w <= 0 || h <= 0) return l;
    const size_t cw = (size_t)(w + 1) / 2, ch = (size_t)(h + 1) / 2;
    switch (f) {
    case VideoFormat::I420:
    case VideoFormat::YV12:
        l.planes = 3;
        l.stride[0] = w;
        l.stride[1] = l.stride[2] = (int)cw;
        l.offset[1] = (size_t)w * h;
        l.offset[2] = l.offset[1] + cw * ch;
        l.size = l.offset[2] + cw * ch;
        break;
    case VideoFormat::NV12:
        l.planes = 2;
        l.stride[0] = w;
        l.stride[1] = (int)(cw * 2);
        l.offset[1] = (size_t)w * h;
        l.size = l.offset[1] + cw * 2 * ch;
        break;
    case VideoFormat::YUY2:
        l.planes = 1;
        l.stride[0] = (int)(cw * 4);
        l.size = (size_t)l.stride[0] * h;
        break;
    case VideoFormat::RGB32:
    case VideoFormat::RGB24: {
        l.planes = 1;
        int bpp = video_format_info(f).bit_count;
        l.stride[0] = ((w * bpp / 8) + 3) & ~3;
        l.size = (size_t)l.stride[0] * h;
        break;
    }
    }
    return l;
}

std::vector<VideoFormat> preferred_video_formats(AVPixelFormat native) {
    std::vector<VideoFormat> out;
    for (VideoFormat f : all_video_formats())
        if (video_format_info(f).pix == native && f != VideoFormat::YV12) out.push_back(f);
    // JPEG's full-range 4:2:0 is the same layout as I420.
    if (native == AV_PIX_FMT_YUVJ420P) out.push_back(VideoFormat::I420);
    for (VideoFormat f : all_video_formats())
        if (std::find(out.begin(), out.end(), f) == out.end()) out.push_back(f);
    return out;
}

// ---- Decoder

HRESULT Decoder::open(const AVCodecParameters *par, int threads) {
    ctx_.reset();
    errors_in_row_ = 0;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return VFW_E_UNSUPPORTED_STREAM;
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) return E_OUTOFMEMORY;
    if (avcodec_parameters_to_context(ctx.get(), par) < 0) return E_FAIL;
    ctx->pkt_timebase = kUnitsTimeBase;
    // One thread per core, not libavcodec's one more: what a decoder feeds (the writer's
    // encoders, a renderer) runs on threads of its own, and each extra frame thread holds
    // pictures of its own (about 8 MB more at 1080p for no gain in speed on two cores).
    if (threads <= 0) threads = int(std::max(1u, std::thread::hardware_concurrency()));
    ctx->thread_count = threads;
    ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    int err = avcodec_open2(ctx.get(), codec, nullptr);
    if (err < 0) return err == AVERROR(ENOMEM) ? E_OUTOFMEMORY : VFW_E_UNSUPPORTED_STREAM;
    ctx_ = std::move(ctx);
    return S_OK;
}

HRESULT Decoder::send(const AVPacket *pkt) {
    if (!ctx_) return E_UNEXPECTED;
    int err = avcodec_send_packet(ctx_.get(), pkt);
    if (err == AVERROR(EAGAIN)) return S_FALSE;  // take frames out, then send it again
    if (err == AVERROR_EOF) return S_OK;           // already draining: nothing more goes in
    if (err < 0) {
        ++errors_in_row_;
        return err == AVERROR(ENOMEM) ? E_OUTOFMEMORY : VFW_E_INVALID_FILE_FORMAT;
    }
    return S_OK;
}

HRESULT Decoder::receive(AVFrame *frame) {
    if (!ctx_) return E_UNEXPECTED;
    int err = avcodec_receive_frame(ctx_.get(), frame);
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return S_FALSE;
    if (err < 0) {
        ++errors_in_row_;
        return err == AVERROR(ENOMEM) ? E_OUTOFMEMORY : VFW_E_INVALID_FILE_FORMAT;
    }
    errors_in_row_ = 0;
    return S_OK;
}

void Decoder::flush() {
    if (ctx_) avcodec_flush_buffers(ctx_.get());
    errors_in_row_ = 0;
}

// ---- VideoConverter

VideoConverter::VideoConverter(VideoFormat f, int width, int height, bool top_down)
    : format_(f), width_(width), height_(height), top_down_(top_down), layout_(picture_layout(f, width, height)) {}

std::unique_ptr<FrameContent> VideoConverter::share(const AVFrame *frame) {
    if (!frame || frame->width != width_ || frame->height != height_ || layout_.size == 0) return nullptr;
    bool plain = (format_ == VideoFormat::I420 || format_ == VideoFormat::YV12 || format_ == VideoFormat::NV12) &&
                 frame->format == video_format_info(format_).pix && frame->color_range != AVCOL_RANGE_JPEG;
    FramePtr ref(av_frame_clone(frame));
    if (!ref) return nullptr;
    return std::make_unique<FrameContent>(std::move(ref), shared_from_this(), plain);
}

HRESULT FrameContent::write(BYTE *dst, LONG size) const {
    const PictureLayout &l = converter_->layout();
    if (!dst || size < 0 || size_t(size) < l.size) return E_FAIL;
    if (!plain_) return converter_->convert(frame_.get(), dst);
    const AVFrame &f = *frame_;
    uint8_t *planes[4] = {};
    int strides[4] = {};
    for (int i = 0; i < l.planes; ++i) {
        planes[i] = dst + l.offset[i];
        strides[i] = l.stride[i];
    }
    if (converter_->format() == VideoFormat::YV12) {  // V before U
        std::swap(planes[1], planes[2]);
        std::swap(strides[1], strides[2]);
    }
    av_image_copy(planes, strides, const_cast<const uint8_t **>(f.data), f.linesize, AVPixelFormat(f.format),
                  f.width, f.height);
    return S_OK;
}

HRESULT VideoConverter::convert(const AVFrame *frame, uint8_t *dst) {
    if (!frame || frame->width <= 0 || frame->height <= 0 || layout_.size == 0) return E_FAIL;
    std::lock_guard<std::mutex> g(mutex_);
    const VideoFormatInfo &info = video_format_info(format_);
    bool full_range = frame->color_range == AVCOL_RANGE_JPEG;
    AVPixelFormat in = ffmpeg::plain_format(AVPixelFormat(frame->format), &full_range);
    // The cached call frees the old context itself when it cannot reuse it.
    SwsContext *prev = sws_.get();
    sws_.reset(sws_getCachedContext(sws_.release(), frame->width, frame->height, in, width_, height_, info.pix,
                                    SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!sws_) return E_FAIL;
    if (sws_.get() != prev || full_range != full_range_) {
        // YUV out is video range, as DirectShow's YUV types are; RGB is full range.
        ffmpeg::set_ranges(sws_.get(), full_range, info.fourcc == 0);
        full_range_ = full_range;
    }

    uint8_t *planes[4] = {};
    int strides[4] = {};
    for (int i = 0; i < layout_.planes; ++i) {
        planes[i] = dst + layout_.offset[i];
        strides[i] = layout_.stride[i];
    }
    if (format_ == VideoFormat::YV12) {  // V before U
        std::swap(planes[1], planes[2]);
        std::swap(strides[1], strides[2]);
    }
    if (info.bottom_up && !top_down_) {  // start at the last row and walk upwards
        planes[0] += (size_t)strides[0] * (height_ - 1);
        strides[0] = -strides[0];
    }
    int rows = sws_scale(sws_.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
    return rows > 0 ? S_OK : E_FAIL;
}

// ---- AudioConverter

void AudioConverter::set_output(int sample_rate, int channels) {
    rate_ = sample_rate;
    channels_ = channels;
    reset();
}

void AudioConverter::reset() {
    swr_.reset();
    av_channel_layout_uninit(&in_layout_);
    in_format_ = -1;
    in_rate_ = 0;
}

int AudioConverter::configure(const AVFrame *frame) {
    if (swr_ && frame->format == in_format_ && frame->sample_rate == in_rate_ &&
        av_channel_layout_compare(&frame->ch_layout, &in_layout_) == 0)
        return 0;
    swr_.reset();
    AVChannelLayout out_layout;
    av_channel_layout_default(&out_layout, channels_);
    AVChannelLayout in_layout;
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in_layout, frame->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&in_layout, &frame->ch_layout);
    SwrContext *swr = nullptr;
    int err = swr_alloc_set_opts2(&swr, &out_layout, AV_SAMPLE_FMT_S16, rate_, &in_layout,
                                  (AVSampleFormat)frame->format, frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&out_layout);
    if (err >= 0) err = swr_init(swr);
    if (err < 0) {
        swr_free(&swr);
        av_channel_layout_uninit(&in_layout);
        return err;
    }
    swr_.reset(swr);
    av_channel_layout_uninit(&in_layout_);
    in_layout_ = in_layout;
    in_format_ = frame->format;
    in_rate_ = frame->sample_rate;
    return 0;
}

int AudioConverter::convert(const AVFrame *frame, std::vector<uint8_t> &out) {
    if (channels_ <= 0 || rate_ <= 0) return AVERROR(EINVAL);
    if (frame) {
        if (int err = configure(frame); err < 0) return err;
    } else if (!swr_) {
        return 0;
    }
    int in_samples = frame ? frame->nb_samples : 0;
    int room = swr_get_out_samples(swr_.get(), in_samples);
    if (room <= 0) return 0;
    size_t at = out.size();
    out.resize(at + (size_t)room * block_align());
    uint8_t *dst = out.data() + at;
    int n = swr_convert(swr_.get(), &dst, room, frame ? (const uint8_t **)frame->extended_data : nullptr, in_samples);
    if (n < 0) {
        out.resize(at);
        return n;
    }
    out.resize(at + (size_t)n * block_align());
    return n;
}

}  // namespace tw::posix::media
