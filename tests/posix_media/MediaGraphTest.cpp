// RenderFile on real media through our filter graph manager: the source and decoder filters
// connect every stream to a sink already in the graph, stream it, report the platform's codes
// and events, seek, stop at any moment, and leave nothing behind.
#include "platform/directshow.h"
#include "platform/win32.h"
#include "platform/posix/media/SourceFilter.h"
#include "platform/posix/object.h"
#include "platform/text.h"

#include "tests/support/MediaFixtures.h"
#include "tests/support/HttpServer.h"
#include "tests/support/HResultChecks.h"
#include "tests/support/TestSink.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>

using namespace tw;
using namespace tw::posix;
using media_fixtures::clip;
using media_test::StreamRecord;
using media_test::TestSink;

namespace {

class MediaGraph : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        live_before_ = live_objects();
        ASSERT_HR(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2,
                                         graph.out_void()));
        control = graph.query<IMediaControl>();
        events = graph.query<IMediaEventEx>();
        seeking = graph.query<IMediaSeeking>();
        ASSERT_TRUE(control && events && seeking);
    }
    void TearDown() override {
        if (control) control->Stop();
        control = nullptr;
        events = nullptr;
        seeking = nullptr;
        sink_ref = nullptr;
        graph = nullptr;
        EXPECT_EQ(live_before_, live_objects()) << "objects outlived the graph";
        CoUninitialize();
    }

    TestSink *add_sink(bool video, bool audio, bool interleave = false) {
        TestSink *s = TestSink::create(video, audio, interleave);
        sink_ref = ComPtr<IBaseFilter>::adopt(s);
        EXPECT_HR(S_OK, graph->AddFilter(s, OLESTR("Test Sink")));
        return s;
    }
    HRESULT render(const std::string &source) { return graph->RenderFile(to_wide(source).c_str(), nullptr); }

    std::vector<std::string> filter_names() {
        std::vector<std::string> v;
        ComPtr<IEnumFilters> e;
        graph->EnumFilters(e.out());
        ComPtr<IBaseFilter> f;
        while (e->Next(1, f.out(), nullptr) == S_OK) {
            FILTER_INFO info{};
            f->QueryFilterInfo(&info);
            if (info.pGraph) info.pGraph->Release();
            v.push_back(to_utf8(info.achName));
        }
        return v;
    }
    media::SourceFilter *source_filter() {
        ComPtr<IEnumFilters> e;
        graph->EnumFilters(e.out());
        ComPtr<IBaseFilter> f;
        while (e->Next(1, f.out(), nullptr) == S_OK) {
            CLSID c{};
            f->GetClassID(&c);
            // The graph holds the filter; the pointer stays valid while it is in the graph.
            if (c == media::CLSID_TwMediaSource)
                return static_cast<media::SourceFilter *>(static_cast<FilterImpl *>(f.get()));
        }
        return nullptr;
    }
    // Stops, disconnects and removes every filter but the sink, as EmptyGraph does.
    void empty_graph() {
        control->Stop();
        std::vector<ComPtr<IBaseFilter>> all;
        ComPtr<IEnumFilters> e;
        graph->EnumFilters(e.out());
        ComPtr<IBaseFilter> f;
        while (e->Next(1, f.out(), nullptr) == S_OK) all.push_back(f);
        for (auto &x : all) {
            ComPtr<IEnumPins> pe;
            x->EnumPins(pe.out());
            ComPtr<IPin> p;
            while (pe->Next(1, p.out(), nullptr) == S_OK) p->Disconnect();
        }
        for (auto &x : all)
            if (x != sink_ref) {
                EXPECT_HR(S_OK, graph->RemoveFilter(x.get()));
            }
    }
    // Runs the graph and waits for EC_COMPLETE or EC_ERRORABORT; returns the code, and the
    // first parameter through *param.
    long run_to_end(LONG_PTR *param = nullptr) {
        EXPECT_TRUE(SUCCEEDED(control->Run()));
        for (;;) {
            LONG code = 0;
            LONG_PTR p1 = 0, p2 = 0;
            if (FAILED(events->GetEvent(&code, &p1, &p2, INFINITE))) return -1;
            events->FreeEventParams(code, p1, p2);
            if (code == EC_COMPLETE || code == EC_ERRORABORT) {
                if (param) *param = p1;
                return code;
            }
        }
    }

    ComPtr<IFilterGraph2> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    ComPtr<IMediaSeeking> seeking;
    ComPtr<IBaseFilter> sink_ref;
    long live_before_ = 0;
};

