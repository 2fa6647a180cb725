// The system reference clock: time from the monotonic clock, advise requests served by one
// thread per clock that waits for the earliest request.
#include "platform/posix/graph/Graph.h"
#include "platform/posix/object.h"
#include "platform/win32.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace tw::posix {

namespace {

REFERENCE_TIME now_100ns() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count() / 100;
}

class SystemClock final : public ComObject<IReferenceClock> {
public:
    ~SystemClock() override {
        {
            std::lock_guard<std::mutex> g(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME *pTime) override {
        if (!pTime) return E_POINTER;
        REFERENCE_TIME t = now_100ns();
        std::lock_guard<std::mutex> g(mutex_);
        // Never backwards; S_FALSE when no time passed since the last call, as the interface says.
        if (t <= last_) {
            *pTime = last_;
            return S_FALSE;
        }
        last_ = t;
        *pTime = t;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                                         DWORD_PTR *pdwAdviseCookie) override {
        if (!pdwAdviseCookie) return E_POINTER;
        *pdwAdviseCookie = 0;
        if (!hEvent || baseTime < 0 || streamTime < 0 || baseTime > INT64_MAX - streamTime) return E_INVALIDARG;
        std::lock_guard<std::mutex> g(mutex_);
        DWORD_PTR cookie = next_++;
        pending_.emplace(cookie, Advise{baseTime + streamTime, hEvent});
        if (!thread_.joinable()) thread_ = std::thread([this] { serve(); });
        wake_.notify_all();
        *pdwAdviseCookie = cookie;
        return S_OK;
    }

    // Periodic advises signal a semaphore, which our platform does not offer.
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR *) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR dwAdviseCookie) override {
        std::lock_guard<std::mutex> g(mutex_);
        return pending_.erase(dwAdviseCookie) ? S_OK : S_FALSE;
    }

protected:
    void *GetInterface(REFIID riid) override { return answer<IReferenceClock>(riid); }

private:
    struct Advise {
        REFERENCE_TIME due;
        HEVENT event;
    };

    void serve() {
        std::unique_lock<std::mutex> g(mutex_);
        while (!quit_) {
            if (pending_.empty()) {
                wake_.wait(g);
                continue;
            }
            auto first = pending_.begin();
            for (auto it = pending_.begin(); it != pending_.end(); ++it)
                if (it->second.due < first->second.due) first = it;
            REFERENCE_TIME wait = first->second.due - now_100ns();
            if (wait > 0) {
                wake_.wait_for(g, std::chrono::nanoseconds(wait * 100));
                continue;
            }
            HEVENT ev = first->second.event;
            pending_.erase(first);
            // SetEvent is a plain platform call that takes no lock of ours and calls nothing back.
            SetEvent(reinterpret_cast<HANDLE>(ev));
        }
    }

    std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    REFERENCE_TIME last_ = 0;
    DWORD_PTR next_ = 1;
    std::map<DWORD_PTR, Advise> pending_;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace

ComPtr<IReferenceClock> make_system_clock() { return ComPtr<IReferenceClock>::adopt(new SystemClock()); }

HRESULT create_system_clock(IUnknown *outer, REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    ComPtr<IReferenceClock> c = make_system_clock();
    return c->QueryInterface(riid, ppv);
}

}  // namespace tw::posix
