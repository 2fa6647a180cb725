// Base COM types, IUnknown, GUIDs and the COM runtime calls.
//
// On Windows the base of COM (GUID, HRESULT, IUnknown, IMoniker, IRunningObjectTable,
// CoCreateInstance, ...) comes from the system headers, and this file only adds the few
// helpers the project shares across targets. On Linux it declares the same names with the
// same layout; platform/posix implements them.
//
// Interface declarations follow the Windows SDK slot order exactly. They have no virtual
// destructors: under the Itanium ABI a virtual destructor takes two vtable slots and would
// shift every method after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <objbase.h>
#include <objidl.h>
#include <oleauto.h>

#else  // Linux

// ---- Fixed-width stand-ins for the SDK's integer types. The SDK's `long` is 32 bits on
// Windows; plain `long` is 64 bits here, so LONG is spelled int32_t.
typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef int32_t INT;
typedef uint32_t UINT;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t QWORD;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;
typedef char CHAR;
typedef char16_t WCHAR;  // COM strings are UTF-16 on every target
typedef WCHAR OLECHAR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef void *LPVOID;
typedef DWORD LCID;
typedef OLECHAR *BSTR;
typedef void *HANDLE;
typedef LONG DISPID;
typedef WORD VARTYPE;
typedef int16_t SHORT;
typedef uint16_t USHORT;

#define TRUE 1
#define FALSE 0
#define STDMETHODCALLTYPE
#define WINAPI
#define OLESTR(s) u##s

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID &REFGUID;
typedef const IID &REFIID;
typedef const CLSID &REFCLSID;

inline bool operator==(const GUID &a, const GUID &b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool operator!=(const GUID &a, const GUID &b) { return !(a == b); }

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
struct RECT {
    LONG left, top, right, bottom;
};
struct POINT {
    LONG x, y;
};
struct SIZE {
    LONG cx, cy;
};

// ---- HRESULT helpers and the codes the project uses. Values are the platform's.
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define MAKE_HRESULT(sev, fac, code) \
    ((HRESULT)(((uint32_t)(sev) << 31) | ((uint32_t)(fac) << 16) | ((uint32_t)(code))))
#define FACILITY_WIN32 7
#define FACILITY_ITF 4
inline HRESULT HRESULT_FROM_WIN32(uint32_t x) {
    return (HRESULT)x <= 0 ? (HRESULT)x : (HRESULT)((x & 0x0000FFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_HANDLE ((HRESULT)0x80070006)
#define E_ABORT ((HRESULT)0x80004004)
#define E_FAIL ((HRESULT)0x80004005)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_PENDING ((HRESULT)0x8000000A)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106)
#define MK_S_MONIKERALREADYREGISTERED ((HRESULT)0x000401E7)
#define MK_E_UNAVAILABLE ((HRESULT)0x800401E3)
#define MK_E_NOOBJECT ((HRESULT)0x800401E5)
#define MK_E_SYNTAX ((HRESULT)0x800401E4)
#define MK_E_NOTBINDABLE ((HRESULT)0x800401E8)
#define DISP_E_UNKNOWNINTERFACE ((HRESULT)0x80020001)

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_HANDLE_DISK_FULL 39u
#define ERROR_FILE_EXISTS 80u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_DISK_FULL 112u
#define ERROR_INVALID_NAME 123u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_INVALID_WINDOW_HANDLE 1400u
#define ERROR_NOT_ENOUGH_QUOTA 1816u

// ---- IUnknown and the COM base interfaces the project names.
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown *LPUNKNOWN;

struct IClassFactory : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};

struct IPersist : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID *pClassID) = 0;
};

struct ITypeInfo;  // never called: IDispatch methods of our objects answer E_NOTIMPL
struct DISPPARAMS;
struct VARIANT;
struct EXCEPINFO;
struct IDispatch : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *pctinfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo **ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *rgszNames, UINT cNames, LCID lcid,
                                                    DISPID *rgDispId) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                             DISPPARAMS *pDispParams, VARIANT *pVarResult, EXCEPINFO *pExcepInfo,
                                             UINT *puArgErr) = 0;
};

struct IStream;
struct IBindCtx;
struct IEnumMoniker;
struct IEnumString;
struct IRunningObjectTable;

struct IPersistStream : public IPersist {
    virtual HRESULT STDMETHODCALLTYPE IsDirty() = 0;
    virtual HRESULT STDMETHODCALLTYPE Load(IStream *pStm) = 0;
    virtual HRESULT STDMETHODCALLTYPE Save(IStream *pStm, BOOL fClearDirty) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSizeMax(ULONGLONG *pcbSize) = 0;
};

struct IMoniker : public IPersistStream {
    virtual HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx *pbc, IMoniker *pmkToLeft, REFIID riidResult,
                                                   void **ppvResult) = 0;
    virtual HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx *pbc, IMoniker *pmkToLeft, REFIID riid,
                                                    void **ppvObj) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reduce(IBindCtx *pbc, DWORD dwReduceHowFar, IMoniker **ppmkToLeft,
                                             IMoniker **ppmkReduced) = 0;
    virtual HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker *pmkRight, BOOL fOnlyIfNotGeneric,
                                                  IMoniker **ppmkComposite) = 0;
    virtual HRESULT STDMETHODCALLTYPE Enum(BOOL fForward, IEnumMoniker **ppenumMoniker) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsEqual(IMoniker *pmkOtherMoniker) = 0;
    virtual HRESULT STDMETHODCALLTYPE Hash(DWORD *pdwHash) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx *pbc, IMoniker *pmkToLeft, IMoniker *pmkNewlyRunning) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx *pbc, IMoniker *pmkToLeft, FILETIME *pFileTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE Inverse(IMoniker **ppmk) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker *pmkOther, IMoniker **ppmkPrefix) = 0;
    virtual HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker *pmkOther, IMoniker **ppmkRelPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx *pbc, IMoniker *pmkToLeft,
                                                     LPOLESTR *ppszDisplayName) = 0;
    virtual HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx *pbc, IMoniker *pmkToLeft, LPOLESTR pszDisplayName,
                                                       ULONG *pchEaten, IMoniker **ppmkOut) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD *pdwMksys) = 0;
};

