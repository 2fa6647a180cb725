// The recorder's encoding workers: one thread per output stream, fed through a bounded queue,
// encoding with FFmpeg and submitting encoded frames to the interleaver.
#pragma once

#include "platform/posix/asf/Interleaver.h"
#include "platform/posix/asf/Wm8Profiles.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <memory>
#include <string>
#include <sys/resource.h>

namespace tw::posix::asf::recorder {

inline std::u16string u16(const char *s) {
    std::u16string r;
    while (*s) r.push_back(char16_t(*s++));
    return r;
}

inline int64_t to_ms(int64_t v, AVRational tb) { return av_rescale_q(v, tb, AVRational{1, 1000}); }

// ---- Workers: one per output stream.

constexpr int kWorkerNice = 10;  // the encoding threads' nice value, below decoding's

class Worker {
public:
    Worker(size_t layout_index, size_t queue, size_t refill = 1) : index_(layout_index), q_(queue, refill) {}
    virtual ~Worker() = default;
    virtual HRESULT open() = 0;
    virtual void fill(AsfStream &s) = 0;
    // The luma row stride of the pictures this worker's encoder takes as they are, without
    // copying them first; 0 when any will do or none is known. Valid once open.
    virtual int picture_linesize() const { return 0; }

    void start(Interleaver *hub, const char *name) {
        hub_ = hub;
        thread_ = std::thread([this, name] {
            // Named for profilers and debuggers: "asf-audio", "asf-video1", ...
            pthread_setname_np(pthread_self(), name);
            // Encoding yields to decoding: the decoder's frame threads wait on one another and
            // on the thread feeding them, so a core an encoder takes from them is time lost for
            // the whole pipeline, while the encoder catches up from its queue whenever they
            // wait. (On Linux this sets the calling thread's nice value only.) About 10% less
            // wall time on two cores; with the queue kept short, little memory more.
            setpriority(PRIO_PROCESS, 0, kWorkerNice);
            run();
        });
    }
    bool push(RawPtr r) { return q_.push(std::move(r)); }
    // Queues even when full: for what must not wait on a worker that may be waiting itself.
    void push_always(RawPtr r) { q_.push_always(std::move(r)); }
    void end() {
        auto r = std::make_shared<Raw>();
        r->eos = true;
        q_.push_always(std::move(r));
    }
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
    Interleaver *hub_ = nullptr;

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

// The output slot (frame number at `fps_num`/`fps_den`) a picture starting at `t` (100 ns)
// falls into: the last slot that begins at or before it.
inline int64_t output_slot(int64_t t, int fps_num, int fps_den) {
    return av_rescale(std::max<int64_t>(t, 0), fps_num, int64_t(fps_den) * kUnits);
}

// The worker for video stream `index` of the layout, fed pictures already at its size.
std::unique_ptr<Worker> make_video_worker(size_t index, const StreamSetting &s);
// The worker for the audio stream `index` of the layout, fed sound in `in`.
std::unique_ptr<Worker> make_audio_worker(size_t index, const StreamSetting &s, const AudioFormat &in);

}  // namespace tw::posix::asf::recorder
