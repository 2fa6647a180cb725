// The filter graph manager: building, naming, enumeration, RenderFile, state changes, events,
// seeking and the log. Long because the graph manager's calls are many; each test is short.
#include "tests/support/TestFilters.h"

#include "platform/posix/graph/Graph.h"
#include "platform/posix/graph/Render.h"
#include "platform/win32.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

using namespace graphtest;

namespace {

// "test://<kinds>" with kinds from v (RGB24 video), w (WMV2 video), a (PCM audio), t (text);
// "test://missing" cannot be opened; other URLs are not ours.
HRESULT open_test_url(LPCWSTR url, const OpenContext &ctx, IBaseFilter **source) {
    std::string u = tw::to_utf8(url);
    if (u.rfind("test://", 0) != 0) return S_FALSE;
    std::string kinds = u.substr(7);
    if (kinds == "missing") return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    if (kinds == "wait-abort") {
        // Blocks like a slow network source until the graph is aborted.
        while (!ctx.aborted()) std::this_thread::yield();
        return E_ABORT;
    }
    std::vector<MediaType> types;
    for (char k : kinds) {
        if (k == 'v') types.push_back(rgb24());
        if (k == 'w') types.push_back(wmv2());
        if (k == 'a') types.push_back(pcm());
        if (k == 't') types.push_back(text_type());
    }
    ctx.log("test source with " + std::to_string(types.size()) + " streams");
    *source = new TestSource(types, 5);
    return S_OK;
}

bool accepts_wmv2(const AM_MEDIA_TYPE &mt) { return mt.subtype == MEDIASUBTYPE_WMV2; }
HRESULT create_decoder(IBaseFilter **f) {
    *f = new TestTransform(true);
    return S_OK;
}

std::vector<tw::wstring> filter_names(IFilterGraph *g) {
    std::vector<tw::wstring> v;
    ComPtr<IEnumFilters> e;
    g->EnumFilters(e.out());
    ComPtr<IBaseFilter> f;
    while (e->Next(1, f.out(), nullptr) == S_OK) {
        FILTER_INFO info{};
        f->QueryFilterInfo(&info);
        if (info.pGraph) info.pGraph->Release();
        v.push_back(info.achName);
    }
    return v;
}

class Graph : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        live_before_ = live_objects();
        opener_ = register_source_opener({"test", open_test_url});
        decoder_ = register_transform({"Test Decoder", accepts_wmv2, create_decoder});
        ASSERT_HR(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph2,
                                         graph.out_void()));
        control = graph.query<IMediaControl>();
        events = graph.query<IMediaEventEx>();
        ASSERT_TRUE(control && events);
    }
    void TearDown() override {
        if (control) control->Stop();
        control = nullptr;
        events = nullptr;
        keep_.clear();
        graph = nullptr;
        revoke_source_opener(opener_);
        revoke_transform(decoder_);
        EXPECT_EQ(live_before_, live_objects()) << "objects outlived the graph";
        CoUninitialize();
    }
    // Adds a new filter that the graph owns from then on.
    template <class F>
    F *add(F *f, const WCHAR *name) {
        ComPtr<IBaseFilter> keep = ComPtr<IBaseFilter>::adopt(f);
        EXPECT_TRUE(SUCCEEDED(graph->AddFilter(f, name)));
        return f;
    }
    std::vector<LONG> drain() {
        std::vector<LONG> codes;
        LONG c;
        LONG_PTR p1, p2;
        while (events->GetEvent(&c, &p1, &p2, 0) == S_OK) {
            codes.push_back(c);
            events->FreeEventParams(c, p1, p2);
        }
        return codes;
    }

    // A new sink whose creation reference the fixture keeps until TearDown.
    IBaseFilter *fresh_sink() {
        keep_.push_back(ComPtr<IBaseFilter>::adopt(new TestSink({rgb24()})));
        return keep_.back().get();
    }

    std::vector<ComPtr<IBaseFilter>> keep_;
    long live_before_ = 0;
    DWORD opener_ = 0, decoder_ = 0;
    ComPtr<IFilterGraph2> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
};

}  // namespace

