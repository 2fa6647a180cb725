// Counted COM objects for tests, usable on both targets.
//
// Fake<Primary, Others...> implements IUnknown once: the count starts at 1 (the creator's
// reference), QueryInterface answers IUnknown and whatever Find returns, and every fake counts
// itself in live_fakes() so a test can check that nothing it made outlives it.
#pragma once

#include "platform/comptr.h"

#include <atomic>

namespace tw::test {

inline std::atomic<int> &live_fakes() {
    static std::atomic<int> count{0};
    return count;
}

template <class Primary, class... Others>
class Fake : public Primary, public Others... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        void *p = IsEqualGUID(riid, IID_IUnknown) ? static_cast<IUnknown *>(static_cast<Primary *>(this)) : Find(riid);
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

    ULONG refs() const { return refs_; }
    IUnknown *unknown() { return static_cast<Primary *>(this); }

protected:
    Fake() { ++live_fakes(); }
    virtual ~Fake() { --live_fakes(); }

    // The interface pointer for riid (already cast), or nullptr. IUnknown is answered above.
    virtual void *Find(REFIID riid) = 0;
    virtual void OnRelease() {}       // every Release, before the count drops
    virtual void OnFinalRelease() {}  // the last Release, before the object is deleted

    template <class I, class Via = I>
    void *answer(REFIID riid) {
        return IsEqualGUID(riid, iid_of<I>()) ? static_cast<I *>(static_cast<Via *>(this)) : nullptr;
    }

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace tw::test
