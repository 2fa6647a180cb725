// COM enumerators (IEnumPins, IEnumFilters, IEnumMediaTypes, IEnumMoniker), written once for
// the platform layer's objects and the tests' fakes.
//
// An enumerator walks a snapshot of its owner's items, taken when it is made and again on
// Reset. An owner whose list can change gives a version: once the owner's version is no longer
// the one taken with the snapshot, Next and Skip answer the owner's out-of-sync result until
// Reset, as DirectShow's enumerators do. An owner with a fixed list gives no version, and Reset
// then only rewinds. Clones share nothing with their original but the owner.
//
// An enumerator is used by one thread at a time, as COM enumerators are. An owner whose list
// other threads change names its lock: the list is taken, its version checked and its items
// handed out under it, so an item removed meanwhile is never touched.
#pragma once

#include "platform/comobject.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace tw {

// What Next answers when it is not given a place for the count: DirectShow's enumerators need
// it for anything but exactly one item (E_POINTER); COM's for more than one (E_INVALIDARG).
enum class CountRule { kDirectShow, kCom };

// The caller's new reference to an item the snapshot holds (counted or not).
template <class Item>
Item *hand_out_reference(Item *const &p) {
    p->AddRef();
    return p;
}
template <class Item>
Item *hand_out_counted(const ComPtr<Item> &p) {
    return ComPtr<Item>(p).detach();
}

template <class Held>
struct EnumSource {
    ComPtr<IUnknown> owner;  // kept alive while any enumerator over it lives
    std::mutex *lock = nullptr;  // the owner's, when other threads change its list
    // Fills the list with the items as they are now and returns the owner's version of them
    // (under the lock). Empty for a fixed list, which is given to the enumerator instead.
    std::function<int(std::vector<Held> &)> take;
    std::function<int()> version;  // the owner's version now (under the lock); empty: never out of sync
    HRESULT out_of_sync = E_FAIL;
    CountRule count_rule = CountRule::kDirectShow;
};

// Held is what the snapshot keeps: by default the owner's own pointers, which live as long as
// the owner and the version it was taken with; HandOut makes the caller's item from it (a new
// reference, a new copy), or returns null when it cannot, which ends that Next early.
template <class Counter, class Enum, class Item, class Held = Item *,
          Item *(*HandOut)(const Held &) = hand_out_reference<Item>>
class SnapshotEnumerator final : public CountedObject<Counter, Enum> {
public:
    using Source = EnumSource<Held>;

    // Over the owner's items as they are now.
    explicit SnapshotEnumerator(std::shared_ptr<const Source> source) : source_(std::move(source)) {
        std::unique_lock<std::mutex> g = lock();
        take();
    }
    // Over a fixed list.
    SnapshotEnumerator(std::shared_ptr<const Source> source, std::vector<Held> items)
        : source_(std::move(source)), items_(std::move(items)) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item **out, ULONG *fetched) override {
        if (!out) return E_POINTER;
        if (!fetched) {
            if (source_->count_rule == CountRule::kDirectShow && count != 1) return E_POINTER;
            if (source_->count_rule == CountRule::kCom && count > 1) return E_INVALIDARG;
        }
        std::unique_lock<std::mutex> g = lock();
        if (!in_sync()) {
            if (fetched) *fetched = 0;
            return source_->out_of_sync;
        }
        ULONG n = 0;
        while (n < count && pos_ < items_.size()) {
            out[n] = HandOut(items_[pos_]);
            if (!out[n]) break;
            ++n;
            ++pos_;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        std::unique_lock<std::mutex> g = lock();
        if (!in_sync()) return source_->out_of_sync;
        const size_t left = items_.size() - pos_;
        pos_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        std::unique_lock<std::mutex> g = lock();
        if (source_->take) take();
        pos_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Enum **pp) override {
        if (!pp) return E_POINTER;
        *pp = new SnapshotEnumerator(source_, items_, seen_, pos_);
        return S_OK;
    }

private:
    SnapshotEnumerator(std::shared_ptr<const Source> source, std::vector<Held> items, int seen, size_t pos)
        : source_(std::move(source)), items_(std::move(items)), seen_(seen), pos_(pos) {}

    void *GetInterface(REFIID riid) override { return this->template answer<Enum>(riid); }

    std::unique_lock<std::mutex> lock() const {
        return source_->lock ? std::unique_lock<std::mutex>(*source_->lock) : std::unique_lock<std::mutex>();
    }
    void take() {
        items_.clear();
        seen_ = source_->take(items_);
    }
    bool in_sync() const { return !source_->version || source_->version() == seen_; }

    std::shared_ptr<const Source> source_;
    std::vector<Held> items_;
    int seen_ = 0;
    size_t pos_ = 0;
};

}  // namespace tw
