#include "platform/posix/asf/AsfRecorder.h"

#include "platform/posix/asf/AsfFile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace tw::posix::asf {

namespace {

constexpr int64_t kUnits = 10000000;  // 100 ns units per second
constexpr size_t kVideoQueue = 8;      // raw frames waiting per video stream
constexpr size_t kAudioQueue = 64;     // PCM blocks waiting
constexpr size_t kOutQueue = 512;      // finished packets waiting for the output thread
constexpr size_t kInterleaveCap = 2048;  // packets held back for interleaving, at most

struct Raw {
    Bytes data;
    int64_t start = 0, stop = -1;
    bool eos = false;
};
using RawPtr = std::shared_ptr<const Raw>;

struct Encoded {
    Bytes data;
    int64_t pts_ms, dur_ms;
    bool key;
};

// Bounded FIFO between a pushing thread and a worker. close() wakes both sides for good.
template <class T>
class Queue {
public:
    explicit Queue(size_t cap) : cap_(cap) {}
    bool push(T v) {
        std::unique_lock lk(m_);
        not_full_.wait(lk, [&] { return q_.size() < cap_ || closed_; });
        if (closed_) return false;
        q_.push_back(std::move(v));
        not_empty_.notify_one();
        return true;
    }
    // Queues even when full (end-of-stream markers must not be lost).
    void push_always(T v) {
        std::lock_guard lk(m_);
        q_.push_back(std::move(v));
        not_empty_.notify_one();
    }
    bool pop(T &out) {
        std::unique_lock lk(m_);
        not_empty_.wait(lk, [&] { return !q_.empty() || closed_; });
        if (q_.empty()) return false;
        out = std::move(q_.front());
        q_.pop_front();
        not_full_.notify_one();
        return true;
    }
    void close() {
        std::lock_guard lk(m_);
        closed_ = true;
        not_full_.notify_all();
        not_empty_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable not_full_, not_empty_;
    std::deque<T> q_;
    size_t cap_;
    bool closed_ = false;
};

struct CodecCtx {
    AVCodecContext *c = nullptr;
    ~CodecCtx() { avcodec_free_context(&c); }
};

std::u16string u16(const char *s) {
    std::u16string r;
    while (*s) r.push_back(char16_t(*s++));
    return r;
}

int64_t to_ms(int64_t v, AVRational tb) { return av_rescale_q(v, tb, AVRational{1, 1000}); }

}  // namespace

size_t video_frame_bytes(const VideoFormat &f) {
    if (f.width <= 0 || f.height <= 0) return 0;
    size_t w = size_t(f.width), h = size_t(f.height);
    switch (f.pix_fmt) {
    case AV_PIX_FMT_BGR0:
    case AV_PIX_FMT_BGRA: return size_t(f.stride ? f.stride : int(w * 4)) * h;
    case AV_PIX_FMT_BGR24: return size_t(f.stride ? f.stride : int((w * 3 + 3) & ~size_t(3))) * h;
    case AV_PIX_FMT_YUYV422: return size_t(f.stride ? f.stride : int(w * 2)) * h;
    case AV_PIX_FMT_YUV420P: {
        size_t s = f.stride ? size_t(f.stride) : w;
        return s * h + 2 * (s / 2) * ((h + 1) / 2);
    }
    case AV_PIX_FMT_NV12: {
        size_t s = f.stride ? size_t(f.stride) : w;
        return s * h + s * ((h + 1) / 2);
    }
    default: return 0;
    }
}

namespace {

// ---- The muxing hub: interleaves what the workers encode, packs it, and hands packets to the
// output thread, which alone touches the file and the sinks.
class Hub {
public:
    Hub(AsfLayout layout, AsfFile *file, std::vector<PacketSink *> sinks, std::function<void(HRESULT)> on_error)
        : mux_(std::move(layout), [this](const uint8_t *p, size_t n) { out_.emplace_back(p, p + n); }),
          file_(file), sinks_(std::move(sinks)), on_error_(std::move(on_error)),
          pending_(mux_.layout().streams.size()), ended_(mux_.layout().streams.size(), false) {}

    AsfMuxer &mux() { return mux_; }

    void start() {
        thread_ = std::thread([this] {
            pthread_setname_np(pthread_self(), "asf-output");
            output_loop();
        });
    }

