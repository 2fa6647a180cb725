// Our DirectShow declarations called on the system's own objects: the filter graph manager,
// the capture graph builder and the DVD graph builder of quartz.dll / qcap.dll (Wine's, when
// the tests run here). A slot out of order or a parameter of the wrong size shows up as a
// wrong result or a crash, and every reference handed out is counted.
#include "platform/comptr.h"
#include "platform/directshow.h"

#include "tests/support/HResultChecks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using tw::ComPtr;
using tw::ref_count;


// COM for the calling thread, for the span of one test.
class ComTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }

    template <class I>
    ComPtr<I> create(REFCLSID clsid) {
        ComPtr<I> p;
        HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, tw::iid_of<I>(), p.out_void());
        EXPECT_HR(S_OK, hr);
        return p;
    }
};

// The object's identity: the IUnknown pointer every one of its interfaces answers with.
IUnknown *identity(IUnknown *p) {
    ComPtr<IUnknown> u;
    if (FAILED(p->QueryInterface(IID_IUnknown, u.out_void()))) return nullptr;
    return u.get();  // still owned by the object itself once u lets go
}

struct NamedIid {
    const char *name;
    const IID *iid;
};
#define TW_IID(I) NamedIid{#I, &IID_##I}

// ---------------------------------------------------------------------------------------------
// The filter graph manager

class FilterGraphManager : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        graph = create<IGraphBuilder>(CLSID_FilterGraph);
        ASSERT_TRUE(graph);
    }
    void TearDown() override {
        if (graph) {
            EXPECT_EQ(1u, ref_count(graph.get())) << "a reference handed out by the test was not returned";
        }
        graph = nullptr;
        ComTest::TearDown();
    }
    ComPtr<IGraphBuilder> graph;
};

TEST_F(FilterGraphManager, StartsWithOneReference) { EXPECT_EQ(1u, ref_count(graph.get())); }

// Every interface the graph manager stands for answers for every other, with one reference
// added per answer, and all of them agree on the object's IUnknown.
TEST_F(FilterGraphManager, InterfacesAnswerForEachOther) {
    const NamedIid iids[] = {TW_IID(IUnknown),      TW_IID(IFilterGraph),  TW_IID(IGraphBuilder),
                             TW_IID(IFilterGraph2), TW_IID(IMediaControl), TW_IID(IMediaEvent),
                             TW_IID(IMediaEventEx), TW_IID(IMediaSeeking), TW_IID(IMediaFilter)};
    IUnknown *self = identity(graph.get());
    ASSERT_NE(nullptr, self);
    for (const NamedIid &from : iids) {
        ComPtr<IUnknown> a;
        ASSERT_HR(S_OK, graph->QueryInterface(*from.iid, a.out_void())) << from.name;
        ASSERT_TRUE(a) << from.name;
        EXPECT_EQ(2u, ref_count(a.get())) << from.name;
        EXPECT_EQ(self, identity(a.get())) << from.name;
        for (const NamedIid &to : iids) {
            ComPtr<IUnknown> b;
            EXPECT_HR(S_OK, a->QueryInterface(*to.iid, b.out_void())) << from.name << " -> " << to.name;
            EXPECT_EQ(3u, ref_count(b.get())) << from.name << " -> " << to.name;
            EXPECT_EQ(self, identity(b.get())) << from.name << " -> " << to.name;
        }
        EXPECT_EQ(2u, ref_count(a.get())) << from.name;
    }
}

TEST_F(FilterGraphManager, RefusesInterfacesOfOtherObjects) {
    const NamedIid foreign[] = {TW_IID(ICaptureGraphBuilder2), TW_IID(IDvdGraphBuilder), TW_IID(IPin),
                                TW_IID(IFileSinkFilter), TW_IID(IMemAllocator)};
    for (const NamedIid &n : foreign) {
        void *out = reinterpret_cast<void *>(&out);  // anything but null: it must be cleared
        EXPECT_HR(E_NOINTERFACE, graph->QueryInterface(*n.iid, &out)) << n.name;
        EXPECT_EQ(nullptr, out) << n.name;
    }
    EXPECT_EQ(1u, ref_count(graph.get()));
}

TEST_F(FilterGraphManager, TypedQueryCountsItsReference) {
    HRESULT hr = E_FAIL;
    ComPtr<IMediaControl> control = graph.query<IMediaControl>(&hr);
    EXPECT_HR(S_OK, hr);
    ASSERT_TRUE(control);
    EXPECT_EQ(2u, ref_count(graph.get()));
    ComPtr<ICaptureGraphBuilder2> none = graph.query<ICaptureGraphBuilder2>(&hr);
    EXPECT_HR(E_NOINTERFACE, hr);
    EXPECT_FALSE(none);
    control = nullptr;
    EXPECT_EQ(1u, ref_count(graph.get()));
}

