// TFilterGraph over the platform's own graph objects: on Linux our filter graph manager and
// builders, on Windows the system's (Wine's under test). Activation in the three modes,
// standing in for the graph objects, registration found in the running object table, the log
// file, the failure paths of rendering, and events a filter sends through IMediaEventSink.
#include "tests/support/FilterGraphFakes.h"
#include "PlatformObjects.h"

#include "dsgraph/FilterGraph.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

using namespace fakes;
using Calls = std::vector<std::string>;

namespace {

// A filter without pins that keeps the graph it joins (uncounted: the graph holds the filter)
// so that it can send events through the graph's IMediaEventSink.
class EventFilter : public FakeFilter {
public:
    EventFilter() : FakeFilter("Events") {}
    IFilterGraph *graph = nullptr;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *g, LPCWSTR) override {
        graph = g;
        return S_OK;
    }
    HRESULT Notify(LONG code, LONG_PTR p1, LONG_PTR p2) {
        if (!graph) return E_UNEXPECTED;
        tw::ComPtr<IMediaEventSink> sink;
        HRESULT hr = graph->QueryInterface(IID_IMediaEventSink, sink.out_void());
        if (FAILED(hr)) return hr;
        return sink->Notify(code, p1, p2);
    }
};

// A short mono 8 kHz 16-bit PCM WAV file of silence.
void WriteSilentWav(const std::string &path) {
    const uint32_t samples = 800, dataBytes = samples * 2;
    auto u32 = [](std::string &s, uint32_t v) {
        for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [](std::string &s, uint16_t v) {
        s.push_back(static_cast<char>(v & 0xFF));
        s.push_back(static_cast<char>(v >> 8));
    };
    std::string w = "RIFF";
    u32(w, 36 + dataBytes);
    w += "WAVEfmt ";
    u32(w, 16);
    u16(w, 1);  // PCM
    u16(w, 1);
    u32(w, 8000);
    u32(w, 16000);
    u16(w, 2);
    u16(w, 16);
    w += "data";
    u32(w, dataBytes);
    w.append(dataBytes, '\0');
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(w.data(), 1, w.size(), f);
    std::fclose(f);
}

tw::ComPtr<IUnknown> Identity(IUnknown *p) {
    tw::ComPtr<IUnknown> u;
    if (p) p->QueryInterface(tw::iid_of<IUnknown>(), u.out_void());
    return u;
}

template <class I>
tw::ComPtr<I> Ask(TFilterGraph &fg) {
    tw::ComPtr<I> p;
    fg.QueryInterface(tw::iid_of<I>(), p.out_void());
    return p;
}

std::vector<std::string> OurRotNames() {
    const std::string pid = " pid " + Hex(GetCurrentProcessId()).substr(2);
    std::vector<std::string> out;
    for (auto &n : RotDisplayNames())
        if (n.rfind("!FilterGraph ", 0) == 0 && n.size() > pid.size() &&
            n.compare(n.size() - pid.size(), pid.size(), pid) == 0)
            out.push_back(n);
    return out;
}

}  // namespace

class FilterGraphPlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(CoInitialize(nullptr), 0);
        liveBefore_ = PlatformObjects();
        TakeLog();
    }
    void TearDown() override {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        if (liveBefore_ >= 0) {
            EXPECT_EQ(PlatformObjects(), liveBefore_) << "platform objects left alive";
        }
        EXPECT_EQ(LiveFakes(), 0);
        TakeLog();
        CoUninitialize();
    }

private:
    long liveBefore_ = -1;
};

namespace {

// What the platform's DVD graph builder gives for GetFiltergraph: S_OK, or the failure with
// which activation in gmDVD must then raise.
HRESULT DvdBuilderGraphResult() {
    tw::ComPtr<IDvdGraphBuilder> builder;
    HRESULT hr = CoCreateInstance(CLSID_DvdGraphBuilder, nullptr, CLSCTX_INPROC_SERVER, IID_IDvdGraphBuilder,
                                  builder.out_void());
    if (FAILED(hr)) return hr;
    tw::ComPtr<IGraphBuilder> graph;
    hr = builder->GetFiltergraph(graph.out());
    return FAILED(hr) ? hr : graph ? S_OK : E_POINTER;
}

// Activates, or checks that a mode whose graph the platform cannot supply raises with the
// platform's result and leaves the component inactive. Returns whether it is active.
bool ActivateOrExpectRefusal(TFilterGraph &fg) {
    const HRESULT expected = fg.Mode() == gmDVD ? DvdBuilderGraphResult() : S_OK;
    if (SUCCEEDED(expected)) {
        fg.SetActive(true);
        return fg.Active();
    }
    try {
        fg.SetActive(true);
        ADD_FAILURE() << "no exception";
    } catch (const EDirectShowException &e) {
        EXPECT_EQ(e.ResultCode(), expected);
    }
    EXPECT_FALSE(fg.Active());
    EXPECT_FALSE(Ask<IGraphBuilder>(fg));
    std::printf("the platform's DVD graph builder yields no graph (%s): gmDVD activation refused\n",
                Hex(static_cast<uint32_t>(expected)).c_str());
    return false;
}

}  // namespace

