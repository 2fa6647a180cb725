#include "platform/posix/graph/BaseFilter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tw::posix {

// =============================================================================================
// Pin enumerator

class PinEnumerator final : public ComObject<IEnumPins> {
public:
    PinEnumerator(FilterImpl *filter, size_t pos, int version)
        : filter_(ComPtr<IBaseFilter>::addref(filter)), impl_(filter), pos_(pos), version_(version) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **out, ULONG *fetched) override {
        if (!out || (!fetched && count != 1)) return E_POINTER;
        ULONG n = 0;
        {
            std::lock_guard<std::mutex> g(impl_->mutex_);
            if (version_ != impl_->pins_version_) {
                if (fetched) *fetched = 0;
                return VFW_E_ENUM_OUT_OF_SYNC;
            }
            while (n < count && pos_ < impl_->pins_.size()) {
                out[n] = impl_->pins_[pos_].get();
                ++n;
                ++pos_;
            }
        }
        for (ULONG i = 0; i < n; ++i) out[i]->AddRef();
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        std::lock_guard<std::mutex> g(impl_->mutex_);
        if (version_ != impl_->pins_version_) return VFW_E_ENUM_OUT_OF_SYNC;
        size_t left = impl_->pins_.size() - std::min(pos_, impl_->pins_.size());
        pos_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        std::lock_guard<std::mutex> g(impl_->mutex_);
        pos_ = 0;
        version_ = impl_->pins_version_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins **pp) override {
        if (!pp) return E_POINTER;
        *pp = new PinEnumerator(impl_, pos_, version_);
        return S_OK;
    }

protected:
    void *GetInterface(REFIID riid) override { return answer<IEnumPins>(riid); }

private:
    ComPtr<IBaseFilter> filter_;  // keeps impl_ alive
    FilterImpl *impl_;
    size_t pos_;
    int version_;
};
// =============================================================================================
// FilterImpl

FilterImpl::FilterImpl() = default;
FilterImpl::~FilterImpl() = default;

FILTER_STATE FilterImpl::state() const {
    std::lock_guard<std::mutex> g(mutex_);
    return state_;
}

REFERENCE_TIME FilterImpl::start_time() const {
    std::lock_guard<std::mutex> g(mutex_);
    return start_;
}

ComPtr<IReferenceClock> FilterImpl::clock() const {
    std::lock_guard<std::mutex> g(mutex_);
    return clock_;
}

IFilterGraph *FilterImpl::graph() const {
    std::lock_guard<std::mutex> g(mutex_);
    return graph_;
}

tw::wstring FilterImpl::filter_name() const {
    std::lock_guard<std::mutex> g(mutex_);
    return name_;
}

std::vector<PinBase *> FilterImpl::pins_snapshot() const {
    std::lock_guard<std::mutex> g(mutex_);
    std::vector<PinBase *> v;
    for (auto &p : pins_) v.push_back(p.get());
    return v;
}

void FilterImpl::add_pin_base(std::unique_ptr<PinBase> pin) {
    std::lock_guard<std::mutex> g(mutex_);
    pins_.push_back(std::move(pin));
    ++pins_version_;
}

int FilterImpl::pin_count() const {
    std::lock_guard<std::mutex> g(mutex_);
    return static_cast<int>(pins_.size());
}

PinBase *FilterImpl::pin_at(int index) const {
    std::lock_guard<std::mutex> g(mutex_);
    return index >= 0 && index < static_cast<int>(pins_.size()) ? pins_[index].get() : nullptr;
}

HRESULT FilterImpl::GetClassID(CLSID *pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = clsid_;
    return S_OK;
}