    // From a worker: one encoded object of layout stream `i`.
    void submit(size_t i, Encoded e) {
        std::unique_lock lk(m_);
        room_.wait(lk, [&] { return out_.size() < kOutQueue || failed(); });
        if (failed()) return;
        pending_[i].push_back(std::move(e));
        ++held_;
        drain(false);
    }
    void end_stream(size_t i) {
        std::lock_guard lk(m_);
        ended_[i] = true;
        drain(false);
    }
    // Everything submitted goes out; the output thread finishes and is joined.
    void close() {
        {
            std::lock_guard lk(m_);
            drain(true);
            mux_.flush();
            closing_ = true;
            work_.notify_all();
        }
        if (thread_.joinable()) thread_.join();
    }
    HRESULT error() const {
        std::lock_guard lk(m_);
        return error_;
    }
    // Waits until the output thread has written everything handed to it so far and pushed it
    // to the system. With `complete` (every stream has ended) the packet being filled goes
    // out first, so the file then holds the whole recording.
    void wait_written(bool complete = false) {
        std::unique_lock lk(m_);
        if (complete) {
            drain(true);
            mux_.flush();
        }
        flush_wanted_ = true;
        work_.notify_all();
        room_.wait(lk, [&] { return (out_.empty() && !writing_ && !flush_wanted_) || !thread_.joinable(); });
    }
    // Media time (ms) the packets in the file reach: what a reader of the file finds now.
    int64_t written_ms() const { return written_ms_.load(); }
    void stats(int number, uint64_t *objects, uint64_t *bytes) const {
        std::lock_guard lk(m_);
        *objects = mux_.stream_objects(number);
        *bytes = mux_.stream_bytes(number);
    }
    bool aborted() const { return aborted_.load(); }

private:
    bool failed() const { return FAILED(error_); }

    // Writes out held objects in time order: the earliest goes once every stream still running
    // has one waiting (or too much is held back, or `all`). Called with m_ held.
    void drain(bool all) {
        for (;;) {
            size_t best = SIZE_MAX;
            bool blocked = false;
            for (size_t i = 0; i < pending_.size(); ++i) {
                if (pending_[i].empty()) {
                    if (!ended_[i]) blocked = true;
                    continue;
                }
                if (best == SIZE_MAX || pending_[i].front().pts_ms < pending_[best].front().pts_ms) best = i;
            }
            if (best == SIZE_MAX) break;
            if (blocked && !all && held_ < kInterleaveCap) break;
            Encoded &e = pending_[best].front();
            mux_.add(mux_.layout().streams[best].number, e.data.data(), e.data.size(), e.pts_ms, e.dur_ms, e.key);
            pending_[best].pop_front();
            --held_;
        }
        if (!out_.empty()) work_.notify_one();
    }

    void output_loop() {
        using clock = std::chrono::steady_clock;
        auto last_flush = clock::now();
        std::unique_lock lk(m_);
        for (;;) {
            work_.wait_for(lk, std::chrono::milliseconds(500),
                           [&] { return !out_.empty() || closing_ || flush_wanted_; });
            std::deque<Bytes> batch;
            batch.swap(out_);
            writing_ = !batch.empty();
            room_.notify_all();
            bool closing = closing_;
            bool flush_now = flush_wanted_;
            lk.unlock();
            HRESULT hr = S_OK;
            for (Bytes &p : batch) {
                if (!aborted_) {
                    hr = file_->write_packet(p.data(), p.size());
                    if (FAILED(hr)) break;
                }
                for (PacketSink *s : sinks_) s->on_packet(p.data(), p.size());
            }
            if (SUCCEEDED(hr) && !aborted_ &&
                (closing || flush_now || clock::now() - last_flush > std::chrono::milliseconds(500))) {
                hr = file_->flush();
                last_flush = clock::now();
            }
            if (FAILED(hr) && !aborted_) {
                aborted_ = true;
                if (on_error_) on_error_(hr);
                lk.lock();
                error_ = hr;
                room_.notify_all();
                lk.unlock();
            }
            const uint64_t on_disk = file_->packets_on_disk();
            lk.lock();
            written_ms_ = mux_.end_ms_within(on_disk);
            writing_ = false;
            if (flush_now) flush_wanted_ = false;
            room_.notify_all();
            if (closing && out_.empty()) break;
        }
    }

