// TFilterGraph against recording fakes registered in place of the platform's graph objects:
// activation and deactivation orders in the three modes, the interface query, running object
// table registration, the log file, members and listeners, graph control, event draining from
// a second thread, and event decoding. One file, though long: one fixture registers the fakes
// for every test.
#include "tests/support/FilterGraphFakes.h"

#include "dsgraph/FilterGraph.h"
#include "framework/Application.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

using namespace fakes;
using Calls = std::vector<std::string>;

namespace {

std::string IidName(REFIID iid) {
    if (IsEqualGUID(iid, IID_IFilterGraph2)) return "IFilterGraph2";
    if (IsEqualGUID(iid, IID_ICaptureGraphBuilder2)) return "ICaptureGraphBuilder2";
    if (IsEqualGUID(iid, IID_IDvdGraphBuilder)) return "IDvdGraphBuilder";
    return "other";
}

// Only the entries of this process's graphs.
std::vector<std::string> OurRotNames() {
    const std::string pid = " pid " + Hex(GetCurrentProcessId()).substr(2);
    std::vector<std::string> out;
    for (auto &n : RotDisplayNames())
        if (n.rfind("!FilterGraph ", 0) == 0 && n.size() >= pid.size() &&
            n.compare(n.size() - pid.size(), pid.size(), pid) == 0)
            out.push_back(n);
    return out;
}

// Sets Application->OnException for the span of a test.
struct ExceptionCatcher {
    std::vector<std::string> messages;
    std::vector<TObject *> senders;
    ExceptionCatcher() {
        Application->OnException = [this](TObject *s, const std::string &m) {
            senders.push_back(s);
            messages.push_back(m);
        };
    }
    ~ExceptionCatcher() { Application->OnException = nullptr; }
};

// Removes every message already queued for this thread (events posted past a test's end).
void PumpPending() {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
}

}  // namespace

class FilterGraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(CoInitialize(nullptr), 0);
        TakeLog();
        regs_.push_back(std::make_unique<Registration>(CLSID_FilterGraph, [this](REFIID iid, void **out) {
            Record("create FilterGraph(" + IidName(iid) + ")");
            if (FAILED(refuseGraph)) return refuseGraph;
            auto g = tw::ComPtr<FakeGraph>::adopt(new FakeGraph);
            graph = g.get();
            return g->QueryInterface(iid, out);
        }));
        regs_.push_back(std::make_unique<Registration>(CLSID_CaptureGraphBuilder2, [this](REFIID iid, void **out) {
            Record("create CaptureGraphBuilder2(" + IidName(iid) + ")");
            if (FAILED(refuseCapture)) return refuseCapture;
            auto c = tw::ComPtr<FakeCaptureBuilder>::adopt(new FakeCaptureBuilder);
            capture = c.get();
            return c->QueryInterface(iid, out);
        }));
        regs_.push_back(std::make_unique<Registration>(CLSID_DvdGraphBuilder, [this](REFIID iid, void **out) {
            Record("create DvdGraphBuilder(" + IidName(iid) + ")");
            if (FAILED(refuseDvd)) return refuseDvd;
            auto d = tw::ComPtr<FakeDvdBuilder>::adopt(new FakeDvdBuilder);
            d->getGraphResult = dvdGraphResult;
            dvd = d.get();
            return d->QueryInterface(iid, out);
        }));
        for (auto &r : regs_) ASSERT_EQ(r->hr, S_OK);
        baseLive_ = LiveFakes();
    }
    void TearDown() override {
        PumpPending();
        regs_.clear();
        EXPECT_EQ(LiveFakes(), 0) << "fakes left alive";
        TakeLog();
        CoUninitialize();
    }
    // Fakes alive beyond the class factories.
    int Live() const { return LiveFakes() - baseLive_; }

public:
    HRESULT refuseGraph = S_OK, refuseCapture = S_OK, refuseDvd = S_OK, dvdGraphResult = S_OK;
    // The objects the factories made last; owned by the component while it is active.
    FakeGraph *graph = nullptr;
    FakeCaptureBuilder *capture = nullptr;
    FakeDvdBuilder *dvd = nullptr;

private:
    std::vector<std::unique_ptr<Registration>> regs_;
    int baseLive_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Activation and deactivation

TEST_F(FilterGraphTest, NormalModeActivatesAndDeactivatesInOrder) {
    FakeMember a("A");
    FakeListener l("L");
    TFilterGraph fg(nullptr);
    const int liveBefore = Live();
    const ULONG filterRefs = a.filter->refs();
    fg.AddMember(&a);
    fg.AddListener(&l);
    fg.OnActivate = [](TObject *) { Record("OnActivate"); };
    EXPECT_EQ(TakeLog(), Calls{});  // registration makes no call while inactive

    fg.SetActive(true);
    EXPECT_TRUE(fg.Active());
    EXPECT_TRUE(InOrder(TakeLog(), {"create FilterGraph(IFilterGraph2)", "events.SetNotifyFlags(0)",
                                    "events.SetNotifyWindow", "graph.SetLogFile(0)", "A.moBeforeAdd(0)",
                                    "graph.AddFilter(A)", "A.moAfterAdd(0)", "OnActivate", "L.gaActivation(1)"}));
    ASSERT_NE(graph, nullptr);
    EXPECT_EQ(graph->notifyWindow, fg.NotifyWindow());
    EXPECT_EQ(graph->notifyMessage, static_cast<LONG>(WM_GRAPHEVENT));
    EXPECT_EQ(graph->notifyInstance, reinterpret_cast<LONG_PTR>(static_cast<IMediaEventEx *>(graph)));
    EXPECT_EQ(graph->FilterNames(), Calls{"A"});

    fg.SetActive(true);  // already active: nothing
    EXPECT_EQ(TakeLog(), Calls{});

    fg.SetActive(false);
    EXPECT_FALSE(fg.Active());
    EXPECT_TRUE(InOrder(TakeLog(), {"L.gaActivation(0)", "A.moBeforeRemove(0)", "graph.RemoveFilter(A)",
                                    "A.moAfterRemove(0)", "events.SetNotifyFlags(1)", "graph.SetLogFile(0)",
                                    "~graph"}));
    fg.SetActive(false);  // already inactive: nothing
    EXPECT_EQ(TakeLog(), Calls{});
    EXPECT_EQ(Live(), liveBefore);
    EXPECT_EQ(a.filter->refs(), filterRefs);
}

