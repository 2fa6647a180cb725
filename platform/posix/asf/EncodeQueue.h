// What flows between the recorder's threads: raw pictures and sound handed in by the writer's
// pins, encoded frames handed to the interleaver, and the bounded queue between them.
#pragma once

#include "platform/posix/asf/AsfFile.h"
#include "platform/posix/ffmpeg/Owners.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace tw::posix::asf::recorder {

constexpr int64_t kUnits = 10000000;  // 100 ns units per second
constexpr size_t kAudioQueue = 64;     // PCM blocks waiting
// A pusher that found the audio queue full goes on once this many blocks have gone: the decoder
// is much faster than the audio encoder, and woken for every block the encoder takes, it spent
// more time switching threads than decoding.
constexpr size_t kAudioRefill = 16;

// Pictures waiting per video stream: as many as fit in kVideoQueueBytes, from 4 to 32. The
// encoders run below the decoder's priority and catch up whenever the decoder waits, so a
// longer queue keeps both cores busy; but each waiting picture is memory: 18 pictures at
// 320x240, only 4 at 640x480.
constexpr size_t kVideoQueueBytes = 2u << 20;
constexpr size_t video_queue_depth(int width, int height) {
    const size_t picture = size_t(std::max(width, 1)) * size_t(std::max(height, 1)) * 3 / 2;
    return std::clamp<size_t>(kVideoQueueBytes / picture, 4, 32);
}

// A picture at one of the profile's sizes, scaled once on the pushing thread; the bit-rate
// variants of that size each take a reference to its buffers, which no encoder writes to.
struct Picture {
    int width = 0, height = 0;
    ffmpeg::FramePtr frame;  // null when scaling failed
};

struct Raw {
    Bytes data;                     // audio
    std::vector<Picture> pictures;  // video: one per distinct size of the input's variants
    int64_t start = 0, stop = -1;
    bool eos = false;
};
using RawPtr = std::shared_ptr<const Raw>;

struct Encoded {
    Bytes data;
    int64_t pts_ms, dur_ms;
    bool key;
};

// Bounded FIFO between a pushing thread and a worker. close() wakes both sides for good. A push
// that finds the queue full waits until `refill` items have gone, not just one.
template <class T>
class Queue {
public:
    explicit Queue(size_t cap, size_t refill = 1) : cap_(cap), refill_(std::clamp<size_t>(refill, 1, cap)) {}
    bool push(T v) {
        std::unique_lock lk(m_);
        if (q_.size() >= cap_) not_full_.wait(lk, [&] { return q_.size() + refill_ <= cap_ || closed_; });
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
        if (q_.size() + refill_ <= cap_) not_full_.notify_one();
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
    size_t cap_, refill_;
    bool closed_ = false;
};

}  // namespace tw::posix::asf::recorder
