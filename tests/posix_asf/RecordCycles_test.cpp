// Record and stop, again and again, through the components (TFilterGraph, TASFWriter) on our
// platform layer, stopping at random moments: before the first sample, while both streams
// flow, at the source's end. No stop may hang, and every file must be complete and readable.
//
// The stop moments come from a seeded generator; the seed is printed, and TW_CYCLE_SEED
// replays a run. A watchdog ends the process with a failure when one cycle does not finish in
// time, so a deadlock fails the test instead of hanging the suite.
#include "dsgraph/ASFWriter.h"
#include "dsgraph/FilterGraph.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "tests/support/AsfTestUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>
#include <thread>

namespace {

// TW_CYCLES lowers the count where every cycle is many times slower (ThreadSanitizer).
int cycle_count() {
    const char *s = std::getenv("TW_CYCLES");
    const long n = s ? std::strtol(s, nullptr, 10) : 0;
    return n > 0 ? int(n) : 200;
}
constexpr auto kCycleLimit = std::chrono::seconds(60);

// Fails the process when a cycle outlives its limit; the cycle number and seed are printed.
class Watchdog {
public:
    explicit Watchdog(unsigned seed) : seed_(seed), thread_([this] { watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> g(mu_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void begin(int cycle, const char *step) {
        std::lock_guard<std::mutex> g(mu_);
        cycle_ = cycle;
        step_ = step;
        deadline_ = std::chrono::steady_clock::now() + kCycleLimit;
        cv_.notify_all();
    }

private:
    void watch() {
        std::unique_lock<std::mutex> g(mu_);
        while (!done_) {
            if (cycle_ >= 0 && std::chrono::steady_clock::now() >= deadline_) {
                std::fprintf(stderr, "record cycles: cycle %d stuck in %s for %lld s (seed %u)\n", cycle_, step_,
                             static_cast<long long>(kCycleLimit.count()), seed_);
                std::fflush(stderr);
                std::_Exit(1);
            }
            if (cycle_ < 0)
                cv_.wait(g);
            else
                cv_.wait_until(g, deadline_);
        }
    }

    const unsigned seed_;
    std::mutex mu_;  // guards everything below
    std::condition_variable cv_;
    int cycle_ = -1;
    const char *step_ = "";
    std::chrono::steady_clock::time_point deadline_;
    bool done_ = false;
    std::thread thread_;
};

unsigned cycle_seed() {
    if (const char *s = std::getenv("TW_CYCLE_SEED")) return static_cast<unsigned>(std::strtoul(s, nullptr, 10));
    return std::random_device{}();
}

void drain_messages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

TEST(RecordCycles, RandomStopsNeitherHangNorSpoilAFile) {
    const std::string dir = asftest::temp_dir();
    // Twenty seconds of picture and sound, encoded in well under a second.
    const std::string source = dir + "/source.mkv";
    const std::string make = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=160x120:rate=15 "
                             "-f lavfi -i sine=sample_rate=22050 -t 20 -c:v mpeg4 -c:a pcm_s16le '" +
                             source + "'";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;

    const unsigned seed = cycle_seed();
    std::printf("record cycles: seed %u (TW_CYCLE_SEED=%u replays this run)\n", seed, seed);
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);
    // A quarter of the stops come at once, a quarter after the source's end (on its event), the
    // rest anywhere in the first 250 ms, while the streams flow. That delay is the thing under
    // test, not a wait for something to happen.
    enum When { kAtOnce, kAtEnd, kWhileFlowing, kWhileFlowing2 };
    std::uniform_int_distribution<int> when_of(kAtOnce, kWhileFlowing2), delay_ms(1, 250);
    Watchdog watchdog(seed);

    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    {
        TFilterGraph graph(nullptr);
        TASFWriter writer(nullptr);
        graph.SetMode(gmCapture);
        writer.SetFilterGraph(&graph);
        writer.SetProfile(wmp_V80_256Video);
        int completed = 0, empty = 0;
        graph.OnGraphComplete = [&](TObject *, HRESULT, IBaseFilter *) { ++completed; };
        graph.SetActive(true);

        const int cycles = cycle_count();
        for (int cycle = 0; cycle < cycles; ++cycle) {
            const int when = when_of(random);
            const int delay = when >= kWhileFlowing ? delay_ms(random) : 0;
            const std::string out = dir + "/cycle" + std::to_string(cycle) + ".asf";
            SCOPED_TRACE("cycle " + std::to_string(cycle) + ", stop " +
                         (when == kAtEnd ? std::string("at the end") : "after " + std::to_string(delay) + " ms") +
                         ", seed " + std::to_string(seed));
            watchdog.begin(cycle, "render");
            writer.SetFileName(out);
            graph.EmptyGraph();
            ASSERT_EQ(graph.RenderSource(tw::to_wide(source)), S_OK);
            watchdog.begin(cycle, "run");
            ASSERT_TRUE(graph.RunGraph());
            if (when == kAtEnd) {
                watchdog.begin(cycle, "waiting for the end");
                for (const int before = completed; completed == before;) {
                    MSG msg;
                    ASSERT_GT(GetMessageA(&msg, nullptr, 0, 0), 0);
                    DispatchMessageA(&msg);
                }
            } else if (delay) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            }
            watchdog.begin(cycle, "stop");
            EXPECT_TRUE(graph.StopGraph());
            drain_messages();
            watchdog.begin(cycle, "check");

            const asftest::FileInfo info = asftest::probe(out);
            ASSERT_TRUE(info.opened) << out << ": " << info.error;
            ASSERT_EQ(info.streams.size(), 2u) << out;
            for (const auto &s : info.streams) {
                EXPECT_EQ(s.decode_errors, 0) << out << " " << s.codec;
                if (s.packets) {
                    EXPECT_GE(s.first_pts_ms, 0) << out;
                }
            }
            // The index points at key frames: a file stopped before the first one has none.
            const asftest::StreamInfo *video = info.first_video();
            ASSERT_NE(video, nullptr) << out;
            if (video->key_packets > 0) {
                EXPECT_TRUE(asftest::has_simple_index(out)) << out << ": the file was not finished";
            } else {
                ++empty;
            }
            std::remove(out.c_str());
        }
        watchdog.begin(cycles, "teardown");
        graph.EmptyGraph();
        graph.SetActive(false);
        writer.SetFilterGraph(nullptr);
        std::printf("record cycles: %d cycles, %d stopped before the first picture, %d reached the source's end\n",
                    cycles, empty, completed);
    }
    CoUninitialize();
}

}  // namespace
