#include "platform/posix/asf/AsfWriterFilter.h"

#include "platform/directshow.h"
#include "platform/posix/asf/AdvancedWriter.h"
#include "platform/posix/asf/AsfRecorder.h"
#include "platform/posix/graph/BaseFilter.h"
#include "platform/posix/graph/Seeking.h"
#include "platform/posix/media/Codecs.h"
#include "platform/text.h"
#include "platform/wmf.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace tw::posix::asf {

namespace {

constexpr int kDefaultProfile = 8;  // WMProfile_V80_256Video, what a new filter is set to

class AsfWriter;

// ---- An input pin. Both exist from the start; the profile decides which of them are shown.
class AsfInputPin final : public InputPin {
public:
    AsfInputPin(AsfWriter *owner, const WCHAR *name, StreamKind kind);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE &mt) override;
    HRESULT OnReceive(IMediaSample *sample) override;
    HRESULT OnEndOfStream() override;

    StreamKind kind() const { return kind_; }
    // Index of the recorder input this pin feeds, -1 when the profile has no use for it.
    std::atomic<int> input{-1};
    std::atomic<bool> got_eos{false};

private:
    AsfWriter *owner_;  // not counted: the filter owns this pin
    StreamKind kind_;
};

class AsfWriter final : public BaseFilter<IConfigAsfWriter2, IFileSinkFilter2, IServiceProvider, PassThroughSeeking,
                                          IAMFilterMiscFlags> {
public:
    AsfWriter() : BaseFilter(CLSID_WMAsfWriter), state_(std::make_shared<WriterState>()) {
        audio_ = add_pin(std::make_unique<AsfInputPin>(this, OLESTR("Audio Input 01"), StreamKind::kAudio));
        video_ = add_pin(std::make_unique<AsfInputPin>(this, OLESTR("Video Input 01"), StreamKind::kVideo));
        apply_profile(kDefaultProfile);
    }

    // IBaseFilter: only the pins of the current profile are listed and found.
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **ppEnum) override {
        if (!ppEnum) return E_POINTER;
        // Over the pins the current profile uses; a new profile puts it out of sync.
        auto source = std::make_shared<PinEnumerator::Source>();
        source->owner = ComPtr<IUnknown>::addref(static_cast<IBaseFilter *>(this));
        source->take = [this](std::vector<IPin *> &pins) {
            pins = visible_pins();
            return pins_version_.load();
        };
        source->version = [this] { return pins_version_.load(); };
        source->out_of_sync = VFW_E_ENUM_OUT_OF_SYNC;
        *ppEnum = new PinEnumerator(std::move(source));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR Id, IPin **ppPin) override {
        if (!ppPin) return E_POINTER;
        *ppPin = nullptr;
        if (!Id) return E_POINTER;
        for (IPin *p : visible_pins())
            if (static_cast<AsfInputPin *>(p)->name() == tw::wstring(Id)) {
                *ppPin = ComPtr<IPin>::addref(p).detach();
                return S_OK;
            }
        return VFW_E_NOT_FOUND;
    }

    // IConfigAsfWriter.
    HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfileId(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentProfileId(DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfileGuid(REFGUID guid) override {
        if (state() != State_Stopped) return VFW_E_WRONG_STATE;
        int index = profile_from_guid(guid);
        if (index < 0) return E_FAIL;
        apply_profile(index);
        NotifyEvent(EC_GRAPH_CHANGED, 0, 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentProfileGuid(GUID *pProfileGuid) override {
        if (!pProfileGuid) return E_POINTER;
        size_t n = 0;
        const ProfileInfo *p = profiles(&n);
        std::lock_guard lk(lock());
        *pProfileGuid = p[profile_].guid;
        return S_OK;
    }
    // Custom IWMProfile objects: we have no profile manager that makes them, so none can be read.
    HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfile(IWMProfile *pProfile) override {
        return pProfile ? E_NOTIMPL : E_POINTER;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentProfile(IWMProfile **ppProfile) override {
        if (!ppProfile) return E_POINTER;
        *ppProfile = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetIndexMode(BOOL bIndexFile) override {
        index_ = bIndexFile != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIndexMode(BOOL *pbIndexFile) override {
        if (!pbIndexFile) return E_POINTER;
        *pbIndexFile = index_ ? TRUE : FALSE;
        return S_OK;
    }

    // IConfigAsfWriter2.
    HRESULT STDMETHODCALLTYPE StreamNumFromPin(IPin *pPin, WORD *pwStreamNum) override {
        if (!pPin || !pwStreamNum) return E_POINTER;
        for (AsfInputPin *p : {audio_, video_}) {
            if (static_cast<IPin *>(p) != pPin) continue;
            int input = p->input.load();
            if (input < 0) return E_INVALIDARG;
            std::lock_guard lk(lock());
            *pwStreamNum = WORD(Recorder(profile_).stream_number(size_t(input)));
            return S_OK;
        }
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE SetParam(DWORD dwParam, DWORD dwParam1, DWORD) override {
        switch (dwParam) {
        case AM_CONFIGASFWRITER_PARAM_AUTOINDEX: index_ = dwParam1 != 0; return S_OK;
        // Two-pass encoding and writing the input uncompressed are not offered: switching them
        // off is accepted, switching them on is refused rather than ignored.
        case AM_CONFIGASFWRITER_PARAM_MULTIPASS:
        case AM_CONFIGASFWRITER_PARAM_DONTCOMPRESS: return dwParam1 == 0 ? S_OK : E_NOTIMPL;
        default: return E_INVALIDARG;
        }
    }
    HRESULT STDMETHODCALLTYPE GetParam(DWORD dwParam, DWORD *pdwParam1, DWORD *pdwParam2) override {
        if (!pdwParam1) return E_POINTER;
        if (pdwParam2) *pdwParam2 = 0;
        switch (dwParam) {
        case AM_CONFIGASFWRITER_PARAM_AUTOINDEX: *pdwParam1 = index_ ? 1 : 0; return S_OK;
        case AM_CONFIGASFWRITER_PARAM_MULTIPASS:
        case AM_CONFIGASFWRITER_PARAM_DONTCOMPRESS: *pdwParam1 = 0; return S_OK;
        default: return E_INVALIDARG;
        }
    }
    // Multi-pass is never on, so there is no pass state to clear.
    HRESULT STDMETHODCALLTYPE ResetMultiPassState() override { return S_OK; }

    // IFileSinkFilter2. The name is only stored; the file is made when the graph starts.
    HRESULT STDMETHODCALLTYPE SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE *) override {
        if (!pszFileName) return E_POINTER;
        std::lock_guard lk(lock());
        file_name_ = pszFileName;
        has_name_ = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR *ppszFileName, AM_MEDIA_TYPE *pmt) override {
        if (!ppszFileName) return E_POINTER;
        *ppszFileName = nullptr;
        std::lock_guard lk(lock());
        if (!has_name_) return E_FAIL;
        size_t bytes = (file_name_.size() + 1) * sizeof(WCHAR);
        auto *copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (!copy) return E_OUTOFMEMORY;
        std::memcpy(copy, file_name_.c_str(), bytes);
        if (pmt) {
            std::memset(pmt, 0, sizeof(*pmt));
            pmt->majortype = MEDIATYPE_Stream;
            pmt->subtype = MEDIASUBTYPE_Asf;
        }
        *ppszFileName = copy;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMode(DWORD dwFlags) override { return dwFlags == AM_FILE_OVERWRITE ? S_OK : E_INVALIDARG; }
    HRESULT STDMETHODCALLTYPE GetMode(DWORD *pdwFlags) override {
        if (!pdwFlags) return E_POINTER;
        *pdwFlags = AM_FILE_OVERWRITE;
        return S_OK;
    }

    // IServiceProvider.
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID guidService, REFIID riid, void **ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (guidService != IID_IWMWriterAdvanced2 && guidService != IID_IWMWriterAdvanced) return E_NOINTERFACE;
        std::lock_guard lk(lock());
        if (!advanced_) advanced_ = ComPtr<IWMWriterAdvanced2>::adopt(make_advanced_writer(state_));
        return advanced_->QueryInterface(riid, ppv);
    }

    // IAMFilterMiscFlags.
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    // IMediaSeeking (PassThroughSeeking): the position is the media time in the file; the rest
    // is the source's, asked through the first connected input's peer.

    // ---- For the pins (streaming threads).
    std::shared_ptr<Recorder> recorder() const { return std::atomic_load(&recorder_); }
    void input_ended() {
        // EC_COMPLETE once every input of the profile has had its end, with everything it
        // delivered encoded and written.
        for (AsfInputPin *p : {audio_, video_})
            if (p->input.load() >= 0 && !p->got_eos.load()) return;
        if (complete_sent_.exchange(true)) return;
        if (auto r = recorder()) r->drain();
        NotifyComplete(S_OK);
    }

protected:
    void *GetInterface(REFIID riid) override {
        if (void *p = answer<IConfigAsfWriter2>(riid)) return p;
        if (void *p = answer<IConfigAsfWriter, IConfigAsfWriter2>(riid)) return p;
        if (void *p = answer<IFileSinkFilter2>(riid)) return p;
        if (void *p = answer<IFileSinkFilter, IFileSinkFilter2>(riid)) return p;
        if (void *p = answer<IServiceProvider>(riid)) return p;
        if (void *p = answer<IMediaSeeking>(riid)) return p;
        if (void *p = answer<IAMFilterMiscFlags>(riid)) return p;
        return BaseFilter::GetInterface(riid);
    }

    HRESULT OnPause(FILTER_STATE previous) override {
        if (previous != State_Stopped) return S_OK;
        std::vector<AsfInputPin *> used;
        for (AsfInputPin *p : {audio_, video_})
            if (p->input.load() >= 0) used.push_back(p);
        for (AsfInputPin *p : used)
            if (!p->is_connected()) return VFW_E_NOT_CONNECTED;
        int profile;
        tw::wstring name;
        bool index;
        {
            std::lock_guard lk(lock());
            profile = profile_;
            name = has_name_ ? file_name_ : tw::wstring();
            index = index_;
        }
        auto rec = std::make_shared<Recorder>(profile);
        for (AsfInputPin *p : used) {
            HRESULT hr = set_format(*rec, size_t(p->input.load()), p->connection_type().get());
            if (FAILED(hr)) return hr;
        }
        RecorderOptions opts;
        opts.index = index;
        // The filter stays in the graph while it records (Stop joins the recorder first), so
        // the event sink is there for the output thread.
        opts.on_error = [this](HRESULT hr) { NotifyEvent(EC_ERRORABORT, LONG_PTR(hr), 0); };
        std::vector<std::unique_ptr<SinkAdapter>> adapters;
        {
            std::lock_guard lk(state_->mutex);
            for (auto &s : state_->sinks) adapters.push_back(std::make_unique<SinkAdapter>(s));
        }
        for (auto &a : adapters) opts.sinks.push_back(a.get());
        HRESULT hr = rec->start(tw::to_utf8(name), std::move(opts));
        if (FAILED(hr)) return hr;
        for (AsfInputPin *p : {audio_, video_}) p->got_eos = false;
        complete_sent_ = false;
        adapters_ = std::move(adapters);
        {
            std::lock_guard lk(state_->mutex);
            state_->writing = true;
            state_->recorder = rec;
        }
        std::atomic_store(&recorder_, rec);
        return S_OK;
    }

    HRESULT OnStop() override {
        // The pins are inactive: no Receive is in progress and none will start.
        auto rec = std::atomic_exchange(&recorder_, std::shared_ptr<Recorder>());
        if (!rec) return S_OK;
        bool failed_before = FAILED(rec->error());
        HRESULT hr = rec->stop();
        last_position_ = rec->written_position();
        {
            std::lock_guard lk(state_->mutex);
            state_->writing = false;
        }
        adapters_.clear();
        // A failure while streaming was reported as EC_ERRORABORT already.
        return failed_before ? S_OK : hr;
    }

private:
    friend class AsfInputPin;

    static HRESULT set_format(Recorder &rec, size_t input, const AM_MEDIA_TYPE &mt) {
        if (rec.input_kind(input) == StreamKind::kVideo) {
            VideoFormat f;
            if (!video_format_of(mt, &f)) return VFW_E_TYPE_NOT_ACCEPTED;
            return rec.set_video_format(input, f);
        }
        AudioFormat f;
        if (!audio_format_of(mt, &f)) return VFW_E_TYPE_NOT_ACCEPTED;
        return rec.set_audio_format(input, f);
    }

public:
    static bool video_format_of(const AM_MEDIA_TYPE &mt, VideoFormat *out) {
        if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo || !mt.pbFormat ||
            mt.cbFormat < sizeof(VIDEOINFOHEADER))
            return false;
        const auto &bi = reinterpret_cast<const VIDEOINFOHEADER *>(mt.pbFormat)->bmiHeader;
        VideoFormat f;
        f.width = bi.biWidth;
        f.height = bi.biHeight < 0 ? -bi.biHeight : bi.biHeight;
        bool rgb = false;
        if (mt.subtype == MEDIASUBTYPE_RGB32 && bi.biBitCount == 32) {
            f.pix_fmt = AV_PIX_FMT_BGR0;
            rgb = true;
        } else if (mt.subtype == MEDIASUBTYPE_RGB24 && bi.biBitCount == 24) {
            f.pix_fmt = AV_PIX_FMT_BGR24;
            rgb = true;
        } else if (mt.subtype == MEDIASUBTYPE_YUY2) {
            f.pix_fmt = AV_PIX_FMT_YUYV422;
        } else if (mt.subtype == MEDIASUBTYPE_I420 || mt.subtype == MEDIASUBTYPE_IYUV) {
            f.pix_fmt = AV_PIX_FMT_YUV420P;
        } else if (mt.subtype == MEDIASUBTYPE_YV12) {
            f.pix_fmt = AV_PIX_FMT_YUV420P;
            f.swap_uv = true;
        } else if (mt.subtype == MEDIASUBTYPE_NV12) {
            f.pix_fmt = AV_PIX_FMT_NV12;
        } else {
            return false;
        }
        // RGB with a positive height is stored bottom-up; YUV is always top-down.
        f.bottom_up = rgb && bi.biHeight > 0;
        if (f.width <= 0 || f.height <= 0 || f.width > 8192 || f.height > 8192) return false;
        if ((f.pix_fmt == AV_PIX_FMT_YUV420P || f.pix_fmt == AV_PIX_FMT_NV12) && (f.width % 2 || f.height % 2)) return false;
        if (video_frame_bytes(f) == 0) return false;
        *out = f;
        return true;
    }

    static bool audio_format_of(const AM_MEDIA_TYPE &mt, AudioFormat *out) {
        if (mt.majortype != MEDIATYPE_Audio || mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat || mt.cbFormat < 16)
            return false;
        // The first 16 bytes (WAVEFORMAT plus wBitsPerSample) are all a PCM format needs.
        const auto *w = reinterpret_cast<const WAVEFORMATEX *>(mt.pbFormat);
        bool is_float = mt.subtype == MEDIASUBTYPE_IEEE_FLOAT;
        if (!is_float && mt.subtype != MEDIASUBTYPE_PCM) return false;
        if (w->wFormatTag != (is_float ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM) && w->wFormatTag != WAVE_FORMAT_EXTENSIBLE)
            return false;
        AudioFormat f;
        f.sample_rate = int(w->nSamplesPerSec);
        f.channels = w->nChannels;
        if (is_float && w->wBitsPerSample == 32) f.sample_fmt = AV_SAMPLE_FMT_FLT;
        else if (!is_float && w->wBitsPerSample == 16) f.sample_fmt = AV_SAMPLE_FMT_S16;
        else if (!is_float && w->wBitsPerSample == 8) f.sample_fmt = AV_SAMPLE_FMT_U8;
        else if (!is_float && w->wBitsPerSample == 32) f.sample_fmt = AV_SAMPLE_FMT_S32;
        else return false;
        if (f.channels < 1 || f.channels > 8 || f.sample_rate < 1000 || f.sample_rate > 384000) return false;
        if (w->nBlockAlign != f.channels * (w->wBitsPerSample / 8)) return false;
        *out = f;
        return true;
    }

private:
    std::vector<IPin *> visible_pins() const {
        std::vector<IPin *> v;
        for (AsfInputPin *p : {audio_, video_})
            if (p->input.load() >= 0) v.push_back(p);
        return v;
    }

    // Shows the pins the profile needs; a pin it no longer needs is disconnected from its peer.
    void apply_profile(int index) {
        Recorder layout(index);
        int audio = -1, video = -1;
        for (size_t i = 0; i < layout.input_count(); ++i)
            (layout.input_kind(i) == StreamKind::kAudio ? audio : video) = int(i);
        for (auto [pin, input] : {std::pair{audio_, audio}, std::pair{video_, video}}) {
            if (input < 0 && pin->is_connected()) {
                if (ComPtr<IPin> peer = pin->peer()) peer->Disconnect();
                pin->Disconnect();
            }
            pin->input = input;
        }
        {
            std::lock_guard lk(lock());
            profile_ = index;
        }
        ++pins_version_;
    }

    // The current position is the media time the file holds, not what has been received:
    // what is still being encoded is lost if the process dies or the disk fills.
    LONGLONG Position() const override {
        if (auto r = recorder()) return r->written_position();
        return last_position_.load();
    }

    ComPtr<IMediaSeeking> Upstream() const override {
        for (AsfInputPin *p : {audio_, video_}) {
            if (p->input.load() < 0) continue;
            if (ComPtr<IPin> peer = p->peer())
                if (auto s = peer.query<IMediaSeeking>()) return s;
        }
        return {};
    }

    AsfInputPin *audio_;  // owned by the filter's pin list
    AsfInputPin *video_;
    std::atomic<int> pins_version_{0};
    // Guarded by lock():
    int profile_ = kDefaultProfile;
    tw::wstring file_name_;
    bool has_name_ = false;
    ComPtr<IWMWriterAdvanced2> advanced_;
    // Plain flags read when the graph starts.
    std::atomic<bool> index_{true};
    std::atomic<bool> complete_sent_{false};
    std::atomic<LONGLONG> last_position_{0};
    std::shared_ptr<WriterState> state_;
    std::shared_ptr<Recorder> recorder_;  // atomic access only (std::atomic_load/store)
    std::vector<std::unique_ptr<SinkAdapter>> adapters_;  // application thread only
};

AsfInputPin::AsfInputPin(AsfWriter *owner, const WCHAR *name, StreamKind kind)
    : InputPin(owner, name), owner_(owner), kind_(kind) {}

HRESULT AsfInputPin::CheckMediaType(const AM_MEDIA_TYPE &mt) {
    if (input.load() < 0) return VFW_E_TYPE_NOT_ACCEPTED;
    if (kind_ == StreamKind::kVideo) {
        VideoFormat f;
        return AsfWriter::video_format_of(mt, &f) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    AudioFormat f;
    return AsfWriter::audio_format_of(mt, &f) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT AsfInputPin::OnReceive(IMediaSample *sample) {
    auto rec = owner_->recorder();
    int in = input.load();
    if (!rec || in < 0) return VFW_E_WRONG_STATE;
    AM_MEDIA_TYPE *changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
        // The engine's converters are set up for the connection's format.
        bool same = equal_types(*changed, connection_type().get());
        DeleteMediaType(changed);
        if (!same) return VFW_E_TYPE_NOT_ACCEPTED;
    }
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT th = sample->GetTime(&start, &stop);
    if (FAILED(th)) return VFW_E_SAMPLE_TIME_NOT_SET;
    if (th != S_OK) stop = -1;  // only the start was set
    HRESULT hr = E_INVALIDARG;
    // Our decoder's picture, when the sample carries it, is scaled from where it lies; the
    // sample's buffer is then never filled.
    const media::FrameContent *picture = nullptr;
    if (kind_ == StreamKind::kVideo)
        if (auto deferred = ComPtr<IMediaSample>::addref(sample).query<IDeferredSample>())
            picture = dynamic_cast<const media::FrameContent *>(deferred->Content());
    if (picture) hr = rec->push_video(size_t(in), picture->frame(), start, stop);
    if (hr == E_INVALIDARG) {
        BYTE *data = nullptr;
        if (FAILED(sample->GetPointer(&data))) return E_POINTER;
        LONG len = sample->GetActualDataLength();
        if (len < 0) return E_INVALIDARG;
        hr = kind_ == StreamKind::kVideo ? rec->push_video(size_t(in), data, size_t(len), start, stop)
                                         : rec->push_audio(size_t(in), data, size_t(len), start);
    }
    // Once the recording has failed (reported as EC_ERRORABORT) upstream is told to stop sending.
    if (FAILED(hr) && FAILED(rec->error())) return S_FALSE;
    return hr;
}

HRESULT AsfInputPin::OnEndOfStream() {
    int in = input.load();
    if (in < 0) return S_OK;
    if (auto rec = owner_->recorder()) rec->end_of_stream(size_t(in));
    if (!got_eos.exchange(true)) owner_->input_ended();
    return S_OK;
}

}  // namespace

HRESULT create_asf_writer(IUnknown *outer, REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto f = ComPtr<IBaseFilter>::adopt(new AsfWriter());
    return f->QueryInterface(riid, ppv);
}

}  // namespace tw::posix::asf
