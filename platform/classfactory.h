// A class object (IClassFactory) whose CreateInstance is a callable, written once for the
// platform's built-in classes and the tests' registered fakes. None of our classes can be
// aggregated. Any thread.
#pragma once

#include "platform/comobject.h"

#include <atomic>
#include <functional>
#include <utility>

namespace tw {

template <class Counter>
class CallableFactory : public CountedObject<Counter, IClassFactory> {
public:
    using Create = std::function<HRESULT(REFIID, void **)>;
    explicit CallableFactory(Create create) : create_(std::move(create)) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, ppv);
    }
    // The classes are linked into the program, so there is no server to keep loaded; the count
    // is kept only so that an unbalanced unlock is reported.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ++locks_;
            return S_OK;
        }
        int n = locks_.load();
        do {
            if (n == 0) return E_UNEXPECTED;
        } while (!locks_.compare_exchange_weak(n, n - 1));
        return S_OK;
    }

protected:
    void *GetInterface(REFIID riid) override { return this->template answer<IClassFactory>(riid); }

private:
    Create create_;
    std::atomic<int> locks_{0};
};

}  // namespace tw
