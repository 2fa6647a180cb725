#include "tests/support/TestGraph.h"

#include "tests/support/AsfTestUtil.h"

#include "platform/posix/asf/AsfWriterFilter.h"
#include "platform/posix/asf/Wm8Profiles.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/text.h"

using namespace tw;
using namespace tw::posix;

namespace asftest {

bool EventGraph::wait_for(LONG code, double seconds, Event *out) {
    std::unique_lock lk(m_);
    bool ok = cv_.wait_for(lk, std::chrono::duration<double>(seconds), [&] {
        for (auto &e : events_)
            if (e.code == code) return true;
        return false;
    });
    if (ok && out)
        for (auto &e : events_)
            if (e.code == code) {
                *out = e;
                break;
            }
    return ok;
}

int EventGraph::count(LONG code) const {
    std::lock_guard lk(m_);
    int n = 0;
    for (auto &e : events_) n += e.code == code;
    return n;
}

MediaType video_type(const SourceSpec &s) {
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = REFERENCE_TIME(1e7 / s.fps);
    auto &bi = vih.bmiHeader;
    bi.biSize = sizeof(BITMAPINFOHEADER);
    bi.biWidth = s.width;
    bi.biPlanes = 1;
    if (s.video_subtype == MEDIASUBTYPE_RGB32) {
        bi.biHeight = s.height;  // bottom-up
        bi.biBitCount = 32;
        bi.biCompression = BI_RGB;
        bi.biSizeImage = DWORD(s.width * s.height * 4);
    } else {
        bi.biHeight = s.height;
        bi.biBitCount = 12;
        bi.biCompression = 0x30323449;  // 'I420'
        bi.biSizeImage = DWORD(s.width * s.height * 3 / 2);
    }
    return MediaType::video(s.video_subtype, vih);
}

MediaType audio_type(const SourceSpec &s) {
    WAVEFORMATEX w{};
    w.wFormatTag = WAVE_FORMAT_PCM;
    w.nChannels = WORD(s.channels);
    w.nSamplesPerSec = DWORD(s.rate);
    w.wBitsPerSample = 16;
    w.nBlockAlign = WORD(s.channels * 2);
    w.nAvgBytesPerSec = w.nSamplesPerSec * w.nBlockAlign;
    return MediaType::audio(MEDIASUBTYPE_PCM, w);
}

namespace {

class SourcePin final : public OutputPin {
public:
    SourcePin(FilterImpl *f, const WCHAR *name, MediaType mt) : OutputPin(f, name), mt_(std::move(mt)) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE &mt) override { return equal_types(mt, mt_.get()) ? S_OK : S_FALSE; }
    HRESULT GetMediaType(int index, MediaType *mt) override {
        if (index != 0) return VFW_S_NO_MORE_ITEMS;
        *mt = mt_;
        return S_OK;
    }
    void DecideBufferSize(const AM_MEDIA_TYPE &mt, ALLOCATOR_PROPERTIES *props) override {
        props->cBuffers = 4;
        props->cbBuffer = std::max<LONG>(LONG(mt_.get().lSampleSize), 64 * 1024);
        if (props->cbAlign <= 0) props->cbAlign = 1;
    }
    MediaType mt_;
    std::jthread thread;
};

class TestSource final : public BaseFilter<> {
public:
    explicit TestSource(const SourceSpec &s) : BaseFilter(GUID{}), spec_(s) {
        if (s.audio) audio_ = add_pin(std::make_unique<SourcePin>(this, OLESTR("Audio"), audio_type(s)));
        if (s.video) video_ = add_pin(std::make_unique<SourcePin>(this, OLESTR("Video"), video_type(s)));
    }

protected:
    HRESULT OnPause(FILTER_STATE previous) override {
        if (previous != State_Stopped) return S_OK;
        if (video_ && video_->is_connected()) video_->thread = std::jthread([this](std::stop_token st) { run_video(st); });
        if (audio_ && audio_->is_connected()) audio_->thread = std::jthread([this](std::stop_token st) { run_audio(st); });
        return S_OK;
    }
    HRESULT OnStop() override {
        if (video_) video_->thread = {};  // asks the body to end and joins it
        if (audio_) audio_->thread = {};
        return S_OK;
    }

private:
    void run_video(std::stop_token stop) {
        int frames = int(std::lround(spec_.seconds * spec_.fps));
        bool rgb = spec_.video_subtype == MEDIASUBTYPE_RGB32;
        for (int i = 0; i < frames && !stop.stop_requested(); ++i) {
            auto pic = rgb ? make_rgb32(spec_.width, spec_.height, i) : make_i420(spec_.width, spec_.height, i);
            REFERENCE_TIME t0 = REFERENCE_TIME(i * 1e7 / spec_.fps), t1 = REFERENCE_TIME((i + 1) * 1e7 / spec_.fps);
            if (!send(video_, pic, t0, t1)) return;
        }
        video_->DeliverEndOfStream();
    }
    void run_audio(std::stop_token stop) {
        int64_t total = int64_t(spec_.seconds * spec_.rate), done = 0;
        while (done < total && !stop.stop_requested()) {
            int n = int(std::min<int64_t>(4410, total - done));
            auto pcm = make_pcm(spec_.rate, spec_.channels, done, n);
            REFERENCE_TIME t0 = done * 10000000LL / spec_.rate, t1 = (done + n) * 10000000LL / spec_.rate;
            if (!send(audio_, pcm, t0, t1)) return;
            done += n;
        }
        audio_->DeliverEndOfStream();
    }
    bool send(SourcePin *pin, const std::vector<uint8_t> &data, REFERENCE_TIME t0, REFERENCE_TIME t1) {
        ComPtr<IMediaSample> s;
        if (FAILED(pin->GetDeliveryBuffer(s.out()))) return false;
        BYTE *p = nullptr;
        s->GetPointer(&p);
        if (LONG(data.size()) > s->GetSize()) return false;
        std::memcpy(p, data.data(), data.size());
        s->SetActualDataLength(LONG(data.size()));
        s->SetTime(&t0, &t1);
        s->SetSyncPoint(TRUE);
        return pin->Deliver(s.get()) == S_OK;
    }

