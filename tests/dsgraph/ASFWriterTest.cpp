// TASFWriter over a recording fake WM ASF Writer filter, registered for CLSID_WMAsfWriter with
// CoRegisterClassObject, and a recording network sink put in through the writer's sink
// factory. The member notifications are driven directly, as a graph sends them, so the calls
// each one makes are checked exactly (ASFWriterGraphTest.cpp goes through a TFilterGraph).
#include "dsgraph/ASFWriter.h"

#include "tests/support/ASFWriterFakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace asf_fakes;

namespace {

class ASFWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        factory = new FakeAsfFactory(&log);
        ASSERT_EQ(CoRegisterClassObject(CLSID_WMAsfWriter, factory->identity(), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie_),
                  S_OK);
        writer = new TASFWriter(nullptr);
        writer->SetName("ASFWriter1");
        writer->CreateNetworkSink = [this](IWMWriterNetworkSink **out) -> HRESULT {
            log.add("WMCreateWriterNetworkSink");
            *out = nullptr;
            if (FAILED(sink_result)) return sink_result;
            last_sink = new FakeNetworkSink(&log, 8123);
            *out = last_sink;
            return S_OK;
        };
    }
    void TearDown() override {
        delete writer;
        CoRevokeClassObject(cookie_);
        factory->Release();
        CoUninitialize();
        EXPECT_EQ(tw::test::live_fakes(), 0) << "a fake outlived its test";
    }

    // The graph's steps around adding and removing the filter, without a graph.
    void activate() {
        writer->MemberNotify(moBeforeAdd, 0);
        writer->MemberNotify(moAfterAdd, 0);
    }
    void deactivate() {
        writer->MemberNotify(moBeforeRemove, 0);
        writer->MemberNotify(moAfterRemove, 0);
    }
    // The log without the enumerator's own chatter.
    std::vector<std::string> calls() const {
        std::vector<std::string> out;
        for (const auto &c : log.calls)
            if (c.rfind("Next(", 0) != 0 && c != "enumerator freed") out.push_back(c);
        return out;
    }

    CallLog log;
    FakeAsfFactory *factory = nullptr;
    TASFWriter *writer = nullptr;
    HRESULT sink_result = S_OK;
    FakeNetworkSink *last_sink = nullptr;  // not counted

    // From here on, every Release of the filter, its pins, its advanced writer and the sink is
    // written to the log.
    void log_releases() {
        FakeAsfWriter *f = factory->last;
        f->log_releases = true;
        for (auto &pin : f->pins()) static_cast<tw::test::FakePin *>(pin.get())->log_releases = true;
        f->advanced->log_releases = true;
        if (last_sink) last_sink->log_releases = true;
    }

private:
    DWORD cookie_ = 0;
};

using Calls = std::vector<std::string>;

TEST_F(ASFWriterTest, InitialValues) {
    EXPECT_EQ(writer->FilterGraph(), nullptr);
    EXPECT_EQ(writer->Profile(), wmp_V80_255VideoPDA);
    EXPECT_EQ(writer->FileName(), "");
    EXPECT_EQ(writer->Port(), 0u);
    EXPECT_EQ(writer->MaxUsers(), 0u);
    EXPECT_TRUE(writer->AutoIndex());
    EXPECT_FALSE(writer->MultiPass());
    EXPECT_FALSE(writer->DontCompress());
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(writer->MemberFilter(filter.out()), S_FALSE);
    EXPECT_FALSE(filter);
}