TEST_F(Graph, InterfaceSetBothWaysAndCounts) {
    ULONG refs = tw::ref_count(graph.get());
    const IID *iids[] = {&IID_IFilterGraph, &IID_IGraphBuilder, &IID_IFilterGraph2, &IID_IMediaControl,
                         &IID_IMediaEvent, &IID_IMediaEventEx, &IID_IMediaEventSink, &IID_IMediaSeeking,
                         &IID_IMediaFilter, &IID_IPersist, &IID_IUnknown};
    ComPtr<IUnknown> id = graph.query<IUnknown>();
    for (const IID *a : iids) {
        ComPtr<IUnknown> pa;
        ASSERT_HR(S_OK, graph->QueryInterface(*a, pa.out_void()));
        for (const IID *b : iids) {
            ComPtr<IUnknown> pb;
            EXPECT_HR(S_OK, pa->QueryInterface(*b, pb.out_void()));
            EXPECT_EQ(id, pb.query<IUnknown>());
        }
    }
    EXPECT_EQ(refs + 1, tw::ref_count(graph.get())) << "every reference handed out was released, but id";
    ComPtr<IUnknown> none;
    EXPECT_HR(E_NOINTERFACE, graph->QueryInterface(IID_IBaseFilter, none.out_void()));
    EXPECT_FALSE(none);
    CLSID clsid{};
    graph.query<IMediaFilter>()->GetClassID(&clsid);
    EXPECT_TRUE(clsid == CLSID_FilterGraph);
}

TEST_F(Graph, AddFilterNamesAndMembership) {
    auto *a = new TestSink({rgb24()});
    ComPtr<IBaseFilter> ka = ComPtr<IBaseFilter>::adopt(a);
    ULONG refs = tw::ref_count(ka.get());
    EXPECT_HR(S_OK, graph->AddFilter(ka.get(), OLESTR("Sink")));
    EXPECT_EQ(refs + 1, tw::ref_count(ka.get())) << "the graph holds its filters";
    FILTER_INFO info{};
    ASSERT_HR(S_OK, ka->QueryFilterInfo(&info));
    EXPECT_EQ(tw::wstring(OLESTR("Sink")), tw::wstring(info.achName));
    ComPtr<IFilterGraph> fg = graph.query<IFilterGraph>();
    EXPECT_EQ(fg.get(), info.pGraph) << "JoinFilterGraph with the graph";
    info.pGraph->Release();

    EXPECT_HR(VFW_S_DUPLICATE_NAME, graph->AddFilter(fresh_sink(), OLESTR("Sink")));
    EXPECT_HR(VFW_S_DUPLICATE_NAME, graph->AddFilter(fresh_sink(), OLESTR("Sink")));
    EXPECT_HR(S_OK, graph->AddFilter(fresh_sink(), nullptr));
    EXPECT_HR(E_POINTER, graph->AddFilter(nullptr, OLESTR("x")));
    EXPECT_HR(E_INVALIDARG, graph->AddFilter(ka.get(), OLESTR("Again")));
    std::vector<tw::wstring> want = {OLESTR("Sink"), OLESTR("Sink 0001"), OLESTR("Sink 0002"), OLESTR("Filter 0003")};
    EXPECT_EQ(want, filter_names(graph.get()));

    ComPtr<IBaseFilter> found;
    ULONG before_find = tw::ref_count(keep_[1].get());
    ASSERT_HR(S_OK, graph->FindFilterByName(OLESTR("Sink 0002"), found.out()));
    EXPECT_EQ(keep_[1].get(), found.get());
    EXPECT_EQ(before_find + 1, tw::ref_count(found.get()));
    EXPECT_HR(VFW_E_NOT_FOUND, graph->FindFilterByName(OLESTR("Sink 9"), found.out()));
    EXPECT_FALSE(found);
    EXPECT_HR(E_POINTER, graph->FindFilterByName(OLESTR("Sink"), nullptr));

    EXPECT_HR(S_OK, graph->RemoveFilter(ka.get()));
    EXPECT_EQ(refs, tw::ref_count(ka.get()));
    ASSERT_HR(S_OK, ka->QueryFilterInfo(&info));
    EXPECT_EQ(nullptr, info.pGraph);
    EXPECT_HR(VFW_E_NOT_FOUND, graph->RemoveFilter(ka.get()));
}

