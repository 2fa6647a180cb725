// TInterfaceList and the filter and pin snapshots built on it.
#include "dsutil/DSUtil.h"

#include "platform/directshow.h"

#include <cstdio>
#include <utility>

namespace {

[[noreturn]] void raise_index_error(int index) {
    char text[64];
    std::snprintf(text, sizeof text, "List index out of bounds (%d)", index);
    throw EListError(text);
}

const char kNotSupported[] = "Interface not supported";

}  // namespace

// ---- TInterfaceList
//
// Every operation holds lock_ while it touches items_. References leaving the list are moved
// out under the lock and released after it is dropped: a Release may destroy the object, and
// its destructor may come back to this list.

TInterfaceList::~TInterfaceList() = default;

int TInterfaceList::Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int>(items_.size());
}

int TInterfaceList::Add(IUnknown *Item) {
    auto ref = tw::ComPtr<IUnknown>::addref(Item);
    std::lock_guard<std::mutex> guard(lock_);
    items_.push_back(std::move(ref));
    return static_cast<int>(items_.size()) - 1;
}

int TInterfaceList::IndexOf(IUnknown *Item) const {
    std::lock_guard<std::mutex> guard(lock_);
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == Item) return static_cast<int>(i);
    return -1;
}

int TInterfaceList::Remove(IUnknown *Item) {
    tw::ComPtr<IUnknown> dropped;  // released on return, after the lock
    std::lock_guard<std::mutex> guard(lock_);
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].get() == Item) {
            dropped = std::move(items_[i]);
            items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
            return static_cast<int>(i);
        }
    }
    return -1;
}

void TInterfaceList::Delete(int Index) {
    tw::ComPtr<IUnknown> dropped;
    std::lock_guard<std::mutex> guard(lock_);
    if (Index < 0 || static_cast<size_t>(Index) >= items_.size()) raise_index_error(Index);
    dropped = std::move(items_[static_cast<size_t>(Index)]);
    items_.erase(items_.begin() + Index);
}

void TInterfaceList::Clear() {
    std::vector<tw::ComPtr<IUnknown>> dropped;
    std::lock_guard<std::mutex> guard(lock_);
    dropped.swap(items_);
}

tw::ComPtr<IUnknown> TInterfaceList::Get(int Index) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (Index < 0 || static_cast<size_t>(Index) >= items_.size()) raise_index_error(Index);
    return items_[static_cast<size_t>(Index)];
}

// ---- TFilterList

TFilterList::TFilterList(IFilterGraph *Graph) : GraphRef(tw::ComPtr<IFilterGraph>::addref(Graph)) {
    if (!Graph) return;
    tw::ComPtr<IEnumFilters> filters;
    if (FAILED(Graph->EnumFilters(filters.out())) || !filters) return;
    // Anything but S_OK ends the snapshot: S_FALSE at the end, or an error such as an
    // enumerator that went out of step with the graph. The entries so far are kept.
    for (;;) {
        tw::ComPtr<IBaseFilter> filter;
        if (filters->Next(1, filter.out(), nullptr) != S_OK) break;
        Add(filter.get());
    }
}

TFilterList::~TFilterList() = default;

tw::ComPtr<IBaseFilter> TFilterList::Items(int Index) const {
    tw::ComPtr<IUnknown> entry = Get(Index);
    if (!entry) return nullptr;  // a null entry a caller added reads back as null
    auto filter = entry.query<IBaseFilter>();
    if (!filter) throw EIntfCastError(kNotSupported);
    return filter;
}

int TFilterList::Add(IBaseFilter *Filter) { return TInterfaceList::Add(Filter); }

int TFilterList::Remove(IBaseFilter *Filter) { return TInterfaceList::Remove(Filter); }

// ---- TPinList

TPinList::TPinList(IBaseFilter *Filter) : FilterRef(tw::ComPtr<IBaseFilter>::addref(Filter)) {
    if (!Filter) return;
    tw::ComPtr<IEnumPins> pins;
    if (FAILED(Filter->EnumPins(pins.out())) || !pins) return;
    for (;;) {
        tw::ComPtr<IPin> pin;
        if (pins->Next(1, pin.out(), nullptr) != S_OK) break;
        Add(pin.get());
    }
}

// The filter goes first, then the base class releases the pins.
TPinList::~TPinList() { FilterRef = nullptr; }

tw::ComPtr<IPin> TPinList::Items(int Index) const {
    tw::ComPtr<IUnknown> entry = Get(Index);
    if (!entry) return nullptr;
    auto pin = entry.query<IPin>();
    if (!pin) throw EIntfCastError(kNotSupported);
    return pin;
}

int TPinList::Add(IPin *Pin) { return TInterfaceList::Add(Pin); }