TEST_F(FilterGraphPlatformTest, ActivatesInEveryModeAndStandsInForTheGraphObjects) {
    for (TGraphMode mode : {gmNormal, gmCapture, gmDVD}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        TFilterGraph fg(nullptr);
        fg.SetMode(mode);
        if (!ActivateOrExpectRefusal(fg)) continue;
        ASSERT_TRUE(fg.Active());
        auto graph = Ask<IGraphBuilder>(fg);
        ASSERT_TRUE(graph);
        EXPECT_TRUE(Ask<IMediaControl>(fg));
        EXPECT_TRUE(Ask<IMediaEventEx>(fg));
        EXPECT_TRUE(Ask<IMediaSeeking>(fg));
        EXPECT_TRUE(Ask<IFilterGraph>(fg));
        if (mode == gmCapture) {
            // Answered by the capture builder, which works on the component's graph.
            auto builder = Ask<ICaptureGraphBuilder2>(fg);
            ASSERT_TRUE(builder);
            tw::ComPtr<IGraphBuilder> its;
            ASSERT_EQ(builder->GetFiltergraph(its.out()), S_OK);
            EXPECT_EQ(Identity(its.get()), Identity(graph.get()));
        } else {
            EXPECT_FALSE(Ask<ICaptureGraphBuilder2>(fg));
        }
        if (mode == gmDVD) {
            auto builder = Ask<IDvdGraphBuilder>(fg);
            ASSERT_TRUE(builder);
            tw::ComPtr<IGraphBuilder> its;
            ASSERT_EQ(builder->GetFiltergraph(its.out()), S_OK);
            EXPECT_EQ(Identity(its.get()), Identity(graph.get()));
            // No disc has been rendered: the DVD interfaces are not there, and the
            // stream-language events are silently skipped.
            EXPECT_FALSE(Ask<IDvdInfo2>(fg));
            bool called = false;
            fg.OnDVDAudioStreamChange = [&](TObject *, int32_t, int32_t, const std::string &) { called = true; };
            fg.HandleGraphEvent(EC_DVD_AUDIO_STREAM_CHANGE, 0, 0);
            EXPECT_FALSE(called);
        } else {
            EXPECT_FALSE(Ask<IDvdGraphBuilder>(fg));
        }
        graph = nullptr;
        fg.SetActive(false);
        EXPECT_FALSE(Ask<IGraphBuilder>(fg));
    }
}

TEST_F(FilterGraphPlatformTest, GraphEditRegistrationIsFoundInTheRunningObjectTable) {
    for (TGraphMode mode : {gmNormal, gmCapture, gmDVD}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        TFilterGraph fg(nullptr);
        fg.SetMode(mode);
        fg.SetGraphEdit(true);
        EXPECT_TRUE(OurRotNames().empty());
        if (!ActivateOrExpectRefusal(fg)) {
            EXPECT_TRUE(OurRotNames().empty());
            continue;
        }
        // The registered interface is the one the component holds: IFilterGraph2 from the
        // class, or the DVD builder's IGraphBuilder.
        tw::ComPtr<IUnknown> held;
        if (mode == gmDVD)
            held = tw::ComPtr<IUnknown>::adopt(Ask<IGraphBuilder>(fg).detach());
        else
            held = tw::ComPtr<IUnknown>::adopt(Ask<IFilterGraph2>(fg).detach());
        ASSERT_TRUE(held);
        const std::string name = RotName(held.get());
        EXPECT_EQ(OurRotNames(), Calls{name});

        // Found by name: the moniker for that item is running and binds to the graph.
        tw::ComPtr<IRunningObjectTable> rot;
        ASSERT_EQ(GetRunningObjectTable(0, rot.out()), S_OK);
        tw::ComPtr<IMoniker> moniker;
        const tw::wstring item = tw::to_wide(name.substr(1));
        ASSERT_EQ(CreateItemMoniker(OLESTR("!"), item.c_str(), moniker.out()), S_OK);
        EXPECT_EQ(rot->IsRunning(moniker.get()), S_OK);
        tw::ComPtr<IUnknown> found;
        ASSERT_EQ(rot->GetObject(moniker.get(), found.out()), S_OK);
        EXPECT_EQ(Identity(found.get()), Identity(held.get()));
        found = nullptr;

        fg.SetGraphEdit(false);
        EXPECT_TRUE(OurRotNames().empty());
        EXPECT_NE(rot->IsRunning(moniker.get()), S_OK);
        fg.SetGraphEdit(true);
        EXPECT_EQ(OurRotNames(), Calls{name});
        held = nullptr;
        fg.SetActive(false);
        EXPECT_TRUE(OurRotNames().empty());
    }
}