TEST_F(Graph, EnumeratorGoesOutOfSyncAndResets) {
    add(new TestSink({rgb24()}), OLESTR("A"));
    ComPtr<IEnumFilters> e;
    ASSERT_HR(S_OK, graph->EnumFilters(e.out()));
    ComPtr<IBaseFilter> f;
    ASSERT_HR(S_OK, e->Next(1, f.out(), nullptr));
    add(new TestSink({rgb24()}), OLESTR("B"));
    EXPECT_HR(VFW_E_ENUM_OUT_OF_SYNC, e->Next(1, f.out(), nullptr));
    EXPECT_HR(VFW_E_ENUM_OUT_OF_SYNC, e->Skip(1));
    ASSERT_HR(S_OK, e->Reset());
    IBaseFilter *two[3] = {};
    ULONG got = 0;
    EXPECT_HR(S_FALSE, e->Next(3, two, &got));
    EXPECT_EQ(2u, got);
    for (ULONG i = 0; i < got; ++i) two[i]->Release();
}

TEST_F(Graph, ConnectDirectAndIntelligentConnect) {
    auto *src = add(new TestSource({wmv2()}, 1), OLESTR("Source"));
    auto *sink = add(new TestSink({rgb24()}), OLESTR("Sink"));
    EXPECT_HR(VFW_E_NO_ACCEPTABLE_TYPES, graph->ConnectDirect(src->pin_at(0), sink->pin_at(0), nullptr));
    EXPECT_HR(VFW_E_INVALID_DIRECTION, graph->ConnectDirect(sink->pin_at(0), src->pin_at(0), nullptr));
    auto *outside = new TestSink({wmv2()});
    ComPtr<IBaseFilter> ko = ComPtr<IBaseFilter>::adopt(outside);
    EXPECT_HR(VFW_E_NOT_IN_GRAPH, graph->ConnectDirect(src->pin_at(0), outside->pin_at(0), nullptr));

    ASSERT_HR(S_OK, graph->Connect(src->pin_at(0), sink->pin_at(0)));
    std::vector<tw::wstring> want = {OLESTR("Source"), OLESTR("Sink"), OLESTR("Test Decoder")};
    EXPECT_EQ(want, filter_names(graph.get()));
    EXPECT_TRUE(sink->pin_at(0)->is_connected());
    EXPECT_HR(S_OK, graph->Disconnect(sink->pin_at(0)));
    EXPECT_HR(S_FALSE, graph->Disconnect(sink->pin_at(0)));
    EXPECT_HR(E_POINTER, graph->Disconnect(nullptr));
}

TEST_F(Graph, RenderFileResults) {
    auto *video_sink = add(new TestSink({rgb24()}), OLESTR("Video Sink"));
    EXPECT_HR(S_OK, graph->RenderFile(OLESTR("test://v"), nullptr));
    EXPECT_TRUE(video_sink->pin_at(0)->is_connected());

    // Through a decoder: a second sink takes the decoded stream.
    auto *second = add(new TestSink({rgb24()}), OLESTR("Second Sink"));
    EXPECT_HR(S_OK, graph->RenderFile(OLESTR("test://w"), nullptr));
    EXPECT_TRUE(second->pin_at(0)->is_connected());
    ComPtr<IBaseFilter> dec;
    EXPECT_HR(S_OK, graph->FindFilterByName(OLESTR("Test Decoder"), dec.out()));

    add(new TestSink({rgb24()}), OLESTR("Third"));
    EXPECT_HR(VFW_S_AUDIO_NOT_RENDERED, graph->RenderFile(OLESTR("test://va"), nullptr));
    add(new TestSink({pcm()}), OLESTR("Audio Sink"));
    EXPECT_HR(VFW_S_VIDEO_NOT_RENDERED, graph->RenderFile(OLESTR("test://va"), nullptr));
    add(new TestSink({rgb24()}), OLESTR("Fourth"));
    EXPECT_HR(VFW_S_PARTIAL_RENDER, graph->RenderFile(OLESTR("test://vt"), nullptr));
}