    mutable std::mutex m_;  // guards everything below except the file, which only the output thread uses
    std::condition_variable work_, room_;
    AsfMuxer mux_;
    std::deque<Bytes> out_;
    AsfFile *file_;
    std::vector<PacketSink *> sinks_;
    std::function<void(HRESULT)> on_error_;
    std::vector<std::deque<Encoded>> pending_;
    std::vector<bool> ended_;
    size_t held_ = 0;
    bool closing_ = false;
    bool writing_ = false;  // the output thread is writing a batch
    bool flush_wanted_ = false;  // wait_written waits for the file to be pushed to the system
    std::atomic<int64_t> written_ms_{0};
    HRESULT error_ = S_OK;
    std::atomic<bool> aborted_{false};
    std::thread thread_;
};

// ---- Workers: one per output stream.
class Worker {
public:
    Worker(size_t layout_index, size_t queue) : index_(layout_index), q_(queue) {}
    virtual ~Worker() = default;
    virtual HRESULT open() = 0;
    virtual void fill(AsfStream &s) = 0;

    void start(Hub *hub, const char *name) {
        hub_ = hub;
        thread_ = std::thread([this, name] {
            // Named for profilers and debuggers: "asf-audio", "asf-video1", ...
            pthread_setname_np(pthread_self(), name);
            run();
        });
    }
    bool push(RawPtr r) { return q_.push(std::move(r)); }
    void end() { q_.push_always(std::make_shared<Raw>(Raw{{}, 0, -1, true})); }
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    void close_queue() { q_.close(); }

protected:
    virtual void process(const Raw &r) = 0;
    virtual void finish() = 0;
    void emit(const AVPacket *pkt, AVRational tb) {
        // An audio encoder's priming frame decodes to the time before the start: left out, the
        // streams start together at zero and the file lasts as long as its input.
        if (pkt->duration > 0 && pkt->pts + pkt->duration <= 0) return;
        Encoded e{Bytes(pkt->data, pkt->data + pkt->size), to_ms(pkt->pts, tb),
                  std::max<int64_t>(to_ms(pkt->duration, tb), 0), (pkt->flags & AV_PKT_FLAG_KEY) != 0};
        hub_->submit(index_, std::move(e));
    }
    void drain_encoder(AVCodecContext *c, AVPacket *pkt) {
        while (avcodec_receive_packet(c, pkt) == 0) {
            emit(pkt, c->time_base);
            av_packet_unref(pkt);
        }
    }

    size_t index_;
    Hub *hub_ = nullptr;

private:
    void run() {
        RawPtr r;
        while (q_.pop(r)) {
            if (r->eos) break;
            if (!hub_->aborted()) process(*r);
        }
        if (!hub_->aborted()) finish();
        hub_->end_stream(index_);
        q_.close();
    }
    Queue<RawPtr> q_;
    std::thread thread_;
};

class VideoWorker : public Worker {
public:
    VideoWorker(size_t index, const StreamSetting &s, const VideoFormat &in)
        : Worker(index, kVideoQueue), s_(s), in_(in) {}
    ~VideoWorker() override {
        sws_freeContext(sws_);
        av_frame_free(&last_);
        av_packet_free(&pkt_);
    }

    HRESULT open() override {
        const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_WMV2);
        if (!codec) return E_FAIL;
        enc_.c = avcodec_alloc_context3(codec);
        AVCodecContext *c = enc_.c;
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
            c->bit_rate = s_.bitrate;
            // The profile's buffer window as a leaky bucket draining at the stream's rate (one
            // bit more, which FFmpeg's rate control takes without its "impossible" warning).
            c->rc_max_rate = s_.bitrate + 1;
            c->rc_buffer_size = int(int64_t(s_.bitrate) * std::max(s_.buffer_ms, 1000) / 1000);
            c->rc_initial_buffer_occupancy = c->rc_buffer_size * 3 / 4;
            c->qmax = 31;
        } else {
            // Quality-based: a fixed quantiser from the profile's quality (98 -> 2, 50 -> 7).
            int q = std::clamp(2 + (98 - s_.quality) * 5 / 48, 2, 31);
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * q;
        }
        if (avcodec_open2(c, codec, nullptr) < 0) return E_FAIL;
        pkt_ = av_packet_alloc();
        return S_OK;
    }

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
        AVCodecContext *c = enc_.c;
        if (c->extradata_size > 0) s.extradata.assign(c->extradata, c->extradata + c->extradata_size);
    }

