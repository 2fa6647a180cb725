#include "platform/posix/media/PacketQueues.h"

#include <algorithm>
#include <chrono>

namespace tw::posix::media {

PacketQueues::PacketQueues(size_t streams, QueueLimits limits) : queues_(streams), limits_(limits) {}

int64_t PacketQueues::Queue::span() const {
    // Timed packets are the rule, so both scans usually stop at once.
    auto first = std::find_if(items.begin(), items.end(), [](const Entry &e) { return e.time != AV_NOPTS_VALUE; });
    if (first == items.end()) return -1;  // no timestamps at all
    auto last = std::find_if(items.rbegin(), items.rend(), [](const Entry &e) { return e.time != AV_NOPTS_VALUE; });
    return std::max<int64_t>(0, last->time - first->time);
}

bool PacketQueues::over_share(const Queue &q, size_t share) const {
    if (q.bytes >= limits_.soft_bytes / share) return true;
    if (q.items.size() < limits_.soft_packets / share) return false;
    int64_t span = q.span();
    return span < 0 || span >= limits_.soft_span / int64_t(share);  // without timestamps the count decides
}

bool PacketQueues::over_soft(const Queue &q) const { return over_share(q, 1); }

bool PacketQueues::over_low(const Queue &q) const { return !q.items.empty() && over_share(q, 2); }

bool PacketQueues::over_hard(const Queue &q) const {
    return q.bytes >= limits_.hard_bytes || q.items.size() >= limits_.hard_packets || q.span() >= limits_.hard_span;
}

bool PacketQueues::other_starving(size_t stream) const {
    for (size_t i = 0; i < queues_.size(); ++i)
        if (i != stream && queues_[i].open && queues_[i].waiting && queues_[i].items.empty()) return true;
    return false;
}

bool PacketQueues::push(size_t stream, PacketPtr pkt, int64_t time) {
    std::unique_lock<std::mutex> lock(mu_);
    if (stream >= queues_.size()) return !shutdown_;
    // While another stream's consumer waits on an empty queue, this one may grow past its
    // soft limit, but only once its own consumer has stopped taking packets for a while (held
    // back downstream): a consumer that keeps taking makes room soon enough, and letting its
    // queue grow would keep it at the hard limit for the whole stream (a fast audio consumer
    // is nearly always waiting).
    using Clock = std::chrono::steady_clock;
    Clock::time_point stalled_at = Clock::time_point::max();
    uint64_t seen = 0;
    bool waited = false;
    for (;;) {
        if (shutdown_) return false;
        Queue &q = queues_[stream];
        if (!q.open) return true;  // dropped: nobody takes this stream
        // A full queue takes packets again once its consumer has drained it to half: the
        // demuxer then reads a run of packets at a time instead of being woken for each one
        // its consumers take.
        if (!(waited ? over_low(q) : over_soft(q))) break;
        if (other_starving(stream) && !over_hard(q)) {
            if (stalled_at == Clock::time_point::max() || q.pops != seen) {
                seen = q.pops;
                stalled_at = Clock::now() + kStalledAfter;
            } else if (Clock::now() >= stalled_at) {
                break;
            }
            producer_waiting_ = true;
            blocked_on_ = stream;
            space_.wait_until(lock, stalled_at);
            producer_waiting_ = false;
            waited = true;
            continue;
        }
        stalled_at = Clock::time_point::max();
        producer_waiting_ = true;
        blocked_on_ = stream;
        space_.wait(lock);
        producer_waiting_ = false;
        waited = true;
    }
    Queue &q = queues_[stream];
    q.bytes += (size_t)std::max(0, pkt->size);
    q.items.push_back(Entry{std::move(pkt), time});
    q.peak_bytes = std::max(q.peak_bytes, q.bytes);
    q.peak_packets = std::max(q.peak_packets, q.items.size());
    if (q.waiting) q.ready.notify_one();
    return true;
}

void PacketQueues::finish() {
    std::lock_guard<std::mutex> lock(mu_);
    finished_ = true;
    wake_all();
}

PacketQueues::Pop PacketQueues::pop(size_t stream, PacketPtr &out) {
    std::unique_lock<std::mutex> lock(mu_);
    Queue &q = queues_.at(stream);
    for (;;) {
        if (shutdown_) return Pop::Shutdown;
        if (!q.items.empty()) break;
        if (finished_ || !q.open) return Pop::End;
        q.waiting = true;
        if (producer_waiting_) space_.notify_one();  // a push waiting on another queue may now go ahead
        q.ready.wait(lock);
        q.waiting = false;
    }
    out = std::move(q.items.front().pkt);
    q.items.pop_front();
    ++q.pops;
    q.bytes -= (size_t)std::max(0, out->size);
    if (producer_waiting_ && blocked_on_ == stream && !over_low(q)) space_.notify_one();
    return Pop::Packet;
}

void PacketQueues::close(size_t stream) { set_open(stream, false); }

void PacketQueues::set_open(size_t stream, bool open) {
    std::lock_guard<std::mutex> lock(mu_);
    if (stream >= queues_.size()) return;
    Queue &q = queues_[stream];
    q.open = open;
    if (!open) {
        q.items.clear();
        q.bytes = 0;
    }
    wake_all();
}

void PacketQueues::shutdown() {
    std::lock_guard<std::mutex> lock(mu_);
    shutdown_ = true;
    wake_all();
}

void PacketQueues::reset() {
    std::lock_guard<std::mutex> lock(mu_);
    for (Queue &q : queues_) {
        q.items.clear();
        q.bytes = 0;
        q.waiting = false;
        q.peak_bytes = q.peak_packets = 0;
    }
    finished_ = false;
    shutdown_ = false;
    wake_all();
}

void PacketQueues::wake_all() {
    space_.notify_all();
    for (Queue &q : queues_) q.ready.notify_all();
}

size_t PacketQueues::peak_bytes() const {
    std::lock_guard<std::mutex> lock(mu_);
    size_t m = 0;
    for (const Queue &q : queues_) m = std::max(m, q.peak_bytes);
    return m;
}

size_t PacketQueues::peak_packets() const {
    std::lock_guard<std::mutex> lock(mu_);
    size_t m = 0;
    for (const Queue &q : queues_) m = std::max(m, q.peak_packets);
    return m;
}

}  // namespace tw::posix::media
