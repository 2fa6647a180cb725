// Allocator, samples, pin connection rules and the streaming path of the base classes.
#include "tests/support/TestFilters.h"

#include "platform/posix/graph/Graph.h"

#include <cstring>
#include <thread>

using namespace graphtest;

namespace {

ComPtr<IMemAllocator> committed_allocator(LONG buffers) {
    ComPtr<IMemAllocator> a = MemAllocator::create();
    ALLOCATOR_PROPERTIES req{buffers, 128, 16, 8}, got{};
    EXPECT_HR(S_OK, a->SetProperties(&req, &got));
    EXPECT_EQ(buffers, got.cBuffers);
    EXPECT_HR(S_OK, a->Commit());
    return a;
}

}  // namespace

TEST(MemAllocator, BuffersAreBoundedAndComeBackOnRelease) {
    ComPtr<IMemAllocator> a = committed_allocator(2);
    ComPtr<IMediaSample> s1, s2, s3;
    ASSERT_HR(S_OK, a->GetBuffer(s1.out(), nullptr, nullptr, 0));
    ASSERT_HR(S_OK, a->GetBuffer(s2.out(), nullptr, nullptr, 0));
    EXPECT_HR(VFW_E_TIMEOUT, a->GetBuffer(s3.out(), nullptr, nullptr, AM_GBF_NOWAIT));
    BYTE *p = nullptr;
    s1->GetPointer(&p);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(p) % 16) << "cbAlign";
    EXPECT_EQ(128, s1->GetSize());

    // A blocked GetBuffer returns once another thread gives a buffer back.
    std::thread t([&] { s3 = nullptr, a->GetBuffer(s3.out(), nullptr, nullptr, 0); });
    s1 = nullptr;
    t.join();
    EXPECT_TRUE(s3);
    EXPECT_HR(VFW_E_ALREADY_COMMITTED, [&] {
        ALLOCATOR_PROPERTIES r{1, 1, 1, 0}, g{};
        return a->SetProperties(&r, &g);
    }());
}

TEST(MemAllocator, DecommitWakesBlockedCallersAndRefusesNewOnes) {
    ComPtr<IMemAllocator> a = committed_allocator(1);
    ComPtr<IMediaSample> held, waited;
    ASSERT_HR(S_OK, a->GetBuffer(held.out(), nullptr, nullptr, 0));
    HRESULT blocked = S_OK;
    std::thread t([&] { blocked = a->GetBuffer(waited.out(), nullptr, nullptr, 0); });
    // Decommit may come before or after the thread blocks: either way it must see NOT_COMMITTED.
    a->Decommit();
    t.join();
    EXPECT_HR(VFW_E_NOT_COMMITTED, blocked);
    EXPECT_HR(VFW_E_NOT_COMMITTED, a->GetBuffer(waited.out(), nullptr, nullptr, 0));
    // The sample still out keeps the allocator; releasing both leaves nothing alive.
    long before = live_objects();
    IMemAllocator *raw = a.get();
    a = nullptr;
    EXPECT_EQ(before, live_objects()) << "the outstanding sample holds the allocator";
    (void)raw;
    held = nullptr;
    EXPECT_LT(live_objects(), before);
}

TEST(MemAllocator, CommitNeedsProperties) {
    ComPtr<IMemAllocator> a = MemAllocator::create();
    EXPECT_HR(VFW_E_SIZENOTSET, a->Commit());
    ALLOCATOR_PROPERTIES r{1, 16, 3, 0}, g{};
    EXPECT_HR(VFW_E_BADALIGN, a->SetProperties(&r, &g));
}

