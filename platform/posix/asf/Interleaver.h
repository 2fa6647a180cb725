// The recorder's interleaver: orders what the encoding workers produce by time, packs it into
// ASF packets, and hands the packets to its output thread, which alone touches the file and the
// sinks.
//
// Threads: submit() and end_stream() are called by the workers, each from its own thread;
// start(), stop and the queries by the recorder's owner. One lock guards the interleaving
// state; the output thread takes finished packets under it and writes them without it.
#pragma once

#include "platform/posix/asf/AsfMuxer.h"
#include "platform/posix/asf/AsfRecorder.h"
#include "platform/posix/asf/EncodeQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <pthread.h>
#include <thread>
#include <vector>

namespace tw::posix::asf::recorder {

constexpr size_t kOutQueue = 512;      // finished packets waiting for the output thread
constexpr size_t kInterleaveCap = 2048;  // packets held back for interleaving, at most
// The output thread is woken once this many packets wait, and otherwise looks every
// kOutInterval: woken for each packet, it cost more in thread switches than the writing itself,
// and a tenth of a second is nothing to a file or to a player's buffer.
constexpr size_t kOutBatch = 16;
constexpr std::chrono::milliseconds kOutInterval{100};

// ---- The muxing hub: interleaves what the workers encode, packs it, and hands packets to the
// output thread, which alone touches the file and the sinks.
class Interleaver {
public:
    Interleaver(AsfLayout layout, AsfFile *file, std::vector<PacketSink *> sinks, std::function<void(HRESULT)> on_error)
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
        if (out_.size() >= kOutBatch) work_.notify_one();
    }

    void output_loop() {
        using clock = std::chrono::steady_clock;
        auto last_flush = clock::now();
        std::unique_lock lk(m_);
        for (;;) {
            work_.wait_for(lk, kOutInterval, [&] { return out_.size() >= kOutBatch || closing_ || flush_wanted_; });
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

}  // namespace tw::posix::asf::recorder
