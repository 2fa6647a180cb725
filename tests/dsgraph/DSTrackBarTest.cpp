// The position track bar on a graph of recording fakes: scaling, the poll timer (real timers,
// waited for through their own messages), seeks from the user's mouse through the real
// control, graph changes and the graph going away first.
#include "tests/support/FilterGraphFakes.h"

#include "dsgraph/DSTrackBar.h"
#include "framework/Application.h"
#include "framework/Forms.h"
#include "support/UiDriver.h"

#include <gtest/gtest.h>

#include <memory>

using namespace fakes;

namespace {

constexpr LONGLONG kDuration = 900000000, kCurrent = 305000000;  // 90 s and 30.5 s

struct Tick {
    TObject *sender = nullptr;
    uint32_t current = 0, stop = 0;
    int count = 0;
};

// Dispatches this thread's messages until Done() or five seconds; false on the deadline.
template <class F>
bool PumpUntil(F Done) {
    const UINT_PTR guard = SetTimer(nullptr, 0, 5000, nullptr);
    MSG m;
    bool met = Done();
    while (!met && GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (m.message == WM_TIMER && m.hwnd == nullptr && m.wParam == guard) break;
        DispatchMessageA(&m);
        met = Done();
    }
    KillTimer(nullptr, guard);
    return met;
}

}  // namespace

class DSTrackBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        Application->Initialize();
        TakeLog();
        reg_ = std::make_unique<Registration>(CLSID_FilterGraph, [this](REFIID iid, void **out) {
            auto g = tw::ComPtr<FakeGraph>::adopt(new FakeGraph);
            fake = g.get();
            fake->duration = fake->stop = kDuration;
            fake->current = kCurrent;
            return g->QueryInterface(iid, out);
        });
        graph = new TFilterGraph(owner_.get());
        graph->SetMode(gmNormal);
        form = new TForm(owner_.get());
        form->SetClientWidth(300);
        form->SetClientHeight(60);
        bar = new TDSTrackBar(owner_.get());
        bar->SetParent(form);
        bar->SetBounds(10, 10, 280, 40);
        Application->OnException = [this](TObject *s, const std::string &m) {
            errors.push_back(m);
            errorSender = s;
        };
    }
    void TearDown() override {
        Application->OnException = nullptr;
        owner_.reset();
        Application->Done();
    }
    // Activates the graph and runs it: the track bar gets the seeking interface and, when
    // enabled, its timer.
    void StartGraph(uint32_t Interval) {
        bar->SetTimerInterval(Interval);
        bar->SetFilterGraph(graph);
        graph->SetActive(true);
        graph->RunGraph();
    }
    void CountTicks(Tick &t) {
        bar->SetOnTimer([&t](TObject *s, uint32_t c, uint32_t d) {
            t.sender = s;
            t.current = c;
            t.stop = d;
            ++t.count;
        });
    }

    std::unique_ptr<TComponent> owner_ = std::make_unique<TComponent>(nullptr);
    std::unique_ptr<Registration> reg_;
    FakeGraph *fake = nullptr;  // owned by the graph component while it is active
    TFilterGraph *graph = nullptr;
    TForm *form = nullptr;
    TDSTrackBar *bar = nullptr;
    std::vector<std::string> errors;
    TObject *errorSender = nullptr;
};

TEST_F(DSTrackBarTest, PollsScaleTheGraphsTimesIntoSteps) {
    EXPECT_EQ(bar->TimerInterval(), 1000u);
    EXPECT_EQ(bar->FilterGraph(), nullptr);
    EXPECT_FALSE(bar->PollEnabled());

    StartGraph(1000);
    ASSERT_NE(bar->MediaSeeking(), nullptr);
    EXPECT_TRUE(bar->PollEnabled());
    Tick t;
    CountTicks(t);
    bar->PollPosition();
    EXPECT_EQ(bar->Min(), 0);
    EXPECT_EQ(bar->Max(), 90);
    EXPECT_EQ(bar->Position(), 30);
    EXPECT_EQ(t.sender, bar);
    EXPECT_EQ(t.current, 30500u);
    EXPECT_EQ(t.stop, 90000u);
    bar->SetTimerInterval(250);
    bar->PollPosition();
    EXPECT_EQ(bar->Max(), 360);
    EXPECT_EQ(bar->Position(), 122);

    // A failed read leaves the poll without effect; the next one works again.
    fake->currentResult = E_FAIL;
    fake->current = 0;
    bar->PollPosition();
    EXPECT_EQ(bar->Position(), 122);
    EXPECT_EQ(t.count, 2);
    fake->currentResult = S_OK;

    // The real timer: ticks arrive as the poll window's WM_TIMER.
    bar->SetTimerInterval(20);
    ASSERT_TRUE(PumpUntil([&] { return t.count >= 4; }));
    EXPECT_EQ(bar->Position(), 0);
    EXPECT_EQ(bar->Max(), 4500);

    // A handler that throws is reported with the track bar as the source; polling goes on.
    bar->SetOnTimer([&](TObject *, uint32_t, uint32_t) {
        ++t.count;
        throw EOutOfResources("handler failed");
    });
    const int before = t.count;
    ASSERT_TRUE(PumpUntil([&] { return t.count >= before + 2; }));
    ASSERT_GE(errors.size(), 2u);
    EXPECT_EQ(errors[0], "handler failed.");
    EXPECT_EQ(errorSender, bar);

    // Interval 0 stops the timer; stop ends polling too.
    bar->SetTimerInterval(0);
    EXPECT_TRUE(bar->PollEnabled());
    graph->StopGraph();
    EXPECT_FALSE(bar->PollEnabled());
}