TEST(MediaSample, PropertiesFollowTheInterfaceRules) {
    ComPtr<IMemAllocator> a = committed_allocator(1);
    ComPtr<IMediaSample> s;
    ASSERT_HR(S_OK, a->GetBuffer(s.out(), nullptr, nullptr, 0));
    REFERENCE_TIME t0 = 0, t1 = 0;
    EXPECT_HR(VFW_E_SAMPLE_TIME_NOT_SET, s->GetTime(&t0, &t1));
    REFERENCE_TIME start = 100;
    s->SetTime(&start, nullptr);
    EXPECT_HR(VFW_S_NO_STOP_TIME, s->GetTime(&t0, &t1));
    EXPECT_EQ(100, t0);
    EXPECT_EQ(101, t1);
    EXPECT_HR(VFW_E_BUFFER_OVERFLOW, s->SetActualDataLength(129));
    EXPECT_HR(S_OK, s->SetActualDataLength(128));
    AM_MEDIA_TYPE *mt = nullptr;
    EXPECT_HR(S_FALSE, s->GetMediaType(&mt));
    MediaType v = rgb24();
    s->SetMediaType(v.ptr());
    ASSERT_HR(S_OK, s->GetMediaType(&mt));
    EXPECT_TRUE(v == *mt);
    DeleteMediaType(mt);
    s->SetSyncPoint(TRUE);
    s->SetDiscontinuity(TRUE);
    // Back in the allocator the sample forgets everything.
    s = nullptr;
    ASSERT_HR(S_OK, a->GetBuffer(s.out(), nullptr, nullptr, 0));
    EXPECT_HR(S_FALSE, s->IsSyncPoint());
    EXPECT_HR(S_FALSE, s->IsDiscontinuity());
    EXPECT_HR(S_FALSE, s->GetMediaType(&mt));
    EXPECT_EQ(0, s->GetActualDataLength());
}

// Content a producer leaves with the sample is written into the buffer once, when a consumer
// first asks for the buffer, and goes when the sample returns to its allocator.
TEST(MediaSample, DeferredContentIsWrittenOnDemandAndDroppedOnReturn) {
    struct Counting : SampleContent {
        int *writes, *alive;
        Counting(int *w, int *a) : writes(w), alive(a) { ++*alive; }
        ~Counting() override { --*alive; }
        HRESULT write(BYTE *dst, LONG size) const override {
            ++*writes;
            std::memset(dst, 0x5A, size_t(size));
            return S_OK;
        }
    };
    int writes = 0, alive = 0;
    ComPtr<IMemAllocator> a = committed_allocator(1);
    ComPtr<IMediaSample> s;
    ASSERT_HR(S_OK, a->GetBuffer(s.out(), nullptr, nullptr, 0));
    ComPtr<IDeferredSample> d = s.query<IDeferredSample>();
    ASSERT_TRUE(d);
    d->SetContent(std::make_unique<Counting>(&writes, &alive));
    EXPECT_EQ(0, writes);
    BYTE *p = nullptr;
    ASSERT_HR(S_OK, s->GetPointer(&p));
    ASSERT_HR(S_OK, s->GetPointer(&p));
    EXPECT_EQ(1, writes);
    EXPECT_EQ(0x5A, p[0]);
    EXPECT_EQ(0x5A, p[127]);
    d = nullptr;
    s = nullptr;
    EXPECT_EQ(0, alive);
    ASSERT_HR(S_OK, a->GetBuffer(s.out(), nullptr, nullptr, 0));
    EXPECT_EQ(nullptr, s.query<IDeferredSample>()->Content());
}

TEST(MediaType, CopiesOwnTheirFormatBlock) {
    MediaType a = rgb24(64, 32);
    MediaType b = a;
    ASSERT_NE(a.get().pbFormat, b.get().pbFormat);
    EXPECT_TRUE(a == b);
    b.format_as<VIDEOINFOHEADER>()->bmiHeader.biWidth = 65;
    EXPECT_FALSE(a == b);
    MediaType partial(MEDIATYPE_Video, kGuidNull);
    EXPECT_TRUE(partial.is_partial());
    EXPECT_TRUE(a.matches(partial.get()));
    EXPECT_FALSE(pcm().matches(partial.get()));
    EXPECT_EQ("Video/RGB24 64x32 24 bit 25.000 fps", a.text());
    EXPECT_EQ("Audio/PCM 44100 Hz 2 ch 16 bit", pcm().text());
}