TEST_F(FilterGraphTest, CaptureModeGivesTheNewGraphToTheCaptureBuilder) {
    TFilterGraph fg(nullptr);
    fg.SetMode(gmCapture);
    EXPECT_EQ(TakeLog(), Calls{});
    fg.SetActive(true);
    EXPECT_TRUE(InOrder(TakeLog(), {"create CaptureGraphBuilder2(ICaptureGraphBuilder2)",
                                    "create FilterGraph(IFilterGraph2)", "capture.SetFiltergraph",
                                    "events.SetNotifyFlags(0)", "events.SetNotifyWindow", "graph.SetLogFile(0)"}));
    tw::ComPtr<IGraphBuilder> gb;
    ASSERT_EQ(fg.QueryInterface(IID_IGraphBuilder, gb.out_void()), S_OK);
    EXPECT_EQ(capture->graph, gb.get());
    EXPECT_EQ(gb.get(), static_cast<IGraphBuilder *>(graph));
    gb = nullptr;
    fg.SetActive(false);
    // The graph manager is released before the capture builder.
    EXPECT_TRUE(InOrder(TakeLog(), {"events.SetNotifyFlags(1)", "graph.SetLogFile(0)", "~graph", "~capture"}));
}

TEST_F(FilterGraphTest, DvdModeUsesTheGraphOfTheDvdBuilder) {
    TFilterGraph fg(nullptr);
    fg.SetMode(gmDVD);
    fg.SetActive(true);
    // The event interface is asked of the DVD builder, its DVD interfaces, then the graph.
    EXPECT_TRUE(InOrder(TakeLog(), {"create DvdGraphBuilder(IDvdGraphBuilder)", "dvd.GetFiltergraph",
                                    "dvd.GetDvdInterface", "events.SetNotifyFlags(0)", "events.SetNotifyWindow",
                                    "graph.SetLogFile(0)"}));
    tw::ComPtr<IGraphBuilder> gb;
    ASSERT_EQ(fg.QueryInterface(IID_IGraphBuilder, gb.out_void()), S_OK);
    EXPECT_EQ(gb.get(), static_cast<IGraphBuilder *>(dvd->graph.get()));
    gb = nullptr;
    TakeLog();
    fg.SetActive(false);
    // The builder keeps its own graph: released after the builder's last reference.
    EXPECT_TRUE(InOrder(TakeLog(), {"events.SetNotifyFlags(1)", "graph.SetLogFile(0)", "~dvd", "~graph"}));
}

TEST_F(FilterGraphTest, GraphObjectThatCannotBeCreatedRaisesAndLeavesTheComponentInactive) {
    struct Case {
        TGraphMode mode;
        HRESULT FilterGraphTest::*refuse;
        HRESULT hr;
        Calls calls;
    } cases[] = {
        {gmNormal, &FilterGraphTest::refuseGraph, E_OUTOFMEMORY, {"create FilterGraph(IFilterGraph2)"}},
        {gmCapture, &FilterGraphTest::refuseCapture, REGDB_E_CLASSNOTREG,
         {"create CaptureGraphBuilder2(ICaptureGraphBuilder2)"}},
        {gmCapture, &FilterGraphTest::refuseGraph, E_FAIL,
         {"create CaptureGraphBuilder2(ICaptureGraphBuilder2)", "create FilterGraph(IFilterGraph2)", "~capture"}},
        {gmDVD, &FilterGraphTest::refuseDvd, E_NOINTERFACE, {"create DvdGraphBuilder(IDvdGraphBuilder)"}},
        {gmDVD, &FilterGraphTest::dvdGraphResult, E_UNEXPECTED,
         {"create DvdGraphBuilder(IDvdGraphBuilder)", "dvd.GetFiltergraph", "~dvd"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " result " + Hex(static_cast<uint32_t>(c.hr)));
        FakeMember a("A");
        FakeListener l("L");
        TFilterGraph fg(nullptr);
        fg.SetMode(c.mode);
        fg.AddMember(&a);
        fg.AddListener(&l);
        fg.SetGraphEdit(true);
        bool activated = false;
        fg.OnActivate = [&](TObject *) { activated = true; };
        const int live = Live();
        this->*c.refuse = c.hr;
        try {
            fg.SetActive(true);
            ADD_FAILURE() << "no exception";
        } catch (const EDirectShowException &e) {
            EXPECT_EQ(e.ResultCode(), c.hr);
        }
        EXPECT_FALSE(fg.Active());
        EXPECT_FALSE(activated);
        EXPECT_EQ(TakeLog(), c.calls);  // no member, listener or graph call
        EXPECT_EQ(Live(), live);        // whatever was created is released
        tw::ComPtr<IUnknown> none;
        EXPECT_EQ(fg.QueryInterface(IID_IMediaControl, none.out_void()), E_NOINTERFACE);
        EXPECT_TRUE(OurRotNames().empty());

        // Once the class can be created again, activation works.
        this->*c.refuse = S_OK;
        fg.SetActive(true);
        EXPECT_TRUE(fg.Active());
        EXPECT_TRUE(activated);
        fg.SetActive(false);
        TakeLog();
    }
}

TEST_F(FilterGraphTest, ModeChangeRebuildsAnActiveGraphOnly) {
    FakeMember a("A");
    FakeListener l("L");
    TFilterGraph fg(nullptr);
    fg.AddMember(&a);
    fg.AddListener(&l);
    fg.OnActivate = [](TObject *) { Record("OnActivate"); };
    fg.SetMode(gmNormal);  // the stored mode: nothing
    fg.SetMode(gmCapture);  // inactive: stored only
    EXPECT_EQ(fg.Mode(), gmCapture);
    EXPECT_FALSE(fg.Active());
    EXPECT_EQ(TakeLog(), Calls{});

    fg.SetActive(true);
    TakeLog();
    fg.SetMode(gmCapture);
    EXPECT_EQ(TakeLog(), Calls{});
    fg.SetMode(gmNormal);
    EXPECT_TRUE(fg.Active());
    EXPECT_EQ(fg.Mode(), gmNormal);
    EXPECT_TRUE(InOrder(TakeLog(), {"L.gaActivation(0)", "A.moBeforeRemove(0)", "graph.RemoveFilter(A)",
                                    "A.moAfterRemove(0)", "events.SetNotifyFlags(1)", "graph.SetLogFile(0)", "~graph",
                                    "~capture", "create FilterGraph(IFilterGraph2)", "events.SetNotifyFlags(0)",
                                    "events.SetNotifyWindow", "graph.SetLogFile(0)", "A.moBeforeAdd(0)",
                                    "graph.AddFilter(A)", "A.moAfterAdd(0)", "OnActivate", "L.gaActivation(1)"}));
    fg.SetActive(false);
}

TEST_F(FilterGraphTest, ModeChangeWhileActiveRegistersAgainAndStartsAFreshLog) {
    const std::string path = TempPath("mode.log");
    TFilterGraph fg(nullptr);
    fg.SetGraphEdit(true);
    fg.SetLogFile(path);
    fg.SetActive(true);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(reinterpret_cast<HANDLE>(graph->logHandle), "first", 5, &written, nullptr));
    fg.SetMode(gmCapture);
    EXPECT_EQ(OurRotNames(), Calls{RotName(static_cast<IGraphBuilder *>(graph))});
    ASSERT_NE(graph->logHandle, 0u);
    ASSERT_TRUE(WriteFile(reinterpret_cast<HANDLE>(graph->logHandle), "2", 1, &written, nullptr));
    fg.SetActive(false);
    EXPECT_EQ(ReadText(path), "2");
    EXPECT_TRUE(OurRotNames().empty());
    RemoveFile(path);
}