TEST_F(ASFWriterTest, ActivationConfiguresTheFilterInOrder) {
    writer->SetFileName("/tmp/out.asf");
    writer->SetProfile(wmp_V80_384Video);
    writer->SetMultiPass(true);
    EXPECT_TRUE(log.calls.empty()) << "no filter, nothing called";

    writer->MemberNotify(moBeforeAdd, 0);
    EXPECT_EQ(calls(), (Calls{"CreateInstance"}));
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(writer->MemberFilter(filter.out()), S_OK);
    ASSERT_EQ(filter.get(), static_cast<IBaseFilter *>(factory->last));
    EXPECT_EQ(factory->last->refs(), 2u);  // the writer's and ours
    filter = nullptr;

    log.clear();
    writer->MemberNotify(moAfterAdd, 0);
    EXPECT_EQ(calls(), (Calls{"Configure(wmp_V80_384Video)", "SetFileName(/tmp/out.asf, null)", "SetParam(1, 1, 0)",
                              "SetParam(2, 1, 0)", "SetParam(3, 0, 0)", "W.EnumPins",
                              "QueryService(Advanced2, Advanced2)"}));
    // Held: the filter, both pins, the advanced writer; the pin list is gone again.
    EXPECT_EQ(factory->last->refs(), 1u);
    EXPECT_EQ(factory->last->pins()[0].get()->AddRef(), 3u);
    factory->last->pins()[0].get()->Release();
    EXPECT_EQ(factory->last->advanced->refs(), 2u);

    log.clear();
    writer->MemberNotify(moBeforeRemove, 0);
    EXPECT_EQ(calls(), (Calls{"W.Stop", "In0.Disconnect", "In1.Disconnect"}));
    log.clear();
    log_releases();
    writer->MemberNotify(moAfterRemove, 0);
    EXPECT_EQ(calls(), (Calls{"advanced.Release", "In0.Release", "In1.Release", "W.Release", "W freed",
                              "advanced.Release", "advanced writer freed", "In0.Release", "In0 freed",
                              "In1.Release", "In1 freed"}));
    EXPECT_EQ(writer->MemberFilter(filter.out()), S_FALSE);

    // The properties keep their values.
    EXPECT_EQ(writer->Profile(), wmp_V80_384Video);
    EXPECT_EQ(writer->FileName(), "/tmp/out.asf");
}

TEST_F(ASFWriterTest, NoNetworkSinkUnlessPortAndMaxUsersAreBothSet) {
    for (auto [port, users] : {std::pair<DWORD, DWORD>{0, 0}, {8080, 0}, {0, 5}}) {
        writer->SetPort(port);
        writer->SetMaxUsers(users);
        log.clear();
        activate();
        deactivate();
        EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "WMCreateWriterNetworkSink"), 0) << port << users;
        EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "AddSink"), 0);
        EXPECT_EQ(writer->Port(), port);
    }
}

TEST_F(ASFWriterTest, NetworkSinkIsOpenedAddedAndClosed) {
    writer->SetPort(8080);
    writer->SetMaxUsers(5);
    activate();
    Calls c = calls();
    const Calls tail = {"QueryService(Advanced2, Advanced2)", "WMCreateWriterNetworkSink", "SetNetworkProtocol(0)",
                        "SetMaximumClients(5)", "Open(8080)", "AddSink"};
    ASSERT_GE(c.size(), tail.size());
    EXPECT_EQ(Calls(c.end() - static_cast<std::ptrdiff_t>(tail.size()), c.end()), tail);
    EXPECT_EQ(writer->Port(), 8123u) << "Port reads back what the sink opened";
    EXPECT_NE(factory->last->advanced->added, nullptr);

    log.clear();
    writer->MemberNotify(moBeforeRemove, 0);
    EXPECT_EQ(calls(), (Calls{"W.Stop", "sink.Disconnect", "sink.Close", "In0.Disconnect", "In1.Disconnect"}));
    log.clear();
    log_releases();
    writer->MemberNotify(moAfterRemove, 0);
    // Released in the order advanced writer, sink, pins, filter; the advanced writer keeps
    // the sink it was given until it goes itself.
    Calls released = calls();
    ASSERT_GE(released.size(), 5u);
    EXPECT_EQ(Calls(released.begin(), released.begin() + 5),
              (Calls{"advanced.Release", "sink.Release", "In0.Release", "In1.Release", "W.Release"}));
    EXPECT_EQ(std::count(released.begin(), released.end(), "sink freed"), 1);
    EXPECT_EQ(writer->Port(), 8123u);
}

TEST_F(ASFWriterTest, FailedSinkCreationLeavesTheRestAlone) {
    writer->SetPort(8080);
    writer->SetMaxUsers(5);
    sink_result = E_OUTOFMEMORY;
    activate();
    EXPECT_EQ(calls().back(), "WMCreateWriterNetworkSink");
    EXPECT_EQ(writer->Port(), 8080u);
    log.clear();
    writer->MemberNotify(moBeforeRemove, 0);
    EXPECT_EQ(calls(), (Calls{"W.Stop", "In0.Disconnect", "In1.Disconnect"}));
    writer->MemberNotify(moAfterRemove, 0);
}

TEST_F(ASFWriterTest, SinkWithoutAdvancedWriterIsNotOpened) {
    factory->setup.advanced = false;
    writer->SetPort(8080);
    writer->SetMaxUsers(5);
    activate();
    EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "Open(8080)"), 0);
    EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "sink freed"), 1);
    EXPECT_EQ(writer->Port(), 8080u);
    deactivate();
}