struct IEnumMoniker : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, IMoniker **rgelt, ULONG *pceltFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker **ppenum) = 0;
};

struct IRunningObjectTable : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Register(DWORD grfFlags, IUnknown *punkObject, IMoniker *pmkObjectName,
                                               DWORD *pdwRegister) = 0;
    virtual HRESULT STDMETHODCALLTYPE Revoke(DWORD dwRegister) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsRunning(IMoniker *pmkObjectName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetObject(IMoniker *pmkObjectName, IUnknown **ppunkObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE NoteChangeTime(DWORD dwRegister, FILETIME *pfiletime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IMoniker *pmkObjectName, FILETIME *pfiletime) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumRunning(IEnumMoniker **ppenumMoniker) = 0;
};
#define ROTFLAGS_REGISTRATIONKEEPSALIVE 0x1
#define ROTFLAGS_ALLOWANYCLIENT 0x2

struct IServiceProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryService(REFGUID guidService, REFIID riid, void **ppvObject) = 0;
};

// ---- The COM runtime (platform/posix/com.cpp).
enum CLSCTX {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_INPROC = 0x3,
    CLSCTX_ALL = 0x17,
};
enum REGCLS { REGCLS_SINGLEUSE = 0, REGCLS_MULTIPLEUSE = 1, REGCLS_MULTI_SEPARATE = 2 };
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_MULTITHREADED 0x0

HRESULT CoInitialize(LPVOID pvReserved);
HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID *ppv);
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid, LPVOID *ppv);
HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown *pUnk, DWORD dwClsContext, DWORD flags,
                              DWORD *lpdwRegister);
HRESULT CoRevokeClassObject(DWORD dwRegister);
LPVOID CoTaskMemAlloc(size_t cb);
LPVOID CoTaskMemRealloc(LPVOID pv, size_t cb);
void CoTaskMemFree(LPVOID pv);
BOOL IsEqualGUID(REFGUID a, REFGUID b);
inline BOOL IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
inline BOOL IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }

HRESULT GetRunningObjectTable(DWORD reserved, IRunningObjectTable **pprot);
HRESULT CreateItemMoniker(LPCOLESTR lpszDelim, LPCOLESTR lpszItem, IMoniker **ppmk);
HRESULT CreateBindCtx(DWORD reserved, IBindCtx **ppbc);

BSTR SysAllocString(const OLECHAR *psz);
BSTR SysAllocStringLen(const OLECHAR *strIn, UINT ui);
void SysFreeString(BSTR bstrString);
UINT SysStringLen(BSTR pbstr);

DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

#endif  // Linux

// ---- Interface identifiers, shared by both targets.
//
// TW_DEFINE_GUID defines a GUID constant with the SDK's name. TW_DECLARE_IID additionally
// ties the constant to its interface so that ComPtr<I>::query and tw::iid_of<I>() find it.
namespace tw {
template <class I>
struct iid_traits;  // specialised once per interface by TW_DECLARE_IID / TW_BIND_IID
template <class I>
inline const IID &iid_of() {
    return iid_traits<I>::get();
}
}  // namespace tw

#define TW_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

#define TW_BIND_IID(iface, iidname)                         \
    namespace tw {                                          \
    template <>                                             \
    struct iid_traits<iface> {                              \
        static const IID &get() { return iidname; }         \
    };                                                      \
    }

#define TW_DECLARE_IID(iface, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)      \
    TW_DEFINE_GUID(IID_##iface, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8); \
    TW_BIND_IID(iface, IID_##iface)

#if defined(_WIN32)
// The system's own IIDs for the COM base interfaces.
TW_BIND_IID(IUnknown, IID_IUnknown)
TW_BIND_IID(IClassFactory, IID_IClassFactory)
TW_BIND_IID(IPersist, IID_IPersist)
TW_BIND_IID(IDispatch, IID_IDispatch)
TW_BIND_IID(IMoniker, IID_IMoniker)
TW_BIND_IID(IRunningObjectTable, IID_IRunningObjectTable)
TW_BIND_IID(IEnumMoniker, IID_IEnumMoniker)
TW_BIND_IID(IServiceProvider, IID_IServiceProvider)
TW_BIND_IID(IPersistStream, IID_IPersistStream)
#else
TW_DECLARE_IID(IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TW_DECLARE_IID(IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TW_DECLARE_IID(IPersist, 0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TW_DECLARE_IID(IPersistStream, 0x00000109, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TW_DECLARE_IID(IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TW_DECLARE_IID(IMoniker, 0x0000000F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TW_DECLARE_IID(IRunningObjectTable, 0x00000010, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TW_DECLARE_IID(IEnumMoniker, 0x00000102, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
TW_DECLARE_IID(IServiceProvider, 0x6D5140C1, 0x7436, 0x11CE, 0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA);
#endif

namespace tw {
// UTF-16 text as COM passes it, on both targets.
using wstring = std::basic_string<WCHAR>;
}  // namespace tw