// Calls whose answers tell the methods apart: a vtable slot off by one would reach a
// neighbour and answer differently.
TEST_F(FilterGraphManager, ControlEventAndSeekingCallsReachTheirMethods) {
    auto control = graph.query<IMediaControl>();
    auto events = graph.query<IMediaEventEx>();
    auto seeking = graph.query<IMediaSeeking>();
    ASSERT_TRUE(control && events && seeking);

    OAFilterState state = -1;
    EXPECT_HR(S_OK, control->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);

    LONG flags = -1;
    EXPECT_HR(S_OK, events->GetNotifyFlags(&flags));
    EXPECT_EQ(0, flags);
    EXPECT_HR(S_OK, events->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY));
    EXPECT_HR(S_OK, events->GetNotifyFlags(&flags));
    EXPECT_EQ(AM_MEDIAEVENT_NONOTIFY, flags);
    EXPECT_HR(E_INVALIDARG, events->SetNotifyFlags(2));
    EXPECT_HR(S_OK, events->SetNotifyFlags(0));
    OAEVENT handle = 0;
    EXPECT_HR(S_OK, events->GetEventHandle(&handle));
    EXPECT_NE(0, handle);

    GUID format = TIME_FORMAT_NONE;
    EXPECT_HR(S_OK, seeking->GetTimeFormat(&format));
    EXPECT_TRUE(IsEqualGUID(TIME_FORMAT_MEDIA_TIME, format));
    EXPECT_HR(S_OK, seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_HR(S_FALSE, seeking->IsFormatSupported(&TIME_FORMAT_FRAME));
    double rate = 0;
    EXPECT_HR(S_OK, seeking->GetRate(&rate));
    EXPECT_EQ(1.0, rate);

    EXPECT_EQ(4u, ref_count(graph.get()));
}