TEST_F(FilterGraphTest, LoadedActivatesOnlyWithAutoCreateOutsideDesignMode) {
    struct Case {
        bool autoCreate, designing, active;
    } cases[] = {{true, false, true}, {true, true, false}, {false, false, false}, {false, true, false}};
    for (const auto &c : cases) {
        TFilterGraph fg(nullptr);
        fg.SetAutoCreate(c.autoCreate);
        fg.SetDesigning(c.designing);
        fg.Loaded();
        EXPECT_EQ(fg.Active(), c.active) << "AutoCreate " << c.autoCreate << " designing " << c.designing;
    }
}

TEST_F(FilterGraphTest, DestroyingAnActiveComponentTellsListenersAndMembersBeforeReleasing) {
    FakeMember a("A");
    FakeListener l("L");
    auto *owner = new TComponent(nullptr);
    auto *fg = new TFilterGraph(owner);
    fg->AddMember(&a);
    fg->AddListener(&l);
    fg->SetActive(true);
    const HWND wnd = fg->NotifyWindow();
    EXPECT_TRUE(IsWindow(wnd));
    TakeLog();
    delete owner;
    EXPECT_TRUE(InOrder(TakeLog(), {"L.gaActivation(0)", "A.moBeforeRemove(0)", "graph.RemoveFilter(A)",
                                    "A.moAfterRemove(0)", "events.SetNotifyFlags(1)", "graph.SetLogFile(0)",
                                    "~graph"}));
    EXPECT_FALSE(IsWindow(wnd));
}

TEST_F(FilterGraphTest, DestructionReleasesEverythingEvenWhenAListenerRaises) {
    ExceptionCatcher caught;
    FakeListener l("L");
    l.onAction = [](TGraphAction, LONG) { throw std::runtime_error("listener failed"); };
    auto *fg = new TFilterGraph(nullptr);
    fg->SetGraphEdit(true);
    fg->SetActive(true);
    fg->AddListener(&l);
    TakeLog();
    delete fg;
    EXPECT_EQ(caught.messages, Calls{"listener failed."});
    EXPECT_TRUE(InOrder(TakeLog(), {"L.gaActivation(0)", "events.SetNotifyFlags(1)", "graph.SetLogFile(0)", "~graph"}));
    EXPECT_TRUE(OurRotNames().empty());
}

// ---------------------------------------------------------------------------------------------
// Interface query

