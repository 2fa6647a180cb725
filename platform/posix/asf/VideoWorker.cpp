#include "platform/posix/asf/EncodeWorker.h"

#include "platform/posix/ffmpeg/Owners.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

namespace tw::posix::asf::recorder {

namespace {

class VideoWorker : public Worker {
public:
    VideoWorker(size_t index, const StreamSetting &s) : Worker(index, video_queue_depth(s.width, s.height)), s_(s) {}
    ~VideoWorker() override {
        av_frame_free(&last_);
        av_packet_free(&pkt_);
    }

    HRESULT open() override {
        const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_WMV2);
        if (!codec) return E_FAIL;
        enc_.reset(avcodec_alloc_context3(codec));
        AVCodecContext *c = enc_.get();
        c->width = s_.width;
        c->height = s_.height;
        c->pix_fmt = AV_PIX_FMT_YUV420P;
        c->time_base = AVRational{s_.fps_den, s_.fps_num};
        c->framerate = AVRational{s_.fps_num, s_.fps_den};
        c->sample_aspect_ratio = AVRational{1, 1};
        c->max_b_frames = 0;
        gop_ = std::max<int64_t>(1, av_rescale(s_.keyframe_ms, s_.fps_num, int64_t(s_.fps_den) * 1000));
        c->gop_size = int(gop_);
        if (s_.bitrate > 0) {
            // The encoder aims a little below the profile's rate: aimed at the rate itself, it
            // spent the whole window's worth on average, so the bits of a key frame or a busy
            // moment went over the window (checked below) and the frames after it were skipped,
            // a stutter every few seconds that cost more than the few bits it saved.
            c->bit_rate = s_.bitrate * int64_t(kRateAim) / 100;
            // The profile's buffer window as a leaky bucket draining at the stream's rate.
            c->rc_max_rate = s_.bitrate;
            c->rc_buffer_size = int(int64_t(s_.bitrate) * std::max(s_.buffer_ms, 1000) / 1000);
            // The encoder may start with 40% of the buffer in hand, not FFmpeg's usual three
            // quarters: the check below allows no window more than the window's worth, so what
            // the encoder spent early beyond that came back as frames skipped in a row (up to
            // a second of a frozen picture after the first key frame).
            c->rc_initial_buffer_occupancy = c->rc_buffer_size * 2 / 5;
            c->qmax = 31;
        } else {
            // Quality-based: a fixed quantiser from the profile's quality (98 -> 2, 50 -> 7).
            int q = std::clamp(2 + (98 - s_.quality) * 5 / 48, 2, 31);
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * q;
        }
        if (avcodec_open2(c, codec, nullptr) < 0) return E_FAIL;
        pkt_ = av_packet_alloc();
        linesize_ = encoder_linesize(c);
        return S_OK;
    }

    int picture_linesize() const override { return linesize_; }

    void fill(AsfStream &s) override {
        s.video = true;
        s.width = s_.width;
        s.height = s_.height;
        s.fourcc = MKTAG('W', 'M', 'V', '2');
        s.bitrate = s_.bitrate > 0 ? uint32_t(s_.bitrate) : uint32_t(s_.width * s_.height * 8);
        s.buffer_ms = uint32_t(s_.buffer_ms);
        s.frame_time_100ns = uint64_t(av_rescale(kUnits, s_.fps_den, s_.fps_num));
        s.codec_name = u16("Windows Media Video 8");
        s.codec_description = u16("");
        AVCodecContext *c = enc_.get();
        if (c->extradata_size > 0) s.extradata.assign(c->extradata, c->extradata + c->extradata_size);
    }

private:
    // FFmpeg's MPEG-family encoders copy each picture they are given into one of their own,
    // unless its rows have the stride of their own pictures: those are allocated from the
    // context's frame pool with a 16-pixel edge on every side. Asking the pool for such a
    // picture tells that stride (and leaves the buffer in the pool the encoder takes it from).
    // A wrong answer costs only the copy.
    static int encoder_linesize(AVCodecContext *c) {
        constexpr int kEdge = 16;
        AVFrame *f = av_frame_alloc();
        if (!f) return 0;
        f->format = c->pix_fmt;
        f->width = c->width + 2 * kEdge;
        f->height = c->height + 2 * kEdge;
        int linesize = avcodec_default_get_buffer2(c, f, 0) == 0 ? f->linesize[0] : 0;
        av_frame_free(&f);
        return linesize;
    }

    // This variant's picture: a new reference to the one scaled for its size.
    AVFrame *picture(const Raw &r) const {
        for (const Picture &p : r.pictures)
            if (p.width == s_.width && p.height == s_.height) return p.frame ? av_frame_clone(p.frame.get()) : nullptr;
        return nullptr;
    }

