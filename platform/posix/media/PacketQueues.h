// PacketQueues: the buffers between a source's demux thread and its per-stream delivery
// threads.
//
// Each stream has its own queue. A push waits while its queue is over the soft limit, and then
// until it has drained to half of it, so memory follows the slowest consumer, not the length
// of the source. One exception keeps a graph from deadlocking: a sink that interleaves its
// inputs (the ASF writer holds one stream back until the other catches up) leaves one queue
// full and blocked downstream while the other stream's consumer waits on an empty queue for
// packets that lie behind the full one in the file. A push therefore goes past the soft limit while some other
// open queue is empty and its consumer is waiting and its own consumer has taken nothing
// for kStalledAfter, up to a hard limit that bounds memory even for a badly interleaved
// source.
//
// Threads: push() from the demux thread, pop() from each stream's delivery thread, the
// rest from the thread that controls the source. One mutex guards everything.
#pragma once

#include "platform/posix/media/FFmpeg.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace tw::posix::media {

struct QueueLimits {
    // Soft limit: a queue is full once it holds at least `soft_packets` packets spanning at
    // least `soft_span` (100 ns), or `soft_bytes`.
    size_t soft_packets = 16;
    int64_t soft_span = 5000000;  // 0.5 s
    size_t soft_bytes = 8u << 20;
    // Hard limit: never more than this, whatever the other queues do.
    size_t hard_packets = 8192;
    int64_t hard_span = 200000000;  // 20 s
    size_t hard_bytes = 64u << 20;
};

class PacketQueues {
public:
    enum class Pop { Packet, End, Shutdown };

    explicit PacketQueues(size_t streams, QueueLimits limits = {});

    // Demux thread: queues `pkt` (its time in 100 ns, or AV_NOPTS_VALUE) on `stream`.
    // Packets for a closed queue are dropped. Returns false when the queues are shut down.
    bool push(size_t stream, PacketPtr pkt, int64_t time);
    // Demux thread: no more packets will come; each queue ends once drained.
    void finish();

    // Delivery thread: takes the next packet of `stream`, waiting for one.
    Pop pop(size_t stream, PacketPtr &out);

    // A consumer that stops taking packets (downstream refused them) closes its queue so
    // that the demuxer neither waits for it nor keeps its packets.
    void close(size_t stream);
    void set_open(size_t stream, bool open);

    // Wakes every waiting push and pop: push returns false, pop returns Shutdown.
    void shutdown();
    // Empties the queues and clears the end and shutdown marks (before streaming again);
    // which queues are open stays as it was.
    void reset();

    // Largest number of bytes / packets any queue held since the last reset (for tests and
    // diagnostics).
    size_t peak_bytes() const;
    size_t peak_packets() const;

    // How long a full queue's consumer must have taken nothing before the queue may grow
    // past its soft limit for a starving stream.
    static constexpr std::chrono::milliseconds kStalledAfter{50};

private:
    struct Entry {
        PacketPtr pkt;
        int64_t time;
    };
    struct Queue {
        std::deque<Entry> items;
        size_t bytes = 0;
        bool open = true;
        bool waiting = false;  // its consumer is blocked in pop
        std::condition_variable ready;  // its consumer waits here
        uint64_t pops = 0;     // packets taken so far
        size_t peak_bytes = 0, peak_packets = 0;
        int64_t span() const;  // first to last timed packet; -1 when none is timed
    };
    bool over_share(const Queue &q, size_t share) const;  // at 1/share of the soft limit or over
    bool over_soft(const Queue &q) const;
    bool over_low(const Queue &q) const;  // not yet drained to half the soft limit
    bool over_hard(const Queue &q) const;
    bool other_starving(size_t stream) const;

    mutable std::mutex mu_;  // guards everything below
    // The demux thread waits on `space_`, each consumer on its queue's `ready`, so that a
    // packet wakes only the thread that takes it and a taken packet only a waiting producer.
    std::condition_variable space_;
    bool producer_waiting_ = false;
    size_t blocked_on_ = 0;  // the queue the waiting producer waits to shrink
    void wake_all();
    std::vector<Queue> queues_;
    QueueLimits limits_;
    bool finished_ = false;
    bool shutdown_ = false;
};

}  // namespace tw::posix::media