// ---- Pins, outside any graph.
class Pins : public ::testing::Test {
protected:
    ComPtr<IBaseFilter> src_, sink_;
    TestSource *source = new TestSource({rgb24()}, 3);
    TestSink *sink = new TestSink({rgb24()});
    void SetUp() override {
        src_ = ComPtr<IBaseFilter>::adopt(source);
        sink_ = ComPtr<IBaseFilter>::adopt(sink);
    }
    IPin *out() { return source->pin_at(0); }
    IPin *in() { return sink->pin_at(0); }
};

TEST_F(Pins, ConnectionResults) {
    ULONG alone = tw::ref_count(sink_.get());
    MediaType audio = pcm();
    EXPECT_HR(VFW_E_TYPE_NOT_ACCEPTED, out()->Connect(in(), audio.ptr()));
    MediaType any_audio(MEDIATYPE_Audio, kGuidNull);
    EXPECT_HR(VFW_E_NO_ACCEPTABLE_TYPES, out()->Connect(in(), any_audio.ptr()));
    EXPECT_HR(VFW_E_INVALID_DIRECTION, out()->Connect(out(), nullptr));
    EXPECT_HR(E_UNEXPECTED, in()->Connect(out(), nullptr));
    EXPECT_HR(S_FALSE, out()->Disconnect());

    ComPtr<IPin> peer;
    EXPECT_HR(VFW_E_NOT_CONNECTED, out()->ConnectedTo(peer.out()));
    AM_MEDIA_TYPE mt;
    EXPECT_HR(VFW_E_NOT_CONNECTED, in()->ConnectionMediaType(&mt));

    ASSERT_HR(S_OK, out()->Connect(in(), nullptr));
    EXPECT_HR(VFW_E_ALREADY_CONNECTED, out()->Connect(in(), nullptr));
    ASSERT_HR(S_OK, in()->ConnectionMediaType(&mt));
    EXPECT_TRUE(rgb24() == mt);
    FreeMediaType(mt);

    // A connected pin holds its peer (and so the peer's filter).
    ULONG sink_refs = tw::ref_count(sink_.get());
    ASSERT_HR(S_OK, out()->ConnectedTo(peer.out()));
    EXPECT_EQ(in(), peer.get());
    EXPECT_EQ(sink_refs + 1, tw::ref_count(sink_.get()));
    peer = nullptr;

    // Not while the filter streams.
    ASSERT_HR(S_OK, sink_->Pause());
    EXPECT_HR(VFW_E_NOT_STOPPED, in()->Disconnect());
    EXPECT_HR(S_OK, out()->Disconnect()) << "the source is still stopped";
    ASSERT_HR(S_OK, sink_->Run(0));
    EXPECT_HR(VFW_E_NOT_STOPPED, in()->Disconnect());
    ASSERT_HR(S_OK, sink_->Stop());
    EXPECT_HR(S_OK, in()->Disconnect());
    EXPECT_HR(S_FALSE, in()->Disconnect());
    EXPECT_EQ(alone, tw::ref_count(sink_.get())) << "the connection released what it held";
}

TEST_F(Pins, RunningOutputPinRefusesConnection) {
    ASSERT_HR(S_OK, src_->Pause());
    EXPECT_HR(VFW_E_NOT_STOPPED, out()->Connect(in(), nullptr));
    src_->Stop();
}