TEST_F(Graph, RenderFileThatRendersNothingLeavesTheGraphAsItWas) {
    auto *sink = add(new TestSink({pcm()}), OLESTR("Audio Sink"));
    auto before = filter_names(graph.get());
    EXPECT_HR(VFW_E_CANNOT_RENDER, graph->RenderFile(OLESTR("test://vw"), nullptr));
    EXPECT_EQ(before, filter_names(graph.get())) << "source and decoders removed";
    EXPECT_FALSE(sink->pin_at(0)->is_connected());
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), graph->RenderFile(OLESTR("test://missing"), nullptr));
    EXPECT_HR(E_INVALIDARG, graph->RenderFile(OLESTR("test://a"), OLESTR("list")));
    EXPECT_HR(E_POINTER, graph->RenderFile(nullptr, nullptr));
    EXPECT_EQ(before, filter_names(graph.get()));

    ComPtr<IBaseFilter> src;
    EXPECT_HR(S_OK, graph->AddSourceFilter(OLESTR("test://a"), OLESTR("My Source"), src.out()));
    EXPECT_EQ(2u, filter_names(graph.get()).size());
    EXPECT_EQ(2u, tw::ref_count(src.get()));
}

TEST_F(Graph, AbortEndsARenderInProgress) {
    EXPECT_HR(S_OK, graph->ShouldOperationContinue());
    HRESULT hr = S_OK;
    std::atomic<bool> done{false};
    std::thread t([&] {
        hr = graph->RenderFile(OLESTR("test://wait-abort"), nullptr);
        done = true;
    });
    // A render clears the flag when it starts, so Abort is repeated until the render ends.
    while (!done) {
        graph->Abort();
        std::this_thread::yield();
    }
    t.join();
    EXPECT_HR(E_ABORT, hr);
    EXPECT_TRUE(filter_names(graph.get()).empty());
}

TEST_F(Graph, StateChangesGoDownstreamFirst) {
    CallLog log;
    auto *src = add(new TestSource({wmv2()}, -1, &log, "source"), OLESTR("Source"));
    auto *dec = add(new TestTransform(true, &log, "decoder"), OLESTR("Decoder"));
    auto *sink = add(new TestSink({rgb24()}, &log, "sink"), OLESTR("Sink"));
    ASSERT_HR(S_OK, graph->ConnectDirect(src->pin_at(0), dec->pin_at(0), nullptr));
    ASSERT_HR(S_OK, graph->ConnectDirect(dec->pin_at(1), sink->pin_at(0), nullptr));
    ASSERT_HR(S_OK, control->Run());
    std::vector<std::string> want = {"sink.Pause", "decoder.Pause", "source.Pause",
                                     "sink.Run",   "decoder.Run",   "source.Run"};
    EXPECT_EQ(want, log.take());
    sink->wait_samples(3);
    EXPECT_HR(VFW_E_NOT_STOPPED, sink->pin_at(0)->Disconnect());
    ASSERT_HR(S_OK, control->Stop());
    want = {"sink.Pause", "decoder.Pause", "source.Pause", "sink.Stop", "decoder.Stop", "source.Stop"};
    EXPECT_EQ(want, log.take());
    OAFilterState fs = -1;
    EXPECT_HR(S_OK, control->GetState(0, &fs));
    EXPECT_EQ(State_Stopped, fs);
    // Stop joined the streaming thread: nothing is delivered once it returned.
    EXPECT_FALSE(src->thread_running());
    EXPECT_EQ(0, src->stop_returned_deliveries.load());
    int n = sink->samples();
    EXPECT_EQ(n, sink->samples());
    EXPECT_GT(dec->transformed.load(), 0);
}

