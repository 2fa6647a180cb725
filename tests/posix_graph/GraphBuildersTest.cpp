// The capture graph builder and the DVD graph builder, created through CoCreateInstance.
#include "tests/support/TestFilters.h"

using namespace graphtest;

namespace {

class Builders : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        live_ = live_objects();
    }
    void TearDown() override {
        EXPECT_EQ(live_, live_objects());
        CoUninitialize();
    }
    long live_ = 0;
};

template <class I>
ComPtr<I> create(const CLSID &clsid) {
    ComPtr<I> p;
    EXPECT_HR(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, tw::iid_of<I>(), p.out_void()));
    return p;
}

}  // namespace

TEST_F(Builders, CaptureBuilderWorksOnTheGraphItIsGiven) {
    auto graph = create<IFilterGraph2>(CLSID_FilterGraph);
    auto builder = create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    ASSERT_TRUE(graph && builder);
    ComPtr<IGraphBuilder> gb = graph.query<IGraphBuilder>();
    ULONG refs = tw::ref_count(graph.get());
    ASSERT_HR(S_OK, builder->SetFiltergraph(gb.get()));
    EXPECT_EQ(refs + 1, tw::ref_count(graph.get()));
    EXPECT_HR(E_UNEXPECTED, builder->SetFiltergraph(gb.get()));
    ComPtr<IGraphBuilder> back;
    ASSERT_HR(S_OK, builder->GetFiltergraph(back.out()));
    EXPECT_EQ(gb.get(), back.get());
    EXPECT_EQ(refs + 2, tw::ref_count(graph.get()));
    back = nullptr;

    auto *src = new TestSource({rgb24(), pcm()}, 1);
    auto *sink = new TestSink({pcm(), rgb24()});
    ComPtr<IBaseFilter> ks = ComPtr<IBaseFilter>::adopt(src), kk = ComPtr<IBaseFilter>::adopt(sink);
    graph->AddFilter(src, OLESTR("Source"));
    graph->AddFilter(sink, OLESTR("Sink"));
    ASSERT_HR(S_OK, builder->RenderStream(nullptr, &MEDIATYPE_Audio, ks.get(), nullptr, kk.get()));
    EXPECT_TRUE(src->pin_at(1)->is_connected()) << "the audio pin";
    EXPECT_FALSE(src->pin_at(0)->is_connected());
    EXPECT_TRUE(sink->pin_at(0)->is_connected());
    EXPECT_HR(E_FAIL, builder->RenderStream(nullptr, &MEDIATYPE_Audio, ks.get(), nullptr, kk.get())) << "no free audio pin";

    // FindInterface: the filter itself, then downstream.
    ComPtr<IMediaSeeking> seeking;
    ASSERT_HR(S_OK, builder->FindInterface(&LOOK_DOWNSTREAM_ONLY, nullptr, src, IID_IMediaSeeking,
                                           seeking.out_void()));
    EXPECT_EQ(seeking.query<IUnknown>(), kk.query<IUnknown>()) << "the sink's, not the source's";
    ComPtr<IMemInputPin> mem;
    ASSERT_HR(S_OK, builder->FindInterface(nullptr, nullptr, src, IID_IMemInputPin, mem.out_void()));
    ComPtr<IFileSinkFilter> none;
    EXPECT_HR(E_NOINTERFACE, builder->FindInterface(nullptr, nullptr, src, IID_IFileSinkFilter, none.out_void()));
    ComPtr<IPin> pin;
    EXPECT_HR(S_OK, builder->FindPin(ks.get(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Video, TRUE, 0, pin.out()));
    EXPECT_EQ(src->pin_at(0), pin.get());
    EXPECT_HR(E_NOTIMPL, builder->AllocCapFile(OLESTR("x"), 1));
    graph->RemoveFilter(src);
    graph->RemoveFilter(sink);
}

TEST_F(Builders, CaptureBuilderMakesAGraphWhenAskedFirst) {
    auto builder = create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    auto *src = new TestSource({rgb24()}, 1);
    ComPtr<IBaseFilter> ks = ComPtr<IBaseFilter>::adopt(src);
    EXPECT_HR(E_UNEXPECTED, builder->RenderStream(nullptr, nullptr, ks.get(), nullptr, nullptr)) << "no graph yet";
    ComPtr<IGraphBuilder> g1, g2;
    ASSERT_HR(S_OK, builder->GetFiltergraph(g1.out()));
    ASSERT_HR(S_OK, builder->GetFiltergraph(g2.out()));
    EXPECT_EQ(g1, g2);
    EXPECT_HR(E_UNEXPECTED, builder->SetFiltergraph(g1.get()));
}

TEST_F(Builders, DvdBuilderKeepsItsGraphAndHasNoNavigator) {
    auto dvd = create<IDvdGraphBuilder>(CLSID_DvdGraphBuilder);
    ASSERT_TRUE(dvd);
    ComPtr<IGraphBuilder> g1, g2;
    ASSERT_HR(S_OK, dvd->GetFiltergraph(g1.out()));
    ASSERT_HR(S_OK, dvd->GetFiltergraph(g2.out()));
    EXPECT_EQ(g1, g2);
    EXPECT_EQ(3u, tw::ref_count(g1.get())) << "the builder's and ours";
    EXPECT_TRUE(g1.query<IMediaControl>());
    ComPtr<IDvdInfo2> info;
    EXPECT_HR(E_NOINTERFACE, dvd->GetDvdInterface(IID_IDvdInfo2, info.out_void()));
    EXPECT_FALSE(info);
    ComPtr<IDvdControl2> ctl;
    EXPECT_HR(E_NOINTERFACE, dvd->GetDvdInterface(IID_IDvdControl2, ctl.out_void()));
    AM_DVD_RENDERSTATUS st;
    EXPECT_HR(E_NOTIMPL, dvd->RenderDvdVideoVolume(nullptr, 0, &st));
    ComPtr<IReferenceClock> clock;
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                                     clock.out_void()));
    ComPtr<IUnknown> outer = g1.query<IUnknown>(), agg;
    EXPECT_HR(CLASS_E_NOAGGREGATION, CoCreateInstance(CLSID_FilterGraph, outer.get(), CLSCTX_INPROC_SERVER,
                                                      IID_IUnknown, agg.out_void()));
}