// Every container of the fixtures, decoded to the end: frame counts near the source's,
// rising times from 0, the format the sink took, whole pictures.
TEST_F(MediaGraph, RendersEachContainerToTheEnd) {
    struct Case {
        const char *name;
        int frames;            // video frames in the clip (0: no video)
        int width, height;
        int rate, channels;    // audio (0: none)
    } cases[] = {
        {"h264_aac.mp4", 50, 320, 240, 44100, 1},   {"vp8_vorbis.mkv", 50, 320, 240, 48000, 1},
        {"vp8_opus.webm", 60, 320, 240, 48000, 1},  {"mjpeg_pcm_161x97.avi", 30, 161, 97, 22050, 1},
        {"mpeg2_mp2.ts", 50, 320, 240, 44100, 1},   {"audio_only.wav", 0, 0, 0, 44100, 2},
        {"video_only.mp4", 50, 320, 240, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestSink *sink = add_sink(true, true);
        ASSERT_HR(S_OK, render(clip(c.name)));
        ASSERT_EQ(EC_COMPLETE, run_to_end());
        StreamRecord v = sink->stream(TestSink::kVideo), a = sink->stream(TestSink::kAudio);
        if (c.frames) {
            EXPECT_NEAR(c.frames, v.samples, 2);
            EXPECT_TRUE(v.times_rise);
            EXPECT_TRUE(v.all_timed);
            EXPECT_TRUE(v.sizes_ok);
            EXPECT_TRUE(v.picture_varies);
            EXPECT_NEAR(0, v.first_start, 500000);
            EXPECT_EQ(1, v.discontinuities);
            const VIDEOINFOHEADER *vih = v.type.video_info();
            ASSERT_TRUE(vih);
            EXPECT_EQ(c.width, vih->bmiHeader.biWidth);
            EXPECT_EQ(c.height, vih->bmiHeader.biHeight);
            EXPECT_EQ(c.width, vih->rcSource.right);
            EXPECT_GT(vih->AvgTimePerFrame, 0);
        } else {
            EXPECT_EQ(0, v.samples);
        }
        if (c.rate) {
            const WAVEFORMATEX *wfx = a.type.wave_format();
            ASSERT_TRUE(wfx);
            EXPECT_EQ((DWORD)c.rate, wfx->nSamplesPerSec);
            EXPECT_EQ(c.channels, wfx->nChannels);
            EXPECT_EQ(16, wfx->wBitsPerSample);
            double seconds = (double)a.bytes / wfx->nBlockAlign / wfx->nSamplesPerSec;
            EXPECT_NEAR(2.0, seconds, 0.1);
            EXPECT_TRUE(a.times_rise);
            EXPECT_NEAR(seconds * 1e7, a.last_stop, 300000);  // times follow the sample count
        } else {
            EXPECT_EQ(0, a.samples);
        }
        empty_graph();
        EXPECT_EQ(std::vector<std::string>{"Test Sink"}, filter_names());
        EXPECT_HR(S_OK, graph->RemoveFilter(sink_ref.get()));
        sink_ref = nullptr;
    }
}

// The picture layouts of every format the video decoder offers, at an odd size.
TEST_F(MediaGraph, EveryVideoFormatHasItsLayout) {
    for (media::VideoFormat f : media::all_video_formats()) {
        SCOPED_TRACE(media::video_format_info(f).name);
        TestSink *sink = add_sink(true, false);
        MediaType want = media::video_type(f, 161, 97, 0);
        sink->accept_video({want.subtype()});
        ASSERT_HR(VFW_S_AUDIO_NOT_RENDERED, render(clip("mjpeg_pcm_161x97.avi")));
        ASSERT_EQ(EC_COMPLETE, run_to_end());
        StreamRecord v = sink->stream(TestSink::kVideo);
        EXPECT_EQ(want.subtype(), v.type.subtype());
        const VIDEOINFOHEADER *vih = v.type.video_info();
        ASSERT_TRUE(vih);
        media::PictureLayout l = media::picture_layout(f, 161, 97);
        EXPECT_EQ(l.size, vih->bmiHeader.biSizeImage);
        EXPECT_EQ(97, vih->bmiHeader.biHeight);  // positive: RGB bottom-up, YUV top-down
        EXPECT_TRUE(v.sizes_ok);
        EXPECT_TRUE(v.picture_varies);
        EXPECT_NEAR(30, v.samples, 1);
        empty_graph();
        graph->RemoveFilter(sink_ref.get());
        sink_ref = nullptr;
    }
    EXPECT_EQ(161u * 97 + 2u * 81 * 49, media::picture_layout(media::VideoFormat::I420, 161, 97).size);
    EXPECT_EQ(484 * 97u, media::picture_layout(media::VideoFormat::RGB24, 161, 97).size);  // rows of 483 -> 484
    EXPECT_EQ(81 * 4 * 97u, media::picture_layout(media::VideoFormat::YUY2, 161, 97).size);
}

// A sink that proposes its own size gets the pictures scaled to it.
TEST_F(MediaGraph, DownstreamProposedSizeIsHonoured) {
    TestSink *sink = add_sink(true, true);
    MediaType want = media::video_type(media::VideoFormat::I420, 176, 144, 0);
    sink->accept_video({want.subtype()});
    sink->propose(want);
    ASSERT_HR(S_OK, render(clip("h264_aac.mp4")));
    // The decoder offers the source's size first, which the sink takes too; a sink that
    // insists on its own size refuses others.
    const VIDEOINFOHEADER *vih = nullptr;
    StreamRecord v;
    ASSERT_EQ(EC_COMPLETE, run_to_end());
    v = sink->stream(TestSink::kVideo);
    vih = v.type.video_info();
    ASSERT_TRUE(vih);
    EXPECT_TRUE(v.sizes_ok);
    EXPECT_EQ(v.type.get().lSampleSize, vih->bmiHeader.biSizeImage);
}

TEST_F(MediaGraph, RenderFileResults) {
    const std::string dir = media_fixtures::dir().string();
    struct Case {
        std::string source;
        HRESULT expected;
    } cases[] = {
        {dir + "/missing.mp4", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {dir + "/missing dir/clip.mp4", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {clip("text.txt"), VFW_E_UNKNOWN_FILE_TYPE},
        {clip("empty.avi"), VFW_E_UNKNOWN_FILE_TYPE},
        {clip("truncated.mp4"), VFW_E_INVALID_FILE_FORMAT},
        {"http://127.0.0.1:" + std::to_string(refused_port()) + "/clip.mp4", HRESULT_FROM_WIN32(10061)},
    };
    add_sink(true, true);
    for (const Case &c : cases) {
        EXPECT_HR(c.expected, render(c.source)) << c.source;
        EXPECT_EQ(std::vector<std::string>{"Test Sink"}, filter_names()) << c.source;
    }
}

TEST_F(MediaGraph, PartialRenders) {
    TestSink *video_only = add_sink(true, false);
    EXPECT_HR(VFW_S_AUDIO_NOT_RENDERED, render(clip("h264_aac.mp4")));
    EXPECT_TRUE(video_only->pin(TestSink::kVideo)->is_connected());
    empty_graph();
    graph->RemoveFilter(sink_ref.get());

    TestSink *audio_only = add_sink(false, true);
    EXPECT_HR(VFW_S_VIDEO_NOT_RENDERED, render(clip("h264_aac.mp4")));
    EXPECT_TRUE(audio_only->pin(TestSink::kAudio)->is_connected());
    // The graph runs with the video stream left unconnected, and completes.
    EXPECT_EQ(EC_COMPLETE, run_to_end());
    EXPECT_NEAR(2.0, audio_only->stream(TestSink::kAudio).last_stop / 1e7, 0.1);
    empty_graph();
    graph->RemoveFilter(sink_ref.get());

    TestSink *nothing = add_sink(true, true);
    nothing->refuse_everything();
    EXPECT_HR(VFW_E_CANNOT_RENDER, render(clip("h264_aac.mp4")));
    EXPECT_EQ(std::vector<std::string>{"Test Sink"}, filter_names());
}

// The filters RenderFile adds have readable names, and removing them releases everything.
TEST_F(MediaGraph, AddedFiltersAndTheirRemoval) {
    add_sink(true, true);
    std::string file = clip("vp8_vorbis.mkv");
    ASSERT_HR(S_OK, render(file));
    auto names = filter_names();
    EXPECT_EQ(4u, names.size());
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), file));
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "Video Decoder"));
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "Audio Decoder"));
    long with_filters = live_objects();
    empty_graph();
    EXPECT_EQ(std::vector<std::string>{"Test Sink"}, filter_names());
    EXPECT_LT(live_objects(), with_filters);
    // A second render into the same graph works as the first did.
    ASSERT_HR(S_OK, render(file));
    EXPECT_EQ(EC_COMPLETE, run_to_end());
}

