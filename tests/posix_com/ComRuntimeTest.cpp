// The COM runtime of the Linux platform layer: apartments, the class registry, task memory,
// BSTRs, thread identity.
#include "platform/posix/com/runtime.h"
#include "platform/posix/object.h"
#include "tests/support/HResultChecks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using tw::ComPtr;
using tw::ref_count;
using tw::posix::ComObject;
using tw::posix::live_objects;

namespace {

TW_DEFINE_GUID(CLSID_TestThing, 0x1f0e6d1a, 0x4c55, 0x4a3b, 0x8e, 0x10, 0x22, 0x33, 0x44, 0x55, 0x66, 0x01);
TW_DEFINE_GUID(CLSID_Nowhere, 0x1f0e6d1a, 0x4c55, 0x4a3b, 0x8e, 0x10, 0x22, 0x33, 0x44, 0x55, 0x66, 0x02);

// An object with one interface besides IUnknown.
class Thing final : public ComObject<IPersist> {
public:
    explicit Thing(int tag) : tag_(tag) {}
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *id) override {
        *id = CLSID_TestThing;
        return S_OK;
    }
    int tag() const { return tag_; }

private:
    void *GetInterface(REFIID riid) override { return answer<IPersist>(riid); }
    int tag_;
};

// A factory that records what it was asked and can be told to refuse.
class ThingFactory final : public ComObject<IClassFactory> {
public:
    explicit ThingFactory(int tag, HRESULT refuse = S_OK) : tag_(tag), refuse_(refuse) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override {
        ++created;
        last_outer = outer;
        *ppv = nullptr;
        if (FAILED(refuse_)) return refuse_;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto thing = ComPtr<IPersist>::adopt(new Thing(tag_));
        return thing->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    int created = 0;
    IUnknown *last_outer = nullptr;  // compared only, never called

private:
    void *GetInterface(REFIID riid) override { return answer<IClassFactory>(riid); }
    int tag_;
    HRESULT refuse_;
};

class ComRuntime : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_HR(S_OK, CoInitialize(nullptr));
        live_at_start_ = live_objects();
    }
    void TearDown() override {
        CoUninitialize();
        EXPECT_EQ(live_at_start_, live_objects()) << "objects leaked";
    }
    long live_at_start_ = 0;
};

TEST(ComApartment, NestingModesAndUnbalancedCalls) {
    // Before initialisation the registry refuses, and says why.
    ComPtr<IUnknown> p;
    EXPECT_HR(CO_E_NOTINITIALIZED, CoCreateInstance(CLSID_Nowhere, nullptr, CLSCTX_INPROC_SERVER,
                                                    tw::iid_of<IUnknown>(), p.out_void()));
    EXPECT_FALSE(p);

    EXPECT_HR(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    EXPECT_HR(S_FALSE, CoInitialize(nullptr));
    EXPECT_HR(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    int dummy = 0;
    EXPECT_HR(E_INVALIDARG, CoInitializeEx(&dummy, COINIT_APARTMENTTHREADED));

    // Each thread has its own apartment.
    HRESULT other = S_OK;
    std::thread([&] {
        ComPtr<IUnknown> q;
        other = CoCreateInstance(CLSID_Nowhere, nullptr, CLSCTX_INPROC_SERVER, tw::iid_of<IUnknown>(), q.out_void());
    }).join();
    EXPECT_HR(CO_E_NOTINITIALIZED, other);

    // Two successful calls, two uninitialisations (the refused ones did not count).
    CoUninitialize();
    EXPECT_HR(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_Nowhere, nullptr, CLSCTX_INPROC_SERVER,
                                                    tw::iid_of<IUnknown>(), p.out_void()));
    CoUninitialize();
    CoUninitialize();  // one too many: harmless
    EXPECT_HR(CO_E_NOTINITIALIZED, CoCreateInstance(CLSID_Nowhere, nullptr, CLSCTX_INPROC_SERVER,
                                                    tw::iid_of<IUnknown>(), p.out_void()));
    EXPECT_HR(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));  // a fresh start may pick either
    CoUninitialize();
}

TEST_F(ComRuntime, UnknownClassAndBadArguments) {
    ComPtr<IUnknown> p;
    EXPECT_HR(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_Nowhere, nullptr, CLSCTX_INPROC_SERVER,
                                                    tw::iid_of<IUnknown>(), p.out_void()));
    EXPECT_FALSE(p);
    EXPECT_HR(E_POINTER, CoCreateInstance(CLSID_Nowhere, nullptr, CLSCTX_INPROC_SERVER, tw::iid_of<IUnknown>(), nullptr));
    ComPtr<IClassFactory> f;
    EXPECT_HR(REGDB_E_CLASSNOTREG, CoGetClassObject(CLSID_Nowhere, CLSCTX_INPROC_SERVER, nullptr,
                                                    tw::iid_of<IClassFactory>(), f.out_void()));
    DWORD cookie = 0;
    EXPECT_HR(E_INVALIDARG, CoRegisterClassObject(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER,
                                                  REGCLS_MULTIPLEUSE, &cookie));
    EXPECT_HR((HRESULT)0x800401FB, CoRevokeClassObject(0xDEADu));
}