TEST_F(FilterGraphManager, RunsAndStopsAnEmptyGraph) {
    auto control = graph.query<IMediaControl>();
    ASSERT_TRUE(control);
    EXPECT_HR(S_OK, control->Run());
    OAFilterState state = -1;
    EXPECT_HR(S_OK, control->GetState(0, &state));
    EXPECT_EQ(State_Running, state);
    EXPECT_HR(S_OK, control->Stop());
    EXPECT_HR(S_OK, control->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
}

TEST_F(FilterGraphManager, RenderFileOfAMissingFileFailsAndLeavesTheGraphEmpty) {
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
              graph->RenderFile(OLESTR("C:\\tarnwick-no-such-file.avi"), nullptr));
    ComPtr<IEnumFilters> filters;
    ASSERT_HR(S_OK, graph->EnumFilters(filters.out()));
    ComPtr<IBaseFilter> f;
    ULONG fetched = 99;
    EXPECT_HR(S_FALSE, filters->Next(1, f.out(), &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_FALSE(f);
}

// The graph holds one reference to each filter it contains, and a filter holds none to its
// graph (that would be a cycle).
TEST_F(FilterGraphManager, AddFindAndRemoveAFilter) {
    ComPtr<IBaseFilter> source = create<IBaseFilter>(CLSID_AsyncReader);
    ASSERT_TRUE(source);
    EXPECT_EQ(1u, ref_count(source.get()));

    ASSERT_HR(S_OK, graph->AddFilter(source.get(), OLESTR("Source")));
    EXPECT_EQ(2u, ref_count(source.get()));
    EXPECT_EQ(1u, ref_count(graph.get()));

    ComPtr<IBaseFilter> found;
    EXPECT_HR(S_OK, graph->FindFilterByName(OLESTR("Source"), found.out()));
    EXPECT_EQ(source.get(), found.get());
    EXPECT_EQ(3u, ref_count(source.get()));
    found = nullptr;
    EXPECT_HR(VFW_E_NOT_FOUND, graph->FindFilterByName(OLESTR("Nothing"), found.out()));
    EXPECT_FALSE(found);

    FILTER_INFO info = {};
    ASSERT_HR(S_OK, source->QueryFilterInfo(&info));
    auto info_graph = ComPtr<IFilterGraph>::adopt(info.pGraph);  // QueryFilterInfo adds a reference
    EXPECT_EQ(tw::wstring(OLESTR("Source")), tw::wstring(info.achName));
    ASSERT_TRUE(info_graph);
    EXPECT_EQ(identity(graph.get()), identity(info_graph.get()));
    EXPECT_EQ(2u, ref_count(graph.get()));
    info_graph = nullptr;

    CLSID clsid = {};
    EXPECT_HR(S_OK, source->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualGUID(CLSID_AsyncReader, clsid));

    ComPtr<IEnumFilters> filters;
    ASSERT_HR(S_OK, graph->EnumFilters(filters.out()));
    std::vector<ComPtr<IBaseFilter>> listed;
    for (;;) {
        ComPtr<IBaseFilter> f;
        ULONG fetched = 0;
        if (filters->Next(1, f.out(), &fetched) != S_OK) break;
        EXPECT_EQ(1u, fetched);
        listed.push_back(f);
    }
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ(source.get(), listed[0].get());
    listed.clear();
    filters = nullptr;

    EXPECT_HR(S_OK, graph->RemoveFilter(source.get()));
    EXPECT_EQ(1u, ref_count(source.get()));
    EXPECT_HR(VFW_E_NOT_FOUND, graph->FindFilterByName(OLESTR("Source"), found.out()));
}

// ---------------------------------------------------------------------------------------------
// The capture graph builder

class CaptureGraphBuilder : public ComTest {};

TEST_F(CaptureGraphBuilder, JoinsOneFilterGraphAndHandsItBack) {
    auto builder = create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    auto graph = create<IGraphBuilder>(CLSID_FilterGraph);
    ASSERT_TRUE(builder && graph);
    EXPECT_EQ(1u, ref_count(builder.get()));

    ComPtr<IGraphBuilder> got;
    EXPECT_HR(E_UNEXPECTED, builder->GetFiltergraph(got.out()));
    EXPECT_FALSE(got);
    EXPECT_HR(E_POINTER, builder->SetFiltergraph(nullptr));

    ASSERT_HR(S_OK, builder->SetFiltergraph(graph.get()));
    EXPECT_EQ(2u, ref_count(graph.get())) << "the builder keeps a reference to its graph";
    EXPECT_HR(E_UNEXPECTED, builder->SetFiltergraph(graph.get())) << "a second graph is refused";
    EXPECT_EQ(2u, ref_count(graph.get()));

    EXPECT_HR(S_OK, builder->GetFiltergraph(got.out()));
    EXPECT_EQ(identity(graph.get()), identity(got.get()));
    EXPECT_EQ(3u, ref_count(graph.get()));
    got = nullptr;
    EXPECT_HR(E_POINTER, builder->GetFiltergraph(nullptr));

    EXPECT_EQ(0u, builder.detach()->Release());
    EXPECT_EQ(1u, ref_count(graph.get())) << "releasing the builder returns its reference";
}

TEST_F(CaptureGraphBuilder, IsItsOwnObject) {
    auto builder = create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    ASSERT_TRUE(builder);
    ComPtr<IUnknown> unknown = builder.query<IUnknown>();
    ASSERT_TRUE(unknown);
    EXPECT_EQ(2u, ref_count(builder.get()));
    HRESULT hr = S_OK;
    EXPECT_TRUE(unknown.query<ICaptureGraphBuilder2>(&hr));
    EXPECT_HR(S_OK, hr);
    EXPECT_FALSE(unknown.query<IGraphBuilder>(&hr));
    EXPECT_HR(E_NOINTERFACE, hr);
    EXPECT_FALSE(unknown.query<IMediaControl>(&hr));
    EXPECT_HR(E_NOINTERFACE, hr);
    unknown = nullptr;
    EXPECT_EQ(1u, ref_count(builder.get()));
}

// ---------------------------------------------------------------------------------------------
// The DVD graph builder

class DvdGraphBuilder : public ComTest {};

TEST_F(DvdGraphBuilder, CreatesAndCountsReferences) {
    auto builder = create<IDvdGraphBuilder>(CLSID_DvdGraphBuilder);
    ASSERT_TRUE(builder);
    EXPECT_EQ(1u, ref_count(builder.get()));
    IUnknown *self = identity(builder.get());
    ASSERT_NE(nullptr, self);
    {
        HRESULT hr = S_OK;
        ComPtr<IDvdGraphBuilder> again = ComPtr<IUnknown>::addref(self).query<IDvdGraphBuilder>(&hr);
        EXPECT_HR(S_OK, hr);
        EXPECT_EQ(builder.get(), again.get());
        EXPECT_EQ(2u, ref_count(builder.get()));
        EXPECT_FALSE(builder.query<IGraphBuilder>(&hr));
        EXPECT_HR(E_NOINTERFACE, hr);
    }
    EXPECT_EQ(1u, ref_count(builder.get()));
}

// Windows builds its own graph on demand; Wine's builder does not implement the call. Either
// way the answer must be that call's: a graph with its control interface, or E_NOTIMPL and
// nothing handed out.
TEST_F(DvdGraphBuilder, GetFiltergraphAnswersForItsGraph) {
    auto builder = create<IDvdGraphBuilder>(CLSID_DvdGraphBuilder);
    ASSERT_TRUE(builder);
    ComPtr<IGraphBuilder> graph;
    HRESULT hr = builder->GetFiltergraph(graph.out());
    if (hr == E_NOTIMPL) {
        EXPECT_FALSE(graph);
    } else {
        ASSERT_HR(S_OK, hr);
        ASSERT_TRUE(graph);
        EXPECT_TRUE(graph.query<IMediaControl>());
    }
    EXPECT_EQ(1u, ref_count(builder.get()));
}

}  // namespace