TEST_F(FilterGraphTest, InactiveComponentAnswersOnlyForItself) {
    TFilterGraph fg(nullptr);
    void *p = nullptr;
    EXPECT_EQ(fg.QueryInterface(tw::iid_of<IUnknown>(), &p), S_OK);
    EXPECT_EQ(fg.QueryInterface(IID_IInterfaceComponentReference, &p), S_OK);
    EXPECT_EQ(static_cast<IInterfaceComponentReference *>(p)->GetComponent(), &fg);
    for (const IID *iid : {&IID_IMediaControl, &IID_IGraphBuilder, &IID_IMediaEventEx, &IID_IDvdInfo2}) {
        p = &fg;
        EXPECT_EQ(fg.QueryInterface(*iid, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(TakeLog(), Calls{});  // no graph object is created for a query
}

TEST_F(FilterGraphTest, ActiveComponentStandsInForItsGraph) {
    TFilterGraph fg(nullptr);
    fg.SetActive(true);
    const ULONG refs = graph->refs();
    tw::ComPtr<IMediaControl> control;
    ASSERT_EQ(fg.QueryInterface(IID_IMediaControl, control.out_void()), S_OK);
    EXPECT_EQ(control.get(), static_cast<IMediaControl *>(graph));
    EXPECT_EQ(graph->refs(), refs + 1);  // counted by the graph, for the caller to release
    control = nullptr;
    EXPECT_EQ(graph->refs(), refs);
    // IUnknown stays the component's own identity.
    void *p = nullptr;
    ASSERT_EQ(fg.QueryInterface(tw::iid_of<IUnknown>(), &p), S_OK);
    EXPECT_EQ(p, static_cast<IUnknown *>(static_cast<IInterfaceComponentReference *>(&fg)));
    EXPECT_EQ(fg.QueryInterface(IID_IDvdInfo2, &p), E_NOINTERFACE);
    fg.SetActive(false);
}

TEST_F(FilterGraphTest, BuildersAnswerBeforeTheGraphManager) {
    {
        TFilterGraph fg(nullptr);
        fg.SetMode(gmCapture);
        fg.SetActive(true);
        tw::ComPtr<IMediaSeeking> s;
        ASSERT_EQ(fg.QueryInterface(IID_IMediaSeeking, s.out_void()), S_OK);
        EXPECT_EQ(s.get(), static_cast<IMediaSeeking *>(graph));  // the builder does not offer it
        capture->seeking = tw::ComPtr<FakeSeeking>::adopt(new FakeSeeking);
        ASSERT_EQ(fg.QueryInterface(IID_IMediaSeeking, s.out_void()), S_OK);
        EXPECT_EQ(s.get(), static_cast<IMediaSeeking *>(capture->seeking.get()));
        s = nullptr;
        capture->seeking = nullptr;
        fg.SetActive(false);
    }
    {
        TFilterGraph fg(nullptr);
        fg.SetMode(gmDVD);
        fg.SetActive(true);
        dvd->seeking = tw::ComPtr<FakeSeeking>::adopt(new FakeSeeking);
        dvd->info = tw::ComPtr<FakeDvdInfo>::adopt(new FakeDvdInfo);
        TakeLog();
        tw::ComPtr<IMediaSeeking> s;
        ASSERT_EQ(fg.QueryInterface(IID_IMediaSeeking, s.out_void()), S_OK);
        EXPECT_EQ(s.get(), static_cast<IMediaSeeking *>(dvd->seeking.get()));
        tw::ComPtr<IDvdInfo2> info;
        ASSERT_EQ(fg.QueryInterface(IID_IDvdInfo2, info.out_void()), S_OK);
        EXPECT_EQ(info.get(), static_cast<IDvdInfo2 *>(dvd->info.get()));
        EXPECT_EQ(TakeLog(), (Calls{"dvd.GetDvdInterface", "dvd.GetDvdInterface"}));
        s = nullptr;
        info = nullptr;
        dvd->seeking = nullptr;
        dvd->info = nullptr;
        fg.SetActive(false);
    }
}

// ---------------------------------------------------------------------------------------------
// Running object table and log file

TEST_F(FilterGraphTest, GraphEditRegistersTheActiveGraphOnce) {
    TFilterGraph fg(nullptr);
    fg.SetGraphEdit(true);  // inactive: stored only
    EXPECT_TRUE(fg.GraphEdit());
    EXPECT_TRUE(OurRotNames().empty());
    fg.SetActive(true);
    const std::string name = RotName(static_cast<IGraphBuilder *>(graph));
    EXPECT_EQ(OurRotNames(), Calls{name});
    fg.SetGraphEdit(true);  // already registered: not twice
    EXPECT_EQ(OurRotNames(), Calls{name});
    fg.SetGraphEdit(false);  // active: revoked at once
    EXPECT_FALSE(fg.GraphEdit());
    EXPECT_TRUE(OurRotNames().empty());
    fg.SetGraphEdit(true);
    EXPECT_EQ(OurRotNames(), Calls{name});
    fg.SetActive(false);
    EXPECT_TRUE(OurRotNames().empty());
    EXPECT_TRUE(fg.GraphEdit());  // the flag stays for the next activation
}

TEST_F(FilterGraphTest, LogFileIsCreatedAnewAtActivationAndSwitchedWhileActive) {
    const std::string first = TempPath("first.log"), second = TempPath("second.log");
    {
        std::FILE *f = std::fopen(first.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("stale", f);
        std::fclose(f);
    }
    TFilterGraph fg(nullptr);
    fg.SetLogFile(first);  // inactive: the name only
    EXPECT_EQ(fg.LogFile(), first);
    EXPECT_EQ(ReadText(first), "stale");
    EXPECT_EQ(TakeLog(), Calls{});

    fg.SetActive(true);
    EXPECT_TRUE(InOrder(TakeLog(), {"create FilterGraph(IFilterGraph2)", "events.SetNotifyFlags(0)",
                                    "events.SetNotifyWindow", "graph.SetLogFile(0)", "graph.SetLogFile(file)"}));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(reinterpret_cast<HANDLE>(graph->logHandle), "one", 3, &written, nullptr));

    fg.SetLogFile(second);  // active: the old log is closed, the new one created at once
    EXPECT_EQ(TakeLog(), (Calls{"graph.SetLogFile(0)", "graph.SetLogFile(file)"}));
    EXPECT_EQ(ReadText(first), "one");  // truncated at activation, then written through the handle
    ASSERT_TRUE(WriteFile(reinterpret_cast<HANDLE>(graph->logHandle), "two", 3, &written, nullptr));

    const std::string bad = TempPath("no-such-dir/x.log");
    fg.SetLogFile(bad);  // cannot be created: the old name stays and nothing is logged
    EXPECT_EQ(TakeLog(), (Calls{"graph.SetLogFile(0)", "graph.SetLogFile(0)"}));
    EXPECT_EQ(fg.LogFile(), second);
    EXPECT_EQ(graph->logHandle, 0u);
    EXPECT_EQ(ReadText(second), "two");

    fg.SetLogFile(second);
    fg.SetLogFile("");  // stops logging and closes the file
    EXPECT_EQ(TakeLog(), (Calls{"graph.SetLogFile(0)", "graph.SetLogFile(file)", "graph.SetLogFile(0)"}));
    EXPECT_EQ(fg.LogFile(), "");
    EXPECT_EQ(graph->logHandle, 0u);
    fg.SetActive(false);
    RemoveFile(first);
    RemoveFile(second);
}

// ---------------------------------------------------------------------------------------------
// Members and listeners

TEST_F(FilterGraphTest, MembersAreAttachedInListOrderAndMayBeListedTwice) {
    FakeMember a("A"), b("B");
    TFilterGraph fg(nullptr);
    fg.AddMember(&a);
    fg.AddMember(&b);
    fg.AddMember(&a);
    EXPECT_EQ(fg.MemberCount(), 3);
    fg.SetActive(true);
    Calls log = TakeLog();
    // After creation, events and the log setter; the second AddFilter(A) is refused by the graph.
    EXPECT_EQ(Calls(log.begin() + 4, log.end()),
              (Calls{"A.moBeforeAdd(0)", "A.MemberName", "A.MemberFilter", "graph.AddFilter(A)", "A.moAfterAdd(0)",
                     "B.moBeforeAdd(0)", "B.MemberName", "B.MemberFilter", "graph.AddFilter(B)", "B.moAfterAdd(0)",
                     "A.moBeforeAdd(0)", "A.MemberName", "A.MemberFilter", "graph.AddFilter(A)",
                     "A.moAfterAdd(0)"}));
    fg.SetActive(false);
    log = TakeLog();
    EXPECT_EQ(Calls(log.begin(), log.begin() + 12),
              (Calls{"A.moBeforeRemove(0)", "A.MemberFilter", "graph.RemoveFilter(A)", "A.moAfterRemove(0)",
                     "B.moBeforeRemove(0)", "B.MemberFilter", "graph.RemoveFilter(B)", "B.moAfterRemove(0)",
                     "A.moBeforeRemove(0)", "A.MemberFilter", "graph.RemoveFilter(?)", "A.moAfterRemove(0)"}));
    EXPECT_EQ(fg.MemberCount(), 3);  // members stay registered across activations
}

TEST_F(FilterGraphTest, MembersAddedOrRemovedWhileActiveAreAttachedOrDetachedAtOnce) {
    FakeMember a("A"), stranger("X");
    TFilterGraph fg(nullptr);
    fg.SetActive(true);
    TakeLog();
    fg.AddMember(&a);
    EXPECT_TRUE(InOrder(TakeLog(), {"A.moBeforeAdd(0)", "graph.AddFilter(A)", "A.moAfterAdd(0)"}));
    // A member that is not listed still has its filter removed.
    fg.RemoveMember(&stranger);
    EXPECT_TRUE(InOrder(TakeLog(), {"X.moBeforeRemove(0)", "graph.RemoveFilter(?)", "X.moAfterRemove(0)"}));
    EXPECT_EQ(fg.MemberCount(), 1);
    fg.RemoveMember(&a);
    EXPECT_TRUE(InOrder(TakeLog(), {"A.moBeforeRemove(0)", "graph.RemoveFilter(A)", "A.moAfterRemove(0)"}));
    EXPECT_EQ(fg.MemberCount(), 0);
    EXPECT_TRUE(graph->FilterNames().empty());
    fg.AddMember(&a);  // a new list after the old one went away
    EXPECT_EQ(fg.MemberCount(), 1);
    fg.SetActive(false);
    TakeLog();
    fg.RemoveMember(&a);  // inactive: no call
    EXPECT_EQ(TakeLog(), Calls{});
}

TEST_F(FilterGraphTest, MemberWithoutFilterStillHearsBothNotifications) {
    FakeMember a("A", /*withFilter=*/false);
    TFilterGraph fg(nullptr);
    fg.AddMember(&a);
    fg.SetActive(true);
    Calls log = TakeLog();
    EXPECT_EQ(Calls(log.end() - 5, log.end()), (Calls{"A.moBeforeAdd(0)", "A.MemberName", "A.MemberFilter",
                                                      "graph.AddFilter(A)", "A.moAfterAdd(0)"}));
    fg.SetActive(false);
}

TEST_F(FilterGraphTest, MemberRemovingItselfDuringAttachDoesNotStopTheOthers) {
    FakeMember a("A"), b("B");
    TFilterGraph fg(nullptr);
    fg.AddMember(&a);
    fg.AddMember(&b);
    a.onNotify = [&](TMemberOperation op) {
        if (op == moAfterAdd) fg.RemoveMember(&a);
    };
    fg.SetActive(true);
    Calls log = TakeLog();
    EXPECT_EQ(Calls(log.begin() + 4, log.end()),
              (Calls{"A.moBeforeAdd(0)", "A.MemberName", "A.MemberFilter", "graph.AddFilter(A)", "A.moAfterAdd(0)",
                     "A.moBeforeRemove(0)", "A.MemberFilter", "graph.RemoveFilter(A)", "A.moAfterRemove(0)",
                     "B.moBeforeAdd(0)", "B.MemberName", "B.MemberFilter", "graph.AddFilter(B)",
                     "B.moAfterAdd(0)"}));
    EXPECT_EQ(graph->FilterNames(), Calls{"B"});
    fg.SetActive(false);
}

TEST_F(FilterGraphTest, ExceptionFromAMemberEndsTheLoopAndReachesTheCaller) {
    FakeMember a("A"), b("B");
    a.onNotify = [](TMemberOperation op) {
        if (op == moBeforeAdd) throw std::runtime_error("member failed");
    };
    TFilterGraph fg(nullptr);
    fg.AddMember(&a);
    fg.AddMember(&b);
    EXPECT_THROW(fg.SetActive(true), std::runtime_error);
    Calls log = TakeLog();
    EXPECT_EQ(log.back(), "A.moBeforeAdd(0)");  // B is not visited
    EXPECT_TRUE(fg.Active());                   // the graph exists; deactivation releases it
    a.onNotify = nullptr;
    fg.SetActive(false);
    EXPECT_FALSE(fg.Active());
}

TEST_F(FilterGraphTest, ListenersHearActionsInOrderAndCanLeave) {
    FakeListener l1("L1"), l2("L2");
    TFilterGraph fg(nullptr);
    fg.SetActive(true);  // no listener yet: nothing to tell
    fg.AddListener(&l1);
    fg.AddListener(&l2);
    TakeLog();
    fg.RunGraph();
    EXPECT_EQ(TakeLog(), (Calls{"L1.gaRun(0)", "L2.gaRun(0)", "graph.Run"}));
    fg.RemoveListener(&l1);
    EXPECT_EQ(fg.ListenerCount(), 1);
    fg.StopGraph();
    EXPECT_EQ(TakeLog(), (Calls{"L2.gaStop(0)", "graph.Stop"}));
    fg.RemoveListener(&l2);
    fg.RemoveListener(&l2);  // not listed: nothing
    EXPECT_EQ(fg.ListenerCount(), 0);
    fg.StopGraph();
    EXPECT_EQ(TakeLog(), Calls{"graph.Stop"});

    // A listener that raises ends the pass: the next one is not told, the call is not made.
    l1.onAction = [](TGraphAction, LONG) { throw std::runtime_error("no"); };
    fg.AddListener(&l1);
    fg.AddListener(&l2);
    EXPECT_THROW(fg.RunGraph(), std::runtime_error);
    EXPECT_EQ(TakeLog(), Calls{"L1.gaRun(0)"});
    l1.onAction = nullptr;
    fg.SetActive(false);
}

// ---------------------------------------------------------------------------------------------
// Graph control and rendering

TEST_F(FilterGraphTest, ControlOperationsOnAnInactiveGraphDoNothing) {
    FakeListener l("L");
    TFilterGraph fg(nullptr);
    fg.AddListener(&l);
    EXPECT_FALSE(fg.RunGraph());
    EXPECT_FALSE(fg.StopGraph());
    EXPECT_EQ(fg.RenderSource(OLESTR("clip.avi")), S_FALSE);
    fg.DisconnectAll();
    fg.EmptyGraph();
    EXPECT_EQ(TakeLog(), Calls{});
}

TEST_F(FilterGraphTest, RunAndStopResults) {
    FakeListener l("L");
    TFilterGraph fg(nullptr);
    fg.AddListener(&l);
    fg.SetActive(true);
    TakeLog();
    struct Case {
        bool run;
        HRESULT hr;
        bool result;
    } cases[] = {{true, S_OK, true}, {true, S_FALSE, true}, {false, S_OK, true}, {false, S_FALSE, false}};
    for (const auto &c : cases) {
        (c.run ? graph->runResult : graph->stopResult) = c.hr;
        EXPECT_EQ(c.run ? fg.RunGraph() : fg.StopGraph(), c.result) << c.run << " " << c.hr;
        EXPECT_EQ(TakeLog(), c.run ? (Calls{"L.gaRun(0)", "graph.Run"}) : (Calls{"L.gaStop(0)", "graph.Stop"}));
    }
    graph->runResult = VFW_E_CANNOT_RENDER;
    try {
        fg.RunGraph();
        ADD_FAILURE() << "no exception";
    } catch (const EDirectShowException &e) {
        EXPECT_EQ(e.ResultCode(), VFW_E_CANNOT_RENDER);
    }
    EXPECT_EQ(TakeLog(), (Calls{"L.gaRun(0)", "graph.Run"}));  // the listener was told first
    fg.SetActive(false);
}

TEST_F(FilterGraphTest, RenderSourceTellsListenersAroundTheRender) {
    FakeListener l("L");
    TFilterGraph fg(nullptr);
    fg.AddListener(&l);
    fg.SetActive(true);
    TakeLog();
    graph->renderResult = VFW_S_PARTIAL_RENDER;
    EXPECT_EQ(fg.RenderSource(OLESTR("clip.avi")), VFW_S_PARTIAL_RENDER);
    EXPECT_EQ(TakeLog(), (Calls{"L.gaRenderFile(0)", "graph.RenderFile(clip.avi)", "L.gaFileRendered(0)"}));
    graph->renderResult = static_cast<HRESULT>(0x80070002);
    try {
        fg.RenderSource(OLESTR("missing.avi"));
        ADD_FAILURE() << "no exception";
    } catch (const EDirectShowException &e) {
        EXPECT_EQ(e.ResultCode(), static_cast<HRESULT>(0x80070002));
    }
    EXPECT_EQ(TakeLog(), (Calls{"L.gaRenderFile(0)", "graph.RenderFile(missing.avi)"}));
    fg.SetActive(false);
}

TEST_F(FilterGraphTest, EmptyGraphKeepsOnlyTheMembersFilters) {
    FakeMember a("A");
    FakeListener l("L");
    TFilterGraph fg(nullptr);
    fg.AddMember(&a);
    fg.AddListener(&l);
    fg.SetActive(true);
    TakeLog();
    // Right after activation there is nothing to remove.
    fg.EmptyGraph();
    EXPECT_TRUE(InOrder(TakeLog(), {"L.gaStop(0)", "graph.Stop", "A.pin0.Disconnect"}));

    graph->renderAdds = {tw::ComPtr<FakeFilter>::adopt(new FakeFilter("S", 2)),
                         tw::ComPtr<FakeFilter>::adopt(new FakeFilter("D", 1))};
    fg.RenderSource(OLESTR("clip.avi"));
    graph->renderAdds.clear();
    EXPECT_EQ(graph->FilterNames(), (Calls{"A", "S", "D"}));
    TakeLog();
    fg.EmptyGraph();
    EXPECT_TRUE(InOrder(TakeLog(), {"L.gaStop(0)", "graph.Stop", "A.pin0.Disconnect", "S.pin0.Disconnect",
                                    "S.pin1.Disconnect", "D.pin0.Disconnect", "graph.RemoveFilter(S)",
                                    "graph.RemoveFilter(D)"}));
    EXPECT_EQ(graph->FilterNames(), Calls{"A"});
    fg.SetActive(false);
}

TEST_F(FilterGraphTest, DisconnectFailureRaisesAndLeavesTheRestConnected) {
    TFilterGraph fg(nullptr);
    fg.SetActive(true);
    auto s = tw::ComPtr<FakeFilter>::adopt(new FakeFilter("S", 2));
    graph->AddFilter(s.get(), OLESTR("S"));
    s->pin(0)->disconnectResult = VFW_E_NOT_STOPPED;
    TakeLog();
    try {
        fg.DisconnectAll();
        ADD_FAILURE() << "no exception";
    } catch (const EDirectShowException &e) {
        EXPECT_EQ(e.ResultCode(), VFW_E_NOT_STOPPED);
    }
    EXPECT_EQ(TakeLog(), Calls{"S.pin0.Disconnect"});
    fg.SetActive(false);
}

// A splitter removes its output pins when its input is disconnected: they are not visited
// afterwards, nor held (some filters free removed pins whatever their count).
TEST_F(FilterGraphTest, DisconnectAllLeavesPinsAFilterRemovedAlone) {
    TFilterGraph fg(nullptr);
    fg.SetActive(true);
    auto split = tw::ComPtr<FakeFilter>::adopt(new FakeFilter("split", 3));
    graph->AddFilter(split.get(), OLESTR("split"));
    tw::ComPtr<FakePin> output = tw::ComPtr<FakePin>::addref(split->pin(1));
    split->pin(0)->onDisconnect = [&] {
        EXPECT_EQ(output->refs(), 2u) << "an output pin is held while the input is disconnected";
        split->DropPins(1);
    };
    TakeLog();
    fg.DisconnectAll();
    EXPECT_EQ(TakeLog(), Calls{"split.pin0.Disconnect"});
    fg.SetActive(false);
}

// ---------------------------------------------------------------------------------------------
// Event draining

TEST_F(FilterGraphTest, EventsPostedFromAnotherThreadAreHandledOnTheComponentsThreadInOrder) {
    FakeListener l("L");
    TFilterGraph fg(nullptr);
    fg.AddListener(&l);
    std::thread::id handlerThread;
    int handled = 0;
    fg.OnDSEvent = [&](TComponent *sender, LONG code, LONG_PTR, LONG_PTR) {
        EXPECT_EQ(sender, &fg);
        handlerThread = std::this_thread::get_id();
        Record("OnDSEvent(" + Hex(static_cast<uint32_t>(code)) + ")");
        ++handled;
    };
    fg.SetActive(true);
    TakeLog();
    // The streaming thread queues three events before the window thread looks, so that one
    // notification drains them all.
    std::mutex m;
    std::condition_variable cv;
    bool posted = false;
    FakeGraph *g = graph;
    std::thread streaming([&] {
        g->Post(EC_COMPLETE, S_OK, 0);
        g->Post(EC_PAUSED, S_OK, 0);
        g->Post(EC_USERABORT, 0, 0);
        std::lock_guard<std::mutex> lock(m);
        posted = true;
        cv.notify_one();
    });
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return posted; });
    }
    streaming.join();
    ASSERT_TRUE(PumpUntil([&] { return handled == 3; }));
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    EXPECT_TRUE(InOrder(TakeLog(), {"events.GetEvent -> 0x1", "L.NotifyEvent(0x1,0,0)", "OnDSEvent(0x1)",
                                    "events.FreeEventParams(0x1)", "events.GetEvent -> 0xE", "L.NotifyEvent(0xE,0,0)",
                                    "OnDSEvent(0xE)", "events.FreeEventParams(0xE)", "events.GetEvent -> 0x2",
                                    "L.NotifyEvent(0x2,0,0)", "OnDSEvent(0x2)", "events.FreeEventParams(0x2)",
                                    "events.GetEvent -> E_ABORT"}));
    fg.SetActive(false);
}

