// The running object table, item monikers, and the per-user publication of registrations.
#include "platform/posix/com/rot.h"
#include "platform/posix/object.h"
#include "platform/text.h"
#include "tests/support/HResultChecks.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

using tw::ComPtr;
using tw::ref_count;
using tw::posix::ComObject;
using tw::posix::live_objects;

namespace {

class Graph final : public ComObject<IPersist> {
public:
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *) override { return E_NOTIMPL; }

private:
    void *GetInterface(REFIID riid) override { return answer<IPersist>(riid); }
};

ComPtr<IMoniker> item(const char16_t *delim, const char16_t *name) {
    ComPtr<IMoniker> m;
    EXPECT_HR(S_OK, CreateItemMoniker(delim, name, m.out()));
    return m;
}

std::u16string display(IMoniker *m) {
    LPOLESTR s = nullptr;
    EXPECT_HR(S_OK, m->GetDisplayName(nullptr, nullptr, &s));
    std::u16string r = s ? s : u"";
    CoTaskMemFree(s);
    return r;
}

// Every test gets a fresh private runtime directory for the publication files.
class Rot : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tw-rot-test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        runtime_dir_ = tmpl;
        setenv("XDG_RUNTIME_DIR", runtime_dir_.c_str(), 1);
        ASSERT_HR(S_OK, CoInitialize(nullptr));
        ASSERT_HR(S_OK, GetRunningObjectTable(0, rot_.out()));
        live_at_start_ = live_objects();
    }
    void TearDown() override {
        rot_ = nullptr;
        CoUninitialize();
        EXPECT_EQ(live_at_start_, live_objects()) << "objects leaked";
        std::string cmd = "rm -rf '" + runtime_dir_ + "'";
        EXPECT_EQ(0, std::system(cmd.c_str()));
        unsetenv("XDG_RUNTIME_DIR");
    }
    std::vector<std::u16string> running_names() {
        ComPtr<IEnumMoniker> e;
        EXPECT_HR(S_OK, rot_->EnumRunning(e.out()));
        std::vector<std::u16string> names;
        ComPtr<IMoniker> m;
        while (e->Next(1, m.out(), nullptr) == S_OK) names.push_back(display(m.get()));
        return names;
    }

    std::string runtime_dir_;
    ComPtr<IRunningObjectTable> rot_;
    long live_at_start_ = 0;
};

TEST(RotAccess, TableNeedsComAndAZeroReservedValue) {
    ComPtr<IRunningObjectTable> rot;
    EXPECT_HR(CO_E_NOTINITIALIZED, GetRunningObjectTable(0, rot.out()));
    EXPECT_FALSE(rot);
    ASSERT_HR(S_OK, CoInitialize(nullptr));
    EXPECT_HR(E_UNEXPECTED, GetRunningObjectTable(1, rot.out()));
    EXPECT_FALSE(rot);
    EXPECT_HR(E_INVALIDARG, GetRunningObjectTable(0, nullptr));
    ASSERT_HR(S_OK, GetRunningObjectTable(0, rot.out()));
    const ULONG before = ref_count(rot.get());
    ComPtr<IRunningObjectTable> again;
    ASSERT_HR(S_OK, GetRunningObjectTable(0, again.out()));
    EXPECT_EQ(rot.get(), again.get()) << "one table per process";
    EXPECT_EQ(before + 1, ref_count(rot.get()));
    EXPECT_TRUE(rot.query<IUnknown>());
    HRESULT hr = S_OK;
    EXPECT_FALSE(rot.query<IMoniker>(&hr));
    EXPECT_HR(E_NOINTERFACE, hr);
    again = nullptr;
    rot = nullptr;
    CoUninitialize();
}