HRESULT FilterImpl::Stop() {
    {
        std::lock_guard<std::mutex> g(mutex_);
        if (state_ == State_Stopped) return S_OK;
        state_ = State_Stopped;
    }
    HRESULT result = S_OK;
    for (PinBase *p : pins_snapshot()) {
        HRESULT hr = p->Inactive();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    HRESULT hr = OnStop();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    return result;
}

HRESULT FilterImpl::Pause() {
    FILTER_STATE previous;
    {
        std::lock_guard<std::mutex> g(mutex_);
        previous = state_;
        if (previous == State_Paused) return S_OK;
    }
    HRESULT result = S_OK;
    if (previous == State_Stopped) {
        for (PinBase *p : pins_snapshot()) {
            if (!p->is_connected()) continue;
            HRESULT hr = p->Active();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        state_ = State_Paused;
    }
    HRESULT hr = OnPause(previous);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    if (hr == S_FALSE && result == S_OK) result = S_FALSE;  // still cueing: GetState tells when done
    return result;
}

HRESULT FilterImpl::Run(REFERENCE_TIME tStart) {
    HRESULT result = S_OK;
    FILTER_STATE now = state();
    if (now == State_Running) return S_OK;
    if (now == State_Stopped) {
        result = Pause();
        if (FAILED(result)) return result;
    }
    {
        std::lock_guard<std::mutex> g(mutex_);
        start_ = tStart;
        state_ = State_Running;
    }
    HRESULT hr = OnRun(tStart);
    if (FAILED(hr)) return hr;
    return hr == S_FALSE ? S_FALSE : result;
}

HRESULT FilterImpl::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE *State) {
    if (!State) return E_POINTER;
    FILTER_STATE s = state();
    *State = s;
    return OnGetState(dwMilliSecsTimeout, s);
}

HRESULT FilterImpl::SetSyncSource(IReferenceClock *pClock) {
    ComPtr<IReferenceClock> old;
    std::lock_guard<std::mutex> g(mutex_);
    old = std::move(clock_);
    clock_ = ComPtr<IReferenceClock>::addref(pClock);
    return S_OK;
}

HRESULT FilterImpl::GetSyncSource(IReferenceClock **pClock) {
    if (!pClock) return E_POINTER;
    std::lock_guard<std::mutex> g(mutex_);
    *pClock = ComPtr<IReferenceClock>(clock_).detach();
    return S_OK;
}

HRESULT FilterImpl::EnumPins(IEnumPins **ppEnum) {
    if (!ppEnum) return E_POINTER;
    int version;
    {
        std::lock_guard<std::mutex> g(mutex_);
        version = pins_version_;
    }
    *ppEnum = new PinEnumerator(this, 0, version);
    return S_OK;
}

HRESULT FilterImpl::FindPin(LPCWSTR Id, IPin **ppPin) {
    if (!Id || !ppPin) return E_POINTER;
    *ppPin = nullptr;
    tw::wstring id(Id);
    for (PinBase *p : pins_snapshot()) {
        if (p->name() == id) {
            p->AddRef();
            *ppPin = p;
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterImpl::QueryFilterInfo(FILTER_INFO *pInfo) {
    if (!pInfo) return E_POINTER;
    std::memset(pInfo, 0, sizeof(*pInfo));
    std::lock_guard<std::mutex> g(mutex_);
    size_t n = std::min<size_t>(name_.size(), MAX_FILTER_NAME - 1);
    std::copy(name_.begin(), name_.begin() + n, pInfo->achName);
    pInfo->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT FilterImpl::JoinFilterGraph(IFilterGraph *pGraph, LPCWSTR pName) {
    IMediaEventSink *sink = nullptr;
    if (pGraph) {
        // Kept without a count: the graph holds this filter and outlives its membership.
        if (SUCCEEDED(pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void **>(&sink))) && sink)
            sink->Release();
        else
            sink = nullptr;
    }
    std::lock_guard<std::mutex> g(mutex_);
    graph_ = pGraph;
    sink_ = pGraph ? sink : nullptr;
    name_ = (pGraph && pName) ? tw::wstring(pName) : tw::wstring();
    return S_OK;
}

HRESULT FilterImpl::QueryVendorInfo(LPWSTR *) { return E_NOTIMPL; }

HRESULT FilterImpl::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink *sink;
    {
        std::lock_guard<std::mutex> g(mutex_);
        sink = sink_;
    }
    return sink ? sink->Notify(code, param1, param2) : S_FALSE;
}

HRESULT FilterImpl::NotifyComplete(HRESULT status) {
    return NotifyEvent(EC_COMPLETE, status, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(this)));
}

HRESULT FilterImpl::OnPause(FILTER_STATE) { return S_OK; }
HRESULT FilterImpl::OnRun(REFERENCE_TIME) { return S_OK; }
HRESULT FilterImpl::OnStop() { return S_OK; }
HRESULT FilterImpl::OnGetState(DWORD, FILTER_STATE) { return S_OK; }

}  // namespace tw::posix