TEST_F(Graph, RunPauseStopManyTimesWithoutDeadlock) {
    auto *src = add(new TestSource({rgb24(), pcm()}, -1), OLESTR("Source"));
    auto *sink = add(new TestSink({rgb24(), pcm()}), OLESTR("Sink"));
    ASSERT_HR(S_OK, graph->Connect(src->pin_at(0), sink->pin_at(0)));
    ASSERT_HR(S_OK, graph->Connect(src->pin_at(1), sink->pin_at(1)));
    for (int i = 0; i < 40; ++i) {
        ASSERT_HR(S_OK, control->Run());
        if (i % 3 == 0) sink->wait_samples(sink->samples() + 2);
        if (i % 2 == 0) {
            ASSERT_HR(S_OK, control->Pause());
        }
        ASSERT_HR(S_OK, control->Stop());
        ASSERT_FALSE(src->thread_running());
    }
    EXPECT_EQ(0, src->stop_returned_deliveries.load());
    OAFilterState fs;
    EXPECT_HR(S_OK, control->GetState(INFINITE, &fs));
    EXPECT_EQ(State_Stopped, fs);
}

TEST_F(Graph, CompleteOnlyAfterEveryRenderer) {
    auto *a = add(new TestSink({rgb24()}), OLESTR("Video Sink"));
    auto *b = add(new TestSink({pcm()}), OLESTR("Audio Sink"));
    ASSERT_HR(S_OK, graph->RenderFile(OLESTR("test://va"), nullptr));
    LONG code = 0;
    EXPECT_HR(VFW_E_WRONG_STATE, events->WaitForCompletion(0, &code));
    ASSERT_HR(S_OK, control->Run());
    ASSERT_HR(S_OK, events->WaitForCompletion(INFINITE, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    EXPECT_EQ(1, a->eos_count());
    EXPECT_EQ(1, b->eos_count()) << "both renderers finished before the one EC_COMPLETE";
    EXPECT_EQ(5, a->samples());
    std::vector<REFERENCE_TIME> want = {0, kFrame, 2 * kFrame, 3 * kFrame, 4 * kFrame};
    EXPECT_EQ(want, a->times());
    EXPECT_TRUE(drain().empty()) << "a single EC_COMPLETE";
    control->Stop();

    // Without default handling each renderer's own event comes through, naming the filter.
    ASSERT_HR(S_OK, events->CancelDefaultHandling(EC_COMPLETE));
    ASSERT_HR(S_OK, control->Run());
    std::vector<LONG_PTR> from;
    for (int i = 0; i < 2; ++i) {
        LONG c;
        LONG_PTR p1, p2;
        ASSERT_HR(S_OK, events->GetEvent(&c, &p1, &p2, INFINITE));
        EXPECT_EQ(EC_COMPLETE, c);
        from.push_back(p2);
    }
    std::sort(from.begin(), from.end());
    std::vector<LONG_PTR> sinks = {reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(a)),
                                   reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(b))};
    std::sort(sinks.begin(), sinks.end());
    EXPECT_EQ(sinks, from);
}

TEST_F(Graph, EventQueueRules) {
    ComPtr<IMediaEventSink> sink = graph.query<IMediaEventSink>();
    LONG c = 1;
    LONG_PTR p1 = 1, p2 = 1;
    EXPECT_HR(E_ABORT, events->GetEvent(&c, &p1, &p2, 0));
    EXPECT_EQ(0, c);
    EXPECT_HR(E_ABORT, events->GetEvent(&c, &p1, &p2, 20));
    sink->Notify(EC_USER + 1, 7, 8);
    sink->Notify(EC_REPAINT, 0, 0);  // handled by the graph itself
    sink->Notify(EC_USER + 2, 9, 10);
    ASSERT_HR(S_OK, events->GetEvent(&c, &p1, &p2, 0));
    EXPECT_EQ(EC_USER + 1, c);
    EXPECT_EQ(7, p1);
    EXPECT_EQ(8, p2);
    EXPECT_EQ(std::vector<LONG>{EC_USER + 2}, drain());

    EXPECT_HR(E_INVALIDARG, events->SetNotifyFlags(2));
    sink->Notify(EC_USER + 3, 0, 0);
    ASSERT_HR(S_OK, events->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY));
    LONG flags = 0;
    events->GetNotifyFlags(&flags);
    EXPECT_EQ(AM_MEDIAEVENT_NONOTIFY, flags);
    sink->Notify(EC_USER + 4, 0, 0);
    EXPECT_TRUE(drain().empty()) << "emptied and no longer queued";
    events->SetNotifyFlags(0);

    OAEVENT h = 0;
    ASSERT_HR(S_OK, events->GetEventHandle(&h));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(reinterpret_cast<HANDLE>(h), 0));
    sink->Notify(EC_USER + 5, 0, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reinterpret_cast<HANDLE>(h), 0));
    drain();
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(reinterpret_cast<HANDLE>(h), 0));
    // Without notification the handle stands for the end of the stream.
    events->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY);
    sink->Notify(EC_USER + 6, 0, 0);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(reinterpret_cast<HANDLE>(h), 0));
    sink->Notify(EC_COMPLETE, S_OK, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reinterpret_cast<HANDLE>(h), 0));
    EXPECT_TRUE(drain().empty());
    events->SetNotifyFlags(0);

    HWND not_a_window = reinterpret_cast<HWND>(static_cast<intptr_t>(0x1234));
    EXPECT_HR(E_INVALIDARG, events->SetNotifyWindow(reinterpret_cast<OAHWND>(not_a_window), WM_APP + 1, 0));
    EXPECT_HR(S_OK, events->SetNotifyWindow(0, 0, 0));
}