private:
    bool setup_scaler() {
        if (sws_) return true;
        int sw = s_.width, sh = s_.height;
        // Fit the picture into the frame with its aspect kept; the rest is black border.
        if (int64_t(in_.width) * s_.height > int64_t(s_.width) * in_.height)
            sh = int(int64_t(s_.width) * in_.height / in_.width);
        else
            sw = int(int64_t(s_.height) * in_.width / in_.height);
        sw = std::max(2, sw & ~1);
        sh = std::max(2, sh & ~1);
        x_ = ((s_.width - sw) / 2) & ~1;
        y_ = ((s_.height - sh) / 2) & ~1;
        sw_ = sw;
        sh_ = sh;
        sws_ = sws_getContext(in_.width, in_.height, AVPixelFormat(in_.pix_fmt), sw, sh, AV_PIX_FMT_YUV420P,
                              SWS_BICUBIC, nullptr, nullptr, nullptr);
        return sws_ != nullptr;
    }

    AVFrame *scale(const Raw &r) {
        if (!setup_scaler()) return nullptr;
        const uint8_t *src[4] = {};
        int ls[4] = {};
        const uint8_t *d = r.data.data();
        int w = in_.width, h = in_.height;
        switch (in_.pix_fmt) {
        case AV_PIX_FMT_BGR0:
        case AV_PIX_FMT_BGRA:
        case AV_PIX_FMT_BGR24:
        case AV_PIX_FMT_YUYV422: {
            int bpp = in_.pix_fmt == AV_PIX_FMT_BGR24 ? 3 : in_.pix_fmt == AV_PIX_FMT_YUYV422 ? 2 : 4;
            int stride = in_.stride ? in_.stride : (in_.pix_fmt == AV_PIX_FMT_BGR24 ? (w * 3 + 3) & ~3 : w * bpp);
            if (in_.bottom_up) {
                src[0] = d + size_t(stride) * (h - 1);
                ls[0] = -stride;
            } else {
                src[0] = d;
                ls[0] = stride;
            }
            break;
        }
        case AV_PIX_FMT_YUV420P: {
            int stride = in_.stride ? in_.stride : w;
            src[0] = d;
            ls[0] = stride;
            const uint8_t *u = d + size_t(stride) * h;
            const uint8_t *v = u + size_t(stride / 2) * ((h + 1) / 2);
            src[1] = in_.swap_uv ? v : u;
            src[2] = in_.swap_uv ? u : v;
            ls[1] = ls[2] = stride / 2;
            break;
        }
        case AV_PIX_FMT_NV12: {
            int stride = in_.stride ? in_.stride : w;
            src[0] = d;
            src[1] = d + size_t(stride) * h;
            ls[0] = ls[1] = stride;
            break;
        }
        default: return nullptr;
        }
        AVFrame *f = av_frame_alloc();
        f->format = AV_PIX_FMT_YUV420P;
        f->width = s_.width;
        f->height = s_.height;
        if (av_frame_get_buffer(f, 0) < 0) {
            av_frame_free(&f);
            return nullptr;
        }
        if (sw_ != s_.width || sh_ != s_.height) {
            for (int y = 0; y < s_.height; ++y) std::memset(f->data[0] + y * f->linesize[0], 16, size_t(s_.width));
            for (int p = 1; p < 3; ++p)
                for (int y = 0; y < s_.height / 2; ++y) std::memset(f->data[p] + y * f->linesize[p], 128, size_t(s_.width / 2));
        }
        uint8_t *dst[4] = {f->data[0] + y_ * f->linesize[0] + x_, f->data[1] + (y_ / 2) * f->linesize[1] + x_ / 2,
                           f->data[2] + (y_ / 2) * f->linesize[2] + x_ / 2, nullptr};
        int dls[4] = {f->linesize[0], f->linesize[1], f->linesize[2], 0};
        sws_scale(sws_, src, ls, 0, h, dst, dls);
        return f;
    }

    int64_t slot_of(int64_t t) const { return av_rescale(t, s_.fps_num, int64_t(s_.fps_den) * kUnits); }

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
        if (enc_.c->flags & AV_CODEC_FLAG_QSCALE) f->quality = enc_.c->global_quality;
        if (avcodec_send_frame(enc_.c, f) == 0) {
            while (avcodec_receive_packet(enc_.c, pkt_) == 0) {
                window_.emplace_back(pkt_->pts, int64_t(pkt_->size) * 8);
                window_bits_ += int64_t(pkt_->size) * 8;
                emit(pkt_, enc_.c->time_base);
                av_packet_unref(pkt_);
            }
        }
        last_encoded_ = slot;
        av_frame_free(&f);
    }

    // Constant frame rate: every output slot shows the latest frame that started at or before
    // it; frames that fall between slots are dropped, gaps repeat the previous frame.
    void process(const Raw &r) override {
        int64_t slot = slot_of(std::max<int64_t>(r.start, 0));
        if (next_slot_ == INT64_MIN) next_slot_ = first_slot_ = slot;
        if (r.stop > r.start) last_stop_ = std::max(last_stop_, r.stop);
        last_start_ = std::max(last_start_, r.start);
        if (slot < next_slot_) {
            // Falls into a slot already shown: keep it as the picture for the next slot.
            AVFrame *f = scale(r);
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
        AVFrame *f = scale(r);
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
        avcodec_send_frame(enc_.c, nullptr);
        drain_encoder(enc_.c, pkt_);
    }

    static constexpr int64_t kMaxRepeat = 600;
    StreamSetting s_;
    VideoFormat in_;
    CodecCtx enc_;
    SwsContext *sws_ = nullptr;
    int sw_ = 0, sh_ = 0, x_ = 0, y_ = 0;
    AVFrame *last_ = nullptr;
    AVPacket *pkt_ = nullptr;
    int64_t gop_ = 1;
    int64_t next_slot_ = INT64_MIN, first_slot_ = 0;
    int64_t last_stop_ = -1, last_start_ = -1;
    int64_t last_encoded_ = INT64_MIN;
    bool key_due_ = false;
    std::deque<std::pair<int64_t, int64_t>> window_;  // (slot, bits) of the last buffer window
    int64_t window_bits_ = 0;
};