TEST_F(ComRuntime, RegisteredClassCountsAndInterfaces) {
    auto factory = ComPtr<ThingFactory>::adopt(new ThingFactory(7));
    DWORD cookie = 0;
    ASSERT_HR(S_OK, CoRegisterClassObject(CLSID_TestThing, factory.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                          &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_EQ(2u, ref_count(factory.get())) << "the registry holds one reference";

    ComPtr<IPersist> thing;
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, tw::iid_of<IPersist>(),
                                     thing.out_void()));
    EXPECT_EQ(1u, ref_count(thing.get()));
    EXPECT_EQ(2u, ref_count(factory.get())) << "creating must not keep the factory";

    // The interface set, both ways, with one identity.
    auto unk = thing.query<IUnknown>();
    ASSERT_TRUE(unk);
    EXPECT_EQ(2u, ref_count(thing.get()));
    auto back = unk.query<IPersist>();
    EXPECT_EQ(thing.get(), back.get());
    EXPECT_EQ(unk.get(), back.query<IUnknown>().get());
    back = nullptr;
    unk = nullptr;
    EXPECT_EQ(1u, ref_count(thing.get()));

    // An interface the object lacks: E_NOINTERFACE, a null result, nothing left alive.
    const long live = live_objects();
    ComPtr<IClassFactory> wrong;
    EXPECT_HR(E_NOINTERFACE, CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER,
                                              tw::iid_of<IClassFactory>(), wrong.out_void()));
    EXPECT_FALSE(wrong);
    EXPECT_EQ(live, live_objects());

    // CoGetClassObject hands out the registered object itself.
    ComPtr<IClassFactory> cf;
    ASSERT_HR(S_OK, CoGetClassObject(CLSID_TestThing, CLSCTX_INPROC_SERVER, nullptr, tw::iid_of<IClassFactory>(),
                                     cf.out_void()));
    EXPECT_EQ(static_cast<IClassFactory *>(factory.get()), cf.get());
    EXPECT_EQ(3u, ref_count(factory.get()));
    cf = nullptr;

    // A class registered for another context only is not found for in-process requests.
    ComPtr<IUnknown> p;
    EXPECT_HR(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_LOCAL_SERVER,
                                                    tw::iid_of<IUnknown>(), p.out_void()));

    EXPECT_HR(S_OK, CoRevokeClassObject(cookie));
    EXPECT_EQ(1u, ref_count(factory.get())) << "revoking releases the registry's reference";
    EXPECT_HR((HRESULT)0x800401FB, CoRevokeClassObject(cookie));
    EXPECT_HR(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER,
                                                    tw::iid_of<IUnknown>(), p.out_void()));
}

TEST_F(ComRuntime, RegisteredFactoryDecidesRefusalsAndAggregation) {
    auto refusing = ComPtr<ThingFactory>::adopt(new ThingFactory(1, E_OUTOFMEMORY));
    DWORD cookie = 0;
    ASSERT_HR(S_OK, CoRegisterClassObject(CLSID_TestThing, refusing.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                          &cookie));
    ComPtr<IUnknown> p;
    EXPECT_HR(E_OUTOFMEMORY, CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, tw::iid_of<IUnknown>(),
                                              p.out_void()));
    EXPECT_FALSE(p);

    // The outer unknown reaches the factory, which refuses aggregation itself.
    auto outer = ComPtr<IPersist>::adopt(new Thing(0));
    auto plain = ComPtr<ThingFactory>::adopt(new ThingFactory(2));
    DWORD cookie2 = 0;
    ASSERT_HR(S_OK, CoRegisterClassObject(CLSID_TestThing, plain.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                          &cookie2));
    EXPECT_HR(CLASS_E_NOAGGREGATION, CoCreateInstance(CLSID_TestThing, outer.get(), CLSCTX_INPROC_SERVER,
                                                      tw::iid_of<IUnknown>(), p.out_void()));
    EXPECT_EQ(static_cast<IUnknown *>(outer.get()), plain->last_outer);
    EXPECT_EQ(1u, ref_count(outer.get()));

    // The latest registration serves; revoking it uncovers the earlier one.
    ComPtr<IPersist> got;
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, tw::iid_of<IPersist>(),
                                     got.out_void()));
    EXPECT_EQ(2, static_cast<Thing *>(got.get())->tag());
    EXPECT_HR(S_OK, CoRevokeClassObject(cookie2));
    EXPECT_HR(E_OUTOFMEMORY, CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, tw::iid_of<IUnknown>(),
                                              p.out_void()));
    EXPECT_HR(S_OK, CoRevokeClassObject(cookie));
}

