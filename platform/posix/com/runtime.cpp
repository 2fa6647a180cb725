// The COM runtime: per-thread initialisation, the class registry behind CoCreateInstance and
// CoGetClassObject, task memory, BSTRs, and the thread's last-error value.
//
// Class objects registered with CoRegisterClassObject are process-wide (one table for all
// threads) and are looked up before the built-in classes of classes.cpp; a class registered
// more than once is served by its latest registration.
#include "platform/posix/com/runtime.h"

#include "platform/classfactory.h"
#include "platform/posix/object.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace tw::posix {
namespace {

// ---- Apartment state of the calling thread.
struct Apartment {
    int count = 0;        // successful CoInitialize(Ex) calls not yet balanced
    DWORD mode = 0;       // COINIT_APARTMENTTHREADED or COINIT_MULTITHREADED
};
thread_local Apartment t_apartment;
thread_local DWORD t_last_error = 0;

// ---- Class objects registered at run time.
struct Registration {
    DWORD cookie;
    CLSID clsid;
    DWORD context;
    DWORD flags;
    bool used;  // a REGCLS_SINGLEUSE registration serves one request only
    ComPtr<IUnknown> object;
};

// Guards g_registrations and g_next_cookie. Never held while calling into an object.
std::mutex g_registry_lock;
std::vector<Registration> g_registrations;
DWORD g_next_cookie = 1;

// The registered class object for clsid (a new reference), or null.
ComPtr<IUnknown> find_registered(REFCLSID clsid, DWORD context) {
    std::lock_guard<std::mutex> lock(g_registry_lock);
    for (auto it = g_registrations.rbegin(); it != g_registrations.rend(); ++it) {
        if (it->clsid != clsid || !(it->context & context) || it->used) continue;
        if (it->flags == REGCLS_SINGLEUSE) it->used = true;
        return it->object;
    }
    return nullptr;
}

const BuiltinClass *find_builtin(REFCLSID clsid) {
    size_t n = 0;
    const BuiltinClass *table = builtin_classes(&n);
    for (size_t i = 0; i < n; ++i)
        if (table[i].clsid && *table[i].clsid == clsid) return &table[i];
    return nullptr;
}

// Creates a built-in object and asks it for riid. The object is first created for IUnknown
// so that a refused interface never leaves a reference behind, whatever the create function
// does on its own.
HRESULT create_builtin(const BuiltinClass &cls, REFIID riid, void **ppv) {
    ComPtr<IUnknown> unk;
    HRESULT hr = cls.create(nullptr, iid_of<IUnknown>(), unk.out_void());
    if (FAILED(hr)) return hr;
    if (!unk) return E_UNEXPECTED;
    return unk->QueryInterface(riid, ppv);
}

}  // namespace

bool com_initialized() { return t_apartment.count > 0; }

}  // namespace tw::posix

using namespace tw::posix;
using tw::ComPtr;

// ---- Initialisation.

HRESULT CoInitializeEx(LPVOID reserved, DWORD flags) {
    if (reserved) return E_INVALIDARG;
    const DWORD mode = flags & COINIT_APARTMENTTHREADED;
    Apartment &apt = t_apartment;
    if (apt.count > 0) {
        if (apt.mode != mode) return RPC_E_CHANGED_MODE;  // not counted: no CoUninitialize due
        ++apt.count;
        return S_FALSE;
    }
    apt.mode = mode;
    apt.count = 1;
    return S_OK;
}

HRESULT CoInitialize(LPVOID reserved) {
    // CoInitialize ignores its reserved argument.
    (void)reserved;
    return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
    if (t_apartment.count > 0) --t_apartment.count;
}