    void *GetInterface(REFIID riid) override { return BaseFilter::GetInterface(riid); }
    SourceSpec spec_;
    SourcePin *audio_ = nullptr, *video_ = nullptr;
};

}  // namespace

ComPtr<IBaseFilter> make_test_source(const SourceSpec &clip) { return ComPtr<IBaseFilter>::adopt(new TestSource(clip)); }

HRESULT CountingWriterSink::OnHeader(INSSBuffer *b) {
    DWORD n = 0;
    b->GetLength(&n);
    std::lock_guard lk(m);
    ++headers;
    header_bytes = n;
    return S_OK;
}

HRESULT CountingWriterSink::OnDataUnit(INSSBuffer *b) {
    std::lock_guard lk(m);
    if (headers == 0) packet_before_header = true;
    ++packets;
    return S_OK;
}

ComPtr<IBaseFilter> make_writer() {
    ComPtr<IBaseFilter> f;
    tw::posix::asf::create_asf_writer(nullptr, IID_IBaseFilter, f.out_void());
    return f;
}

const GUID &guid_of(int profile) {
    size_t n = 0;
    return tw::posix::asf::profiles(&n)[profile].guid;
}

wstring wide(const std::string &s) { return tw::to_wide(s); }

HRESULT Rig::build(int profile, const SourceSpec &clip, const std::string &file) {
    path = file;
    writer->JoinFilterGraph(graph.get(), OLESTR("WM ASF Writer"));
    HRESULT hr = writer.query<IConfigAsfWriter>()->ConfigureFilterUsingProfileGuid(guid_of(profile));
    if (FAILED(hr)) return hr;
    writer.query<IFileSinkFilter>()->SetFileName(wide(path).c_str(), nullptr);
    source = make_test_source(clip);
    source->JoinFilterGraph(graph.get(), OLESTR("Source"));
    for (auto [out, in] : {std::pair{OLESTR("Audio"), OLESTR("Audio Input 01")},
                           std::pair{OLESTR("Video"), OLESTR("Video Input 01")}}) {
        ComPtr<IPin> o = pin_named(source.get(), out), i = pin_named(writer.get(), in);
        if (!o || !i) continue;
        hr = o->Connect(i.get(), nullptr);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT Rig::run() {
    HRESULT hr = writer->Pause();
    if (FAILED(hr)) return hr;
    if (FAILED(hr = source->Pause())) return hr;
    if (FAILED(hr = writer->Run(0))) return hr;
    return source->Run(0);
}

void Rig::stop() {
    writer->Stop();
    if (source) source->Stop();
}

Rig::~Rig() {
    stop();
    if (source) {
        for (const WCHAR *n : {OLESTR("Audio"), OLESTR("Video")})
            if (auto p = pin_named(source.get(), n)) {
                ComPtr<IPin> peer;
                if (SUCCEEDED(p->ConnectedTo(peer.out()))) peer->Disconnect();
                p->Disconnect();
            }
        source->JoinFilterGraph(nullptr, nullptr);
    }
    writer->JoinFilterGraph(nullptr, nullptr);
}

ComPtr<IPin> pin_named(IBaseFilter *f, const WCHAR *name) {
    ComPtr<IPin> p;
    if (FAILED(f->FindPin(name, p.out()))) return {};
    return p;
}

std::vector<wstring> pin_names(IBaseFilter *f) {
    std::vector<wstring> names;
    ComPtr<IEnumPins> e;
    if (FAILED(f->EnumPins(e.out()))) return names;
    ComPtr<IPin> p;
    while (e->Next(1, p.out(), nullptr) == S_OK) {
        PIN_INFO info{};
        p->QueryPinInfo(&info);
        names.push_back(info.achName);
        if (info.pFilter) info.pFilter->Release();
    }
    return names;
}

}  // namespace asftest
