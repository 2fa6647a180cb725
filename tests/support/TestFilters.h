// Filters for the graph tests: a push source with its own streaming thread, a pass-through
// transform, a decoder stand-in and a sink that records every call. A shared CallLog sees the
// state changes of every filter in order.
#pragma once

#include "platform/posix/graph/TransformFilter.h"
#include "platform/text.h"
#include "platform/win32.h"
#include "tests/support/HResultChecks.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace graphtest {

using namespace tw::posix;
using tw::ComPtr;
using tw::DeleteMediaType;
using tw::FreeMediaType;

// Calls of several filters, in the order they happened.
struct CallLog {
    std::mutex m;
    std::vector<std::string> calls;
    void add(const std::string &s) {
        std::lock_guard<std::mutex> g(m);
        calls.push_back(s);
    }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> g(m);
        std::vector<std::string> v;
        v.swap(calls);
        return v;
    }
};

TW_DEFINE_GUID(CLSID_TestSource, 0x6A1D0001, 0x1111, 0x4222, 0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x01);
TW_DEFINE_GUID(CLSID_TestSink, 0x6A1D0002, 0x1111, 0x4222, 0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x02);
TW_DEFINE_GUID(CLSID_TestTransform, 0x6A1D0003, 0x1111, 0x4222, 0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x03);

inline MediaType rgb24(int w = 32, int h = 16) {
    VIDEOINFOHEADER v{};
    v.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    v.bmiHeader.biWidth = w;
    v.bmiHeader.biHeight = h;
    v.bmiHeader.biPlanes = 1;
    v.bmiHeader.biBitCount = 24;
    v.bmiHeader.biSizeImage = w * h * 3;
    v.AvgTimePerFrame = 400000;
    return MediaType::video(MEDIASUBTYPE_RGB24, v);
}
inline MediaType wmv2() {
    MediaType t = rgb24();
    t.get().subtype = MEDIASUBTYPE_WMV2;
    return t;
}
inline MediaType pcm() {
    WAVEFORMATEX w{};
    w.wFormatTag = WAVE_FORMAT_PCM;
    w.nChannels = 2;
    w.nSamplesPerSec = 44100;
    w.wBitsPerSample = 16;
    w.nBlockAlign = 4;
    w.nAvgBytesPerSec = 44100 * 4;
    return MediaType::audio(MEDIASUBTYPE_PCM, w);
}
inline MediaType text_type() { return MediaType(MEDIATYPE_Text, MEDIASUBTYPE_None, FORMAT_None); }

constexpr REFERENCE_TIME kFrame = 400000;  // 40 ms