// ---- Class registry.

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown *pUnk, DWORD dwClsContext, DWORD flags,
                              DWORD *lpdwRegister) {
    if (!pUnk || !lpdwRegister) return E_INVALIDARG;
    if (!com_initialized()) return CO_E_NOTINITIALIZED;
    std::lock_guard<std::mutex> lock(g_registry_lock);
    DWORD cookie = g_next_cookie++;
    if (g_next_cookie == 0) g_next_cookie = 1;
    g_registrations.push_back({cookie, rclsid, dwClsContext, flags, false, ComPtr<IUnknown>::addref(pUnk)});
    *lpdwRegister = cookie;
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD dwRegister) {
    ComPtr<IUnknown> released;  // let go of outside the lock
    {
        std::lock_guard<std::mutex> lock(g_registry_lock);
        for (auto it = g_registrations.begin(); it != g_registrations.end(); ++it) {
            if (it->cookie != dwRegister) continue;
            released = std::move(it->object);
            g_registrations.erase(it);
            return S_OK;
        }
    }
    return CO_E_OBJNOTREG;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid, LPVOID *ppv) {
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (!com_initialized()) return CO_E_NOTINITIALIZED;
    if (ComPtr<IUnknown> registered = find_registered(rclsid, dwClsContext))
        return registered->QueryInterface(riid, ppv);
    const BuiltinClass *cls = (dwClsContext & CLSCTX_INPROC) ? find_builtin(rclsid) : nullptr;
    if (!cls) return REGDB_E_CLASSNOTREG;
    // The class object CoGetClassObject hands out for a built-in class; cls is an entry of the
    // static table, which lives as long as the program.
    auto factory = ComPtr<IClassFactory>::adopt(new tw::CallableFactory<LiveObject>(
        [cls](REFIID iid, void **out) { return create_builtin(*cls, iid, out); }));
    return factory->QueryInterface(riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID *ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!com_initialized()) return CO_E_NOTINITIALIZED;
    if (ComPtr<IUnknown> registered = find_registered(rclsid, dwClsContext)) {
        // A registered class decides itself whether it can be aggregated.
        ComPtr<IClassFactory> factory = registered.query<IClassFactory>();
        if (!factory) return E_NOINTERFACE;
        HRESULT hr = factory->CreateInstance(pUnkOuter, riid, ppv);
        if (FAILED(hr)) *ppv = nullptr;
        return hr;
    }
    const BuiltinClass *cls = (dwClsContext & CLSCTX_INPROC) ? find_builtin(rclsid) : nullptr;
    if (!cls) return REGDB_E_CLASSNOTREG;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    return create_builtin(*cls, riid, ppv);
}

BOOL IsEqualGUID(REFGUID a, REFGUID b) { return a == b ? TRUE : FALSE; }

// ---- Task memory.

LPVOID CoTaskMemAlloc(size_t cb) { return std::malloc(cb ? cb : 1); }

LPVOID CoTaskMemRealloc(LPVOID pv, size_t cb) {
    if (cb == 0 && pv) {
        std::free(pv);
        return nullptr;
    }
    return std::realloc(pv, cb ? cb : 1);
}

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

// ---- BSTR: a 32-bit byte count, then the characters, then a NUL; the BSTR points at the
// first character.

BSTR SysAllocStringLen(const OLECHAR *strIn, UINT ui) {
    const size_t bytes = size_t(ui) * sizeof(OLECHAR);
    if (bytes > 0x7FFFFFF0u) return nullptr;
    // The prefix is placed so that the characters keep the allocator's alignment.
    char *block = static_cast<char *>(std::malloc(sizeof(uint64_t) + bytes + sizeof(OLECHAR)));
    if (!block) return nullptr;
    char *chars = block + sizeof(uint64_t);
    const uint32_t count = static_cast<uint32_t>(bytes);
    std::memcpy(chars - sizeof(uint32_t), &count, sizeof(count));
    if (strIn)
        std::memcpy(chars, strIn, bytes);
    else
        std::memset(chars, 0, bytes);
    reinterpret_cast<OLECHAR *>(chars)[ui] = 0;
    return reinterpret_cast<BSTR>(chars);
}

BSTR SysAllocString(const OLECHAR *psz) {
    if (!psz) return nullptr;
    UINT n = 0;
    while (psz[n]) ++n;
    return SysAllocStringLen(psz, n);
}

UINT SysStringLen(BSTR s) {
    if (!s) return 0;
    uint32_t count;
    std::memcpy(&count, reinterpret_cast<char *>(s) - sizeof(uint32_t), sizeof(count));
    return count / sizeof(OLECHAR);
}

void SysFreeString(BSTR s) {
    if (s) std::free(reinterpret_cast<char *>(s) - sizeof(uint64_t));
}

// ---- Binding contexts are not supported: nothing in the layer binds monikers.

HRESULT CreateBindCtx(DWORD reserved, IBindCtx **ppbc) {
    if (ppbc) *ppbc = nullptr;
    return E_NOTIMPL;
}

// ---- Process, thread, last error.

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

DWORD GetCurrentThreadId() {
    thread_local const DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

DWORD GetLastError() { return t_last_error; }

void SetLastError(DWORD dwErrCode) { t_last_error = dwErrCode; }