TEST_F(Pins, InfoEnumeratorsAndCounts) {
    ULONG refs = tw::ref_count(src_.get());
    PIN_INFO info{};
    ASSERT_HR(S_OK, out()->QueryPinInfo(&info));
    EXPECT_EQ(static_cast<IBaseFilter *>(source), info.pFilter);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    EXPECT_EQ(tw::wstring(OLESTR("Video")), tw::wstring(info.achName));
    EXPECT_EQ(refs + 1, tw::ref_count(src_.get()));
    info.pFilter->Release();

    ComPtr<IEnumPins> e;
    ASSERT_HR(S_OK, src_->EnumPins(e.out()));
    EXPECT_EQ(refs + 1, tw::ref_count(src_.get()));
    IPin *pins[2] = {};
    ULONG got = 0;
    EXPECT_HR(S_FALSE, e->Next(2, pins, &got));
    ASSERT_EQ(1u, got);
    EXPECT_EQ(out(), pins[0]);
    pins[0]->Release();
    EXPECT_HR(E_POINTER, e->Next(2, pins, nullptr));
    e = nullptr;
    EXPECT_EQ(refs, tw::ref_count(src_.get()));

    ComPtr<IPin> found;
    EXPECT_HR(S_OK, src_->FindPin(OLESTR("Video"), found.out()));
    EXPECT_HR(VFW_E_NOT_FOUND, src_->FindPin(OLESTR("Nope"), found.out()));

    ComPtr<IEnumMediaTypes> types;
    ASSERT_HR(S_OK, out()->EnumMediaTypes(types.out()));
    AM_MEDIA_TYPE *mt = nullptr;
    ASSERT_HR(S_OK, types->Next(1, &mt, nullptr));
    EXPECT_TRUE(rgb24() == *mt);
    DeleteMediaType(mt);
    EXPECT_HR(S_FALSE, types->Next(1, &mt, nullptr));

    // The pin's interfaces, both ways; IMemInputPin on input pins only.
    ComPtr<IMemInputPin> mem;
    EXPECT_HR(E_NOINTERFACE, out()->QueryInterface(IID_IMemInputPin, mem.out_void()));
    ASSERT_HR(S_OK, in()->QueryInterface(IID_IMemInputPin, mem.out_void()));
    ComPtr<IPin> back = mem.query<IPin>();
    EXPECT_EQ(in(), back.get());
}

TEST_F(Pins, ReceiveFollowsTheFilterState) {
    ASSERT_HR(S_OK, out()->Connect(in(), nullptr));
    ComPtr<IMemInputPin> mem;
    in()->QueryInterface(IID_IMemInputPin, mem.out_void());
    ComPtr<IMemAllocator> a = committed_allocator(1);
    ComPtr<IMediaSample> s;
    a->GetBuffer(s.out(), nullptr, nullptr, 0);
    EXPECT_HR(VFW_E_WRONG_STATE, mem->Receive(s.get())) << "stopped";
    sink_->Pause();
    EXPECT_HR(S_OK, mem->Receive(s.get()));
    in()->BeginFlush();
    EXPECT_HR(S_FALSE, mem->Receive(s.get())) << "flushing";
    in()->EndFlush();
    EXPECT_HR(S_OK, in()->EndOfStream());
    EXPECT_HR(VFW_E_SAMPLE_REJECTED_EOS, mem->Receive(s.get()));
    MediaType audio = pcm();
    sink_->Stop();
    sink_->Pause();
    s->SetMediaType(audio.ptr());
    EXPECT_HR(VFW_E_INVALIDMEDIATYPE, mem->Receive(s.get())) << "a format change the pin refuses";
    sink_->Stop();
    EXPECT_EQ(1, sink->samples());
    s = nullptr;
    out()->Disconnect();
    in()->Disconnect();
}

TEST(SystemClock, TimeRisesAndAdviseSignalsTheEvent) {
    ComPtr<IReferenceClock> c = make_system_clock();
    REFERENCE_TIME a = 0, b = 0;
    c->GetTime(&a);
    c->GetTime(&b);
    EXPECT_GE(b, a);
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(ev);
    DWORD_PTR cookie = 0;
    ASSERT_HR(S_OK, c->AdviseTime(b, 20 * 10000, reinterpret_cast<HEVENT>(ev), &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ev, 5000));
    REFERENCE_TIME now = 0;
    c->GetTime(&now);
    EXPECT_GE(now, b + 20 * 10000);
    EXPECT_HR(S_FALSE, c->Unadvise(cookie)) << "already fired";
    ASSERT_HR(S_OK, c->AdviseTime(now, 1000LL * 10000000, reinterpret_cast<HEVENT>(ev), &cookie));
    EXPECT_HR(S_OK, c->Unadvise(cookie));
    EXPECT_HR(E_INVALIDARG, c->AdviseTime(now, 0, 0, &cookie));
    CloseHandle(ev);
}
