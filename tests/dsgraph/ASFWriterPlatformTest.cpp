// TASFWriter in a graph of the platform's own objects. Where the platform has a WM ASF Writer
// filter (our Linux layer) the writer configures the real filter; where it has none (Wine) the
// writer runs its no-filter paths on the platform's real graph.
#include "dsgraph/ASFWriter.h"

#include <gtest/gtest.h>

namespace {

bool platform_has_writer_filter() {
    tw::ComPtr<IBaseFilter> probe;
    return SUCCEEDED(CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                      IID_IBaseFilter, probe.out_void())) &&
           probe;
}

int pin_count(IBaseFilter *filter) { return TPinList(filter).Count(); }

TEST(ASFWriterPlatformTest, WriterInAGraphOfThePlatformsObjects) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        const bool have_filter = platform_has_writer_filter();
        RecordProperty("platform_writer_filter", have_filter ? "yes" : "no");
        TComponent owner(nullptr);
        auto *fg = new TFilterGraph(&owner);
        auto *w = new TASFWriter(&owner);
        w->SetName("ASFWriter1");
        w->SetFileName("tw-asfwriter-platform-test.asf");  // never run: no file is made
        w->SetProfile(wmp_V80_128StereoAudio);
        w->SetFilterGraph(fg);
        fg->SetActive(true);
        ASSERT_TRUE(fg->Active());

        tw::ComPtr<IBaseFilter> filter;
        w->MemberFilter(filter.out());
        tw::ComPtr<IFilterGraph> graph;
        ASSERT_EQ(fg->QueryInterface(IID_IFilterGraph, graph.out_void()), S_OK);
        TFilterList inGraph(graph.get());
        if (!have_filter) {
            EXPECT_FALSE(filter);
            EXPECT_EQ(inGraph.Count(), 0);
            EXPECT_EQ(w->Profile(), wmp_V80_128StereoAudio);
            EXPECT_EQ(w->FileName(), "tw-asfwriter-platform-test.asf");
        } else {
            ASSERT_TRUE(filter);
            ASSERT_EQ(inGraph.Count(), 1);
            EXPECT_EQ(inGraph.Items(0).get(), filter.get());
            EXPECT_EQ(w->Profile(), wmp_V80_128StereoAudio) << "read from the filter";
            EXPECT_EQ(w->FileName(), "tw-asfwriter-platform-test.asf");
            EXPECT_EQ(pin_count(filter.get()), 1) << "an audio-only profile has one input";
            // Every row goes to the filter and comes back from it.
            for (int i = 0; i < 27; ++i) {
                w->SetProfile(static_cast<TWMPofiles8>(i));
                EXPECT_EQ(w->Profile(), static_cast<TWMPofiles8>(i)) << tw::ProfileNames[i];
            }
            w->SetProfile(wmp_V80_384Video);
            EXPECT_EQ(pin_count(filter.get()), 2) << "audio and video";
            tw::ComPtr<IConfigAsfWriter2> config;
            EXPECT_EQ(w->QueryInterface(IID_IConfigAsfWriter2, config.out_void()), S_OK);
        }
        inGraph.Clear();
        graph = nullptr;
        filter = nullptr;

        fg->SetActive(false);
        EXPECT_EQ(w->MemberFilter(filter.out()), S_FALSE);
        EXPECT_EQ(w->Profile(), wmp_V80_128StereoAudio) << "the stored value again";
    }
    CoUninitialize();
}

}  // namespace