TEST_F(DSTrackBarTest, ADisabledBarDoesNotPollEvenWhenEnabledLater) {
    // A second, enabled bar on the same graph and interval is the clock: after its ticks the
    // disabled one has had none.
    auto *other = new TDSTrackBar(owner_.get());
    Tick seen, missed;
    other->SetTimerInterval(20);
    other->SetFilterGraph(graph);
    other->SetOnTimer([&](TObject *, uint32_t, uint32_t) { ++seen.count; });
    bar->SetEnabled(false);
    CountTicks(missed);
    StartGraph(20);
    EXPECT_FALSE(bar->PollEnabled());
    bar->SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return seen.count >= 5; }));
    EXPECT_EQ(missed.count, 0);
}

TEST_F(DSTrackBarTest, ReleasingTheLeftButtonSeeksToTheThumb) {
    ASSERT_TRUE(tw::test::ShowForm(form));
    StartGraph(1000);
    Tick t;
    CountTicks(t);
    bar->PollPosition();
    ASSERT_EQ(bar->Max(), 90);
    TakeLog();

    // While the left button is down, polls change nothing; a right press does not suspend them.
    tw::test::MouseDown(bar, mbLeft, 0, 140, 20);
    const int32_t dragged = bar->Position();
    fake->current = 600000000;
    bar->PollPosition();
    EXPECT_EQ(t.count, 1);
    EXPECT_EQ(bar->Position(), dragged);
    tw::test::MouseUp(bar, mbLeft, 0, 140, 20);
    const LONGLONG target = kDuration * bar->Position() / 90;
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"seek.SetPositions(" + std::to_string(target) + ", 1, " +
                                                  std::to_string(kDuration) + ", 0)"});

    // A right release after a left press ends the suspension and seeks nothing.
    tw::test::MouseDown(bar, mbRight, 0, 140, 20);
    bar->PollPosition();
    EXPECT_EQ(t.count, 2);
    tw::test::MouseDown(bar, mbLeft, 0, 140, 20);
    tw::test::MouseUp(bar, mbRight, 0, 140, 20);
    bar->PollPosition();
    EXPECT_EQ(t.count, 3);
    EXPECT_TRUE(TakeLog().empty());

    // Media shorter than one step: Max 0, and the release seeks nothing.
    fake->duration = 5000000;
    bar->PollPosition();
    ASSERT_EQ(bar->Max(), 0);
    tw::test::MouseDown(bar, mbLeft, 0, 140, 20);
    tw::test::MouseUp(bar, mbLeft, 0, 140, 20);
    EXPECT_TRUE(TakeLog().empty());
    bar->PollPosition();
    EXPECT_EQ(t.count, 5);  // no longer dragging

    // Without the seeking interface a release seeks nothing but still ends the drag.
    graph->SetActive(false);
    EXPECT_EQ(bar->MediaSeeking(), nullptr);
    TakeLog();
    tw::test::MouseDown(bar, mbLeft, 0, 140, 20);
    tw::test::MouseUp(bar, mbLeft, 0, 140, 20);
    EXPECT_TRUE(TakeLog().empty());
}

TEST_F(DSTrackBarTest, ClockChangeRewindsAndKeepsTheStop) {
    StartGraph(1000);
    fake->stop = 700000000;
    TakeLog();
    bar->NotifyEvent(0x0D, 0, 0);  // EC_CLOCK_CHANGED
    bar->NotifyEvent(0x01, 0, 0);  // EC_COMPLETE: ignored
    EXPECT_EQ(TakeLog(), std::vector<std::string>{"seek.SetPositions(0, 1, " + std::to_string(kDuration) + ", 0)"});
    EXPECT_EQ(fake->current, 0);
    EXPECT_EQ(fake->stop, 700000000);
}

TEST_F(DSTrackBarTest, GraphChangesAndTheGraphGoingFirst) {
    auto *second = new TFilterGraph(owner_.get());
    bar->SetFilterGraph(graph);
    bar->SetFilterGraph(graph);
    EXPECT_EQ(graph->ListenerCount(), 1);
    bar->SetFilterGraph(second);
    EXPECT_EQ(graph->ListenerCount(), 0);
    EXPECT_EQ(second->ListenerCount(), 1);

    // Attached to an active graph, the interface comes with the next activation only.
    bar->SetFilterGraph(nullptr);
    graph->SetActive(true);
    bar->SetFilterGraph(graph);
    EXPECT_EQ(bar->MediaSeeking(), nullptr);
    graph->SetActive(false);
    graph->SetActive(true);
    EXPECT_NE(bar->MediaSeeking(), nullptr);

    // The graph destroyed first: both references dropped; ticks and releases do nothing.
    graph->RunGraph();
    delete graph;
    graph = nullptr;
    EXPECT_EQ(bar->FilterGraph(), nullptr);
    EXPECT_EQ(bar->MediaSeeking(), nullptr);
    Tick t;
    CountTicks(t);
    bar->PollPosition();
    EXPECT_EQ(t.count, 0);
}