// ---- Push source: one output pin per type; one streaming thread delivers `count` samples on
// every pin (or until stopped when count < 0), then end of stream.
class TestSource final : public BaseFilter<IMediaSeeking> {
public:
    class Out final : public OutputPin {
    public:
        Out(TestSource *f, const WCHAR *name, MediaType t) : OutputPin(f, name), type_(std::move(t)) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE &mt) override {
            return equal_types(mt, type_.get()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        HRESULT GetMediaType(int i, MediaType *mt) override {
            if (i != 0) return VFW_S_NO_MORE_ITEMS;
            *mt = type_;
            return S_OK;
        }
        MediaType type_;
    };

    TestSource(std::vector<MediaType> types, int count, CallLog *log = nullptr, const char *tag = "source")
        : BaseFilter(CLSID_TestSource), count_(count), log_(log), tag_(tag) {
        int i = 0;
        for (auto &t : types) {
            tw::wstring name = tw::to_wide(t.is_video() ? "Video" : t.is_audio() ? "Audio" : "Data");
            if (i++) name += tw::to_wide(std::to_string(i));
            pins_.push_back(add_pin(std::make_unique<Out>(this, name.c_str(), t)));
        }
    }

    std::atomic<int> delivered{0};
    std::atomic<LONGLONG> seeked_to{-1};
    std::atomic<int> stop_returned_deliveries{0};  // deliveries begun after OnStop returned
    std::atomic<bool> stopped_flag{false};
    bool thread_running() const { return thread_.joinable(); }

    // IMediaSeeking: duration and seeking of the source's time line.
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD *c) override {
        *c = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG *d) override {
        *d = (count_ < 0 ? 1000 : count_) * kFrame;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG *, const GUID *, LONGLONG, const GUID *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *cur, DWORD cf, LONGLONG *, DWORD) override {
        if (state() != State_Stopped) return VFW_E_NOT_STOPPED;  // the graph stops us first
        if (cur && (cf & AM_SEEKING_PositioningBitsMask)) seeked_to = *cur;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetRate(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRate(double *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG *) override { return E_NOTIMPL; }

protected:
    void *GetInterface(REFIID riid) override {
        if (void *p = answer<IMediaSeeking>(riid)) return p;
        return BaseFilter::GetInterface(riid);
    }
    HRESULT OnPause(FILTER_STATE previous) override {
        if (log_) log_->add(tag_ + ".Pause");
        if (previous == State_Stopped) {
            stopped_flag = false;
            thread_ = std::jthread([this](std::stop_token st) { stream(st); });
        }
        return S_OK;
    }
    HRESULT OnRun(REFERENCE_TIME) override {
        if (log_) log_->add(tag_ + ".Run");
        return S_OK;
    }
    HRESULT OnStop() override {
        if (log_) log_->add(tag_ + ".Stop");
        thread_ = {};  // asks the body to end and joins it
        stopped_flag = true;
        return S_OK;
    }

private:
    void stream(std::stop_token stop) {
        LONGLONG base = seeked_to < 0 ? 0 : seeked_to.load();
        for (Out *p : pins_)
            if (p->is_connected()) p->DeliverNewSegment(base, base + 1000 * kFrame, 1.0);
        for (int i = 0; count_ < 0 || i < count_; ++i) {
            if (stop.stop_requested()) return;
            for (Out *p : pins_) {
                if (!p->is_connected()) continue;
                ComPtr<IMediaSample> s;
                if (FAILED(p->GetDeliveryBuffer(s.out()))) return;
                REFERENCE_TIME a = i * kFrame, b = (i + 1) * kFrame;
                s->SetTime(&a, &b);
                s->SetSyncPoint(TRUE);
                s->SetActualDataLength(16);
                if (stopped_flag) ++stop_returned_deliveries;
                HRESULT hr = p->Deliver(s.get());
                ++delivered;
                if (hr != S_OK) return;
            }
        }
        for (Out *p : pins_)
            if (p->is_connected()) p->DeliverEndOfStream();
    }

    std::vector<Out *> pins_;
    int count_;
    CallLog *log_;
    std::string tag_;
    std::jthread thread_;
};

// ---- Sink: input pins of the given types (a null MediaType accepts everything); records
// calls and sample times; EC_COMPLETE once every connected input reached its end.
class TestSink final : public BaseFilter<IMediaSeeking> {
public:
    class In final : public InputPin {
    public:
        In(TestSink *f, const WCHAR *name, MediaType accept) : InputPin(f, name), sink_(f), accept_(std::move(accept)) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE &mt) override {
            if (accept_.empty()) return S_OK;
            return accept_.majortype() == mt.majortype && accept_.subtype() == mt.subtype ? S_OK
                                                                                         : VFW_E_TYPE_NOT_ACCEPTED;
        }
        HRESULT OnReceive(IMediaSample *s) override { return sink_->received(this, s); }
        HRESULT OnEndOfStream() override { return sink_->ended(this); }
        TestSink *sink_;
        MediaType accept_;
    };

    explicit TestSink(std::vector<MediaType> accept, CallLog *log = nullptr, const char *tag = "sink")
        : BaseFilter(CLSID_TestSink), log_(log), tag_(tag) {
        int i = 0;
        for (auto &t : accept) {
            tw::wstring name = tw::to_wide("In" + std::to_string(++i));
            ins_.push_back(add_pin(std::make_unique<In>(this, name.c_str(), t)));
        }
    }

    In *in(int i) const { return ins_[i]; }

    // Waits (no time-out: the test's own limit applies) until `n` samples or EOS arrived.
    void wait_samples(int n) {
        std::unique_lock<std::mutex> g(m_);
        cv_.wait(g, [&] { return static_cast<int>(times_.size()) >= n; });
    }
    int samples() {
        std::lock_guard<std::mutex> g(m_);
        return static_cast<int>(times_.size());
    }
    std::vector<REFERENCE_TIME> times() {
        std::lock_guard<std::mutex> g(m_);
        return times_;
    }
    int eos_count() {
        std::lock_guard<std::mutex> g(m_);
        return eos_;
    }

    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD *c) override {
        *c = AM_SEEKING_CanGetCurrentPos;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG *) override { return E_NOTIMPL; }
    // The stream time of the last sample received, on the source's time line.
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG *c) override {
        std::lock_guard<std::mutex> g(m_);
        if (times_.empty()) return E_NOTIMPL;
        *c = times_.back() + ins_[0]->segment_start();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG *, const GUID *, LONGLONG, const GUID *) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *, DWORD, LONGLONG *, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *, LONGLONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetRate(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRate(double *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG *) override { return E_NOTIMPL; }

protected:
    void *GetInterface(REFIID riid) override {
        if (void *p = answer<IMediaSeeking>(riid)) return p;
        return BaseFilter::GetInterface(riid);
    }
    HRESULT OnPause(FILTER_STATE previous) override {
        if (log_) log_->add(tag_ + ".Pause");
        if (previous == State_Stopped) {
            std::lock_guard<std::mutex> g(m_);
            ended_.clear();
            cued_ = false;
        }
        return cue && previous == State_Stopped ? S_FALSE : S_OK;
    }
    // With `cue`, a pause is complete once the first sample arrived (as a renderer's is).
    HRESULT OnGetState(DWORD timeout, FILTER_STATE state) override {
        if (!cue || state != State_Paused) return S_OK;
        std::unique_lock<std::mutex> g(m_);
        auto cued = [&] { return cued_; };
        if (timeout == INFINITE)
            cv_.wait(g, cued);
        else
            cv_.wait_for(g, std::chrono::milliseconds(timeout), cued);
        return cued() ? S_OK : VFW_S_STATE_INTERMEDIATE;
    }

public:
    bool cue = false;

protected:
    HRESULT OnRun(REFERENCE_TIME) override {
        if (log_) log_->add(tag_ + ".Run");
        return S_OK;
    }
    HRESULT OnStop() override {
        if (log_) log_->add(tag_ + ".Stop");
        return S_OK;
    }

private:
    HRESULT received(In *, IMediaSample *s) {
        REFERENCE_TIME a = 0, b = 0;
        s->GetTime(&a, &b);
        {
            std::lock_guard<std::mutex> g(m_);
            times_.push_back(a);
            cued_ = true;
        }
        cv_.notify_all();
        return S_OK;
    }
    HRESULT ended(In *pin) {
        bool all = false;
        {
            std::lock_guard<std::mutex> g(m_);
            ++eos_;
            if (std::find(ended_.begin(), ended_.end(), pin) == ended_.end()) ended_.push_back(pin);
            int connected = 0;
            for (In *p : ins_) connected += p->is_connected() ? 1 : 0;
            all = static_cast<int>(ended_.size()) == connected;
        }
        cv_.notify_all();
        if (all) NotifyComplete();
        return S_OK;
    }

    std::vector<In *> ins_;
    CallLog *log_;
    std::string tag_;
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<REFERENCE_TIME> times_;
    std::vector<In *> ended_;
    int eos_ = 0;
    bool cued_ = false;
};