// Stopping while samples flow, many times: Stop returns, nothing is delivered after it, and a
// later Run goes on.
TEST_F(MediaGraph, StopWhileStreamingManyTimes) {
    TestSink *sink = add_sink(true, true);
    ASSERT_HR(S_OK, render(clip("long_tiny.mkv")));
    for (int i = 0; i < 25; ++i) {
        int before = sink->stream(TestSink::kVideo).samples;
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        sink->wait_samples(before + 10, TestSink::kVideo);
        ASSERT_HR(S_OK, control->Stop());
        int at_stop = sink->total_samples();
        // Nothing streams once Stop has returned: a Pause/Stop round trip sees no new sample.
        EXPECT_EQ(at_stop, sink->total_samples());
    }
    // Each run resumed where the last stopped (from the key frame before it): 25 runs of at
    // least ten frames each got well past the start (restarting at 0 would not pass 1 s).
    media::SourceFilter *src = source_filter();
    ASSERT_TRUE(src);
    LONGLONG pos = 0;
    EXPECT_HR(S_OK, src->GetCurrentPosition(&pos));
    EXPECT_GT(pos, 50000000);
}

TEST_F(MediaGraph, StopDuringPauseAndRunAgain) {
    TestSink *sink = add_sink(true, true);
    ASSERT_HR(S_OK, render(clip("h264_aac.mp4")));
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    sink->wait_samples(5);
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    LONG code = 0;
    ASSERT_HR(S_OK, events->WaitForCompletion(INFINITE, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    EXPECT_NEAR(50, sink->stream(TestSink::kVideo).samples, 2);
}

TEST_F(MediaGraph, Seeking) {
    TestSink *sink = add_sink(true, true);
    ASSERT_HR(S_OK, render(clip("h264_aac.mp4")));
    LONGLONG duration = 0;
    ASSERT_HR(S_OK, seeking->GetDuration(&duration));
    EXPECT_NEAR(2e7, duration, 1e6);

    // Seek while stopped: the segment starts at the target, the times from 0.
    LONGLONG target = 10000000;
    ASSERT_HR(S_OK, seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning));
    ASSERT_EQ(EC_COMPLETE, run_to_end());
    StreamRecord v = sink->stream(TestSink::kVideo), a = sink->stream(TestSink::kAudio);
    EXPECT_EQ(target, v.segment_start);
    EXPECT_NEAR(25, v.samples, 2);
    EXPECT_GE(v.first_start, 0);
    EXPECT_LT(v.first_start, 500000);
    EXPECT_NEAR(1.0, (double)a.bytes / 2 / 44100, 0.1);

    // Seek while running: the graph stops, seeks and runs on.
    control->Stop();
    sink->clear();
    LONGLONG zero = 0;
    seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    sink->wait_samples(10);
    LONGLONG half = 5000000;
    ASSERT_HR(S_OK, seeking->SetPositions(&half, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning));
    LONG code = 0;
    ASSERT_HR(S_OK, events->WaitForCompletion(INFINITE, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    v = sink->stream(TestSink::kVideo);
    EXPECT_EQ(half, v.segment_start);
    EXPECT_NEAR(2.0 - 0.5, v.last_stop / 1e7, 0.1);

    // A stop position ends the streams there.
    control->Stop();
    sink->clear();
    LONGLONG stop = 10000000;
    ASSERT_HR(S_OK, seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning));
    ASSERT_EQ(EC_COMPLETE, run_to_end());
    EXPECT_NEAR(25, sink->stream(TestSink::kVideo).samples, 3);
}

// A sink that holds one stream back until the other catches up must not stall the source,
// and the buffers stay bounded over a long source.
TEST_F(MediaGraph, InterleavingSinkAndBoundedMemoryOnALongSource) {
    TestSink *sink = add_sink(true, true, /*interleave=*/true);
    ASSERT_HR(S_OK, render(clip("long_tiny.mkv")));
    ASSERT_EQ(EC_COMPLETE, run_to_end());
    EXPECT_NEAR(3000, sink->stream(TestSink::kVideo).samples, 5);
    EXPECT_NEAR(120.0, sink->stream(TestSink::kAudio).last_stop / 1e7, 0.2);
    media::SourceFilter *src = source_filter();
    ASSERT_TRUE(src);
    // Two minutes of packets are well over a megabyte; the queues never held more than a
    // fraction of a second's worth.
    EXPECT_LT(src->peak_queue_bytes(), 256u * 1024);
}

TEST_F(MediaGraph, HttpSourceAndNetworkFailures) {
    TestSink *sink = add_sink(true, true);
    TestHttpServer server;
    server.add_file("/clip.mp4", clip("h264_aac.mp4"));
    ASSERT_HR(S_OK, render(server.url("/clip.mp4")));
    ASSERT_EQ(EC_COMPLETE, run_to_end());
    EXPECT_NEAR(50, sink->stream(TestSink::kVideo).samples, 2);
    empty_graph();

    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), render(server.url("/nothing.mp4")));

    // The connection drops in the middle: EC_ERRORABORT with the network's code.
    std::string mkv = clip("long_tiny.mkv");
    server.add_file("/cut.mkv", mkv);
    server.cut_after("/cut.mkv", (size_t)std::filesystem::file_size(mkv) / 3);
    sink->clear();
    ASSERT_HR(S_OK, render(server.url("/cut.mkv")));
    LONG_PTR param = 0;
    EXPECT_EQ(EC_ERRORABORT, run_to_end(&param));
    EXPECT_HR(HRESULT_FROM_WIN32(10054), (HRESULT)param);
    EXPECT_GT(sink->stream(TestSink::kVideo).samples, 100);
}

