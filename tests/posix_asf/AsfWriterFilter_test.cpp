// The WM ASF Writer filter: its interfaces, pins per profile, and recordings pushed through it
// by a test source, read back with libavformat.
#include "tests/support/AsfTestUtil.h"
#include "tests/support/TestGraph.h"

#include "platform/posix/asf/AsfWriterFilter.h"
#include "platform/posix/asf/Wm8Profiles.h"
#include "platform/posix/object.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <sstream>
#include <fstream>
#include <sys/mount.h>
#include <unistd.h>

using namespace tw;
using namespace tw::posix;
using namespace tw::posix::asf;
using namespace asftest;

TEST(AsfWriterFilter, InterfacesAndIdentity) {
    auto f = make_writer();
    for (const IID *iid : {&IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist, &IID_IConfigAsfWriter,
                           &IID_IConfigAsfWriter2, &IID_IFileSinkFilter, &IID_IFileSinkFilter2, &IID_IServiceProvider,
                           &IID_IMediaSeeking, &IID_IAMFilterMiscFlags}) {
        ComPtr<IUnknown> p;
        EXPECT_EQ(f->QueryInterface(*iid, p.out_void()), S_OK);
        // And back: every interface leads to the same object.
        ComPtr<IUnknown> a, b;
        p->QueryInterface(IID_IUnknown, a.out_void());
        f->QueryInterface(IID_IUnknown, b.out_void());
        EXPECT_EQ(a.get(), b.get());
    }
    ComPtr<IUnknown> none;
    EXPECT_EQ(f->QueryInterface(IID_IWMWriterAdvanced2, none.out_void()), E_NOINTERFACE);
    CLSID clsid{};
    EXPECT_EQ(f->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_WMAsfWriter);
    EXPECT_EQ(f.query<IAMFilterMiscFlags>()->GetMiscFlags(), ULONG(AM_FILTER_MISC_FLAGS_IS_RENDERER));
    void *agg = nullptr;
    EXPECT_EQ(create_asf_writer(f.get(), IID_IUnknown, &agg), CLASS_E_NOAGGREGATION);
}

TEST(AsfWriterFilter, CreatedByClassIdAndLeavesNothingBehind) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    long before = live_objects();
    {
        ComPtr<IBaseFilter> f;
        ASSERT_EQ(CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                   IID_IBaseFilter, f.out_void()),
                  S_OK);
        ComPtr<IWMWriterAdvanced2> adv;
        f.query<IServiceProvider>()->QueryService(IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced2, adv.out_void());
        ComPtr<IEnumPins> e;
        f->EnumPins(e.out());
        EXPECT_GT(live_objects(), before);
    }
    EXPECT_EQ(live_objects(), before);
    CoUninitialize();
}

TEST(AsfWriterFilter, PinsFollowTheProfile) {
    auto f = make_writer();
    auto cfg = f.query<IConfigAsfWriter>();
    GUID g{};
    EXPECT_EQ(cfg->GetCurrentProfileGuid(&g), S_OK);
    EXPECT_EQ(g, guid_of(8));  // a new filter is set to WMProfile_V80_256Video
    EXPECT_EQ(pin_names(f.get()), (std::vector<wstring>{u"Audio Input 01", u"Video Input 01"}));

    for (int p = 0; p < 27; ++p) {
        SCOPED_TRACE(p);
        ASSERT_EQ(cfg->ConfigureFilterUsingProfileGuid(guid_of(p)), S_OK);
        EXPECT_EQ(cfg->GetCurrentProfileGuid(&g), S_OK);
        EXPECT_EQ(g, guid_of(p));
        bool audio = false, video = false;
        for (auto &s : profile_streams(p)) (s.kind == StreamKind::kAudio ? audio : video) = true;
        std::vector<wstring> want;
        if (audio) want.push_back(u"Audio Input 01");
        if (video) want.push_back(u"Video Input 01");
        EXPECT_EQ(pin_names(f.get()), want);
        EXPECT_EQ(bool(pin_named(f.get(), OLESTR("Video Input 01"))), video);
        EXPECT_EQ(bool(pin_named(f.get(), OLESTR("Audio Input 01"))), audio);
    }
    // An unknown profile is refused and changes nothing.
    EXPECT_EQ(cfg->ConfigureFilterUsingProfileGuid(IID_IWMWriterAdvanced2), E_FAIL);
    EXPECT_EQ(cfg->GetCurrentProfileGuid(&g), S_OK);
    EXPECT_EQ(g, guid_of(26));
    EXPECT_EQ(cfg->GetCurrentProfileGuid(nullptr), E_POINTER);
}