namespace {
struct Posted {
    int count = 0;
    LPARAM instance = 0;
};
LRESULT CALLBACK record_proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_APP + 1) {
        auto *p = reinterpret_cast<Posted *>(GetWindowLongPtrA(h, GWLP_USERDATA));
        ++p->count;
        p->instance = l;
        return 0;
    }
    return DefWindowProcA(h, m, w, l);
}
}  // namespace

TEST_F(Graph, NotifyWindowGetsAMessageForEventsFromAStreamingThread) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = record_proc;
    wc.lpszClassName = "GraphTestNotify";
    RegisterClassExA(&wc);
    HWND hwnd = CreateWindowExA(0, "GraphTestNotify", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(hwnd);
    Posted posted;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&posted));
    ASSERT_HR(S_OK, events->SetNotifyFlags(0));
    ASSERT_HR(S_OK, events->SetNotifyWindow(reinterpret_cast<OAHWND>(hwnd), WM_APP + 1, 4242));

    add(new TestSink({rgb24()}), OLESTR("Sink"));
    ASSERT_HR(S_OK, graph->RenderFile(OLESTR("test://v"), nullptr));
    ASSERT_HR(S_OK, control->Run());
    // EC_COMPLETE is sent by the sink on the source's streaming thread.
    MSG msg;
    while (posted.count == 0 && GetMessageA(&msg, hwnd, 0, 0) > 0) DispatchMessageA(&msg);
    EXPECT_EQ(1, posted.count);
    EXPECT_EQ(4242, posted.instance);
    EXPECT_EQ(std::vector<LONG>{EC_COMPLETE}, drain());
    events->SetNotifyWindow(0, 0, 0);
    control->Stop();
    DestroyWindow(hwnd);
}

TEST_F(Graph, SeekingAsksTheFilters) {
    ComPtr<IMediaSeeking> seek = graph.query<IMediaSeeking>();
    LONGLONG d = 0;
    EXPECT_HR(E_NOTIMPL, seek->GetDuration(&d)) << "nothing can seek yet";
    auto *sink = add(new TestSink({rgb24()}), OLESTR("Sink"));
    ASSERT_HR(S_OK, graph->RenderFile(OLESTR("test://v"), nullptr));
    ASSERT_HR(S_OK, seek->GetDuration(&d));
    EXPECT_EQ(5 * kFrame, d);
    LONGLONG stop = 0;
    EXPECT_HR(S_OK, seek->GetStopPosition(&stop));
    EXPECT_EQ(d, stop);
    EXPECT_HR(S_OK, seek->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_HR(S_FALSE, seek->IsFormatSupported(&TIME_FORMAT_FRAME));
    EXPECT_HR(E_INVALIDARG, seek->SetTimeFormat(&TIME_FORMAT_FRAME));
    EXPECT_HR(S_OK, seek->SetRate(1.0));
    EXPECT_HR(E_NOTIMPL, seek->SetRate(2.0));
    EXPECT_HR(S_FALSE, seek->SetPositions(nullptr, AM_SEEKING_NoPositioning, nullptr, AM_SEEKING_NoPositioning));
    EXPECT_HR(E_POINTER, seek->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0));

    ASSERT_HR(S_OK, control->Run());
    LONG code;
    ASSERT_HR(S_OK, events->WaitForCompletion(INFINITE, &code));
    LONGLONG cur = 0;
    ASSERT_HR(S_OK, seek->GetCurrentPosition(&cur));
    EXPECT_EQ(4 * kFrame, cur) << "the last sample the sink received";

    // Seeking a running graph: streaming restarts from the new position and the graph runs on.
    ComPtr<IBaseFilter> src;
    ASSERT_HR(S_OK, graph->FindFilterByName(OLESTR("test://v"), src.out()));
    LONGLONG to = 2 * kFrame, end = 0;
    ASSERT_HR(S_OK, seek->SetPositions(&to, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, &end,
                                       AM_SEEKING_NoPositioning));
    EXPECT_EQ(2 * kFrame, static_cast<TestSource *>(static_cast<FilterImpl *>(src.get()))->seeked_to.load());
    OAFilterState fs;
    control->GetState(0, &fs);
    EXPECT_EQ(State_Running, fs);
    ASSERT_HR(S_OK, events->WaitForCompletion(INFINITE, &code));
    EXPECT_EQ(10, sink->samples()) << "the stream was delivered again";
}