TEST_F(FilterGraphPlatformTest, LogFileIsCreatedAnewForTheRealGraph) {
    const std::string path = TempPath("platform.log");
    {
        std::FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("left from before", f);
        std::fclose(f);
    }
    TFilterGraph fg(nullptr);
    fg.SetLogFile(path);
    fg.SetActive(true);
    EXPECT_EQ(fg.LogFile(), path);
    EXPECT_THROW(fg.RenderSource(tw::to_wide(TempPath("missing.avi"))), EDirectShowException);
    fg.SetActive(false);
    ASSERT_TRUE(FileExists(path));
    EXPECT_EQ(ReadText(path).find("left from before"), std::string::npos);  // truncated at activation

    const std::string bad = TempPath("no-such-dir/platform.log");
    fg.SetActive(true);
    fg.SetLogFile(bad);
    EXPECT_EQ(fg.LogFile(), path);  // the file could not be made: the old name stays
    EXPECT_FALSE(FileExists(bad));
    fg.SetActive(false);
    RemoveFile(path);
}

TEST_F(FilterGraphPlatformTest, EmptyGraphAndRenderSourceFailurePaths) {
    FakeListener l("L");
    TFilterGraph fg(nullptr);
    fg.AddListener(&l);
    fg.SetMode(gmCapture);
    fg.SetActive(true);
    TakeLog();
    fg.EmptyGraph();  // the fresh graph: stopped, nothing to disconnect or remove
    EXPECT_EQ(TakeLog(), Calls{"L.gaStop(0)"});

    HRESULT code = S_OK;
    try {
        fg.RenderSource(tw::to_wide(TempPath("missing.avi")));
        ADD_FAILURE() << "no exception";
    } catch (const EDirectShowException &e) {
        code = e.ResultCode();
        const std::string msg = e.Message();
        EXPECT_EQ(msg.substr(msg.size() - 13), " ($" + Hex(static_cast<uint32_t>(code)).substr(2) + ").");
    }
    EXPECT_EQ(TakeLog(), Calls{"L.gaRenderFile(0)"});  // no gaFileRendered after a failure

    // After a failed render the graph is empty again; EmptyGraph has nothing to remove.
    auto graph = Ask<IGraphBuilder>(fg);
    EXPECT_EQ(TFilterList(graph.get()).Count(), 0);
    fg.EmptyGraph();
    EXPECT_EQ(TakeLog(), Calls{"L.gaStop(0)"});
    EXPECT_TRUE(fg.StopGraph());

    // A missing file is "file not found" wherever the graph manager can open files at all.
    const std::string wav = TempPath("probe.wav");
    WriteSilentWav(wav);
    tw::ComPtr<IBaseFilter> source;
    const HRESULT probe = graph->AddSourceFilter(tw::to_wide(wav).c_str(), OLESTR("probe"), source.out());
    if (source) graph->RemoveFilter(source.get());
    source = nullptr;
    graph = nullptr;
    fg.SetActive(false);
    RemoveFile(wav);
    if (FAILED(probe)) GTEST_SKIP() << "the graph manager opens no media files yet (" << Hex(uint32_t(probe)) << ")";
    EXPECT_EQ(static_cast<uint32_t>(code), 0x80070002u);
}

TEST_F(FilterGraphPlatformTest, EventsAFilterSendsAreDrainedOnTheComponentsThread) {
    FakeListener l("L");
    TFilterGraph fg(nullptr);
    fg.AddListener(&l);
    std::vector<std::string> seen;
    fg.OnDSEvent = [&](TComponent *, LONG code, LONG_PTR p1, LONG_PTR p2) {
        seen.push_back(Hex(uint32_t(code)) + " " + std::to_string(p1) + " " + std::to_string(p2));
    };
    bool paused = false;
    fg.OnGraphPaused = [&](TObject *, HRESULT hr) { paused = hr == S_OK; };
    fg.SetActive(true);
    TakeLog();
    auto graph = Ask<IFilterGraph>(fg);
    auto filter = tw::ComPtr<EventFilter>::adopt(new EventFilter);
    ASSERT_GE(graph->AddFilter(filter.get(), OLESTR("Events")), 0);
    ASSERT_NE(filter->graph, nullptr);

    // From a thread of its own, as a streaming thread would; the window thread drains.
    const LONG custom = 0x8000 + 5;  // an application-defined code the graph passes on untouched
    HRESULT sent1 = E_FAIL, sent2 = E_FAIL;
    std::thread streaming([&] {
        sent1 = filter->Notify(custom, 11, 22);
        sent2 = filter->Notify(EC_PAUSED, S_OK, 0);
    });
    streaming.join();
    EXPECT_EQ(sent1, S_OK);
    EXPECT_EQ(sent2, S_OK);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() >= 2; }));
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[0], "0x8005 11 22");
    EXPECT_EQ(seen[1], "0xE 0 0");
    EXPECT_TRUE(paused);
    const Calls log = TakeLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "L.NotifyEvent(0x8005,11,22)");

    graph->RemoveFilter(filter.get());
    graph = nullptr;
    fg.SetActive(false);
}