TEST(AsfWriterFilter, ProfileChangeIsAnnouncedAndInvalidatesEnumerators) {
    auto graph = ComPtr<EventGraph>::adopt(new EventGraph());
    auto f = make_writer();
    f->JoinFilterGraph(graph.get(), OLESTR("WM ASF Writer"));
    ComPtr<IEnumPins> e, clone;
    ASSERT_EQ(f->EnumPins(e.out()), S_OK);
    ASSERT_EQ(e->Clone(clone.out()), S_OK);
    ASSERT_EQ(f.query<IConfigAsfWriter>()->ConfigureFilterUsingProfileGuid(guid_of(17)), S_OK);
    EXPECT_EQ(graph->count(EC_GRAPH_CHANGED), 1);
    // The enumerator and its clone alike: out of step until Reset, then the new profile's pins.
    for (IEnumPins *each : {e.get(), clone.get()}) {
        ComPtr<IPin> p;
        EXPECT_EQ(each->Next(1, p.out(), nullptr), VFW_E_ENUM_OUT_OF_SYNC);
        EXPECT_EQ(each->Reset(), S_OK);
        ULONG got = 0;
        EXPECT_EQ(each->Next(1, p.out(), &got), S_OK);
        p = nullptr;
        EXPECT_EQ(each->Next(1, p.out(), &got), S_FALSE);  // audio only: one pin
    }
    f->JoinFilterGraph(nullptr, nullptr);
}

TEST(AsfWriterFilter, StreamNumbersAndParameters) {
    auto f = make_writer();
    auto c2 = f.query<IConfigAsfWriter2>();
    WORD n = 0;
    EXPECT_EQ(c2->StreamNumFromPin(pin_named(f.get(), OLESTR("Audio Input 01")).get(), &n), S_OK);
    EXPECT_EQ(n, 1);
    EXPECT_EQ(c2->StreamNumFromPin(pin_named(f.get(), OLESTR("Video Input 01")).get(), &n), S_OK);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(c2->StreamNumFromPin(nullptr, &n), E_POINTER);

    DWORD v = 7, r = 7;
    EXPECT_EQ(c2->GetParam(AM_CONFIGASFWRITER_PARAM_AUTOINDEX, &v, &r), S_OK);
    EXPECT_EQ(v, 1u);  // indexing is on by default
    EXPECT_EQ(c2->SetParam(AM_CONFIGASFWRITER_PARAM_AUTOINDEX, 0, 0), S_OK);
    EXPECT_EQ(c2->GetParam(AM_CONFIGASFWRITER_PARAM_AUTOINDEX, &v, &r), S_OK);
    EXPECT_EQ(v, 0u);
    BOOL index = TRUE;
    EXPECT_EQ(c2->GetIndexMode(&index), S_OK);
    EXPECT_EQ(index, FALSE);
    EXPECT_EQ(c2->SetIndexMode(TRUE), S_OK);
    EXPECT_EQ(c2->GetParam(AM_CONFIGASFWRITER_PARAM_AUTOINDEX, &v, nullptr), S_OK);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(c2->SetParam(AM_CONFIGASFWRITER_PARAM_MULTIPASS, 0, 0), S_OK);
    EXPECT_EQ(c2->SetParam(AM_CONFIGASFWRITER_PARAM_MULTIPASS, 1, 0), E_NOTIMPL);
    EXPECT_EQ(c2->SetParam(AM_CONFIGASFWRITER_PARAM_DONTCOMPRESS, 0, 0), S_OK);
    EXPECT_EQ(c2->SetParam(AM_CONFIGASFWRITER_PARAM_DONTCOMPRESS, 1, 0), E_NOTIMPL);
    EXPECT_EQ(c2->SetParam(99, 1, 0), E_INVALIDARG);
    EXPECT_EQ(c2->GetParam(99, &v, &r), E_INVALIDARG);
    EXPECT_EQ(c2->ConfigureFilterUsingProfileId(0), E_NOTIMPL);
    IWMProfile *prof = reinterpret_cast<IWMProfile *>(1);  // opaque: never held here
    EXPECT_EQ(c2->GetCurrentProfile(&prof), E_NOTIMPL);
    EXPECT_EQ(prof, nullptr);
}

