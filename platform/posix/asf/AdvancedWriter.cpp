#include "platform/posix/asf/AdvancedWriter.h"

#include "platform/posix/net/NSSBuffer.h"

#include <cstring>

namespace tw::posix::asf {

void SinkAdapter::deliver(const uint8_t *p, size_t n, bool header) {
    ComPtr<INSSBuffer> buf;
    if (FAILED(CreateNSSBuffer(DWORD(n), buf.out()))) return;
    BYTE *dst = nullptr;
    if (FAILED(buf->GetBuffer(&dst)) || !dst) return;
    std::memcpy(dst, p, n);
    buf->SetLength(DWORD(n));
    // A sink's failure (a client gone, say) is the sink's business: the file goes on.
    if (header)
        sink_->OnHeader(buf.get());
    else
        sink_->OnDataUnit(buf.get());
}

namespace {

// The advanced writer reached through IServiceProvider.
class AdvancedWriter final : public ComObject<IWMWriterAdvanced2> {
public:
    explicit AdvancedWriter(std::shared_ptr<WriterState> st) : st_(std::move(st)) {}

    HRESULT STDMETHODCALLTYPE GetSinkCount(DWORD *pcSinks) override {
        if (!pcSinks) return E_POINTER;
        std::lock_guard lk(st_->mutex);
        *pcSinks = DWORD(st_->sinks.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSink(DWORD n, IWMWriterSink **ppSink) override {
        if (!ppSink) return E_POINTER;
        *ppSink = nullptr;
        std::lock_guard lk(st_->mutex);
        if (n >= st_->sinks.size()) return E_INVALIDARG;
        *ppSink = ComPtr<IWMWriterSink>::addref(st_->sinks[n].get()).detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddSink(IWMWriterSink *pSink) override {
        if (!pSink) return E_INVALIDARG;
        std::lock_guard lk(st_->mutex);
        if (st_->writing) return NS_E_INVALID_REQUEST;
        for (auto &s : st_->sinks)
            if (s.get() == pSink) return E_INVALIDARG;
        st_->sinks.push_back(ComPtr<IWMWriterSink>::addref(pSink));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveSink(IWMWriterSink *pSink) override {
        std::lock_guard lk(st_->mutex);
        if (st_->writing) return NS_E_INVALID_REQUEST;
        if (!pSink) {
            // As in the SDK: a null sink removes them all.
            st_->sinks.clear();
            return S_OK;
        }
        auto it = std::find_if(st_->sinks.begin(), st_->sinks.end(), [&](auto &s) { return s.get() == pSink; });
        if (it == st_->sinks.end()) return E_INVALIDARG;
        st_->sinks.erase(it);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD, QWORD, DWORD, QWORD, DWORD, INSSBuffer *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetLiveSource(BOOL fIsLiveSource) override {
        std::lock_guard lk(st_->mutex);
        st_->live = fIsLiveSource ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsRealTime(BOOL *pfRealTime) override {
        if (!pfRealTime) return E_POINTER;
        std::lock_guard lk(st_->mutex);
        *pfRealTime = st_->live;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWriterTime(QWORD *pcnsCurrentTime) override {
        if (!pcnsCurrentTime) return E_POINTER;
        std::lock_guard lk(st_->mutex);
        *pcnsCurrentTime = st_->recorder ? QWORD(std::max<int64_t>(st_->recorder->position(), 0)) : 0;
        return S_OK;
    }
    // Counts of what was written: wStreamNum 0 sums every stream.
    HRESULT STDMETHODCALLTYPE GetStatistics(WORD wStreamNum, WM_WRITER_STATISTICS *pStats) override {
        if (!pStats) return E_POINTER;
        std::lock_guard lk(st_->mutex);
        std::memset(pStats, 0, sizeof(*pStats));
        if (!st_->recorder || !st_->recorder->started()) return NS_E_INVALID_REQUEST;
        const Recorder &r = *st_->recorder;
        int64_t t = r.position();
        bool any = false;
        for (int n = 1; n < 128; ++n) {
            if (wStreamNum != 0 && n != wStreamNum) continue;
            uint64_t objects = 0, bytes = 0;
            if (!r.stream_stats(n, &objects, &bytes)) continue;
            any = true;
            pStats->qwSampleCount += objects;
            pStats->qwByteCount += bytes;
            pStats->dwExpectedBitrate += r.stream_bitrate(n);
        }
        if (!any) return E_INVALIDARG;
        if (t > 0) {
            pStats->dwAverageBitrate = DWORD(pStats->qwByteCount * 8 * 10000000ull / uint64_t(t));
            pStats->dwAverageSampleRate = DWORD(pStats->qwSampleCount * 1000ull * 10000000ull / uint64_t(t));
        }
        pStats->dwCurrentBitrate = pStats->dwAverageBitrate;
        pStats->dwCurrentSampleRate = pStats->dwAverageSampleRate;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSyncTolerance(DWORD msWindow) override {
        std::lock_guard lk(st_->mutex);
        st_->sync_tolerance_ms = msWindow;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSyncTolerance(DWORD *pmsWindow) override {
        if (!pmsWindow) return E_POINTER;
        std::lock_guard lk(st_->mutex);
        *pmsWindow = st_->sync_tolerance_ms;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInputSetting(DWORD, LPCWSTR, WMT_ATTR_DATATYPE *, BYTE *, WORD *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetInputSetting(DWORD, LPCWSTR, WMT_ATTR_DATATYPE, const BYTE *, WORD) override {
        return E_NOTIMPL;
    }

protected:
    void *GetInterface(REFIID riid) override {
        if (void *p = answer<IWMWriterAdvanced2>(riid)) return p;
        if (void *p = answer<IWMWriterAdvanced, IWMWriterAdvanced2>(riid)) return p;
        return nullptr;
    }

private:
    std::shared_ptr<WriterState> st_;
};


}  // namespace

IWMWriterAdvanced2 *make_advanced_writer(std::shared_ptr<WriterState> state) {
    return new AdvancedWriter(std::move(state));
}

}  // namespace tw::posix::asf