TEST(ItemMoniker, NameEqualityHashAndInterfaces) {
    const long live = live_objects();
    {
        auto m = item(u"!", u"FilterGraph 00001234 pid 3f0");
        EXPECT_EQ(1u, ref_count(m.get()));
        EXPECT_EQ(u"!FilterGraph 00001234 pid 3f0", display(m.get()));

        auto upper = item(u"!", u"FILTERGRAPH 00001234 PID 3F0");
        auto other_delim = item(u"\\", u"FilterGraph 00001234 pid 3f0");
        auto other_item = item(u"!", u"FilterGraph 00001235 pid 3f0");
        EXPECT_HR(S_OK, m->IsEqual(upper.get())) << "item names compare without case";
        EXPECT_HR(S_FALSE, m->IsEqual(other_delim.get()));
        EXPECT_HR(S_FALSE, m->IsEqual(other_item.get()));
        DWORD h1 = 0, h2 = 0;
        EXPECT_HR(S_OK, m->Hash(&h1));
        EXPECT_HR(S_OK, upper->Hash(&h2));
        EXPECT_EQ(h1, h2) << "equal monikers hash equally";
        EXPECT_EQ(1u, ref_count(upper.get())) << "IsEqual keeps no reference";

        DWORD sys = 0;
        EXPECT_HR(S_OK, m->IsSystemMoniker(&sys));
        EXPECT_EQ(4u, sys);  // MKSYS_ITEMMONIKER

        auto ps = m.query<IPersistStream>();
        auto p = m.query<IPersist>();
        ASSERT_TRUE(ps && p);
        EXPECT_EQ(3u, ref_count(m.get()));
        EXPECT_EQ(m.get(), ps.query<IMoniker>().get());
        EXPECT_EQ(m.query<IUnknown>().get(), p.query<IUnknown>().get());
        CLSID clsid{};
        EXPECT_HR(S_OK, p->GetClassID(&clsid));
        EXPECT_EQ(0x00000304u, clsid.Data1);
        HRESULT hr = S_OK;
        EXPECT_FALSE(m.query<IRunningObjectTable>(&hr));
        EXPECT_HR(E_NOINTERFACE, hr);

        ComPtr<IUnknown> bound;
        EXPECT_HR(E_NOTIMPL, m->BindToObject(nullptr, nullptr, tw::iid_of<IUnknown>(), bound.out_void()));
        EXPECT_FALSE(bound);
    }
    ComPtr<IMoniker> none;
    EXPECT_HR(E_INVALIDARG, CreateItemMoniker(u"!", nullptr, none.out()));
    EXPECT_HR(E_INVALIDARG, CreateItemMoniker(u"!", u"x", nullptr));
    EXPECT_EQ(live, live_objects());
}