class AudioWorker : public Worker {
public:
    AudioWorker(size_t index, const StreamSetting &s, const AudioFormat &in)
        : Worker(index, kAudioQueue), s_(s), in_(in) {}
    ~AudioWorker() override {
        swr_free(&swr_);
        if (fifo_) av_audio_fifo_free(fifo_);
        av_frame_free(&frame_);
        av_packet_free(&pkt_);
    }

    HRESULT open() override {
        const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
        if (!codec) return E_FAIL;
        // Rates below the encoder's floor are raised to the lowest one it takes.
        for (int rate = audio_encode_bitrate(s_); rate <= 320000; rate += 8000) {
            enc_.c = avcodec_alloc_context3(codec);
            AVCodecContext *c = enc_.c;
            c->sample_fmt = AV_SAMPLE_FMT_FLTP;
            c->sample_rate = s_.sample_rate;
            av_channel_layout_default(&c->ch_layout, s_.channels);
            c->bit_rate = rate;
            c->time_base = AVRational{1, s_.sample_rate};
            if (avcodec_open2(c, codec, nullptr) == 0) break;
            avcodec_free_context(&enc_.c);
        }
        if (!enc_.c) return E_FAIL;
        fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, s_.channels, enc_.c->frame_size * 4);
        frame_ = av_frame_alloc();
        pkt_ = av_packet_alloc();
        if (in_.sample_rate > 0 && in_.channels > 0) {
            AVChannelLayout in_layout, out_layout;
            av_channel_layout_default(&in_layout, in_.channels);
            av_channel_layout_default(&out_layout, s_.channels);
            if (swr_alloc_set_opts2(&swr_, &out_layout, AV_SAMPLE_FMT_FLTP, s_.sample_rate, &in_layout,
                                    AVSampleFormat(in_.sample_fmt), in_.sample_rate, 0, nullptr) < 0 ||
                swr_init(swr_) < 0)
                return E_FAIL;
        }
        return S_OK;
    }

    void fill(AsfStream &s) override {
        AVCodecContext *c = enc_.c;
        s.video = false;
        s.format_tag = 0x0161;
        s.channels = s_.channels;
        s.sample_rate = s_.sample_rate;
        s.block_align = c->block_align;
        s.bits_per_sample = 16;
        s.bitrate = uint32_t(c->bit_rate);  // the rate actually used, which may exceed the profile's
        s.buffer_ms = uint32_t(s_.buffer_ms);
        s.codec_name = u16("Windows Media Audio V2");
        s.codec_description = u16("");
        if (c->extradata_size > 0) s.extradata.assign(c->extradata, c->extradata + c->extradata_size);
    }

