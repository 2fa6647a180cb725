// IUnknown, written once for every COM object of ours: the platform layer's objects and the
// tests' fakes alike.
//
// CountedObject<Counter, Primary, Others...> implements QueryInterface, AddRef and Release for
// an object that exposes several interfaces. The reference count starts at 1: whoever calls
// `new` owns that reference and hands it on (ComPtr<I>::adopt, or an out-parameter). Counter is
// a member whose construction and destruction count the living objects of a kind (the platform
// layer's objects, a test's fakes); Uncounted counts nothing. Any thread.
#pragma once

#include "platform/comptr.h"

#include <atomic>

namespace tw {

struct Uncounted {};

template <class Counter, class Primary, class... Others>
class CountedObject : public Primary, public Others... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        void *p = IsEqualGUID(riid, iid_of<IUnknown>()) ? identity() : GetInterface(riid);
        if (!p) return E_NOINTERFACE;
        AddRef();
        *ppv = p;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        OnRelease();
        ULONG n = --refs_;
        if (n == 0) {
            OnFinalRelease();
            delete this;
        }
        return n;
    }

    // The object's identity: the IUnknown every QueryInterface(IID_IUnknown) returns.
    IUnknown *identity() { return static_cast<Primary *>(this); }
    ULONG refs() const { return refs_; }

protected:
    CountedObject() = default;
    virtual ~CountedObject() = default;

    // Returns the interface pointer for riid (already cast to that interface), or nullptr.
    // IUnknown is answered above; every other interface, bases included, is answered here.
    virtual void *GetInterface(REFIID riid) = 0;
    virtual void OnRelease() {}       // every Release, before the count drops
    virtual void OnFinalRelease() {}  // the last Release, before the object is deleted

    // Helper for GetInterface: `if (auto p = answer<IBaseFilter>(riid)) return p;`
    template <class I, class Via = I>
    void *answer(REFIID riid) {
        return IsEqualGUID(riid, iid_of<I>()) ? static_cast<I *>(static_cast<Via *>(this)) : nullptr;
    }

private:
    std::atomic<ULONG> refs_{1};
    [[no_unique_address]] Counter counter_;
};

}  // namespace tw
