// DSUtil: the interface list and the filter and pin snapshots, over recording fakes. Reference
// counts are checked after every call that takes or hands out a reference.
#include "dsutil/DSUtil.h"

#include "tests/support/FakeDirectShow.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using tw::ComPtr;
using tw::test::CallLog;
using tw::test::FakeFilter;
using tw::test::FakeFilterGraph;
using tw::test::FakePin;

namespace {

class ListTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(tw::test::live_fakes(), 0) << "a fake outlived its test"; }
    CallLog log;
};

// A graph holding `n` filters F0..F(n-1); the graph holds one reference to each, the test none.
ComPtr<FakeFilterGraph> make_graph(int n, CallLog *log, std::vector<FakeFilter *> *filters = nullptr) {
    auto graph = ComPtr<FakeFilterGraph>::adopt(new FakeFilterGraph(log));
    for (int i = 0; i < n; ++i) {
        auto *f = new FakeFilter("F" + std::to_string(i), log);
        graph->filters().push_back(ComPtr<IBaseFilter>::adopt(f));
        if (filters) filters->push_back(f);
    }
    return graph;
}

TEST_F(ListTest, NullGraphOrFilterGivesEmptyList) {
    TFilterList filters(nullptr);
    EXPECT_EQ(filters.Count(), 0);
    EXPECT_FALSE(filters.GraphRef);
    TPinList pins(nullptr);
    EXPECT_EQ(pins.Count(), 0);
    EXPECT_FALSE(pins.FilterRef);
}

TEST_F(ListTest, EmptyGraphGivesCountZeroAndHoldsTheGraph) {
    auto graph = make_graph(0, &log);
    {
        TFilterList list(graph.get());
        EXPECT_EQ(list.Count(), 0);
        EXPECT_EQ(list.GraphRef.get(), graph.get());
        EXPECT_EQ(graph->refs(), 2u);  // ours and GraphRef
    }
    EXPECT_EQ(graph->refs(), 1u);
}

TEST_F(ListTest, FilterListIsTheGraphsFiltersInOrder) {
    std::vector<FakeFilter *> f;
    auto graph = make_graph(3, &log, &f);
    {
        TFilterList list(graph.get());
        // One item per call, no fetched-count, stopped at the first S_FALSE, enumerator freed.
        EXPECT_EQ(log.calls, (std::vector<std::string>{"EnumFilters", "Next(1, null)", "Next(1, null)", "Next(1, null)",
                                                       "Next(1, null)", "enumerator freed"}));
        ASSERT_EQ(list.Count(), 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(f[i]->refs(), 2u) << i;  // graph + list
            ComPtr<IBaseFilter> item = list.Items(i);
            EXPECT_EQ(item.get(), static_cast<IBaseFilter *>(f[i]));
            EXPECT_EQ(f[i]->refs(), 3u) << "Items hands out a new reference";
        }
        EXPECT_EQ(list.IndexOf(f[2]->identity()), 2);
    }
    for (auto *p : f) EXPECT_EQ(p->refs(), 1u);
}

TEST_F(ListTest, IndexOutOfRangeRaisesListError) {
    auto graph = make_graph(2, nullptr);
    TFilterList list(graph.get());
    for (int bad : {-1, 2, 1000}) {
        try {
            list.Items(bad);
            ADD_FAILURE() << bad;
        } catch (const EListError &e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
    EXPECT_THROW(list.Delete(2), EListError);
    EXPECT_THROW(list.Get(-1), Exception);
    EXPECT_EQ(list.Count(), 2);
}

TEST_F(ListTest, FailingEnumerationEndsTheListQuietly) {
    std::vector<FakeFilter *> f;
    auto graph = make_graph(4, &log, &f);
    graph->enum_fail_at = 2;
    graph->enum_fail_hr = VFW_E_ENUM_OUT_OF_SYNC;
    {
        TFilterList list(graph.get());
        EXPECT_EQ(list.Count(), 2);
        EXPECT_EQ(list.Items(1).get(), static_cast<IBaseFilter *>(f[1]));
        // Not reset, not retried.
        EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "Reset"), 0);
        EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "Next(1, null)"), 3);
    }
    graph->enum_filters_result = E_OUTOFMEMORY;
    TFilterList none(graph.get());
    EXPECT_EQ(none.Count(), 0);
    EXPECT_EQ(none.GraphRef.get(), graph.get());
}

TEST_F(ListTest, RemovingFiltersFromTheGraphWhileWalkingReachesEveryFilter) {
    std::vector<FakeFilter *> f;
    auto graph = make_graph(3, &log, &f);
    std::vector<std::string> seen;
    {
        TFilterList list(graph.get());
        for (int i = 0; i < list.Count(); ++i) {
            ComPtr<IBaseFilter> filter = list.Items(i);
            EXPECT_EQ(graph->RemoveFilter(filter.get()), S_OK);
            seen.push_back(static_cast<FakeFilter *>(filter.get())->name());
        }
        EXPECT_EQ(graph->filters().size(), 0u);
        for (auto *p : f) EXPECT_EQ(p->refs(), 1u) << "the list keeps removed filters alive";
        EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "F0 freed"), 0);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"F0", "F1", "F2"}));
    EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "F2 freed"), 1);
}