private:
    void encode_frames(bool last) {
        AVCodecContext *c = enc_.c;
        int n = c->frame_size;
        while (av_audio_fifo_size(fifo_) >= n || (last && av_audio_fifo_size(fifo_) > 0)) {
            av_frame_unref(frame_);
            frame_->format = AV_SAMPLE_FMT_FLTP;
            frame_->nb_samples = n;
            frame_->sample_rate = c->sample_rate;
            av_channel_layout_copy(&frame_->ch_layout, &c->ch_layout);
            if (av_frame_get_buffer(frame_, 0) < 0) return;
            int got = av_audio_fifo_read(fifo_, reinterpret_cast<void **>(frame_->data), n);
            if (got < n) av_samples_set_silence(frame_->data, got, n - got, s_.channels, AV_SAMPLE_FMT_FLTP);
            frame_->pts = base_ + encoded_;
            encoded_ += n;
            if (avcodec_send_frame(c, frame_) == 0) drain_encoder(c, pkt_);
        }
    }

    void add_silence(int64_t samples) {
        while (samples > 0) {
            int n = int(std::min<int64_t>(samples, 4096));
            uint8_t *planes[8] = {};
            av_samples_alloc(planes, nullptr, s_.channels, n, AV_SAMPLE_FMT_FLTP, 0);
            av_samples_set_silence(planes, 0, n, s_.channels, AV_SAMPLE_FMT_FLTP);
            av_audio_fifo_write(fifo_, reinterpret_cast<void **>(planes), n);
            av_freep(&planes[0]);
            samples -= n;
            encode_frames(false);
        }
    }

    void process(const Raw &r) override {
        if (!swr_) return;
        int bps = av_get_bytes_per_sample(AVSampleFormat(in_.sample_fmt)) * in_.channels;
        int in_samples = int(r.data.size() / size_t(bps));
        if (in_samples <= 0) return;
        int64_t start = std::max<int64_t>(r.start, 0);
        if (!begun_) {
            begun_ = true;
            base_ = av_rescale(start, s_.sample_rate, kUnits);
            expected_ = start;
        } else if (start > expected_ + kUnits / 10) {
            // A gap in the input becomes silence, so later audio stays in sync.
            add_silence(av_rescale(start - expected_, s_.sample_rate, kUnits));
            expected_ = start;
        }
        expected_ += av_rescale(in_samples, kUnits, in_.sample_rate);
        int out_max = swr_get_out_samples(swr_, in_samples);
        uint8_t *planes[8] = {};
        if (av_samples_alloc(planes, nullptr, s_.channels, out_max, AV_SAMPLE_FMT_FLTP, 0) < 0) return;
        const uint8_t *in[1] = {r.data.data()};
        int got = swr_convert(swr_, planes, out_max, in, in_samples);
        if (got > 0) av_audio_fifo_write(fifo_, reinterpret_cast<void **>(planes), got);
        av_freep(&planes[0]);
        encode_frames(false);
    }

    void finish() override {
        if (swr_ && begun_) {
            int out_max = swr_get_out_samples(swr_, 0);
            if (out_max > 0) {
                uint8_t *planes[8] = {};
                if (av_samples_alloc(planes, nullptr, s_.channels, out_max, AV_SAMPLE_FMT_FLTP, 0) >= 0) {
                    int got = swr_convert(swr_, planes, out_max, nullptr, 0);
                    if (got > 0) av_audio_fifo_write(fifo_, reinterpret_cast<void **>(planes), got);
                    av_freep(&planes[0]);
                }
            }
            encode_frames(true);
        }
        avcodec_send_frame(enc_.c, nullptr);
        drain_encoder(enc_.c, pkt_);
    }

    StreamSetting s_;
    AudioFormat in_;
    CodecCtx enc_;
    SwrContext *swr_ = nullptr;
    AVAudioFifo *fifo_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVPacket *pkt_ = nullptr;
    bool begun_ = false;
    int64_t base_ = 0, encoded_ = 0, expected_ = 0;
};

}  // namespace

struct Recorder::Impl {
    AsfFile file;
    std::unique_ptr<Hub> hub;
    std::vector<std::unique_ptr<Worker>> workers;
    RecorderOptions options;
    std::atomic<bool> stopped{false};
    HRESULT result = S_OK;
};

Recorder::Recorder(int profile) : profile_(profile), settings_(profile_streams(profile)) {
    for (size_t i = 0; i < settings_.size(); ++i) {
        int number = int(i) + 1;
        if (settings_[i].kind == StreamKind::kVideo) {
            // Bit-rate variants of the same picture share one input.
            auto it = std::find_if(inputs_.begin(), inputs_.end(), [](const Input &in) { return in.kind == StreamKind::kVideo; });
            if (it != inputs_.end()) {
                it->workers.push_back(i);
                continue;
            }
        }
        inputs_.push_back(Input{settings_[i].kind, number, {i}});
    }
    video_formats_.resize(inputs_.size());
    audio_formats_.resize(inputs_.size());
    ended_ = std::make_unique<std::atomic<bool>[]>(inputs_.size());
}

Recorder::~Recorder() { stop(); }

