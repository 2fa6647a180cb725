// TASFWriter as a member of a TFilterGraph: attaching and detaching through the FilterGraph
// property, activation and deactivation, and the graph or the writer going first. The graph
// manager is the recording fake of the graph's own tests; the writer's filter and sink are the
// ASF fakes. Both write to one log, so the order across them is checked.
#include "dsgraph/ASFWriter.h"

#include "tests/support/ASFWriterFakes.h"
#include "tests/support/FilterGraphFakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace asf_fakes;
using Calls = std::vector<std::string>;

namespace {

class ASFWriterGraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        fakes::TakeLog();
        log.tee = [](const std::string &call) { fakes::Record(call); };
        graphReg_ = std::make_unique<fakes::Registration>(CLSID_FilterGraph, [this](REFIID iid, void **out) {
            fakes::Record("create FilterGraph");
            auto g = tw::ComPtr<fakes::FakeGraph>::adopt(new fakes::FakeGraph);
            graph = g.get();
            return g->QueryInterface(iid, out);
        });
        ASSERT_EQ(graphReg_->hr, S_OK);
        factory = new FakeAsfFactory(&log);
        ASSERT_EQ(CoRegisterClassObject(CLSID_WMAsfWriter, factory->identity(), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie_),
                  S_OK);
        owner = std::make_unique<TComponent>(nullptr);
    }
    void TearDown() override {
        owner.reset();  // destroys whatever components are left
        CoRevokeClassObject(cookie_);
        factory->Release();
        graphReg_.reset();
        EXPECT_EQ(tw::test::live_fakes(), 0) << "an ASF fake outlived its test";
        EXPECT_EQ(fakes::LiveFakes(), 0) << "a graph fake outlived its test";
        fakes::TakeLog();
        CoUninitialize();
    }

    TASFWriter *make_writer() {
        auto *w = new TASFWriter(owner.get());
        w->SetName("ASFWriter1");
        w->CreateNetworkSink = [this](IWMWriterNetworkSink **out) -> HRESULT {
            log.add("WMCreateWriterNetworkSink");
            *out = new FakeNetworkSink(&log, 8123);
            return S_OK;
        };
        return w;
    }
    TFilterGraph *make_graph() { return new TFilterGraph(owner.get()); }

    // The shared log without enumerator chatter and the graph's own set-up calls.
    static Calls take() {
        Calls out;
        for (auto &c : fakes::TakeLog()) {
            if (c.rfind("Next(", 0) == 0 || c == "enumerator freed" || c.rfind("events.", 0) == 0 ||
                c.rfind("graph.SetLogFile", 0) == 0)
                continue;
            out.push_back(c);
        }
        return out;
    }
    static bool before(const Calls &c, const std::string &a, const std::string &b) {
        auto ia = std::find(c.begin(), c.end(), a), ib = std::find(c.begin(), c.end(), b);
        return ia != c.end() && ib != c.end() && ia < ib;
    }

    CallLog log;
    FakeAsfFactory *factory = nullptr;
    fakes::FakeGraph *graph = nullptr;  // the graph manager the component made last
    std::unique_ptr<TComponent> owner;

private:
    std::unique_ptr<fakes::Registration> graphReg_;
    DWORD cookie_ = 0;
};

TEST_F(ASFWriterGraphTest, ActivationAddsTheConfiguredFilterAndDeactivationReleasesIt) {
    TFilterGraph *fg = make_graph();
    TASFWriter *w = make_writer();
    w->SetFileName("rec.asf");
    w->SetProfile(wmp_V80_FAIRVBRVideo);
    w->SetFilterGraph(fg);
    EXPECT_EQ(fg->MemberCount(), 1);
    EXPECT_EQ(take(), Calls{}) << "attaching to an inactive graph makes no call";

    fg->SetActive(true);
    Calls c = take();
    EXPECT_EQ(Calls(c.begin(), c.begin() + 3),
              (Calls{"create FilterGraph", "CreateInstance", "graph.AddFilter(ASFWriter1)"}));
    EXPECT_TRUE(before(c, "graph.AddFilter(ASFWriter1)", "Configure(wmp_V80_FAIRVBRVideo)"));
    EXPECT_TRUE(before(c, "Configure(wmp_V80_FAIRVBRVideo)", "SetFileName(rec.asf, null)"));
    EXPECT_EQ(graph->FilterNames(), Calls{"ASFWriter1"});
    EXPECT_EQ(w->Profile(), wmp_V80_FAIRVBRVideo);
    take();

    fg->SetActive(false);
    c = take();
    EXPECT_EQ(c, (Calls{"W.Stop", "In0.Disconnect", "In1.Disconnect", "graph.RemoveFilter(ASFWriter1)", "W freed",
                        "advanced writer freed", "In0 freed", "In1 freed", "~graph"}));
    EXPECT_EQ(fg->MemberCount(), 1) << "the writer stays registered";
    EXPECT_EQ(w->FileName(), "rec.asf");

    // The next activation starts from the stored values with a new filter.
    fg->SetActive(true);
    EXPECT_EQ(factory->created, 2);
    fg->SetActive(false);
}