TEST_F(Rot, RegisterDuplicateRevokeWithCounts) {
    auto graph = ComPtr<IPersist>::adopt(new Graph);
    auto name = item(u"!", u"FilterGraph 0000BEEF pid 1");
    DWORD cookie = 0;
    ASSERT_HR(S_OK, rot_->Register(0, graph.get(), name.get(), &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_EQ(2u, ref_count(graph.get())) << "the table holds the object";
    EXPECT_EQ(2u, ref_count(name.get())) << "the table holds the moniker";

    // Found through another moniker with the same name.
    auto same = item(u"!", u"FilterGraph 0000beef pid 1");
    EXPECT_HR(S_OK, rot_->IsRunning(same.get()));
    EXPECT_HR(S_OK, same->IsRunning(nullptr, nullptr, nullptr));
    ComPtr<IUnknown> got;
    ASSERT_HR(S_OK, rot_->GetObject(same.get(), got.out()));
    EXPECT_EQ(static_cast<IUnknown *>(graph.get()), got.get());
    EXPECT_EQ(3u, ref_count(graph.get())) << "GetObject hands out a new reference";
    got = nullptr;

    // A second registration under the same name is made, with its own cookie.
    auto graph2 = ComPtr<IPersist>::adopt(new Graph);
    DWORD cookie2 = 0;
    EXPECT_HR(MK_S_MONIKERALREADYREGISTERED, rot_->Register(0, graph2.get(), same.get(), &cookie2));
    EXPECT_NE(0u, cookie2);
    EXPECT_NE(cookie, cookie2);
    EXPECT_EQ(2u, ref_count(graph2.get()));

    EXPECT_HR(S_OK, rot_->Revoke(cookie));
    EXPECT_EQ(1u, ref_count(graph.get()));
    EXPECT_EQ(1u, ref_count(name.get()));
    EXPECT_HR(S_OK, rot_->IsRunning(name.get())) << "the duplicate is still registered";
    ASSERT_HR(S_OK, rot_->GetObject(name.get(), got.out()));
    EXPECT_EQ(static_cast<IUnknown *>(graph2.get()), got.get());
    got = nullptr;

    EXPECT_HR(S_OK, rot_->Revoke(cookie2));
    EXPECT_EQ(1u, ref_count(graph2.get()));
    EXPECT_EQ(1u, ref_count(same.get()));
    EXPECT_HR(S_FALSE, rot_->IsRunning(name.get()));
    EXPECT_HR(MK_E_UNAVAILABLE, rot_->GetObject(name.get(), got.out()));
    EXPECT_FALSE(got);

    // Unknown cookies, 0 included, and bad arguments.
    EXPECT_HR(E_INVALIDARG, rot_->Revoke(cookie));
    EXPECT_HR(E_INVALIDARG, rot_->Revoke(0));
    DWORD c = 1234;
    EXPECT_HR(E_INVALIDARG, rot_->Register(0, nullptr, name.get(), &c));
    EXPECT_EQ(0u, c);
    EXPECT_HR(E_INVALIDARG, rot_->Register(0, graph.get(), nullptr, &c));
    EXPECT_HR(E_INVALIDARG, rot_->Register(0, graph.get(), name.get(), nullptr));
    EXPECT_HR(E_INVALIDARG, rot_->Register(0x100, graph.get(), name.get(), &c));
    EXPECT_HR(E_INVALIDARG, rot_->IsRunning(nullptr));
    EXPECT_HR(E_INVALIDARG, rot_->GetObject(name.get(), nullptr));
    EXPECT_EQ(1u, ref_count(graph.get()));
}

TEST_F(Rot, ChangeTimes) {
    auto graph = ComPtr<IPersist>::adopt(new Graph);
    auto name = item(u"!", u"timed");
    DWORD cookie = 0;
    ASSERT_HR(S_OK, rot_->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, graph.get(), name.get(), &cookie));
    FILETIME t{};
    ASSERT_HR(S_OK, rot_->GetTimeOfLastChange(name.get(), &t));
    EXPECT_GT(t.dwHighDateTime, 0x01D00000u) << "registration time, counted from 1601";
    FILETIME noted{0x11223344, 0x01020304};
    EXPECT_HR(S_OK, rot_->NoteChangeTime(cookie, &noted));
    ASSERT_HR(S_OK, rot_->GetTimeOfLastChange(name.get(), &t));
    EXPECT_EQ(noted.dwLowDateTime, t.dwLowDateTime);
    EXPECT_EQ(noted.dwHighDateTime, t.dwHighDateTime);
    EXPECT_HR(E_INVALIDARG, rot_->NoteChangeTime(cookie + 1000, &noted));
    EXPECT_HR(S_OK, rot_->Revoke(cookie));
    EXPECT_HR(MK_E_UNAVAILABLE, rot_->GetTimeOfLastChange(name.get(), &t));
}

TEST_F(Rot, EnumRunningIsASnapshotWithIndependentClones) {
    auto graph = ComPtr<IPersist>::adopt(new Graph);
    std::vector<DWORD> cookies;
    for (const char16_t *n : {u"one", u"two", u"three"}) {
        DWORD c = 0;
        ASSERT_HR(S_OK, rot_->Register(0, graph.get(), item(u"!", n).get(), &c));
        cookies.push_back(c);
    }
    ComPtr<IEnumMoniker> e;
    ASSERT_HR(S_OK, rot_->EnumRunning(e.out()));
    EXPECT_EQ(1u, ref_count(e.get()));
    // Revoked after the snapshot: the enumerator still has it.
    EXPECT_HR(S_OK, rot_->Revoke(cookies[2]));

    IMoniker *batch[8] = {};
    ULONG fetched = 99;
    EXPECT_HR(E_INVALIDARG, e->Next(2, batch, nullptr));
    EXPECT_HR(S_OK, e->Next(1, batch, &fetched));
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ(u"!one", display(batch[0]));
    EXPECT_EQ(3u, ref_count(batch[0])) << "the table's, the snapshot's and ours";
    batch[0]->Release();

    ComPtr<IEnumMoniker> clone;
    ASSERT_HR(S_OK, e->Clone(clone.out()));
    EXPECT_HR(S_FALSE, e->Next(8, batch, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(u"!two", display(batch[0]));
    EXPECT_EQ(u"!three", display(batch[1]));
    batch[0]->Release();
    batch[1]->Release();
    EXPECT_HR(S_FALSE, e->Next(1, batch, &fetched));
    EXPECT_EQ(0u, fetched);

    // The clone kept its own position.
    EXPECT_HR(S_OK, clone->Skip(1));
    EXPECT_HR(S_OK, clone->Next(1, batch, &fetched));
    EXPECT_EQ(u"!three", display(batch[0]));
    batch[0]->Release();
    EXPECT_HR(S_FALSE, clone->Skip(1));
    EXPECT_HR(S_OK, clone->Reset());
    EXPECT_HR(S_FALSE, clone->Skip(4));
    clone = nullptr;
    e = nullptr;

    EXPECT_HR(S_OK, rot_->Revoke(cookies[0]));
    EXPECT_HR(S_OK, rot_->Revoke(cookies[1]));
    EXPECT_EQ(1u, ref_count(graph.get()));
    EXPECT_TRUE(running_names().empty());
}

TEST_F(Rot, RegistrationsArePublishedForOtherProcessesUntilRevoked) {
    auto graph = ComPtr<IPersist>::adopt(new Graph);
    auto name = item(u"!", u"FilterGraph 00000000DEADBEEF pid 1F \u00e9");
    DWORD cookie = 0;
    ASSERT_HR(S_OK, rot_->Register(0, graph.get(), name.get(), &cookie));

    const std::string dir = tw::posix::rot_publication_dir();
    EXPECT_EQ(runtime_dir_ + "/tarnwick/rot", dir);
    struct stat st;
    ASSERT_EQ(0, stat(dir.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);

    auto listed = tw::posix::published_objects();
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ(GetCurrentProcessId(), listed[0].pid);
    EXPECT_EQ(cookie, listed[0].cookie);
    EXPECT_EQ(tw::to_utf8(u"!FilterGraph 00000000DEADBEEF pid 1F \u00e9"), listed[0].name);

    EXPECT_HR(S_OK, rot_->Revoke(cookie));
    EXPECT_TRUE(tw::posix::published_objects().empty());

    // A file left by a process that has ended is dropped by the next listing.
    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(child, waitpid(child, nullptr, 0));
    const std::string stale = dir + "/" + std::to_string(child) + "-1";
    std::ofstream(stale) << "pid=" << child << "\ncookie=1\nname=!gone\n";
    EXPECT_TRUE(tw::posix::published_objects().empty());
    EXPECT_NE(0, access(stale.c_str(), F_OK));
}

TEST_F(Rot, UnsafePublicationDirectoryIsRefusedButRegistrationSucceeds) {
    const std::string base = runtime_dir_ + "/tarnwick";
    ASSERT_EQ(0, mkdir(base.c_str(), 0777));
    ASSERT_EQ(0, chmod(base.c_str(), 0777));  // open to everyone: not ours to trust
    EXPECT_EQ("", tw::posix::rot_publication_dir());

    auto graph = ComPtr<IPersist>::adopt(new Graph);
    DWORD cookie = 0;
    EXPECT_HR(S_OK, rot_->Register(0, graph.get(), item(u"!", u"unpublished").get(), &cookie));
    EXPECT_TRUE(tw::posix::published_objects().empty());
    EXPECT_HR(S_OK, rot_->Revoke(cookie));
}

TEST_F(Rot, ConcurrentRegistrationsGetDistinctCookies) {
    auto graph = ComPtr<IPersist>::adopt(new Graph);
    std::vector<std::vector<DWORD>> got(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            ComPtr<IRunningObjectTable> rot;
            CoInitialize(nullptr);
            GetRunningObjectTable(0, rot.out());
            for (int i = 0; i < 25; ++i) {
                DWORD c = 0;
                std::u16string n = u"t" + std::u16string(1, char16_t(u'0' + t)) + u"-" +
                                   std::u16string(1, char16_t(u'A' + i));
                if (SUCCEEDED(rot->Register(0, graph.get(), item(u"!", n.c_str()).get(), &c))) got[t].push_back(c);
            }
            rot = nullptr;
            CoUninitialize();
        });
    for (auto &th : threads) th.join();
    std::set<DWORD> all;
    for (auto &v : got) {
        EXPECT_EQ(25u, v.size());
        all.insert(v.begin(), v.end());
    }
    EXPECT_EQ(100u, all.size());
    EXPECT_EQ(0u, all.count(0));
    EXPECT_EQ(100u, running_names().size());
    EXPECT_EQ(100u, tw::posix::published_objects().size());
    for (DWORD c : all) EXPECT_HR(S_OK, rot_->Revoke(c));
    EXPECT_EQ(1u, ref_count(graph.get()));
}

}  // namespace