TEST_F(ComRuntime, SingleUseRegistrationServesOnce) {
    auto factory = ComPtr<ThingFactory>::adopt(new ThingFactory(3));
    DWORD cookie = 0;
    ASSERT_HR(S_OK, CoRegisterClassObject(CLSID_TestThing, factory.get(), CLSCTX_INPROC_SERVER, REGCLS_SINGLEUSE,
                                          &cookie));
    ComPtr<IUnknown> p;
    EXPECT_HR(S_OK, CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, tw::iid_of<IUnknown>(),
                                     p.out_void()));
    EXPECT_HR(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER,
                                                    tw::iid_of<IUnknown>(), p.out_void()));
    EXPECT_EQ(1, factory->created);
    EXPECT_HR(S_OK, CoRevokeClassObject(cookie));
}

TEST_F(ComRuntime, BuiltinClassesCreateForIUnknownAndRefuseOtherInterfacesCleanly) {
    size_t n = 0;
    const tw::posix::BuiltinClass *table = tw::posix::builtin_classes(&n);
    if (n == 0) GTEST_SKIP() << "no built-in classes linked";
    for (size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(table[i].name);
        ComPtr<IUnknown> obj;
        ASSERT_HR(S_OK, CoCreateInstance(*table[i].clsid, nullptr, CLSCTX_INPROC_SERVER, tw::iid_of<IUnknown>(),
                                         obj.out_void()));
        EXPECT_EQ(1u, ref_count(obj.get()));
        obj = nullptr;
        const long live = live_objects();
        ComPtr<IMoniker> none;  // no built-in class is a moniker
        EXPECT_HR(E_NOINTERFACE, CoCreateInstance(*table[i].clsid, nullptr, CLSCTX_INPROC_SERVER,
                                                  tw::iid_of<IMoniker>(), none.out_void()));
        EXPECT_EQ(live, live_objects());
        auto outer = ComPtr<IPersist>::adopt(new Thing(0));
        EXPECT_HR(CLASS_E_NOAGGREGATION, CoCreateInstance(*table[i].clsid, outer.get(), CLSCTX_INPROC_SERVER,
                                                          tw::iid_of<IUnknown>(), obj.out_void()));
        ComPtr<IClassFactory> cf;
        ASSERT_HR(S_OK, CoGetClassObject(*table[i].clsid, CLSCTX_INPROC_SERVER, nullptr,
                                         tw::iid_of<IClassFactory>(), cf.out_void()));
        EXPECT_EQ(1u, ref_count(cf.get()));
        EXPECT_HR(S_OK, cf->CreateInstance(nullptr, tw::iid_of<IUnknown>(), obj.out_void()));
        EXPECT_HR(E_UNEXPECTED, cf->LockServer(FALSE));
    }
}

TEST(ComMemory, TaskMemoryAndBstr) {
    auto *p = static_cast<char *>(CoTaskMemAlloc(0));
    EXPECT_NE(nullptr, p) << "a zero-size block is still a block";
    p = static_cast<char *>(CoTaskMemRealloc(p, 6));
    ASSERT_NE(nullptr, p);
    std::memcpy(p, "hello", 6);
    p = static_cast<char *>(CoTaskMemRealloc(p, 4096));
    ASSERT_NE(nullptr, p);
    EXPECT_STREQ("hello", p);
    EXPECT_EQ(nullptr, CoTaskMemRealloc(p, 0)) << "realloc to 0 frees";
    CoTaskMemFree(nullptr);

    const OLECHAR with_nul[] = {u'a', 0, u'b'};
    BSTR b = SysAllocStringLen(with_nul, 3);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(3u, SysStringLen(b));
    EXPECT_EQ(u'b', b[2]);
    EXPECT_EQ(0, b[3]) << "terminated after the counted characters";
    uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<char *>(b) - 4, 4);
    EXPECT_EQ(6u, prefix) << "the prefix counts bytes";
    SysFreeString(b);

    b = SysAllocString(OLESTR("Tarnwick"));
    EXPECT_EQ(8u, SysStringLen(b));
    EXPECT_EQ(0, std::memcmp(b, OLESTR("Tarnwick"), 9 * sizeof(OLECHAR)));
    SysFreeString(b);
    EXPECT_EQ(nullptr, SysAllocString(nullptr));
    EXPECT_EQ(0u, SysStringLen(nullptr));
    SysFreeString(nullptr);
    b = SysAllocStringLen(nullptr, 2);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(2u, SysStringLen(b));
    SysFreeString(b);
}

TEST(ComThreads, ThreadIdentityAndLastErrorArePerThread) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    DWORD other_id = 0, other_error = 1;
    std::thread([&] {
        other_id = GetCurrentThreadId();
        other_error = GetLastError();
        SetLastError(ERROR_ACCESS_DENIED);
    }).join();
    EXPECT_NE(0u, other_id);
    EXPECT_NE(GetCurrentThreadId(), other_id);
    EXPECT_EQ(0u, other_error) << "a new thread starts with no error";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_NE(0u, GetCurrentProcessId());
    EXPECT_TRUE(IsEqualGUID(CLSID_TestThing, CLSID_TestThing));
    EXPECT_FALSE(IsEqualGUID(CLSID_TestThing, CLSID_Nowhere));
}

}  // namespace