HRESULT Recorder::set_video_format(size_t input, const VideoFormat &f) {
    if (input >= inputs_.size() || inputs_[input].kind != StreamKind::kVideo) return E_INVALIDARG;
    if (started_) return E_UNEXPECTED;
    if (video_frame_bytes(f) == 0) return E_INVALIDARG;
    video_formats_[input] = f;
    return S_OK;
}

HRESULT Recorder::set_audio_format(size_t input, const AudioFormat &f) {
    if (input >= inputs_.size() || inputs_[input].kind != StreamKind::kAudio) return E_INVALIDARG;
    if (started_) return E_UNEXPECTED;
    if (f.sample_rate <= 0 || f.channels <= 0 || f.channels > 8 ||
        av_get_bytes_per_sample(AVSampleFormat(f.sample_fmt)) <= 0 || av_sample_fmt_is_planar(AVSampleFormat(f.sample_fmt)))
        return E_INVALIDARG;
    audio_formats_[input] = f;
    return S_OK;
}

HRESULT Recorder::start(const std::string &path, RecorderOptions options) {
    if (started_ || !valid()) return E_UNEXPECTED;
    auto impl = std::make_unique<Impl>();
    impl->options = std::move(options);
    AsfLayout layout;
    uint64_t total = 0;
    for (const Input &in : inputs_) {
        size_t k = size_t(&in - inputs_.data());
        for (size_t w : in.workers) {
            std::unique_ptr<Worker> worker;
            if (in.kind == StreamKind::kVideo)
                worker = std::make_unique<VideoWorker>(w, settings_[w], video_formats_[k]);
            else
                worker = std::make_unique<AudioWorker>(w, settings_[w], audio_formats_[k]);
            if (impl->workers.size() <= w) impl->workers.resize(w + 1);
            impl->workers[w] = std::move(worker);
        }
    }
    for (size_t w = 0; w < impl->workers.size(); ++w) {
        HRESULT hr = impl->workers[w]->open();
        if (FAILED(hr)) return hr;
        AsfStream s;
        s.number = int(w) + 1;
        impl->workers[w]->fill(s);
        total += s.bitrate;
        if (s.video) layout.exclusive_streams.push_back(s.number);
        layout.streams.push_back(std::move(s));
    }
    if (layout.exclusive_streams.size() < 2) layout.exclusive_streams.clear();
    for (const AsfStream &s : layout.streams)
        if (s.video) {
            layout.index_stream = s.number;
            break;
        }
    if (layout.index_stream == 0 && !layout.streams.empty()) layout.index_stream = layout.streams[0].number;
    layout.packet_size = impl->options.packet_size ? impl->options.packet_size : total >= 128000 ? 3200 : 1600;

    HRESULT hr = impl->file.create(path);
    if (FAILED(hr)) return hr;
    Recorder::Impl *p = impl.get();
    impl->hub = std::make_unique<Hub>(std::move(layout), &impl->file, impl->options.sinks, impl->options.on_error);
    Bytes header = impl->hub->mux().header(true);
    hr = impl->file.write_header(header);
    if (FAILED(hr)) {
        impl->file.close();
        return hr;
    }
    for (PacketSink *s : impl->options.sinks) s->on_header(header);
    impl->hub->start();
    static const char *const kNames[] = {"asf-audio", "asf-video1", "asf-video2", "asf-video3", "asf-video4", "asf-video"};
    int videos = 0;
    for (size_t w = 0; w < impl->workers.size(); ++w)
        impl->workers[w]->start(p->hub.get(), settings_[w].kind == StreamKind::kAudio ? kNames[0] : kNames[std::min(++videos, 5)]);
    impl_ = std::move(impl);
    started_ = true;
    return S_OK;
}

HRESULT Recorder::error() const { return impl_ && impl_->hub ? impl_->hub->error() : S_OK; }

int64_t Recorder::written_position() const {
    return started_ && impl_->hub ? impl_->hub->written_ms() * 10000 : 0;
}

HRESULT Recorder::push_video(size_t input, const uint8_t *data, size_t size, int64_t start, int64_t stop) {
    if (input >= inputs_.size() || inputs_[input].kind != StreamKind::kVideo) return E_INVALIDARG;
    if (!started_ || impl_->stopped || ended_[input].load()) return E_UNEXPECTED;
    if (impl_->hub->aborted()) return impl_->hub->error();
    size_t need = video_frame_bytes(video_formats_[input]);
    if (need == 0) return E_UNEXPECTED;
    if (!data || size < need) return E_INVALIDARG;
    auto raw = std::make_shared<Raw>();
    raw->data.assign(data, data + need);
    raw->start = start;
    raw->stop = stop;
    int64_t t = stop > start ? stop : start;
    for (int64_t cur = position_.load(); t > cur && !position_.compare_exchange_weak(cur, t);) {}
    for (size_t w : inputs_[input].workers)
        if (!impl_->workers[w]->push(raw)) return E_UNEXPECTED;
    return S_OK;
}

