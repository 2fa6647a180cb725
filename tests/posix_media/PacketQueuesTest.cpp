// The per-stream packet queues: bounded by the slowest consumer, yet never deadlocked by a
// consumer that waits for another stream's packets.
#include "platform/posix/media/PacketQueues.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <thread>

using namespace tw::posix::media;

namespace {

PacketPtr packet(int size) {
    PacketPtr p = make_packet();
    av_new_packet(p.get(), size);
    return p;
}

// A consumer on its own thread that takes every packet of `stream`, each taking `per_packet`;
// the future gives how many it took.
std::future<int> consume(PacketQueues &q, size_t stream, std::chrono::milliseconds per_packet = {}) {
    return std::async(std::launch::async, [&q, stream, per_packet] {
        PacketPtr p;
        int n = 0;
        while (q.pop(stream, p) == PacketQueues::Pop::Packet) {
            ++n;
            if (per_packet.count()) std::this_thread::sleep_for(per_packet);
        }
        return n;
    });
}

// Stream 0 holds 3 s of packets before stream 1's first one (a badly interleaved file), and
// consumer 0 takes nothing until stream 1 has delivered (an interleaving sink). The queue of
// stream 0 must grow past its soft limit for stream 1 to get its packets.
TEST(PacketQueues, InterleavingConsumerDoesNotDeadlock) {
    PacketQueues q(2);
    std::mutex mu;
    std::condition_variable cv;
    int got1 = 0;
    auto producer = std::async(std::launch::async, [&] {
        for (int i = 0; i < 75; ++i)
            if (!q.push(0, packet(100), i * 400000LL)) return false;  // 3 s at 25 per second
        for (int i = 0; i < 75; ++i) {
            if (!q.push(0, packet(100), 30000000LL + i * 400000LL)) return false;
            if (!q.push(1, packet(100), i * 400000LL)) return false;
        }
        q.finish();
        return true;
    });
    auto consumer0 = std::async(std::launch::async, [&] {
        {
            std::unique_lock<std::mutex> lock(mu);
            cv.wait(lock, [&] { return got1 > 0; });
        }
        PacketPtr p;
        int n = 0;
        while (q.pop(0, p) == PacketQueues::Pop::Packet) ++n;
        return n;
    });
    auto consumer1 = std::async(std::launch::async, [&] {
        PacketPtr p;
        int n = 0;
        while (q.pop(1, p) == PacketQueues::Pop::Packet) {
            std::lock_guard<std::mutex> lock(mu);
            got1 = ++n;
            cv.notify_all();
        }
        return n;
    });
    // A deadlock would leave these unfinished; shut the queues down then so the test ends.
    bool done = consumer1.wait_for(std::chrono::seconds(20)) == std::future_status::ready &&
                consumer0.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!done) q.shutdown();
    ASSERT_TRUE(done) << "the queues deadlocked";
    EXPECT_TRUE(producer.get());
    EXPECT_EQ(150, consumer0.get());
    EXPECT_EQ(75, consumer1.get());
    EXPECT_GT(q.peak_packets(), QueueLimits{}.soft_packets);
}

// A slow consumer beside a fast one that always waits: its queue still stops at the hard
// limit, and a queue nobody takes from drops its packets.
TEST(PacketQueues, MemoryStaysBounded) {
    QueueLimits limits;
    limits.hard_packets = 64;
    PacketQueues q(3, limits);
    q.close(2);
    std::atomic<int> taken0{0};
    auto producer = std::async(std::launch::async, [&] {
        for (int i = 0; i < 2000; ++i) {
            if (!q.push(0, packet(1000), i * 400000LL)) return false;
            if (!q.push(1, packet(10), i * 400000LL)) return false;
            if (!q.push(2, packet(1000), i * 400000LL)) return false;
        }
        q.finish();
        return true;
    });
    auto slow = std::async(std::launch::async, [&] {
        // Takes nothing until its queue has reached the hard limit (while the fast consumer
        // starved beside it), then everything.
        while (q.peak_packets() < 64) std::this_thread::yield();
        PacketPtr p;
        while (q.pop(0, p) == PacketQueues::Pop::Packet) ++taken0;
    });
    auto fast = consume(q, 1);
    EXPECT_TRUE(producer.get());
    slow.get();
    EXPECT_EQ(2000, fast.get());
    EXPECT_EQ(2000, taken0.load());
    EXPECT_LE(q.peak_packets(), 64u);
}