TEST_F(Graph, LogFileIsReadable) {
    char path[] = "/tmp/graphlogXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ASSERT_HR(S_OK, graph->SetLogFile(reinterpret_cast<DWORD_PTR>(h)));
    add(new TestSink({rgb24()}), OLESTR("Sink"));
    graph->RenderFile(OLESTR("test://wa"), nullptr);
    graph->SetLogFile(0);
    graph->RenderFile(OLESTR("test://v"), nullptr);  // not logged any more
    CloseHandle(h);
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string log = ss.str();
    std::remove(path);
    EXPECT_NE(std::string::npos, log.find("AddFilter \"Sink\": S_OK")) << log;
    EXPECT_NE(std::string::npos, log.find("RenderFile \"test://wa\"")) << log;
    EXPECT_NE(std::string::npos, log.find("source opener \"test\": S_OK")) << log;
    EXPECT_NE(std::string::npos, log.find("AddFilter \"Test Decoder\": S_OK")) << log;
    EXPECT_NE(std::string::npos,
              log.find("Connect \"Test Decoder\".\"Output\" -> \"Sink\".\"In1\" [Video/RGB24 32x16 24 bit 25.000 fps]: S_OK"))
        << log;
    EXPECT_NE(std::string::npos, log.find("VFW_E_NO_ACCEPTABLE_TYPES")) << log;
    EXPECT_NE(std::string::npos, log.find("RenderFile \"test://wa\": VFW_S_AUDIO_NOT_RENDERED (0x00040258)")) << log;
    EXPECT_EQ(std::string::npos, log.find("test://v\"")) << "nothing after SetLogFile(0)";
}

TEST_F(Graph, PauseIsIntermediateUntilTheRendererCued) {
    auto *src = add(new TestSource({rgb24()}, -1), OLESTR("Source"));
    auto *sink = add(new TestSink({rgb24()}), OLESTR("Sink"));
    sink->cue = true;
    ASSERT_HR(S_OK, graph->ConnectDirect(src->pin_at(0), sink->pin_at(0), nullptr));
    EXPECT_HR(S_FALSE, control->Pause()) << "the sink has no sample yet";
    OAFilterState fs = -1;
    EXPECT_HR(S_OK, control->GetState(INFINITE, &fs)) << "waits until the first sample";
    EXPECT_EQ(State_Paused, fs);
    EXPECT_GE(sink->samples(), 1);
    EXPECT_HR(S_OK, control->Run()) << "from Paused nothing is left to cue";
    control->GetState(0, &fs);
    EXPECT_EQ(State_Running, fs);
    EXPECT_HR(S_OK, control->Stop());
}