TEST_F(ASFWriterTest, ProfileSetWhileHeldGoesToTheFilterOnly) {
    writer->SetProfile(wmp_V80_56Video);
    activate();
    EXPECT_EQ(writer->Profile(), wmp_V80_56Video);  // read from the filter

    log.clear();
    writer->SetProfile(wmp_V80_128StereoAudio);
    EXPECT_EQ(calls(), (Calls{"Configure(wmp_V80_128StereoAudio)"}));
    log.clear();
    EXPECT_EQ(writer->Profile(), wmp_V80_128StereoAudio);
    EXPECT_EQ(calls(), (Calls{"GetCurrentProfileGuid"}));

    deactivate();
    EXPECT_EQ(writer->Profile(), wmp_V80_56Video) << "the stored value was not changed";
    log.clear();
    activate();
    EXPECT_EQ(calls().front(), "CreateInstance");
    EXPECT_EQ(calls()[1], "Configure(wmp_V80_56Video)");
    deactivate();
}

TEST_F(ASFWriterTest, ProfileTheFilterCannotNameReads255) {
    activate();
    const GUID other = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    factory->last->current = other;
    EXPECT_EQ(static_cast<int>(writer->Profile()), 255);
    factory->last->current = IID_IWMWriterAdvanced2;
    EXPECT_EQ(static_cast<int>(writer->Profile()), 255);
    deactivate();

    factory->setup.profile_guid_result = E_FAIL;
    activate();
    EXPECT_EQ(static_cast<int>(writer->Profile()), 255);
    deactivate();
    EXPECT_EQ(writer->Profile(), wmp_V80_255VideoPDA);
}

TEST_F(ASFWriterTest, ProfileOutsideTheTableIsRefused) {
    writer->SetProfile(wmp_V80_HIGHVBRVideo);
    EXPECT_THROW(writer->SetProfile(static_cast<TWMPofiles8>(27)), EListError);
    EXPECT_THROW(writer->SetProfile(static_cast<TWMPofiles8>(255)), EListError);
    EXPECT_EQ(writer->Profile(), wmp_V80_HIGHVBRVideo);
    activate();
    log.clear();
    EXPECT_THROW(writer->SetProfile(static_cast<TWMPofiles8>(200)), EListError);
    EXPECT_TRUE(calls().empty());
    deactivate();
}

TEST_F(ASFWriterTest, FileNameSetWhileHeldIsStoredAndGivenToTheFilter) {
    writer->SetFileName("first.asf");
    activate();
    log.clear();
    writer->SetFileName("录制/second.asf");
    EXPECT_EQ(calls(), (Calls{"SetFileName(录制/second.asf, null)"}));
    factory->last->file = OLESTR("changed-by-filter.asf");
    log.clear();
    EXPECT_EQ(writer->FileName(), "changed-by-filter.asf");
    EXPECT_EQ(calls(), (Calls{"GetCurFile(null)"}));
    deactivate();
    EXPECT_EQ(writer->FileName(), "录制/second.asf");

    // A filter that cannot report its file: the name given to it stands.
    factory->setup.cur_file_result = E_FAIL;
    activate();
    EXPECT_EQ(writer->FileName(), "录制/second.asf");
    deactivate();
}

TEST_F(ASFWriterTest, PinCountDecidesWhichPinsAreKept) {
    struct Case {
        int pins;
        Calls removal;
    };
    const Case cases[] = {{1, {"W.Stop", "In0.Disconnect"}},
                          {2, {"W.Stop", "In0.Disconnect", "In1.Disconnect"}},
                          {3, {"W.Stop", "In0.Disconnect"}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pins);
        factory->setup.pins = c.pins;
        activate();
        log.clear();
        writer->MemberNotify(moBeforeRemove, 0);
        EXPECT_EQ(calls(), c.removal);
        writer->MemberNotify(moAfterRemove, 0);
    }
}

TEST_F(ASFWriterTest, FilterWithoutPinsEndsConfigurationAtThePins) {
    factory->setup.pins = 0;
    writer->SetPort(8080);
    writer->SetMaxUsers(5);
    activate();
    EXPECT_EQ(calls().back(), "W.EnumPins");
    log.clear();
    writer->MemberNotify(moBeforeRemove, 0);
    EXPECT_EQ(calls(), (Calls{"W.Stop"}));
    writer->MemberNotify(moAfterRemove, 0);
}

TEST_F(ASFWriterTest, MissingInterfacesSkipTheirSteps) {
    factory->setup.config2 = false;
    factory->setup.services = false;
    writer->SetPort(8080);
    writer->SetMaxUsers(5);
    activate();
    EXPECT_EQ(calls(), (Calls{"CreateInstance", "Configure(wmp_V80_255VideoPDA)", "SetFileName(, null)", "W.EnumPins",
                              "WMCreateWriterNetworkSink", "sink freed"}));
    deactivate();
}