// A consumer that keeps taking packets keeps its queue near the soft limit, even though the
// consumer beside it is nearly always waiting on an empty queue (fast audio beside video).
TEST(PacketQueues, ASteadyConsumerKeepsItsQueueAtTheSoftLimit) {
    PacketQueues q(2);
    auto producer = std::async(std::launch::async, [&] {
        for (int i = 0; i < 400; ++i) {
            if (!q.push(0, packet(100), i * 400000LL)) return false;
            if (i % 4 == 0 && !q.push(1, packet(10), i * 400000LL)) return false;
        }
        q.finish();
        return true;
    });
    auto slow = consume(q, 0, std::chrono::milliseconds(1));
    auto fast = consume(q, 1);
    EXPECT_TRUE(producer.get());
    EXPECT_EQ(400, slow.get());
    EXPECT_EQ(100, fast.get());
    EXPECT_LE(q.peak_packets(), QueueLimits{}.soft_packets + 2);
}

// A producer stopped by a full queue goes on only once the consumer has taken half of it, and
// then refills it in one run: not one wake-up for every packet taken.
TEST(PacketQueues, AFullQueueTakesPacketsAgainOnceDrainedToHalf) {
    QueueLimits limits;
    limits.soft_packets = 8;
    PacketQueues q(1, limits);
    std::atomic<int> pushed{0};
    auto producer = std::async(std::launch::async, [&] {
        for (int i = 0; i < 13; ++i) {
            if (!q.push(0, packet(10), AV_NOPTS_VALUE)) return false;
            ++pushed;
        }
        return true;
    });
    auto pushed_settles_at = [&](int n) {
        for (int i = 0; i < 500 && pushed.load() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        return pushed.load();
    };
    PacketPtr p;
    EXPECT_EQ(8, pushed_settles_at(8));
    for (int taken = 1; taken <= 4; ++taken) {  // 7 to 4 left: still full
        ASSERT_EQ(PacketQueues::Pop::Packet, q.pop(0, p));
        EXPECT_EQ(8, pushed_settles_at(8)) << "after taking " << taken;
    }
    ASSERT_EQ(PacketQueues::Pop::Packet, q.pop(0, p));  // 3 left: under half
    EXPECT_EQ(13, pushed_settles_at(13));
    EXPECT_TRUE(producer.get());
    EXPECT_EQ(8u, q.peak_packets());
}

TEST(PacketQueues, ShutdownWakesEveryone) {
    QueueLimits limits;
    limits.soft_packets = 4;
    PacketQueues q(2, limits);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(q.push(1, packet(10), AV_NOPTS_VALUE));  // untimed: the count decides
    // Queue 1 is full and nobody waits on queue 0: this push waits until the shutdown.
    auto blocked_push = std::async(std::launch::async, [&] { return q.push(1, packet(10), AV_NOPTS_VALUE); });
    EXPECT_EQ(std::future_status::timeout, blocked_push.wait_for(std::chrono::milliseconds(50)));
    q.shutdown();
    EXPECT_FALSE(blocked_push.get());
    PacketPtr p;
    EXPECT_EQ(PacketQueues::Pop::Shutdown, q.pop(1, p));

    // After a reset the queues are empty and work again; a pop waits for data or the end.
    q.reset();
    auto waiting_pop = std::async(std::launch::async, [&] {
        PacketPtr got;
        return q.pop(0, got);
    });
    EXPECT_TRUE(q.push(0, packet(10), 0));
    EXPECT_EQ(PacketQueues::Pop::Packet, waiting_pop.get());
    q.finish();
    EXPECT_EQ(PacketQueues::Pop::End, q.pop(0, p));
    EXPECT_EQ(PacketQueues::Pop::End, q.pop(1, p));
}

}  // namespace