TEST_F(FilterGraphTest, EventQueuedDuringHandlingIsReadInTheSameDrain) {
    TFilterGraph fg(nullptr);
    int handled = 0;
    fg.OnDSEvent = [&](TComponent *, LONG code, LONG_PTR, LONG_PTR) {
        ++handled;
        if (code == EC_COMPLETE) graph->Post(EC_PAUSED, 0, 0);
    };
    fg.SetActive(true);
    TakeLog();
    graph->Post(EC_COMPLETE, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return handled == 2; }));
    EXPECT_TRUE(InOrder(TakeLog(), {"events.GetEvent -> 0x1", "events.FreeEventParams(0x1)", "events.GetEvent -> 0xE",
                                    "events.FreeEventParams(0xE)", "events.GetEvent -> E_ABORT"}));
    fg.SetActive(false);
}

TEST_F(FilterGraphTest, ExceptionFromAHandlerIsReportedAndLeavesTheRestForTheNextMessage) {
    ExceptionCatcher caught;
    TFilterGraph fg(nullptr);
    std::vector<LONG> seen;
    fg.OnGraphComplete = [](TObject *, HRESULT, IBaseFilter *) { throw std::runtime_error("handler failed"); };
    fg.OnDSEvent = [&](TComponent *, LONG code, LONG_PTR, LONG_PTR) { seen.push_back(code); };
    fg.SetActive(true);
    TakeLog();
    graph->Post(EC_COMPLETE, 0, 0);
    graph->Post(EC_PAUSED, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 2; }));
    EXPECT_EQ(caught.messages, Calls{"handler failed."});
    EXPECT_EQ(caught.senders, std::vector<TObject *>{&fg});
    // The failed event's parameters are freed; the second event waits for the next message.
    EXPECT_TRUE(InOrder(TakeLog(), {"events.GetEvent -> 0x1", "events.FreeEventParams(0x1)", "events.GetEvent -> 0xE",
                                    "events.FreeEventParams(0xE)", "events.GetEvent -> E_ABORT"}));
    fg.SetActive(false);
}

