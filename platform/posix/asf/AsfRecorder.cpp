#include "platform/posix/asf/AsfRecorder.h"

#include "platform/posix/asf/AsfFile.h"
#include "platform/posix/asf/EncodeWorker.h"
#include "platform/posix/asf/Interleaver.h"
#include "platform/posix/asf/PictureScaler.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <mutex>

namespace tw::posix::asf {

using recorder::kUnits;
using recorder::Raw;

size_t video_frame_bytes(const VideoFormat &f) {
    if (f.width <= 0 || f.height <= 0) return 0;
    size_t w = size_t(f.width), h = size_t(f.height);
    switch (f.pix_fmt) {
    case AV_PIX_FMT_BGR0:
    case AV_PIX_FMT_BGRA: return size_t(f.stride ? f.stride : int(w * 4)) * h;
    case AV_PIX_FMT_BGR24: return size_t(f.stride ? f.stride : int((w * 3 + 3) & ~size_t(3))) * h;
    case AV_PIX_FMT_YUYV422: return size_t(f.stride ? f.stride : int(w * 2)) * h;
    case AV_PIX_FMT_YUV420P: {
        size_t s = f.stride ? size_t(f.stride) : w;
        return s * h + 2 * (s / 2) * ((h + 1) / 2);
    }
    case AV_PIX_FMT_NV12: {
        size_t s = f.stride ? size_t(f.stride) : w;
        return s * h + s * ((h + 1) / 2);
    }
    default: return 0;
    }
}

// Per video input: a decoded picture that falls into an output slot an earlier picture has
// already taken is dropped before it is scaled. From a 60 fps source recorded at 29.97, or 30
// at 15, half the pictures are never shown, and scaling them would be work for nothing.
// Holding such a picture back in case the next one leaves a gap would keep one more of the
// decoder's pictures alive for the whole recording (3 MB at 1080p) to show, in a gap, a
// picture less than one slot newer. Only the dropped picture's times are kept: when it was
// the input's last, the stream still lasts until it ends. Pushes come from the input's
// streaming thread; the lock also covers the input's scalers, since stop() may end the
// input from the control thread.
struct SlotFilter {
    std::mutex mutex;
    int fps_num = 0, fps_den = 1;  // the variants' rate; 0 when they differ (nothing is dropped)
    int64_t last_slot = INT64_MIN;
    bool dropped = false;  // the last picture was dropped; its times:
    int64_t start = 0, stop = 0;
};

struct Recorder::Impl {
    AsfFile file;
    std::unique_ptr<recorder::Interleaver> hub;
    std::vector<std::unique_ptr<recorder::Worker>> workers;
    // Per input: a scaler for each distinct size of its video variants (its pushing thread only).
    std::vector<std::vector<std::unique_ptr<recorder::PictureScaler>>> scalers;
    std::vector<std::unique_ptr<SlotFilter>> slots;  // per input (video inputs only)
    RecorderOptions options;
    std::atomic<bool> stopped{false};
    HRESULT result = S_OK;
};

Recorder::Recorder(int profile) : profile_(profile), settings_(profile_streams(profile)) {
    for (size_t i = 0; i < settings_.size(); ++i) {
        int number = int(i) + 1;
        if (settings_[i].kind == StreamKind::kVideo) {
            // Bit-rate variants of the same picture share one input.
            auto it = std::find_if(inputs_.begin(), inputs_.end(), [](const Input &in) { return in.kind == StreamKind::kVideo; });
            if (it != inputs_.end()) {
                it->workers.push_back(i);
                continue;
            }
        }
        inputs_.push_back(Input{settings_[i].kind, number, {i}});
    }
    video_formats_.resize(inputs_.size());
    audio_formats_.resize(inputs_.size());
    ended_ = std::make_unique<std::atomic<bool>[]>(inputs_.size());
}

Recorder::~Recorder() { stop(); }

HRESULT Recorder::set_video_format(size_t input, const VideoFormat &f) {
    if (input >= inputs_.size() || inputs_[input].kind != StreamKind::kVideo) return E_INVALIDARG;
    if (started_) return E_UNEXPECTED;
    if (video_frame_bytes(f) == 0) return E_INVALIDARG;
    video_formats_[input] = f;
    return S_OK;
}

HRESULT Recorder::set_audio_format(size_t input, const AudioFormat &f) {
    if (input >= inputs_.size() || inputs_[input].kind != StreamKind::kAudio) return E_INVALIDARG;
    if (started_) return E_UNEXPECTED;
    if (f.sample_rate <= 0 || f.channels <= 0 || f.channels > 8 ||
        av_get_bytes_per_sample(AVSampleFormat(f.sample_fmt)) <= 0 || av_sample_fmt_is_planar(AVSampleFormat(f.sample_fmt)))
        return E_INVALIDARG;
    audio_formats_[input] = f;
    return S_OK;
}

HRESULT Recorder::start(const std::string &path, RecorderOptions options) {
    if (started_ || !valid()) return E_UNEXPECTED;
    auto impl = std::make_unique<Impl>();
    impl->options = std::move(options);
    AsfLayout layout;
    uint64_t total = 0;
    impl->scalers.resize(inputs_.size());
    impl->slots.resize(inputs_.size());
    for (const Input &in : inputs_) {
        size_t k = size_t(&in - inputs_.data());
        if (in.kind == StreamKind::kVideo) {
            auto slots = std::make_unique<SlotFilter>();
            const StreamSetting &first = settings_[in.workers.front()];
            slots->fps_num = first.fps_num;
            slots->fps_den = first.fps_den;
            for (size_t w : in.workers)
                if (int64_t(settings_[w].fps_num) * first.fps_den != int64_t(first.fps_num) * settings_[w].fps_den)
                    slots->fps_num = 0;
            impl->slots[k] = std::move(slots);
        }
        for (size_t w : in.workers) {
            std::unique_ptr<recorder::Worker> worker;
            if (in.kind == StreamKind::kVideo) {
                worker = recorder::make_video_worker(w, settings_[w]);
                auto &scalers = impl->scalers[k];
                const StreamSetting &s = settings_[w];
                if (std::none_of(scalers.begin(), scalers.end(),
                                 [&](auto &sc) { return sc->width() == s.width && sc->height() == s.height; }))
                    scalers.push_back(std::make_unique<recorder::PictureScaler>(video_formats_[k], s.width, s.height));
            } else {
                worker = recorder::make_audio_worker(w, settings_[w], audio_formats_[k]);
            }
            if (impl->workers.size() <= w) impl->workers.resize(w + 1);
            impl->workers[w] = std::move(worker);
        }
    }
    for (size_t w = 0; w < impl->workers.size(); ++w) {
        HRESULT hr = impl->workers[w]->open();
        if (FAILED(hr)) return hr;
        AsfStream s;
        s.number = int(w) + 1;
        impl->workers[w]->fill(s);
        total += s.bitrate;
        if (s.video) layout.exclusive_streams.push_back(s.number);
        layout.streams.push_back(std::move(s));
    }
    // Pictures laid out as the encoders of their size keep theirs are handed over without a copy.
    for (size_t k = 0; k < inputs_.size(); ++k)
        for (auto &scaler : impl->scalers[k])
            for (size_t w : inputs_[k].workers)
                if (settings_[w].width == scaler->width() && settings_[w].height == scaler->height()) {
                    scaler->set_linesize(impl->workers[w]->picture_linesize());
                    break;
                }
    if (layout.exclusive_streams.size() < 2) layout.exclusive_streams.clear();
    for (const AsfStream &s : layout.streams)
        if (s.video) {
            layout.index_stream = s.number;
            break;
        }
    if (layout.index_stream == 0 && !layout.streams.empty()) layout.index_stream = layout.streams[0].number;
    layout.packet_size = impl->options.packet_size ? impl->options.packet_size : total >= 128000 ? 3200 : 1600;

    HRESULT hr = impl->file.create(path);
    if (FAILED(hr)) return hr;
    Recorder::Impl *p = impl.get();
    impl->hub = std::make_unique<recorder::Interleaver>(std::move(layout), &impl->file, impl->options.sinks, impl->options.on_error);
    Bytes header = impl->hub->mux().header(true);
    hr = impl->file.write_header(header);
    if (FAILED(hr)) {
        impl->file.close();
        return hr;
    }
    for (PacketSink *s : impl->options.sinks) s->on_header(header);
    impl->hub->start();
    static const char *const kNames[] = {"asf-audio", "asf-video1", "asf-video2", "asf-video3", "asf-video4", "asf-video"};
    int videos = 0;
    for (size_t w = 0; w < impl->workers.size(); ++w)
        impl->workers[w]->start(p->hub.get(), settings_[w].kind == StreamKind::kAudio ? kNames[0] : kNames[std::min(++videos, 5)]);
    impl_ = std::move(impl);
    started_ = true;
    return S_OK;
}

HRESULT Recorder::error() const { return impl_ && impl_->hub ? impl_->hub->error() : S_OK; }

int64_t Recorder::written_position() const {
    return started_ && impl_->hub ? impl_->hub->written_ms() * 10000 : 0;
}

HRESULT Recorder::check_video(size_t input) const {
    if (input >= inputs_.size() || inputs_[input].kind != StreamKind::kVideo) return E_INVALIDARG;
    if (!started_ || impl_->stopped || ended_[input].load()) return E_UNEXPECTED;
    if (impl_->hub->aborted()) return impl_->hub->error();
    return S_OK;
}

HRESULT Recorder::push_video(size_t input, const uint8_t *data, size_t size, int64_t start, int64_t stop) {
    HRESULT hr = check_video(input);
    if (FAILED(hr)) return hr;
    size_t need = video_frame_bytes(video_formats_[input]);
    if (need == 0) return E_UNEXPECTED;
    if (!data || size < need) return E_INVALIDARG;
    recorder::Planes planes;
    if (!recorder::PictureScaler::planes_of(video_formats_[input], data, &planes)) return E_UNEXPECTED;
    note_position(stop > start ? stop : start);
    SlotFilter &slots = *impl_->slots[input];
    std::lock_guard<std::mutex> g(slots.mutex);
    // Raw bytes are pushed as they come: the worker keeps the latest picture of a slot.
    slots.dropped = false;
    slots.last_slot = slots.fps_num ? recorder::output_slot(start, slots.fps_num, slots.fps_den) : INT64_MIN;
    return push_planes(input, planes, start, stop);
}

HRESULT Recorder::push_video(size_t input, const AVFrame &frame, int64_t start, int64_t stop) {
    HRESULT hr = check_video(input);
    if (FAILED(hr)) return hr;
    const VideoFormat &f = video_formats_[input];
    if (frame.width != f.width || frame.height != f.height || !sws_isSupportedInput(AVPixelFormat(frame.format)))
        return E_INVALIDARG;
    note_position(stop > start ? stop : start);
    SlotFilter &slots = *impl_->slots[input];
    std::lock_guard<std::mutex> g(slots.mutex);
    int64_t slot = slots.fps_num ? recorder::output_slot(start, slots.fps_num, slots.fps_den) : INT64_MIN;
    slots.dropped = slots.fps_num && slot == slots.last_slot;  // an earlier picture shows this slot
    slots.last_slot = slot;
    if (slots.dropped) {
        slots.start = start;
        slots.stop = stop;
        return S_OK;
    }
    return push_planes(input, planes_of(frame), start, stop);
}

recorder::Planes Recorder::planes_of(const AVFrame &frame) {
    recorder::Planes planes;
    for (int i = 0; i < 4; ++i) {
        planes.data[i] = frame.data[i];
        planes.linesize[i] = frame.linesize[i];
    }
    planes.format = frame.format;
    planes.full_range = frame.color_range == AVCOL_RANGE_JPEG;
    return planes;
}

void Recorder::note_position(int64_t t) {
    for (int64_t cur = position_.load(); t > cur && !position_.compare_exchange_weak(cur, t);) {}
}

HRESULT Recorder::push_planes(size_t input, const recorder::Planes &planes, int64_t start, int64_t stop) {
    auto raw = std::make_shared<Raw>();
    for (auto &scaler : impl_->scalers[input])
        raw->pictures.push_back({scaler->width(), scaler->height(), scaler->scale(planes)});
    raw->start = start;
    raw->stop = stop;
    for (size_t w : inputs_[input].workers)
        if (!impl_->workers[w]->push(raw)) return E_UNEXPECTED;
    return S_OK;
}

HRESULT Recorder::push_audio(size_t input, const uint8_t *data, size_t size, int64_t start) {
    if (input >= inputs_.size() || inputs_[input].kind != StreamKind::kAudio) return E_INVALIDARG;
    if (!started_ || impl_->stopped || ended_[input].load()) return E_UNEXPECTED;
    if (impl_->hub->aborted()) return impl_->hub->error();
    const AudioFormat &f = audio_formats_[input];
    if (f.sample_rate <= 0) return E_UNEXPECTED;
    if (!data && size) return E_POINTER;
    size_t frame = size_t(av_get_bytes_per_sample(AVSampleFormat(f.sample_fmt)) * f.channels);
    size -= size % frame;
    if (size == 0) return S_OK;
    auto raw = std::make_shared<Raw>();
    raw->data.assign(data, data + size);
    raw->start = start;
    note_position(start + av_rescale(int64_t(size / frame), kUnits, f.sample_rate));
    for (size_t w : inputs_[input].workers)
        if (!impl_->workers[w]->push(raw)) return E_UNEXPECTED;
    return S_OK;
}

void Recorder::end_of_stream(size_t input) {
    if (input >= inputs_.size() || !started_ || impl_->stopped || ended_[input].exchange(true)) return;
    if (SlotFilter *slots = impl_->slots[input].get()) {
        // A dropped last picture still ends the stream: its times go on without a picture,
        // queued like the end itself, past a full queue: on stop() from the control thread
        // the worker may be waiting for another input to end. Not while the streaming thread
        // is in a push, which may be waiting for that worker.
        std::unique_lock<std::mutex> g(slots->mutex, std::try_to_lock);
        if (g.owns_lock() && slots->dropped) {
            auto raw = std::make_shared<Raw>();
            raw->start = slots->start;
            raw->stop = slots->stop;
            for (size_t w : inputs_[input].workers) impl_->workers[w]->push_always(raw);
        }
    }
    for (size_t w : inputs_[input].workers) impl_->workers[w]->end();
}

void Recorder::drain() {
    if (!started_ || impl_->stopped) return;
    for (size_t i = 0; i < inputs_.size(); ++i) end_of_stream(i);
    for (auto &w : impl_->workers) w->join();
    impl_->hub->wait_written(true);
}

bool Recorder::stream_stats(int stream_number, uint64_t *objects, uint64_t *bytes) const {
    if (!started_ || stream_number < 1 || size_t(stream_number) > settings_.size()) return false;
    impl_->hub->stats(stream_number, objects, bytes);
    return true;
}

uint32_t Recorder::stream_bitrate(int stream_number) const {
    if (!started_ || stream_number < 1 || size_t(stream_number) > settings_.size()) return 0;
    return impl_->hub->mux().layout().streams[size_t(stream_number) - 1].bitrate;
}

HRESULT Recorder::stop() {
    if (!started_) return S_OK;
    Impl &m = *impl_;
    if (m.stopped) return m.result;
    for (size_t i = 0; i < inputs_.size(); ++i) end_of_stream(i);
    m.stopped = true;
    for (auto &w : m.workers) w->join();
    m.hub->close();
    HRESULT hr = m.hub->error();
    bool aborted = m.hub->aborted();
    AsfMuxer &mux = m.hub->mux();
    auto make_header = [&](uint64_t file_size, uint64_t packets) {
        AsfTotals t;
        t.file_size = file_size;
        t.packets = packets;
        t.play_duration_ms = uint64_t(std::max<int64_t>(mux.end_ms(), 0));
        t.send_duration_ms = uint64_t(std::max<int64_t>(mux.last_send_ms(), 0));
        if (aborted) {
            // Only part of the stream reached the disk: state what those packets hold.
            t.play_duration_ms = uint64_t(mux.end_ms_within(packets));
            t.send_duration_ms = uint64_t(mux.send_ms_within(packets));
        }
        for (size_t i = 0; i < mux.layout().streams.size(); ++i) {
            const AsfStream &s = mux.layout().streams[i];
            uint32_t rate = s.bitrate;
            if (settings_[i].bitrate == 0 && settings_[i].kind == StreamKind::kVideo && t.play_duration_ms > 0)
                rate = uint32_t(mux.stream_bytes(s.number) * 8000 / t.play_duration_ms);
            t.bitrates.push_back(rate);
        }
        return mux.header(false, &t);
    };
    Bytes index = m.options.index && !aborted ? mux.simple_index() : Bytes();
    HRESULT fh = m.file.finish(make_header, index);
    for (PacketSink *s : m.options.sinks) s->on_end();
    m.result = FAILED(hr) ? hr : fh;
    return m.result;
}

}  // namespace tw::posix::asf
