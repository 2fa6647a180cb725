// Item monikers: a delimiter and an item name, as CreateItemMoniker makes them. They serve as
// names in the running object table; binding through them is not supported (E_NOTIMPL).
#include "platform/posix/com/runtime.h"

#include "platform/posix/object.h"

#include <cstring>
#include <new>

namespace tw::posix {
namespace {

TW_DEFINE_GUID(CLSID_ItemMoniker, 0x00000304, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
// Answered only by our own item monikers, so that IsEqual can read the other's parts.
TW_DEFINE_GUID(IID_TwItemMoniker, 0x6b1e42c3, 0x0f5d, 0x4a8e, 0x9c, 0x31, 0x57, 0xd2, 0x8a, 0x40, 0x1b, 0x6e);
constexpr DWORD MKSYS_ITEMMONIKER = 4;

wstring copy_of(LPCOLESTR s) {
    wstring r;
    if (s)
        while (*s) r.push_back(*s++);
    return r;
}

class ItemMoniker final : public ComObject<IMoniker> {
public:
    ItemMoniker(wstring delimiter, wstring item) : delimiter_(std::move(delimiter)), item_(std::move(item)) {}

    // IPersist / IPersistStream. An item moniker never changes after creation.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *pClassID) override {
        if (!pClassID) return E_POINTER;
        *pClassID = CLSID_ItemMoniker;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(IStream *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(IStream *, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULONGLONG *) override { return E_NOTIMPL; }

    // IMoniker.
    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx *, IMoniker *, REFIID, void **ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx *, IMoniker *, REFIID, void **ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Reduce(IBindCtx *, DWORD, IMoniker **, IMoniker **reduced) override {
        if (reduced) *reduced = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker *, BOOL, IMoniker **composite) override {
        if (composite) *composite = nullptr;
        return E_NOTIMPL;
    }
    // An item moniker has no parts to enumerate: S_OK and no enumerator.
    HRESULT STDMETHODCALLTYPE Enum(BOOL, IEnumMoniker **ppenum) override {
        if (!ppenum) return E_POINTER;
        *ppenum = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsEqual(IMoniker *other) override {
        if (!other) return E_INVALIDARG;
        ComPtr<IUnknown> unk;
        if (FAILED(other->QueryInterface(IID_TwItemMoniker, unk.out_void())) || !unk) return S_FALSE;
        // Not counted: `unk` holds the reference for as long as `o` is used.
        auto *o = static_cast<ItemMoniker *>(static_cast<IMoniker *>(unk.get()));
        return equal_no_case(delimiter_, o->delimiter_) && equal_no_case(item_, o->item_) ? S_OK : S_FALSE;
    }
    // Equal monikers hash equally: the hash is taken over the case-folded item.
    HRESULT STDMETHODCALLTYPE Hash(DWORD *pdwHash) override {
        if (!pdwHash) return E_POINTER;
        DWORD h = 0;
        for (WCHAR c : item_) h = h * 3 ^ fold_case(c);
        *pdwHash = h;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx *, IMoniker *left, IMoniker *newlyRunning) override {
        if (left) return E_NOTIMPL;  // composites are not supported
        if (newlyRunning && IsEqual(newlyRunning) == S_OK) return S_OK;
        ComPtr<IRunningObjectTable> rot;
        HRESULT hr = GetRunningObjectTable(0, rot.out());
        if (FAILED(hr)) return hr;
        return rot->IsRunning(this);
    }
    HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx *, IMoniker *, FILETIME *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Inverse(IMoniker **ppmk) override {
        if (ppmk) *ppmk = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker *, IMoniker **prefix) override {
        if (prefix) *prefix = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker *, IMoniker **rel) override {
        if (rel) *rel = nullptr;
        return E_NOTIMPL;
    }
    // The delimiter followed by the item, in task memory the caller frees.
    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx *, IMoniker *, LPOLESTR *ppsz) override {
        if (!ppsz) return E_POINTER;
        *ppsz = nullptr;
        const wstring name = delimiter_ + item_;
        auto *s = static_cast<LPOLESTR>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
        if (!s) return E_OUTOFMEMORY;
        std::memcpy(s, name.c_str(), (name.size() + 1) * sizeof(OLECHAR));
        *ppsz = s;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx *, IMoniker *, LPOLESTR, ULONG *eaten,
                                               IMoniker **out) override {
        if (eaten) *eaten = 0;
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD *pdwMksys) override {
        if (!pdwMksys) return E_POINTER;
        *pdwMksys = MKSYS_ITEMMONIKER;
        return S_OK;
    }

private:
    void *GetInterface(REFIID riid) override {
        if (auto p = answer<IMoniker>(riid)) return p;
        if (auto p = answer<IPersistStream>(riid)) return p;
        if (auto p = answer<IPersist>(riid)) return p;
        if (riid == IID_TwItemMoniker) return static_cast<IMoniker *>(this);
        return nullptr;
    }

    const wstring delimiter_;
    const wstring item_;
};

}  // namespace
}  // namespace tw::posix

HRESULT CreateItemMoniker(LPCOLESTR lpszDelim, LPCOLESTR lpszItem, IMoniker **ppmk) {
    if (!ppmk) return E_INVALIDARG;
    *ppmk = nullptr;
    if (!lpszItem) return E_INVALIDARG;
    auto *m = new (std::nothrow)
        tw::posix::ItemMoniker(tw::posix::copy_of(lpszDelim), tw::posix::copy_of(lpszItem));
    if (!m) return E_OUTOFMEMORY;
    *ppmk = m;
    return S_OK;
}
