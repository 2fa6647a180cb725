// Recording fakes of the DirectShow objects the components walk: pins, filters, a filter graph
// and their enumerators. Calls that matter to a test are written to a shared CallLog; every
// method a test does not need answers E_NOTIMPL.
#pragma once

#include "tests/support/FakeCom.h"
#include "platform/directshow.h"
#include "platform/text.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tw::test {

struct CallLog {
    std::vector<std::string> calls;
    std::function<void(const std::string &)> tee;  // also hands every call on, when set
    void add(std::string call) {
        if (tee) tee(call);
        calls.push_back(std::move(call));
    }
    void clear() { calls.clear(); }
};

class FakePin : public Fake<IPin> {
public:
    FakePin(std::string name, CallLog *log) : name_(std::move(name)), log_(log) {}
    const std::string &name() const { return name_; }
    bool log_releases = false;  // write "<name>.Release" for every Release

    HRESULT STDMETHODCALLTYPE Connect(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect() override {
        if (log_) log_->add(name_ + ".Disconnect");
        return S_FALSE;  // not connected
    }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **pin) override {
        if (pin) *pin = nullptr;
        return VFW_E_NOT_CONNECTED;
    }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *) override { return VFW_E_NOT_CONNECTED; }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *dir) override {
        if (!dir) return E_POINTER;
        *dir = PINDIR_INPUT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_NOTIMPL; }

protected:
    void *GetInterface(REFIID riid) override { return answer<IPin>(riid); }
    void OnRelease() override {
        if (log_ && log_releases) log_->add(name_ + ".Release");
    }
    void OnFinalRelease() override {
        if (log_) log_->add(name_ + " freed");
    }

private:
    std::string name_;
    CallLog *log_;
};

// An enumerator over a fixed snapshot. With fail_at >= 0 the call of Next that would hand out
// item fail_at answers fail_hr instead (an enumerator that went out of step, say). Next checks
// its arguments the way the components must call it: one item, no fetched-count.
template <class Enum, class Item>
class FakeEnum : public Fake<Enum> {
public:
    FakeEnum(std::vector<ComPtr<Item>> items, CallLog *log, int fail_at = -1, HRESULT fail_hr = S_OK)
        : items_(std::move(items)), log_(log), fail_at_(fail_at), fail_hr_(fail_hr) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item **out, ULONG *fetched) override {
        if (log_) log_->add("Next(" + std::to_string(count) + (fetched ? ", fetched)" : ", null)"));
        if (!out) return E_POINTER;
        if (fail_at_ >= 0 && pos_ == static_cast<size_t>(fail_at_)) return fail_hr_;
        ULONG n = 0;
        while (n < count && pos_ < items_.size()) out[n++] = ComPtr<Item>(items_[pos_++]).detach();
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override {
        if (log_) log_->add("Reset");
        pos_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Enum **) override { return E_NOTIMPL; }

protected:
    void *GetInterface(REFIID riid) override { return this->template answer<Enum>(riid); }
    void OnFinalRelease() override {
        if (log_) log_->add("enumerator freed");
    }

private:
    std::vector<ComPtr<Item>> items_;
    CallLog *log_;
    size_t pos_ = 0;
    int fail_at_;
    HRESULT fail_hr_;
};

using FakeEnumPins = FakeEnum<IEnumPins, IPin>;
using FakeEnumFilters = FakeEnum<IEnumFilters, IBaseFilter>;

// A filter with a fixed list of pins. Extra interfaces are added by deriving with them listed
// and extending Find.
template <class... Extra>
class FakeFilterT : public Fake<IBaseFilter, Extra...> {
public:
    FakeFilterT(std::string name, CallLog *log) : name_(std::move(name)), log_(log) {}

    const std::string &name() const { return name_; }
    CallLog *log() const { return log_; }
    // Adds a pin; the filter holds one reference, the caller gets none.
    FakePin *add_pin(const std::string &pin_name) {
        auto *pin = new FakePin(pin_name, log_);
        pins_.push_back(ComPtr<IPin>::adopt(pin));
        return pin;
    }
    std::vector<ComPtr<IPin>> &pins() { return pins_; }
    int enum_fail_at = -1;
    HRESULT enum_fail_hr = S_OK;
    HRESULT enum_pins_result = S_OK;
    bool log_releases = false;  // write "<name>.Release" for every Release

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *) override { return E_NOTIMPL; }
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override {
        if (log_) log_->add(name_ + ".Stop");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Pause() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE *state) override {
        if (!state) return E_POINTER;
        *state = State_Stopped;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **) override { return E_NOTIMPL; }
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **out) override {
        if (log_) log_->add(name_ + ".EnumPins");
        if (!out) return E_POINTER;
        *out = nullptr;
        if (FAILED(enum_pins_result)) return enum_pins_result;
        *out = new FakeEnumPins(pins_, log_, enum_fail_at, enum_fail_hr);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *info) override {
        if (!info) return E_POINTER;
        info->achName[0] = 0;
        info->pGraph = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *) override { return E_NOTIMPL; }

protected:
    void *GetInterface(REFIID riid) override {
        if (void *p = this->template answer<IBaseFilter>(riid)) return p;
        if (void *p = this->template answer<IMediaFilter, IBaseFilter>(riid)) return p;
        return this->template answer<IPersist, IBaseFilter>(riid);
    }
    void OnRelease() override {
        if (log_ && log_releases) log_->add(name_ + ".Release");
    }
    void OnFinalRelease() override {
        if (log_) log_->add(name_ + " freed");
    }

private:
    std::string name_;
    CallLog *log_;
    std::vector<ComPtr<IPin>> pins_;
};

using FakeFilter = FakeFilterT<>;

// A filter graph that holds its filters; its enumerator is a snapshot, like a real graph's
// except that a real one goes out of step on a change — fail_at makes that happen on demand.
class FakeFilterGraph : public Fake<IFilterGraph> {
public:
    explicit FakeFilterGraph(CallLog *log) : log_(log) {}

    std::vector<ComPtr<IBaseFilter>> &filters() { return filters_; }
    int enum_fail_at = -1;
    HRESULT enum_fail_hr = S_OK;
    HRESULT enum_filters_result = S_OK;

    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *filter, LPCWSTR name) override {
        if (log_) log_->add("AddFilter(" + tw::to_utf8(name) + ")");
        if (!filter) return E_POINTER;
        filters_.push_back(ComPtr<IBaseFilter>::addref(filter));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter *filter) override {
        if (log_) log_->add("RemoveFilter");
        for (auto it = filters_.begin(); it != filters_.end(); ++it) {
            if (it->get() == filter) {
                filters_.erase(it);
                return S_OK;
            }
        }
        return E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters **out) override {
        if (log_) log_->add("EnumFilters");
        if (!out) return E_POINTER;
        *out = nullptr;
        if (FAILED(enum_filters_result)) return enum_filters_result;
        *out = new FakeEnumFilters(filters_, log_, enum_fail_at, enum_fail_hr);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin *, IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reconnect(IPin *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect(IPin *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }

protected:
    void *GetInterface(REFIID riid) override { return answer<IFilterGraph>(riid); }

private:
    CallLog *log_;
    std::vector<ComPtr<IBaseFilter>> filters_;
};

}  // namespace tw::test