TEST(AsfWriterFilter, FileNameAndMode) {
    auto f = make_writer();
    auto fs = f.query<IFileSinkFilter2>();
    LPOLESTR name = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(fs->GetCurFile(&name, nullptr), E_FAIL);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(fs->GetCurFile(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(fs->SetFileName(nullptr, nullptr), E_POINTER);
    const WCHAR *want = u"/tmp/录像 1.asf";
    EXPECT_EQ(fs->SetFileName(want, nullptr), S_OK);
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(fs->GetCurFile(&name, &mt), S_OK);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(wstring(name), wstring(want));
    EXPECT_NE(name, want);  // a copy of the caller's own
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_Asf);
    CoTaskMemFree(name);
    DWORD mode = 0;
    EXPECT_EQ(fs->GetMode(&mode), S_OK);
    EXPECT_EQ(mode, DWORD(AM_FILE_OVERWRITE));
    EXPECT_EQ(fs->SetMode(AM_FILE_OVERWRITE), S_OK);
    EXPECT_EQ(fs->SetMode(0), E_INVALIDARG);
}

TEST(AsfWriterFilter, AdvancedWriterKeepsSinks) {
    auto f = make_writer();
    auto sp = f.query<IServiceProvider>();
    ComPtr<IWMWriterAdvanced2> adv;
    ASSERT_EQ(sp->QueryService(IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced2, adv.out_void()), S_OK);
    ComPtr<IWMWriterAdvanced2> again;
    ASSERT_EQ(sp->QueryService(IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced2, again.out_void()), S_OK);
    EXPECT_EQ(adv.get(), again.get());
    ComPtr<IUnknown> other;
    EXPECT_EQ(sp->QueryService(IID_IConfigAsfWriter, IID_IUnknown, other.out_void()), E_NOINTERFACE);

    auto sink = ComPtr<CountingWriterSink>::adopt(new CountingWriterSink());
    EXPECT_EQ(adv->AddSink(nullptr), E_INVALIDARG);
    EXPECT_EQ(adv->AddSink(sink.get()), S_OK);
    EXPECT_EQ(adv->AddSink(sink.get()), E_INVALIDARG);
    DWORD count = 0;
    EXPECT_EQ(adv->GetSinkCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<IWMWriterSink> got;
    EXPECT_EQ(adv->GetSink(0, got.out()), S_OK);
    EXPECT_EQ(static_cast<void *>(got.get()), static_cast<void *>(static_cast<IWMWriterSink *>(sink.get())));
    EXPECT_EQ(adv->GetSink(1, got.out()), E_INVALIDARG);
    got = nullptr;
    EXPECT_EQ(ref_count(sink.get()), 2u);  // ours and the writer's
    EXPECT_EQ(adv->RemoveSink(sink.get()), S_OK);
    EXPECT_EQ(ref_count(sink.get()), 1u);
    EXPECT_EQ(adv->RemoveSink(sink.get()), E_INVALIDARG);
    DWORD tol = 0;
    EXPECT_EQ(adv->SetSyncTolerance(1234), S_OK);
    EXPECT_EQ(adv->GetSyncTolerance(&tol), S_OK);
    EXPECT_EQ(tol, 1234u);
    BOOL rt = TRUE;
    EXPECT_EQ(adv->IsRealTime(&rt), S_OK);
    EXPECT_EQ(rt, FALSE);
    EXPECT_EQ(adv->WriteStreamSample(1, 0, 0, 0, 0, nullptr), E_NOTIMPL);
    // The advanced writer outlives the filter safely.
    f = nullptr;
    sp = nullptr;
    again = nullptr;
    EXPECT_EQ(adv->GetSinkCount(&count), S_OK);
}

TEST(AsfWriterFilter, InputPinsTakeUncompressedTypesOnly) {
    auto f = make_writer();
    auto vpin = pin_named(f.get(), OLESTR("Video Input 01"));
    auto apin = pin_named(f.get(), OLESTR("Audio Input 01"));
    SourceSpec s;
    for (const GUID *sub : {&MEDIASUBTYPE_I420, &MEDIASUBTYPE_RGB32}) {
        s.video_subtype = *sub;
        EXPECT_EQ(vpin->QueryAccept(video_type(s).ptr()), S_OK);
    }
    MediaType yuy2 = video_type(s);
    yuy2.get().subtype = MEDIASUBTYPE_YUY2;
    EXPECT_EQ(vpin->QueryAccept(yuy2.ptr()), S_OK);
    MediaType mjpg = video_type(s);
    mjpg.get().subtype = GUID{0x47504A4D, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    EXPECT_NE(vpin->QueryAccept(mjpg.ptr()), S_OK);
    EXPECT_NE(vpin->QueryAccept(audio_type(s).ptr()), S_OK);
    EXPECT_EQ(apin->QueryAccept(audio_type(s).ptr()), S_OK);
    EXPECT_NE(apin->QueryAccept(video_type(s).ptr()), S_OK);
    // A compressed source connecting is refused with the platform's code.
    SourceSpec bad = s;
    bad.audio = false;
    auto src = make_test_source(bad);
    auto out = pin_named(src.get(), OLESTR("Video"));
    EXPECT_EQ(vpin->ReceiveConnection(out.get(), mjpg.ptr()), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(AsfWriterFilter, RecordsThroughTheGraph) {
    for (auto [profile, subtype] : {std::pair{9, &MEDIASUBTYPE_I420}, std::pair{3, &MEDIASUBTYPE_RGB32},
                                    std::pair{17, &MEDIASUBTYPE_I420}, std::pair{23, &MEDIASUBTYPE_RGB32}}) {
        SCOPED_TRACE(profile);
        Rig rig;
        SourceSpec clip;
        clip.video_subtype = *subtype;
        clip.seconds = 3;
        auto sink = ComPtr<CountingWriterSink>::adopt(new CountingWriterSink());
        ComPtr<IWMWriterAdvanced2> adv;
        rig.writer.query<IServiceProvider>()->QueryService(IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced2, adv.out_void());
        ASSERT_EQ(adv->AddSink(sink.get()), S_OK);
        std::string path = temp_dir() + "/filter" + std::to_string(profile) + ".asf";
        ASSERT_EQ(rig.build(profile, clip, path), S_OK);
        EXPECT_FALSE(std::filesystem::exists(path));  // nothing is made before the graph runs
        ASSERT_EQ(rig.run(), S_OK);
        EXPECT_TRUE(std::filesystem::exists(path));
        EventGraph::Event e{};
        ASSERT_TRUE(rig.graph->wait_for(EC_COMPLETE, 60, &e));
        EXPECT_EQ(e.p1, S_OK);
        EXPECT_EQ(e.p2, LONG_PTR(static_cast<IBaseFilter *>(rig.writer.get())));
        EXPECT_EQ(adv->AddSink(sink.get()), NS_E_INVALID_REQUEST);  // not while writing
        EXPECT_EQ(rig.writer.query<IConfigAsfWriter>()->ConfigureFilterUsingProfileGuid(guid_of(9)), VFW_E_WRONG_STATE);
        LONGLONG pos = 0;
        rig.writer.query<IMediaSeeking>()->GetCurrentPosition(&pos);
        EXPECT_NEAR(double(pos), 3e7, 1e6);
        WM_WRITER_STATISTICS st{};
        EXPECT_EQ(adv->GetStatistics(0, &st), S_OK);
        EXPECT_GT(st.qwByteCount, 0u);
        rig.stop();
        EXPECT_EQ(rig.graph->count(EC_COMPLETE), 1);
        EXPECT_EQ(rig.graph->count(EC_ERRORABORT), 0);

        auto settings = profile_streams(profile);
        FileInfo info = probe(path);
        ASSERT_TRUE(info.opened) << info.error;
        ASSERT_EQ(info.streams.size(), settings.size());
        double frame = 0.07;
        for (size_t i = 0; i < settings.size(); ++i) {
            EXPECT_EQ(info.streams[i].codec, settings[i].kind == StreamKind::kVideo ? "wmv2" : "wmav2");
            EXPECT_EQ(info.streams[i].decode_errors, 0);
            if (settings[i].kind == StreamKind::kVideo) {
                EXPECT_EQ(info.streams[i].width, settings[i].width);
                frame = double(settings[i].fps_den) / settings[i].fps_num;
                EXPECT_EQ(frames_off_grid(info.streams[i], 1 / frame), 0);
                EXPECT_LE(double(info.streams[i].packets), 3.0 / frame + 1.5);
                EXPECT_GE(double(info.streams[i].packets), 3.0 / frame / 3);
            }
        }
        EXPECT_NEAR(info.duration_s, 3.0, frame + 0.001);
        EXPECT_TRUE(has_simple_index(path));
        std::lock_guard lk(sink->m);
        EXPECT_EQ(sink->headers, 1);
        EXPECT_EQ(sink->ends, 1);
        EXPECT_GT(sink->packets, 0u);
        EXPECT_FALSE(sink->packet_before_header);
    }
}

TEST(AsfWriterFilter, IndexCanBeSwitchedOff) {
    Rig rig;
    SourceSpec clip;
    clip.seconds = 1;
    std::string path = temp_dir() + "/noindex.asf";
    ASSERT_EQ(rig.build(9, clip, path), S_OK);
    rig.writer.query<IConfigAsfWriter2>()->SetParam(AM_CONFIGASFWRITER_PARAM_AUTOINDEX, 0, 0);
    ASSERT_EQ(rig.run(), S_OK);
    ASSERT_TRUE(rig.graph->wait_for(EC_COMPLETE, 60));
    rig.stop();
    EXPECT_FALSE(has_simple_index(path));
    EXPECT_TRUE(probe(path).opened);
}

TEST(AsfWriterFilter, StopBeforeTheEndStillFinishesTheFile) {
    Rig rig;
    SourceSpec clip;
    clip.seconds = 600;  // far longer than the test waits
    std::string path = temp_dir() + "/early.asf";
    ASSERT_EQ(rig.build(9, clip, path), S_OK);
    ASSERT_EQ(rig.run(), S_OK);
    // Stop once a few seconds have been received.
    auto seek = rig.writer.query<IMediaSeeking>();
    for (LONGLONG pos = 0; pos < 20000000;) {
        ASSERT_FALSE(rig.graph->wait_for(EC_COMPLETE, 0.05));
        seek->GetCurrentPosition(&pos);
    }
    rig.stop();
    FileInfo info = probe(path);
    ASSERT_TRUE(info.opened);
    EXPECT_GT(info.duration_s, 1.5);
    EXPECT_TRUE(has_simple_index(path));
    EXPECT_EQ(rig.graph->count(EC_COMPLETE), 0);
}

TEST(AsfWriterFilter, RunFailsWhenThePathCannotBeCreated) {
    Rig rig;
    SourceSpec clip;
    ASSERT_EQ(rig.build(9, clip, temp_dir() + "/missing/dir/x.asf"), S_OK);
    EXPECT_EQ(rig.writer->Pause(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    rig.writer->Stop();
    rig.writer.query<IFileSinkFilter>()->SetFileName(wide(temp_dir()).c_str(), nullptr);  // a directory
    EXPECT_EQ(rig.writer->Run(0), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    rig.writer->Stop();
}

TEST(AsfWriterFilter, UnconnectedInputStopsPause) {
    auto graph = ComPtr<EventGraph>::adopt(new EventGraph());
    auto f = make_writer();
    f->JoinFilterGraph(graph.get(), OLESTR("WM ASF Writer"));
    f.query<IFileSinkFilter>()->SetFileName(wide(temp_dir() + "/unconnected.asf").c_str(), nullptr);
    EXPECT_EQ(f->Pause(), VFW_E_NOT_CONNECTED);
    f->Stop();
    EXPECT_FALSE(std::filesystem::exists(temp_dir() + "/unconnected.asf"));
    // Configuring is for a stopped filter only.
    f->JoinFilterGraph(nullptr, nullptr);
}

TEST(AsfWriterFilter, ExistingFileIsReplaced) {
    std::string path = temp_dir() + "/same.asf";
    {
        std::ofstream o(path);
        o << std::string(3 << 20, 'z');
    }
    Rig rig;
    SourceSpec clip;
    clip.seconds = 1;
    ASSERT_EQ(rig.build(17, clip, path), S_OK);
    ASSERT_EQ(rig.run(), S_OK);
    ASSERT_TRUE(rig.graph->wait_for(EC_COMPLETE, 60));
    rig.stop();
    EXPECT_LT(std::filesystem::file_size(path), 1u << 20);
    EXPECT_TRUE(probe(path).opened);
}

TEST(AsfWriterFilter, FullDiskEndsWithErrorAbortAndPlayableFile) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
    std::string dir = temp_dir() + "/tiny";
    std::filesystem::create_directory(dir);
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        std::string d;
        ~Unmount() { umount(d.c_str()); }
    } unmount{dir};
    Rig rig;
    SourceSpec clip;
    clip.width = 640;
    clip.height = 480;
    clip.seconds = 120;
    ASSERT_EQ(rig.build(12, clip, dir + "/full.asf"), S_OK);
    ASSERT_EQ(rig.run(), S_OK);
    EventGraph::Event e{};
    ASSERT_TRUE(rig.graph->wait_for(EC_ERRORABORT, 120, &e));
    EXPECT_EQ(HRESULT(e.p1), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    rig.stop();
    EXPECT_EQ(rig.graph->count(EC_ERRORABORT), 1);
    FileInfo info = probe(dir + "/full.asf");
    ASSERT_TRUE(info.opened) << info.error;
    ASSERT_NE(info.first_video(), nullptr);
    EXPECT_GT(info.first_video()->decoded, 10);
    EXPECT_EQ(info.first_video()->decode_errors, 0);
    // The header states what the packets hold, and so does the position the filter reports.
    int64_t held_ms = 0;
    for (const StreamInfo &st : info.streams) held_ms = std::max(held_ms, st.last_pts_ms);
    EXPECT_NEAR(info.duration_s * 1000, double(held_ms), 100);
    LONGLONG pos = 0;
    EXPECT_EQ(rig.writer.query<IMediaSeeking>()->GetCurrentPosition(&pos), S_OK);
    EXPECT_NEAR(double(pos) / 1e7, info.duration_s, 0.1);
}

namespace {
// Signals when a client has connected to a network sink.
class ConnectWaiter final : public ComObject<IWMStatusCallback> {
public:
    HRESULT STDMETHODCALLTYPE OnStatus(WMT_STATUS s, HRESULT, WMT_ATTR_DATATYPE, BYTE *, void *) override {
        if (s == WMT_CLIENT_CONNECT || s == WMT_CLIENT_CONNECT_EX) {
            std::lock_guard lk(m_);
            ++connects_;
            cv_.notify_all();
        }
        return S_OK;
    }
    bool wait(double seconds) {
        std::unique_lock lk(m_);
        return cv_.wait_for(lk, std::chrono::duration<double>(seconds), [&] { return connects_ > 0; });
    }

protected:
    void *GetInterface(REFIID riid) override { return answer<IWMStatusCallback>(riid); }

private:
    std::mutex m_;
    std::condition_variable cv_;
    int connects_ = 0;
};

struct Output {
    int status;
    std::string text;
};
Output run_command(const std::string &cmd) {
    Output out{-1, {}};
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.text.append(buf, n);
    out.status = pclose(p);
    return out;
}
}  // namespace

// The writer's packets reach an HTTP client of the platform's network sink, which decodes them.
TEST(AsfWriterFilter, BroadcastsThroughTheNetworkSink) {
    ComPtr<IWMWriterNetworkSink> net;
    ASSERT_EQ(WMCreateWriterNetworkSink(net.out()), S_OK);
    DWORD port = 0;
    ASSERT_EQ(net->Open(&port), S_OK);
    ASSERT_NE(port, 0u);
    auto waiter = ComPtr<ConnectWaiter>::adopt(new ConnectWaiter());
    auto reg = net.query<IWMRegisterCallback>();
    ASSERT_TRUE(reg);
    ASSERT_EQ(reg->Advise(waiter.get(), nullptr), S_OK);

    Rig rig;
    SourceSpec clip;
    clip.seconds = 4;
    ASSERT_EQ(rig.build(9, clip, temp_dir() + "/broadcast.asf"), S_OK);
    ComPtr<IWMWriterAdvanced2> adv;
    rig.writer.query<IServiceProvider>()->QueryService(IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced2, adv.out_void());
    ASSERT_EQ(adv->AddSink(net.get()), S_OK);

    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    auto client = std::async(std::launch::async, [url] {
        return run_command("ffmpeg -nostdin -v error -i " + url + " -f framemd5 - 2>&1");
    });
    ASSERT_TRUE(waiter->wait(30)) << "the client did not connect";
    ASSERT_EQ(rig.run(), S_OK);
    ASSERT_TRUE(rig.graph->wait_for(EC_COMPLETE, 60));
    rig.stop();  // ends the broadcast: the client reads to the end
    Output out = client.get();
    EXPECT_EQ(out.status, 0) << out.text;
    int audio = 0, video = 0;
    std::istringstream lines(out.text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("0,", 0) == 0) ++audio;
        if (line.rfind("1,", 0) == 0) ++video;
    }
    EXPECT_GT(video, 2 * 29) << out.text;
    EXPECT_GT(audio, 20) << out.text;
    reg->Unadvise(waiter.get(), nullptr);
    EXPECT_EQ(adv->RemoveSink(net.get()), S_OK);
    EXPECT_EQ(net->Close(), S_OK);
}

// A profile without video takes the video pin away; its connection goes on both sides, the
// audio pin's stays.
TEST(AsfWriterFilter, ProfileWithoutVideoDisconnectsTheVideoPin) {
    Rig rig;
    SourceSpec clip;
    ASSERT_EQ(rig.build(9, clip, temp_dir() + "/reconfigure.asf"), S_OK);
    auto src_video = pin_named(rig.source.get(), OLESTR("Video"));
    auto src_audio = pin_named(rig.source.get(), OLESTR("Audio"));
    ComPtr<IPin> peer;
    ASSERT_EQ(src_video->ConnectedTo(peer.out()), S_OK);
    ASSERT_EQ(rig.writer.query<IConfigAsfWriter>()->ConfigureFilterUsingProfileGuid(guid_of(17)), S_OK);
    ComPtr<IPin> other;
    EXPECT_EQ(src_video->ConnectedTo(other.out()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(peer->ConnectedTo(other.out()), VFW_E_NOT_CONNECTED);  // the writer's former video pin
    EXPECT_EQ(src_audio->ConnectedTo(other.out()), S_OK);
    EXPECT_EQ(pin_names(rig.writer.get()), (std::vector<wstring>{u"Audio Input 01"}));
}

// The whole way: a generated H.264/AAC clip rendered by the graph manager into the writer, run
// to completion, stopped, and read back.
TEST(AsfWriterFilter, RendersAClipThroughTheGraphManager) {
    std::string clip = temp_dir() + "/clip.mp4";
    std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=640x360:r=25 -f lavfi -i sine=f=440:r=48000 "
                       "-t 3 -c:v libx264 -pix_fmt yuv420p -c:a aac -ac 2 " + clip;
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "cannot make an H.264/AAC clip here";
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.out_void()), S_OK);
        ComPtr<IBaseFilter> writer;
        ASSERT_EQ(CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                   IID_IBaseFilter, writer.out_void()),
                  S_OK);
        ASSERT_EQ(graph->AddFilter(writer.get(), OLESTR("WM ASF Writer")), S_OK);
        ASSERT_EQ(writer.query<IConfigAsfWriter>()->ConfigureFilterUsingProfileGuid(guid_of(9)), S_OK);
        std::string out = temp_dir() + "/rendered.asf";
        ASSERT_EQ(writer.query<IFileSinkFilter>()->SetFileName(wide(out).c_str(), nullptr), S_OK);
        ASSERT_EQ(graph->RenderFile(wide(clip).c_str(), nullptr), S_OK);
        for (const WCHAR *name : {OLESTR("Audio Input 01"), OLESTR("Video Input 01")}) {
            ComPtr<IPin> peer;
            EXPECT_EQ(pin_named(writer.get(), name)->ConnectedTo(peer.out()), S_OK);
        }
        auto control = graph.query<IMediaControl>();
        ASSERT_EQ(control->Run(), S_OK);
        LONG code = 0;
        EXPECT_EQ(graph.query<IMediaEvent>()->WaitForCompletion(60000, &code), S_OK);
        EXPECT_EQ(code, EC_COMPLETE);
        control->Stop();
        FileInfo info = probe(out);
        ASSERT_TRUE(info.opened) << info.error;
        ASSERT_EQ(info.streams.size(), 2u);
        EXPECT_EQ(info.streams[0].codec, "wmav2");
        EXPECT_EQ(info.streams[1].codec, "wmv2");
        EXPECT_EQ(info.streams[1].decode_errors, 0);
        EXPECT_NEAR(info.duration_s, 3.0, 1.0 / 29.97 + 0.03);
        graph->RemoveFilter(writer.get());
    }
    CoUninitialize();
}
