// Building blocks for the COM objects of our platform layer.
//
// ComObject<Primary, Others...> implements IUnknown once for an object that exposes several
// interfaces. The reference count starts at 1: whoever calls `new` owns that reference and
// hands it on with ComPtr<I>::adopt or as an out-parameter. Every object counts itself in the
// live-object counter, so tests can check that nothing outlives a graph.
#pragma once

#include "platform/comptr.h"

#include <atomic>

namespace tw::posix {

// Number of platform COM objects currently alive (all threads).
long live_objects();

class LiveObject {
public:
    LiveObject();
    LiveObject(const LiveObject &);
    ~LiveObject();
};

template <class Primary, class... Others>
class ComObject : public Primary, public Others... {
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
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    // The object's identity: the IUnknown every QueryInterface(IID_IUnknown) returns.
    IUnknown *identity() { return static_cast<Primary *>(this); }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

    // Returns the interface pointer for riid (already cast to that interface), or nullptr.
    // IUnknown is answered above; every other interface, bases included, is answered here.
    virtual void *GetInterface(REFIID riid) = 0;

    // Helper for GetInterface: `if (auto p = answer<IBaseFilter>(riid)) return p;`
    template <class I, class Via = I>
    void *answer(REFIID riid) {
        return IsEqualGUID(riid, iid_of<I>()) ? static_cast<I *>(static_cast<Via *>(this)) : nullptr;
    }

private:
    std::atomic<ULONG> refs_{1};
    LiveObject live_;
};

}  // namespace tw::posix
