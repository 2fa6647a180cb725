// The demuxer: what opening each kind of source reports, network time-outs and aborts, and
// the packets of a clip.
#include "platform/posix/media/Demuxer.h"

#include "tests/support/MediaFixtures.h"
#include "tests/support/HttpServer.h"
#include "tests/support/HResultChecks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <thread>

using namespace tw::posix::media;
using media_fixtures::clip;

namespace {

HRESULT open_result(const std::string &source, DemuxerOptions options = {}) {
    Demuxer d;
    return d.open(source, options);
}

TEST(Demuxer, OpenResultsForLocalSources) {
    const std::string dir = media_fixtures::dir().string();
    std::filesystem::create_directory(dir + "/a_directory");
    struct Case {
        std::string source;
        HRESULT expected;
    } cases[] = {
        {dir + "/no such file.mp4", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {dir + "/no such dir/clip.mp4", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {"file://" + dir + "/no such file.mp4", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {dir + "/a_directory", E_ACCESSDENIED},
        {clip("empty.avi"), VFW_E_UNKNOWN_FILE_TYPE},
        {clip("text.txt"), VFW_E_UNKNOWN_FILE_TYPE},
        // The extension alone does not make a container.
        {clip("text.mp4"), VFW_E_UNKNOWN_FILE_TYPE},
        {clip("truncated.mp4"), VFW_E_INVALID_FILE_FORMAT},
        {"nosuchscheme://host/clip.mp4", HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
        {clip("h264_aac.mp4"), S_OK},
        {"file://" + clip("audio_only.wav"), S_OK},
    };
    for (const Case &c : cases) EXPECT_HR(c.expected, open_result(c.source)) << c.source;
}

TEST(Demuxer, StreamsOfEachContainer) {
    struct Case {
        const char *name;
        int video, audio;
    } cases[] = {
        {"h264_aac.mp4", 1, 1},         {"vp8_vorbis.mkv", 1, 1}, {"vp8_opus.webm", 1, 1},
        {"mjpeg_pcm_161x97.avi", 1, 1}, {"mpeg2_mp2.ts", 1, 1},   {"audio_only.wav", 0, 1},
        {"video_only.mp4", 1, 0},
    };
    for (const Case &c : cases) {
        Demuxer d;
        ASSERT_HR(S_OK, d.open(clip(c.name))) << c.name;
        int video = 0, audio = 0;
        for (int i : d.media_streams()) {
            if (d.stream(i)->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) ++video;
            if (d.stream(i)->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) ++audio;
        }
        EXPECT_EQ(c.video, video) << c.name;
        EXPECT_EQ(c.audio, audio) << c.name;
        // Two seconds long, give or take a frame.
        EXPECT_NEAR(2.0, d.duration() / 1e7, 0.15) << c.name;
        EXPECT_EQ(std::string(c.name), d.display_name());
        EXPECT_FALSE(d.network());
    }
}

// Packets come in file order with times from 0; a seek lands on a key frame at or before
// the target.
TEST(Demuxer, PacketsAndSeeking) {
    Demuxer d;
    ASSERT_HR(S_OK, d.open(clip("h264_aac.mp4")));
    PacketPtr pkt = make_packet();
    std::map<int, int> counts;
    int64_t first_video = AV_NOPTS_VALUE;
    HRESULT hr;
    while ((hr = d.read(pkt.get())) == S_OK) {
        ++counts[pkt->stream_index];
        if (first_video == AV_NOPTS_VALUE && d.stream(pkt->stream_index)->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            first_video = d.packet_time(pkt.get(), pkt->pts);
    }
    EXPECT_HR(S_FALSE, hr);
    int video = -1;
    for (int i : d.media_streams())
        if (d.stream(i)->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) video = i;
    EXPECT_EQ(50, counts[video]);
    EXPECT_NEAR(0, first_video, 1);  // 100-ns units; the source starts at 0

    ASSERT_TRUE(d.seekable());
    ASSERT_HR(S_OK, d.seek(10000000));  // 1 s: key frames every 12 frames (0.48 s)
    bool found = false;
    while (d.read(pkt.get()) == S_OK) {
        if (pkt->stream_index != video) continue;
        int64_t t = d.packet_time(pkt.get(), pkt->pts);
        EXPECT_TRUE(pkt->flags & AV_PKT_FLAG_KEY);
        EXPECT_LE(t, 10000000);
        EXPECT_GE(t, 10000000 - 5000000);
        found = true;
        break;
    }
    EXPECT_TRUE(found);
}

TEST(Demuxer, HttpSources) {
    TestHttpServer server;
    server.add_file("/clip.mp4", clip("h264_aac.mp4"));
    server.add_file("/text.txt", clip("text.txt"));
    server.add_file("/broken.mp4", clip("truncated.mp4"));

    Demuxer d;
    ASSERT_HR(S_OK, d.open(server.url("/clip.mp4")));
    EXPECT_TRUE(d.network());
    EXPECT_EQ(2u, d.media_streams().size());
    EXPECT_NEAR(2.0, d.duration() / 1e7, 0.15);
    d.close();

    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), open_result(server.url("/missing.mp4")));
    EXPECT_HR(VFW_E_UNKNOWN_FILE_TYPE, open_result(server.url("/text.txt")));
    EXPECT_HR(VFW_E_INVALID_FILE_FORMAT, open_result(server.url("/broken.mp4")));
    EXPECT_HR(HRESULT_FROM_WIN32(10061),
              open_result("http://127.0.0.1:" + std::to_string(refused_port()) + "/clip.mp4"));
}

// A transfer that stops before its announced length is a broken stream, not an end.
TEST(Demuxer, HttpTransferCutShortIsAnError) {
    TestHttpServer server;
    std::string file = clip("vp8_vorbis.mkv");
    server.add_file("/clip.mkv", file);
    server.cut_after("/clip.mkv", (size_t)std::filesystem::file_size(file) * 2 / 3);
    Demuxer d;
    ASSERT_HR(S_OK, d.open(server.url("/clip.mkv")));
    PacketPtr pkt = make_packet();
    HRESULT hr;
    int packets = 0;
    while ((hr = d.read(pkt.get())) == S_OK) ++packets;
    EXPECT_GT(packets, 10);
    EXPECT_HR(HRESULT_FROM_WIN32(10054), hr);
}

TEST(Demuxer, SilentServerTimesOutAndAbortEndsTheWait) {
    TestHttpServer server;
    server.add_silent("/silent.mp4");
    DemuxerOptions quick;
    quick.network_timeout = std::chrono::milliseconds(300);
    EXPECT_HR(HRESULT_FROM_WIN32(10060), open_result(server.url("/silent.mp4"), quick));

    // Abort from another thread once the request is known to be waiting.
    Demuxer d;
    auto opened = std::async(std::launch::async, [&] { return d.open(server.url("/silent.mp4")); });
    server.wait_silent_requests(2);
    d.interrupt().abort();
    ASSERT_EQ(std::future_status::ready, opened.wait_for(std::chrono::seconds(10)));
    EXPECT_HR(E_ABORT, opened.get());

    // The graph's abort flag reaches the open the same way.
    std::atomic<bool> graph_abort{false};
    Demuxer d2;
    d2.interrupt().set_external([&] { return graph_abort.load(); });
    auto opened2 = std::async(std::launch::async, [&] { return d2.open(server.url("/silent.mp4")); });
    server.wait_silent_requests(3);
    graph_abort = true;
    ASSERT_EQ(std::future_status::ready, opened2.wait_for(std::chrono::seconds(10)));
    EXPECT_HR(E_ABORT, opened2.get());
}

// Opens the FIFO for writing once a reader holds it (a non-blocking open succeeds only then);
// -1 after `limit`.
int writer_of(const std::string &fifo, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != ENXIO || std::chrono::steady_clock::now() > until) return fd;
        std::this_thread::yield();
    }
}

// A pipe waits for its writer and for its data without holding the caller past an abort:
// before the writer comes, and while a writer that has sent part of a clip stalls.
TEST(Demuxer, FifoWaitsForItsWriterUntilAborted) {
    const std::string fifo = (media_fixtures::dir() / "source.fifo").string();
    std::filesystem::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string data;
    {
        std::ifstream in(clip("mpeg2_mp2.ts"), std::ios::binary);
        data.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(data.size(), 100000u);

    Demuxer waiting;
    auto opened = std::async(std::launch::async, [&] { return waiting.open(fifo); });
    int fd = writer_of(fifo);
    ASSERT_GE(fd, 0) << "the open never reached the pipe";
    waiting.interrupt().abort();
    const bool ended = opened.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    ::close(fd);  // releases an open that did not end, so the test can report it
    ASSERT_TRUE(ended) << "the open went on waiting for data after the abort";
    EXPECT_HR(E_ABORT, opened.get());

    // A writer that sends part of the clip and then stalls: the packets come, then an abort
    // ends the read that waits for more.
    Demuxer d;
    auto opened2 = std::async(std::launch::async, [&] { return d.open(fifo); });
    fd = writer_of(fifo);
    ASSERT_GE(fd, 0);
    fcntl(fd, F_SETFL, 0);
    const size_t part = data.size() / 2;
    ASSERT_EQ(::write(fd, data.data(), part), static_cast<ssize_t>(part));
    ASSERT_EQ(opened2.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    ASSERT_HR(S_OK, opened2.get());
    EXPECT_FALSE(d.seekable());
    AVPacket *pkt = av_packet_alloc();
    int packets = 0;
    auto read = std::async(std::launch::async, [&] {
        HRESULT hr;
        while ((hr = d.read(pkt)) == S_OK) ++packets;
        return hr;
    });
    EXPECT_EQ(read.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout) << "the read should wait";
    d.interrupt().abort();
    const bool read_ended = read.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    ::close(fd);
    ASSERT_TRUE(read_ended);
    EXPECT_HR(E_ABORT, read.get());
    EXPECT_GT(packets, 10);
    av_packet_free(&pkt);
    std::filesystem::remove(fifo);
}

TEST(Demuxer, SourceStrings) {
    EXPECT_EQ("", scheme_of("/tmp/a.mp4"));
    EXPECT_EQ("", scheme_of("C:\\media\\a.mp4"));
    EXPECT_EQ("http", scheme_of("HTTP://host/a"));
    EXPECT_EQ("file", scheme_of("file:///tmp/a.mp4"));
    EXPECT_EQ("/tmp/a.mp4", local_path_of("file:///tmp/a.mp4"));
    EXPECT_EQ("/tmp/a.mp4", local_path_of("/tmp/a.mp4"));
    EXPECT_EQ("", local_path_of("mmsh://host/live"));
}

}  // namespace