TEST_F(FilterGraphTest, HandlerThatDeactivatesTheGraphEndsTheDrainSafely) {
    FakeListener l("L");
    TFilterGraph fg(nullptr);
    fg.AddListener(&l);
    int handled = 0;
    l.onEvent = [&](LONG) {
        ++handled;
        fg.SetActive(false);
    };
    fg.SetActive(true);
    TakeLog();
    graph->Post(EC_COMPLETE, 0, 0);
    graph->Post(EC_PAUSED, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return handled == 1 && !fg.Active(); }));
    PumpPending();
    EXPECT_TRUE(InOrder(TakeLog(), {"events.GetEvent -> 0x1", "L.NotifyEvent(0x1,0,0)", "L.gaActivation(0)",
                                    "events.SetNotifyFlags(1)", "graph.SetLogFile(0)", "events.FreeEventParams(0x1)",
                                    "~graph"}));
    EXPECT_EQ(handled, 1);
}

TEST_F(FilterGraphTest, OtherWindowMessagesGoToTheDefaultProcedure) {
    TFilterGraph fg(nullptr);
    fg.SetActive(true);
    TakeLog();
    EXPECT_EQ(SendMessageA(fg.NotifyWindow(), WM_USER + 7, 0, 0), 0);
    EXPECT_EQ(SendMessageA(fg.NotifyWindow(), WM_GRAPHEVENT, 0, 0), 0);  // handled: drains the empty queue
    EXPECT_EQ(TakeLog(), Calls{"events.GetEvent -> E_ABORT"});
    fg.SetActive(false);
}