// IGraphBuilder::Abort ends a RenderFile that waits on a server that does not answer.
TEST_F(MediaGraph, AbortDuringRenderFileOfASlowUrl) {
    add_sink(true, true);
    TestHttpServer server;
    server.add_silent("/slow.mp4");
    auto rendering = std::async(std::launch::async, [&] { return render(server.url("/slow.mp4")); });
    server.wait_silent_requests(1);
    EXPECT_HR(S_OK, graph->Abort());
    ASSERT_EQ(std::future_status::ready, rendering.wait_for(std::chrono::seconds(10)));
    EXPECT_HR(E_ABORT, rendering.get());
    EXPECT_EQ(std::vector<std::string>{"Test Sink"}, filter_names());
}

// Pictures that no longer decode make the stream break with EC_ERRORABORT; the graph still
// stops cleanly.
TEST_F(MediaGraph, UndecodableDataIsAnError) {
    std::string good = clip("mjpeg_4s.avi");
    std::string bad = (media_fixtures::dir() / "mjpeg_corrupt.avi").string();
    {
        std::ifstream in(good, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // Garble every JPEG picture after the third behind its start marker, keeping the AVI
        // structure around them.
        int pictures = 0;
        for (size_t i = 0; i + 4 < data.size(); ++i) {
            if ((unsigned char)data[i] == 0xFF && (unsigned char)data[i + 1] == 0xD8 && (unsigned char)data[i + 2] == 0xFF) {
                if (++pictures > 3)
                    for (size_t k = i + 2; k < std::min(data.size(), i + 1500); ++k) data[k] = 0x11;
            }
        }
        ASSERT_GT(pictures, 50);
        std::ofstream(bad, std::ios::binary).write(data.data(), (std::streamsize)data.size());
    }
    add_sink(true, false);
    ASSERT_HR(S_OK, render(bad));
    LONG_PTR param = 0;
    EXPECT_EQ(EC_ERRORABORT, run_to_end(&param));
    EXPECT_TRUE(FAILED((HRESULT)param));
    EXPECT_HR(S_OK, control->Stop());
}

}  // namespace