TEST_F(ASFWriterGraphTest, AttachingToAnActiveGraphAddsAtOnceAndDetachingRemovesAtOnce) {
    TFilterGraph *fg = make_graph();
    TASFWriter *w = make_writer();
    w->SetPort(8080);
    w->SetMaxUsers(3);
    fg->SetActive(true);
    take();

    w->SetFilterGraph(fg);
    Calls c = take();
    EXPECT_EQ(Calls(c.begin(), c.begin() + 2), (Calls{"CreateInstance", "graph.AddFilter(ASFWriter1)"}));
    EXPECT_EQ(c.back(), "AddSink");
    EXPECT_EQ(w->Port(), 8123u);

    w->SetFilterGraph(fg);  // the same graph again: nothing
    EXPECT_EQ(take(), Calls{});
    EXPECT_EQ(fg->MemberCount(), 1);

    w->SetFilterGraph(nullptr);
    c = take();
    EXPECT_EQ(Calls(c.begin(), c.begin() + 6), (Calls{"W.Stop", "sink.Disconnect", "sink.Close", "In0.Disconnect",
                                                      "In1.Disconnect", "graph.RemoveFilter(ASFWriter1)"}));
    EXPECT_EQ(std::count(c.begin(), c.end(), "W freed"), 1);
    EXPECT_EQ(std::count(c.begin(), c.end(), "sink freed"), 1);
    EXPECT_EQ(fg->MemberCount(), 0);
    EXPECT_EQ(w->FilterGraph(), nullptr);
    EXPECT_TRUE(graph->FilterNames().empty());
    fg->SetActive(false);
}

TEST_F(ASFWriterGraphTest, MovingToAnotherGraphLeavesTheFirst) {
    TFilterGraph *a = make_graph();
    TFilterGraph *b = make_graph();
    TASFWriter *w = make_writer();
    a->SetActive(true);
    fakes::FakeGraph *graphA = graph;
    w->SetFilterGraph(a);
    b->SetActive(true);
    take();
    w->SetFilterGraph(b);
    Calls c = take();
    EXPECT_TRUE(before(c, "graph.RemoveFilter(ASFWriter1)", "CreateInstance"));
    EXPECT_TRUE(graphA->FilterNames().empty());
    EXPECT_EQ(graph->FilterNames(), Calls{"ASFWriter1"});
    EXPECT_EQ(a->MemberCount(), 0);
    EXPECT_EQ(b->MemberCount(), 1);
}

TEST_F(ASFWriterGraphTest, GraphDestroyedFirstIsForgotten) {
    TFilterGraph *fg = make_graph();
    TASFWriter *w = make_writer();
    w->SetProfile(wmp_V80_768Video);
    w->SetFileName("kept.asf");
    w->SetFilterGraph(fg);
    fg->SetActive(true);
    take();
    delete fg;  // deactivates: the writer's filter is removed and released, then it is forgotten
    Calls c = take();
    EXPECT_TRUE(before(c, "W.Stop", "graph.RemoveFilter(ASFWriter1)"));
    EXPECT_EQ(std::count(c.begin(), c.end(), "W freed"), 1);
    EXPECT_EQ(w->FilterGraph(), nullptr);
    EXPECT_EQ(w->Profile(), wmp_V80_768Video);
    EXPECT_EQ(w->FileName(), "kept.asf");
    delete w;  // must not reach the destroyed graph
    EXPECT_EQ(take(), Calls{});
}

TEST_F(ASFWriterGraphTest, WriterDestroyedFirstLeavesTheGraph) {
    TFilterGraph *fg = make_graph();
    TASFWriter *w = make_writer();
    w->SetFilterGraph(fg);
    fg->SetActive(true);
    take();
    delete w;
    Calls c = take();
    EXPECT_TRUE(before(c, "W.Stop", "graph.RemoveFilter(ASFWriter1)"));
    EXPECT_EQ(std::count(c.begin(), c.end(), "W freed"), 1);
    EXPECT_EQ(fg->MemberCount(), 0);
    EXPECT_TRUE(graph->FilterNames().empty());
    fg->SetActive(false);
}

TEST_F(ASFWriterGraphTest, OwnerDestroysGraphAndWriterInEitherOrder) {
    // Graph first in the owner's list.
    TFilterGraph *fg = make_graph();
    make_writer()->SetFilterGraph(fg);
    fg->SetActive(true);
    owner.reset();
    // Writer first.
    owner = std::make_unique<TComponent>(nullptr);
    TASFWriter *w = make_writer();
    TFilterGraph *fg2 = make_graph();
    w->SetFilterGraph(fg2);
    fg2->SetActive(true);
    owner.reset();
    Calls c = take();
    EXPECT_EQ(std::count(c.begin(), c.end(), "W freed"), 2);
    EXPECT_EQ(std::count(c.begin(), c.end(), "~graph"), 2);
}

TEST_F(ASFWriterGraphTest, GraphOfAnotherOwnerDestroyedFirstIsForgotten) {
    TComponent other(nullptr);
    auto *fg = new TFilterGraph(&other);
    TASFWriter *w = make_writer();
    w->SetFilterGraph(fg);
    fg->SetActive(true);
    delete fg;
    EXPECT_EQ(w->FilterGraph(), nullptr);
    take();
    delete w;  // must not reach the destroyed graph
    EXPECT_EQ(take(), Calls{});
}

TEST_F(ASFWriterGraphTest, ForgottenGraphNoLongerReportsTheWriter) {
    // A graph the writer has left is destroyed later: the writer hears nothing of it.
    TComponent other(nullptr);
    auto *fg = new TFilterGraph(&other);
    TASFWriter *w = make_writer();
    TFilterGraph *mine = make_graph();
    w->SetFilterGraph(fg);
    w->SetFilterGraph(mine);
    delete fg;
    EXPECT_EQ(w->FilterGraph(), mine);
    EXPECT_EQ(mine->MemberCount(), 1);
}

}  // namespace