// ---- Transform: copies its input (same type out), or "decodes" WMV2 into RGB24.
class TestTransform final : public TransformFilter {
public:
    explicit TestTransform(bool decoder, CallLog *log = nullptr, const char *tag = "transform")
        : TransformFilter(CLSID_TestTransform), decoder_(decoder), log_(log), tag_(tag) {}
    std::atomic<int> transformed{0};

protected:
    HRESULT CheckInputType(const AM_MEDIA_TYPE &mt) override {
        if (!decoder_) return S_OK;
        return mt.subtype == MEDIASUBTYPE_WMV2 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetOutputType(const AM_MEDIA_TYPE &in, int index, MediaType *out) override {
        if (index != 0) return VFW_S_NO_MORE_ITEMS;
        *out = decoder_ ? rgb24() : MediaType(in);
        return S_OK;
    }
    HRESULT Transform(IMediaSample *in, IMediaSample *out) override {
        BYTE *a = nullptr, *b = nullptr;
        in->GetPointer(&a);
        out->GetPointer(&b);
        LONG n = in->GetActualDataLength();
        std::memcpy(b, a, n);
        out->SetActualDataLength(n);
        ++transformed;
        return S_OK;
    }
    HRESULT OnPause(FILTER_STATE) override {
        if (log_) log_->add(tag_ + ".Pause");
        return S_OK;
    }
    HRESULT OnRun(REFERENCE_TIME) override {
        if (log_) log_->add(tag_ + ".Run");
        return S_OK;
    }
    HRESULT OnStop() override {
        if (log_) log_->add(tag_ + ".Stop");
        return S_OK;
    }

private:
    bool decoder_;
    CallLog *log_;
    std::string tag_;
};

}  // namespace graphtest