    int64_t slot_of(int64_t t) const { return output_slot(t, s_.fps_num, s_.fps_den); }

    // Bit-rate streams keep the profile's buffer window: once the frames of the last window
    // hold more than the window's worth of bits, slots are skipped (the picture before stays
    // on screen) until it drains, as Windows Media encoders drop frames at low rates. The
    // encoder's own rate control alone cannot get below its coarsest quantiser.
    bool over_budget(int64_t slot) {
        if (s_.bitrate <= 0) return false;
        int64_t span = std::max<int64_t>(1, av_rescale(std::max(s_.buffer_ms, 1000), s_.fps_num, int64_t(s_.fps_den) * 1000));
        while (!window_.empty() && window_.front().first <= slot - span) {
            window_bits_ -= window_.front().second;
            window_.pop_front();
        }
        return window_bits_ > av_rescale(s_.bitrate, span * s_.fps_den, s_.fps_num);
    }

    void encode(AVFrame *src, int64_t slot, bool force = false) {
        bool key_slot = (slot - first_slot_) % gop_ == 0;
        if (!force && over_budget(slot)) {
            key_due_ = key_due_ || key_slot;
            return;
        }
        AVFrame *f = av_frame_clone(src);
        f->pts = slot;
        // Key frames fall on the same slots in every variant, so one index serves them all.
        f->pict_type = key_slot || key_due_ ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        key_due_ = false;
        if (enc_->flags & AV_CODEC_FLAG_QSCALE) f->quality = enc_->global_quality;
        if (avcodec_send_frame(enc_.get(), f) == 0) {
            while (avcodec_receive_packet(enc_.get(), pkt_) == 0) {
                window_.emplace_back(pkt_->pts, int64_t(pkt_->size) * 8);
                window_bits_ += int64_t(pkt_->size) * 8;
                emit(pkt_, enc_->time_base);
                av_packet_unref(pkt_);
            }
        }
        last_encoded_ = slot;
        av_frame_free(&f);
    }

    // Constant frame rate: every output slot shows the latest frame that started at or before
    // it; frames that fall between slots are dropped, gaps repeat the previous frame.
    void process(const Raw &r) override {
        int64_t slot = slot_of(r.start);
        if (next_slot_ == INT64_MIN) next_slot_ = first_slot_ = slot;
        if (r.stop > r.start) last_stop_ = std::max(last_stop_, r.stop);
        last_start_ = std::max(last_start_, r.start);
        if (slot < next_slot_) {
            // Falls into a slot already shown: keep it as the picture for the next slot.
            AVFrame *f = picture(r);
            if (f) {
                av_frame_free(&last_);
                last_ = f;
            }
            return;
        }
        if (last_) {
            int64_t repeat_to = std::min(slot, next_slot_ + kMaxRepeat);
            for (int64_t k = next_slot_; k < repeat_to; ++k) encode(last_, k);
        }
        AVFrame *f = picture(r);
        if (!f) return;
        av_frame_free(&last_);
        last_ = f;
        encode(last_, slot);
        next_slot_ = slot + 1;
    }

    void finish() override {
        if (last_) {
            // The last picture lasts until its sample's stop time (one frame if none was given).
            int64_t end = last_stop_ > last_start_ ? slot_of(last_stop_) : next_slot_;
            end = std::min(end, next_slot_ + kMaxRepeat);
            for (int64_t k = next_slot_; k < end; ++k) encode(last_, k);
            // The last slot is always shown, so the stream lasts as long as its input.
            int64_t final_slot = std::max(end, next_slot_) - 1;
            if (last_encoded_ < final_slot) encode(last_, final_slot, true);
        }
        avcodec_send_frame(enc_.get(), nullptr);
        drain_encoder(enc_.get(), pkt_);
    }

    static constexpr int64_t kMaxRepeat = 600;
    static constexpr int kRateAim = 95;  // the encoder's target, in percent of the stream's rate
    StreamSetting s_;
    ffmpeg::CodecContextPtr enc_;
    AVFrame *last_ = nullptr;
    AVPacket *pkt_ = nullptr;
    int64_t gop_ = 1;
    int linesize_ = 0;
    int64_t next_slot_ = INT64_MIN, first_slot_ = 0;
    int64_t last_stop_ = -1, last_start_ = -1;
    int64_t last_encoded_ = INT64_MIN;
    bool key_due_ = false;
    std::deque<std::pair<int64_t, int64_t>> window_;  // (slot, bits) of the last buffer window
    int64_t window_bits_ = 0;
};

}  // namespace

std::unique_ptr<Worker> make_video_worker(size_t index, const StreamSetting &s) {
    return std::make_unique<VideoWorker>(index, s);
}

}  // namespace tw::posix::asf::recorder