HRESULT Recorder::push_audio(size_t input, const uint8_t *data, size_t size, int64_t start) {
    if (input >= inputs_.size() || inputs_[input].kind != StreamKind::kAudio) return E_INVALIDARG;
    if (!started_ || impl_->stopped || ended_[input].load()) return E_UNEXPECTED;
    if (impl_->hub->aborted()) return impl_->hub->error();
    const AudioFormat &f = audio_formats_[input];
    if (f.sample_rate <= 0) return E_UNEXPECTED;
    if (!data && size) return E_POINTER;
    size_t frame = size_t(av_get_bytes_per_sample(AVSampleFormat(f.sample_fmt)) * f.channels);
    size -= size % frame;
    if (size == 0) return S_OK;
    auto raw = std::make_shared<Raw>();
    raw->data.assign(data, data + size);
    raw->start = start;
    int64_t t = start + av_rescale(int64_t(size / frame), kUnits, f.sample_rate);
    for (int64_t cur = position_.load(); t > cur && !position_.compare_exchange_weak(cur, t);) {}
    for (size_t w : inputs_[input].workers)
        if (!impl_->workers[w]->push(raw)) return E_UNEXPECTED;
    return S_OK;
}

void Recorder::end_of_stream(size_t input) {
    if (input >= inputs_.size() || !started_ || impl_->stopped || ended_[input].exchange(true)) return;
    for (size_t w : inputs_[input].workers) impl_->workers[w]->end();
}

void Recorder::drain() {
    if (!started_ || impl_->stopped) return;
    for (size_t i = 0; i < inputs_.size(); ++i) end_of_stream(i);
    for (auto &w : impl_->workers) w->join();
    impl_->hub->wait_written(true);
}

bool Recorder::stream_stats(int stream_number, uint64_t *objects, uint64_t *bytes) const {
    if (!started_ || stream_number < 1 || size_t(stream_number) > settings_.size()) return false;
    impl_->hub->stats(stream_number, objects, bytes);
    return true;
}

uint32_t Recorder::stream_bitrate(int stream_number) const {
    if (!started_ || stream_number < 1 || size_t(stream_number) > settings_.size()) return 0;
    return impl_->hub->mux().layout().streams[size_t(stream_number) - 1].bitrate;
}

HRESULT Recorder::stop() {
    if (!started_) return S_OK;
    Impl &m = *impl_;
    if (m.stopped) return m.result;
    for (size_t i = 0; i < inputs_.size(); ++i) end_of_stream(i);
    m.stopped = true;
    for (auto &w : m.workers) w->join();
    m.hub->close();
    HRESULT hr = m.hub->error();
    bool aborted = m.hub->aborted();
    AsfMuxer &mux = m.hub->mux();
    auto make_header = [&](uint64_t file_size, uint64_t packets) {
        AsfTotals t;
        t.file_size = file_size;
        t.packets = packets;
        t.play_duration_ms = uint64_t(std::max<int64_t>(mux.end_ms(), 0));
        t.send_duration_ms = uint64_t(std::max<int64_t>(mux.last_send_ms(), 0));
        if (aborted) {
            // Only part of the stream reached the disk: state what those packets hold.
            t.play_duration_ms = uint64_t(mux.end_ms_within(packets));
            t.send_duration_ms = uint64_t(mux.send_ms_within(packets));
        }
        for (size_t i = 0; i < mux.layout().streams.size(); ++i) {
            const AsfStream &s = mux.layout().streams[i];
            uint32_t rate = s.bitrate;
            if (settings_[i].bitrate == 0 && settings_[i].kind == StreamKind::kVideo && t.play_duration_ms > 0)
                rate = uint32_t(mux.stream_bytes(s.number) * 8000 / t.play_duration_ms);
            t.bitrates.push_back(rate);
        }
        return mux.header(false, &t);
    };
    Bytes index = m.options.index && !aborted ? mux.simple_index() : Bytes();
    HRESULT fh = m.file.finish(make_header, index);
    for (PacketSink *s : m.options.sinks) s->on_end();
    m.result = FAILED(hr) ? hr : fh;
    return m.result;
}

}  // namespace tw::posix::asf
