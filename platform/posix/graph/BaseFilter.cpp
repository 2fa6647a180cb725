#include "platform/posix/graph/BaseFilter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tw::posix {

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
    auto source = std::make_shared<PinEnumerator::Source>();
    source->owner = ComPtr<IUnknown>::addref(static_cast<IBaseFilter *>(this));
    source->lock = &mutex_;
    source->take = [this](std::vector<IPin *> &pins) {
        for (auto &p : pins_) pins.push_back(p.get());
        return pins_version_;
    };
    source->version = [this] { return pins_version_; };
    source->out_of_sync = VFW_E_ENUM_OUT_OF_SYNC;
    *ppEnum = new PinEnumerator(std::move(source));
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