TEST_F(Graph, ClockChoiceAndClockChangedEvent) {
    auto *sink = add(new TestSink({rgb24()}), OLESTR("Sink"));
    ASSERT_HR(S_OK, graph->RenderFile(OLESTR("test://v"), nullptr));
    ComPtr<IMediaFilter> mf = graph.query<IMediaFilter>();
    ComPtr<IReferenceClock> clock;
    ASSERT_HR(S_OK, mf->GetSyncSource(clock.out()));
    EXPECT_FALSE(clock) << "no clock before the first run";
    ASSERT_HR(S_OK, control->Run());
    ASSERT_HR(S_OK, mf->GetSyncSource(clock.out()));
    ASSERT_TRUE(clock) << "Run chose the system clock";
    ComPtr<IReferenceClock> filters_clock;
    sink->GetSyncSource(filters_clock.out());
    EXPECT_EQ(clock, filters_clock) << "and gave it to the filters";
    LONG code;
    ASSERT_HR(S_OK, events->WaitForCompletion(INFINITE, &code));
    control->Stop();
    EXPECT_TRUE(drain().empty()) << "the implicit choice is not an event";

    ComPtr<IReferenceClock> other = make_system_clock();
    ASSERT_HR(S_OK, mf->SetSyncSource(other.get()));
    EXPECT_EQ(std::vector<LONG>{EC_CLOCK_CHANGED}, drain());
    sink->GetSyncSource(filters_clock.out());
    EXPECT_EQ(other, filters_clock);
    ASSERT_HR(S_OK, mf->SetSyncSource(nullptr));
    EXPECT_EQ(std::vector<LONG>{EC_CLOCK_CHANGED}, drain());
    sink->GetSyncSource(filters_clock.out());
    EXPECT_FALSE(filters_clock) << "unsynchronised: as fast as the filters go";
    ASSERT_HR(S_OK, control->Run());
    ASSERT_HR(S_OK, mf->GetSyncSource(clock.out()));
    EXPECT_FALSE(clock) << "an explicit NULL clock stays";
}

TEST_F(Graph, ReconnectKeepsTheConnectionAndNeedsAStoppedGraph) {
    auto *src = add(new TestSource({rgb24()}, 1), OLESTR("Source"));
    auto *sink = add(new TestSink({rgb24()}), OLESTR("Sink"));
    EXPECT_HR(VFW_E_NOT_CONNECTED, graph->Reconnect(src->pin_at(0)));
    ASSERT_HR(S_OK, graph->ConnectDirect(src->pin_at(0), sink->pin_at(0), nullptr));
    EXPECT_HR(S_OK, graph->Reconnect(sink->pin_at(0)));
    EXPECT_TRUE(src->pin_at(0)->is_connected());
    MediaType other = rgb24(64, 64);
    EXPECT_HR(VFW_E_TYPE_NOT_ACCEPTED, graph->ReconnectEx(src->pin_at(0), other.ptr()));
    EXPECT_TRUE(sink->pin_at(0)->is_connected()) << "back on the old type";
    control->Pause();
    EXPECT_HR(VFW_E_NOT_STOPPED, graph->Reconnect(src->pin_at(0)));
    control->Stop();
}

TEST_F(Graph, OneMessagePerQueuedEvent) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "GraphTestCount";
    RegisterClassExA(&wc);
    HWND hwnd = CreateWindowExA(0, "GraphTestCount", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(hwnd);
    ComPtr<IMediaEventSink> sink = graph.query<IMediaEventSink>();
    sink->Notify(EC_USER, 0, 0);  // queued before the window is known: announced by SetNotifyWindow
    ASSERT_HR(S_OK, events->SetNotifyWindow(reinterpret_cast<OAHWND>(hwnd), WM_APP + 1, 7));
    sink->Notify(EC_USER + 1, 0, 0);
    sink->Notify(EC_USER + 2, 0, 0);
    events->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY);
    sink->Notify(EC_USER + 3, 0, 0);  // neither queued nor announced
    MSG msg;
    int n = 0;
    while (PeekMessageA(&msg, hwnd, WM_APP + 1, WM_APP + 1, PM_REMOVE)) {
        EXPECT_EQ(7, msg.lParam);
        EXPECT_EQ(0u, msg.wParam);
        ++n;
    }
    EXPECT_EQ(3, n);
    EXPECT_TRUE(drain().empty()) << "NONOTIFY emptied the queue";
    events->SetNotifyWindow(0, 0, 0);
    DestroyWindow(hwnd);
}