namespace {

// The whole road of a recording: the platform's WM ASF Writer in the graph first, then
// RenderFile connects the source's streams to it, decoded.
TEST_F(MediaGraph, RecordsThroughTheAsfWriter) {
    ComPtr<IBaseFilter> writer;
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     writer.out_void()));
    ASSERT_HR(S_OK, graph->AddFilter(writer.get(), OLESTR("WM ASF Writer")));
    std::string out = (media_fixtures::dir() / "recorded.asf").string();
    auto sink = writer.query<IFileSinkFilter>();
    ASSERT_TRUE(sink);
    ASSERT_HR(S_OK, sink->SetFileName(to_wide(out).c_str(), nullptr));

    ASSERT_HR(S_OK, render(clip("h264_aac.mp4")));
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    LONG code = 0;
    ASSERT_HR(S_OK, events->WaitForCompletion(INFINITE, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    ASSERT_HR(S_OK, control->Stop());

    media::Demuxer d;
    ASSERT_HR(S_OK, d.open(out));
    int video = 0, audio = 0;
    for (int i : d.media_streams()) {
        AVCodecID id = d.stream(i)->codecpar->codec_id;
        if (id == AV_CODEC_ID_WMV2) ++video;
        if (id == AV_CODEC_ID_WMAV2) ++audio;
    }
    EXPECT_EQ(1, video);
    EXPECT_EQ(1, audio);
    EXPECT_NEAR(2.0, d.duration() / 1e7, 0.3);
    empty_graph();
    graph->RemoveFilter(writer.get());
}

// The source filter holds its file with read sharing only, so a writer told to record onto
// that file, under any of its names, fails to create it and leaves the source whole.
TEST_F(MediaGraph, RecordingOntoItsOwnSourceIsASharingViolation) {
    const std::filesystem::path dir = media_fixtures::dir() / "own-source";
    std::filesystem::create_directories(dir);
    const std::string source = (dir / "same.mp4").string();
    std::filesystem::copy_file(clip("h264_aac.mp4"), source, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::create_symlink(source, dir / "link.mp4");
    std::filesystem::create_hard_link(source, dir / "hard.mp4");
    auto bytes = [](const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::string before = bytes(source);

    ComPtr<IBaseFilter> writer;
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     writer.out_void()));
    ASSERT_HR(S_OK, graph->AddFilter(writer.get(), OLESTR("WM ASF Writer")));
    sink_ref = writer;  // kept by empty_graph()
    for (const std::string &output : {source, (dir / "." / "same.mp4").string(), (dir / "link.mp4").string(),
                                      (dir / "hard.mp4").string()}) {
        ASSERT_HR(S_OK, writer.query<IFileSinkFilter>()->SetFileName(to_wide(output).c_str(), nullptr));
        ASSERT_HR(S_OK, render(source));
        EXPECT_HR(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), control->Run()) << output;
        empty_graph();
        EXPECT_EQ(before, bytes(source)) << output;
    }
    // Once the source is out of the graph the file may be replaced.
    ASSERT_HR(S_OK, render(clip("h264_aac.mp4")));
    EXPECT_EQ(EC_COMPLETE, run_to_end());
    empty_graph();
    EXPECT_NE(before, bytes(source));
    graph->RemoveFilter(writer.get());
}