TEST_F(ASFWriterTest, NoFilterMeansStoredValuesAndNoCalls) {
    factory->refuse = REGDB_E_CLASSNOTREG;
    writer->SetProfile(wmp_V80_700PALVideo);
    writer->SetFileName("x.asf");
    writer->SetPort(1);
    writer->SetMaxUsers(1);
    activate();
    EXPECT_EQ(calls(), (Calls{"CreateInstance"}));
    ComPtr<IConfigAsfWriter> config;
    EXPECT_EQ(writer->QueryInterface(IID_IConfigAsfWriter, config.out_void()), E_NOINTERFACE);
    EXPECT_EQ(writer->Profile(), wmp_V80_700PALVideo);
    writer->SetProfile(wmp_V80_288Video);
    EXPECT_EQ(writer->Profile(), wmp_V80_288Video);
    EXPECT_EQ(writer->FileName(), "x.asf");
    deactivate();
    EXPECT_EQ(calls(), (Calls{"CreateInstance"}));
}

TEST_F(ASFWriterTest, InterfaceQueriesReachTheFilterOnlyWhileHeld) {
    void *p = nullptr;
    EXPECT_EQ(writer->QueryInterface(IID_IGraphMember, &p), S_OK);
    EXPECT_EQ(p, static_cast<IGraphMember *>(writer));
    EXPECT_EQ(writer->QueryInterface(IID_IInterfaceComponentReference, &p), S_OK);
    EXPECT_EQ(static_cast<IInterfaceComponentReference *>(p)->GetComponent(), writer);
    EXPECT_EQ(writer->QueryInterface(IID_IFileSinkFilter2, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(writer->AddRef(), static_cast<ULONG>(-1));
    EXPECT_EQ(static_cast<IGraphMember *>(writer)->Release(), static_cast<ULONG>(-1));

    activate();
    FakeAsfWriter *filter = factory->last;
    ComPtr<IFileSinkFilter2> sink;
    ASSERT_EQ(writer->QueryInterface(IID_IFileSinkFilter2, sink.out_void()), S_OK);
    EXPECT_EQ(sink.get(), static_cast<IFileSinkFilter2 *>(filter));
    EXPECT_EQ(filter->refs(), 2u) << "the filter's answer is a counted reference";
    sink = nullptr;
    // The filter's failure comes back unchanged; the component's own interfaces still win.
    EXPECT_EQ(writer->QueryInterface(IID_IMediaSeeking, &p), E_NOINTERFACE);
    EXPECT_EQ(writer->QueryInterface(IID_IGraphMember, &p), S_OK);
    EXPECT_EQ(p, static_cast<IGraphMember *>(writer));
    EXPECT_EQ(filter->refs(), 1u);
    deactivate();
    EXPECT_EQ(writer->QueryInterface(IID_IFileSinkFilter2, &p), E_NOINTERFACE);
}

TEST_F(ASFWriterTest, MemberNameAndUnknownOperations) {
    std::string name;
    EXPECT_EQ(writer->MemberName(name), S_OK);
    EXPECT_EQ(name, "ASFWriter1");
    EXPECT_EQ(writer->MemberNotify(static_cast<TMemberOperation>(7), 0), S_OK);
    EXPECT_EQ(writer->MemberNotify(static_cast<TMemberOperation>(-1), 0), S_OK);
    EXPECT_TRUE(log.calls.empty());
}

TEST_F(ASFWriterTest, SecondBeforeAddReplacesTheFilter) {
    activate();
    FakeAsfWriter *first = factory->last;
    EXPECT_EQ(first->refs(), 1u);
    log.clear();
    writer->MemberNotify(moBeforeAdd, 0);
    EXPECT_EQ(calls(), (Calls{"W freed", "CreateInstance"}));
    EXPECT_EQ(factory->created, 2);
    writer->MemberNotify(moAfterAdd, 0);
    deactivate();
}

TEST_F(ASFWriterTest, DestroyingTheWriterReleasesEverything) {
    writer->SetPort(8080);
    writer->SetMaxUsers(5);
    activate();
    delete writer;  // no graph: nothing to detach from, the references go with the writer
    writer = nullptr;
    EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "W freed"), 1);
    EXPECT_EQ(std::count(log.calls.begin(), log.calls.end(), "sink freed"), 1);
}

}  // namespace