// ---------------------------------------------------------------------------------------------
// Stream-language lookup (needs a graph that offers IDvdInfo2)

TEST_F(FilterGraphTest, StreamLanguageEventsNameTheLanguageOfTheStream) {
    TFilterGraph fg(nullptr);
    fg.SetMode(gmDVD);
    fg.SetActive(true);
    dvd->info = tw::ComPtr<FakeDvdInfo>::adopt(new FakeDvdInfo);
    dvd->info->audioLcid = 0x0409;
    dvd->info->subpictureLcid = 0x0407;
    const ULONG infoRefs = dvd->info->refs();
    std::vector<std::string> got;
    fg.OnDVDAudioStreamChange = [&](TObject *s, int32_t stream, int32_t lcid, const std::string &lang) {
        EXPECT_EQ(s, &fg);
        got.push_back("audio " + std::to_string(stream) + " " + Hex(uint32_t(lcid)) + " " + lang);
    };
    fg.OnDVDSubpictureStreamChange = [&](TObject *, int32_t stream, int32_t lcid, const std::string &lang) {
        got.push_back("sub " + std::to_string(stream) + " " + Hex(uint32_t(lcid)) + " " + lang);
    };
    TakeLog();
    fg.HandleGraphEvent(EC_DVD_AUDIO_STREAM_CHANGE, 2, 0);
    fg.HandleGraphEvent(EC_DVD_SUBPICTURE_STREAM_CHANGE, 1, 0);
    EXPECT_EQ(got, (Calls{"audio 2 0x409 English", "sub 1 0x407 German"}));
    EXPECT_TRUE(InOrder(TakeLog(), {"dvd.GetDvdInterface", "dvdinfo.GetAudioLanguage(2)", "dvd.GetDvdInterface",
                                    "dvdinfo.GetSubpictureLanguage(1)"}));
    EXPECT_EQ(dvd->info->refs(), infoRefs);

    // A failed language query raises, with IDvdInfo2 released.
    dvd->info->languageResult = E_FAIL;
    got.clear();
    try {
        fg.HandleGraphEvent(EC_DVD_AUDIO_STREAM_CHANGE, 3, 0);
        ADD_FAILURE() << "no exception";
    } catch (const EDirectShowException &e) {
        EXPECT_EQ(e.ResultCode(), E_FAIL);
    }
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(dvd->info->refs(), infoRefs);

    // With the handler unassigned nothing is queried at all.
    fg.OnDVDAudioStreamChange = nullptr;
    TakeLog();
    fg.HandleGraphEvent(EC_DVD_AUDIO_STREAM_CHANGE, 3, 0);
    EXPECT_EQ(TakeLog(), Calls{});
    dvd->info = nullptr;
    fg.SetActive(false);
}

TEST_F(FilterGraphTest, StreamLanguageOfAnUnknownLocaleIsEmpty) {
    TFilterGraph fg(nullptr);
    fg.SetMode(gmDVD);
    fg.SetActive(true);
    dvd->info = tw::ComPtr<FakeDvdInfo>::adopt(new FakeDvdInfo);
    dvd->info->audioLcid = 0x00FF0000;  // no language, no sort order the system knows
    std::string lang = "unset";
    fg.OnDVDAudioStreamChange = [&](TObject *, int32_t, int32_t, const std::string &l) { lang = l; };
    fg.HandleGraphEvent(EC_DVD_AUDIO_STREAM_CHANGE, 0, 0);
    EXPECT_EQ(lang, "");
    dvd->info = nullptr;
    fg.SetActive(false);
}