// FFmpeg's own lines go to the graph's log, and never to standard error on their own.
TEST_F(MediaGraph, FFmpegLinesGoToTheLogOnly) {
    add_sink(true, true);
    const std::string log_path = (media_fixtures::dir() / "ffmpeg.log").string();
    const std::string err_path = (media_fixtures::dir() / "stderr.txt").string();
    HANDLE h = CreateFileA(log_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ASSERT_HR(S_OK, graph->SetLogFile((DWORD_PTR)h));
    fflush(stderr);
    const int saved = dup(2);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(err, 2);
    const HRESULT hr = render(clip("truncated.mp4"));  // FFmpeg: "moov atom not found"
    graph->SetLogFile(0);
    const HRESULT hr2 = render(clip("truncated.mp4"));  // no log now: the line goes nowhere
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(err);
    CloseHandle(h);
    EXPECT_HR(VFW_E_INVALID_FILE_FORMAT, hr);
    EXPECT_HR(VFW_E_INVALID_FILE_FORMAT, hr2);
    std::ifstream in(log_path), err_in(err_path);
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string printed((std::istreambuf_iterator<char>(err_in)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, log.find("FFmpeg [mov,mp4")) << log;
    EXPECT_EQ(1u, std::count(log.begin(), log.end(), '@')) << "one line, once:\n" << log;
    EXPECT_EQ("", printed);
}

}  // namespace

namespace {

// The graph's log tells what RenderFile found and tried, in words.
TEST_F(MediaGraph, LogShowsTheSourceAndItsStreams) {
    add_sink(true, true);
    std::string path = (media_fixtures::dir() / "render.log").string();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ASSERT_HR(S_OK, graph->SetLogFile((DWORD_PTR)h));
    ASSERT_HR(S_OK, render(clip("vp8_vorbis.mkv")));
    graph->SetLogFile(0);
    CloseHandle(h);
    std::ifstream in(path);
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char *expected : {"FFmpeg source: matroska", "pin \"Video\"", "vp8", "pin \"Audio\"", "vorbis",
                                 "Video Decoder", "Audio Decoder"})
        EXPECT_NE(std::string::npos, log.find(expected)) << expected << " not in:\n" << log;
}

}  // namespace