TEST_F(ListTest, RemoveTakesOutTheFirstEqualEntryOnly) {
    std::vector<FakeFilter *> f;
    auto graph = make_graph(2, nullptr, &f);
    TFilterList list(graph.get());
    EXPECT_EQ(list.Add(f[0]), 2);  // duplicates allowed, appended at the end
    EXPECT_EQ(f[0]->refs(), 3u);
    EXPECT_EQ(list.Count(), 3);

    auto stranger = ComPtr<FakeFilter>::adopt(new FakeFilter("X", nullptr));
    EXPECT_EQ(list.Remove(stranger.get()), -1);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(stranger->refs(), 1u);

    EXPECT_EQ(list.Remove(f[0]), 0);
    EXPECT_EQ(f[0]->refs(), 2u);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(0).get(), static_cast<IBaseFilter *>(f[1]));  // later entries moved down
    EXPECT_EQ(list.Items(1).get(), static_cast<IBaseFilter *>(f[0]));
    EXPECT_EQ(list.Remove(f[0]), 1);
    EXPECT_EQ(list.Remove(f[0]), -1);
    EXPECT_EQ(f[0]->refs(), 1u);

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(f[1]->refs(), 1u);
}

TEST_F(ListTest, EntryThatIsNoFilterRaisesInterfaceError) {
    TFilterList list(nullptr);
    auto pin = ComPtr<FakePin>::adopt(new FakePin("P", nullptr));
    list.TInterfaceList::Add(pin.get());
    EXPECT_THROW(list.Items(0), EIntfCastError);
    EXPECT_EQ(pin->refs(), 2u);  // the failed query handed out nothing

    TPinList pins(nullptr);
    auto filter = ComPtr<FakeFilter>::adopt(new FakeFilter("F", nullptr));
    pins.TInterfaceList::Add(filter.get());
    EXPECT_THROW(pins.Items(0), EIntfCastError);
    EXPECT_EQ(filter->refs(), 2u);
}

TEST_F(ListTest, PinListIsTheFiltersPinsInOrder) {
    auto filter = ComPtr<FakeFilter>::adopt(new FakeFilter("W", &log));
    FakePin *a = filter->add_pin("In0");
    FakePin *b = filter->add_pin("In1");
    {
        TPinList pins(filter.get());
        ASSERT_EQ(pins.Count(), 2);
        EXPECT_EQ(pins.Items(0).get(), static_cast<IPin *>(a));
        EXPECT_EQ(pins.Items(1).get(), static_cast<IPin *>(b));
        EXPECT_EQ(a->refs(), 2u);
        EXPECT_EQ(filter->refs(), 2u);
        EXPECT_EQ(pins.Add(a), 2);
        EXPECT_EQ(a->refs(), 3u);
    }
    EXPECT_EQ(a->refs(), 1u);
    EXPECT_EQ(b->refs(), 1u);
    EXPECT_EQ(filter->refs(), 1u);
}

TEST_F(ListTest, PinListReleasesItsFilterBeforeThePins) {
    auto *filter = new FakeFilter("W", &log);
    filter->add_pin("In0");
    filter->add_pin("In1");
    auto *pins = new TPinList(filter);
    filter->Release();  // the list's reference is the last one now; the pins are held twice
    log.clear();
    delete pins;
    // The filter goes first (freeing its own pin references), then the list's pin references.
    EXPECT_EQ(log.calls, (std::vector<std::string>{"W freed", "In0 freed", "In1 freed"}));
}

TEST_F(ListTest, PinEnumerationErrorsEndTheList) {
    auto filter = ComPtr<FakeFilter>::adopt(new FakeFilter("W", nullptr));
    filter->add_pin("In0");
    filter->add_pin("In1");
    filter->add_pin("In2");
    filter->enum_fail_at = 1;
    filter->enum_fail_hr = VFW_E_ENUM_OUT_OF_SYNC;
    EXPECT_EQ(TPinList(filter.get()).Count(), 1);
    filter->enum_fail_at = -1;
    filter->enum_pins_result = E_FAIL;
    EXPECT_EQ(TPinList(filter.get()).Count(), 0);
}

// An object whose destruction comes back into the list that held it.
class Reentrant : public tw::test::Fake<IUnknown> {
public:
    explicit Reentrant(TInterfaceList *list) : list_(list) {}
    int *sink = nullptr;

protected:
    void *GetInterface(REFIID) override { return nullptr; }
    void OnFinalRelease() override {
        if (sink) *sink = list_->Count();  // would deadlock if the list released under its lock
    }

private:
    TInterfaceList *list_;
};

TEST_F(ListTest, ReleaseRunsOutsideTheListsLock) {
    TInterfaceList list;
    int seen = -1;
    for (int how = 0; how < 3; ++how) {
        auto *r = new Reentrant(&list);
        r->sink = &seen;
        list.Add(r->identity());
        list.Add(r->identity());
        r->Release();
        seen = -1;
        if (how == 0) {
            list.Remove(r->identity());
            list.Remove(r->identity());
            EXPECT_EQ(seen, 0);
        } else if (how == 1) {
            list.Delete(1);
            list.Delete(0);
            EXPECT_EQ(seen, 0);
        } else {
            list.Clear();
            EXPECT_EQ(seen, 0);
        }
    }
}

TEST_F(ListTest, OperationsFromSeveralThreadsKeepCountsRight) {
    TInterfaceList list;
    auto filter = ComPtr<FakeFilter>::adopt(new FakeFilter("F", nullptr));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                list.Add(filter.get());
                if (i % 2) list.Remove(filter.get());
            }
        });
    }
    for (auto &th : threads) th.join();
    EXPECT_EQ(list.Count(), 4000);
    EXPECT_EQ(filter->refs(), 4001u);
    list.Clear();
    EXPECT_EQ(filter->refs(), 1u);
}

}  // namespace
