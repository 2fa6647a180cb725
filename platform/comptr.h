// ComPtr: the one owner of a counted COM reference.
//
// Adopting and adding a reference are explicit (ComPtr<I>::adopt, ComPtr<I>::addref) so that
// every place that takes ownership says which it does. `out()` releases what is held and hands
// the address to a function that returns a new reference through an out-parameter.
#pragma once

#include "platform/com.h"

#include <utility>

namespace tw {

template <class I>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    ComPtr(const ComPtr &o) noexcept : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    ComPtr(ComPtr &&o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    ~ComPtr() { reset(); }

    ComPtr &operator=(const ComPtr &o) noexcept {
        if (o.p_) o.p_->AddRef();
        reset();
        p_ = o.p_;
        return *this;
    }
    ComPtr &operator=(ComPtr &&o) noexcept {
        if (this != &o) {
            reset();
            p_ = o.p_;
            o.p_ = nullptr;
        }
        return *this;
    }
    ComPtr &operator=(std::nullptr_t) noexcept {
        reset();
        return *this;
    }

    // Takes over a reference the caller already owns (no AddRef).
    static ComPtr adopt(I *p) noexcept {
        ComPtr r;
        r.p_ = p;
        return r;
    }
    // Takes a new reference of its own (AddRef).
    static ComPtr addref(I *p) noexcept {
        ComPtr r;
        r.p_ = p;
        if (p) p->AddRef();
        return r;
    }

    I *get() const noexcept { return p_; }
    I *operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Releases what is held and returns the slot for an out-parameter.
    I **out() noexcept {
        reset();
        return &p_;
    }
    // The same slot typed for QueryInterface-style `void **` out-parameters.
    void **out_void() noexcept { return reinterpret_cast<void **>(out()); }

    // Gives up ownership without releasing: the caller now owns the reference.
    I *detach() noexcept {
        I *p = p_;
        p_ = nullptr;
        return p;
    }

    void reset() noexcept {
        if (p_) {
            I *p = p_;
            p_ = nullptr;
            p->Release();
        }
    }

    // Typed QueryInterface; the HRESULT is kept in `hr` when asked for.
    template <class Q>
    ComPtr<Q> query(HRESULT *hr = nullptr) const {
        ComPtr<Q> r;
        HRESULT h = p_ ? p_->QueryInterface(iid_of<Q>(), r.out_void()) : E_POINTER;
        if (FAILED(h)) r = nullptr;
        if (hr) *hr = h;
        return r;
    }

    friend bool operator==(const ComPtr &a, const ComPtr &b) { return a.p_ == b.p_; }
    friend bool operator!=(const ComPtr &a, const ComPtr &b) { return a.p_ != b.p_; }

private:
    I *p_ = nullptr;
};

// Current reference count of an object, read the only way COM allows (AddRef then Release).
// For tests and diagnostics only.
inline ULONG ref_count(IUnknown *p) {
    if (!p) return 0;
    p->AddRef();
    return p->Release();
}

}  // namespace tw
