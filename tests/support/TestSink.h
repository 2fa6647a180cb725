// A sink filter for the media tests, on the platform's base classes: input pins that take
// uncompressed video (FORMAT_VideoInfo, the subtypes it is given) and 16-bit PCM, and record
// what the graph delivers. It sends EC_COMPLETE once every connected input had its end.
//
// With `interleave` set it behaves like a writer that interleaves its inputs: a pin whose
// stream is more than 200 ms ahead of another connected pin waits in Receive until that one
// catches up (or ends, flushes or stops), as the ASF writer may.
#pragma once

#include "platform/posix/graph/BaseFilter.h"
#include "platform/posix/media/MediaTypes.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace media_test {

using namespace tw;
using namespace tw::posix;

TW_DEFINE_GUID(CLSID_MediaTestSink, 0x5A9C31D2, 0x77E0, 0x4B5B, 0x8E, 0x21, 0x0F, 0x3A, 0x6C, 0x55, 0x91, 0x04);

struct StreamRecord {
    MediaType type;
    int samples = 0;
    int64_t bytes = 0;
    REFERENCE_TIME first_start = -1, last_start = -1, last_stop = -1;
    bool times_rise = true;   // every start after the previous one
    bool sizes_ok = true;     // every video sample exactly biSizeImage
    bool all_timed = true;
    int discontinuities = 0;
    int new_segments = 0;
    REFERENCE_TIME segment_start = 0;
    bool eos = false;
    bool picture_varies = false;  // some video sample had bytes that differ (not a blank buffer)
};

class TestSink : public BaseFilter<> {
public:
    enum Kind { kVideo, kAudio };

    class Pin : public InputPin {
    public:
        Pin(TestSink *f, const WCHAR *name, Kind kind) : InputPin(f, name), sink_(f), kind_(kind) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE &mt) override { return sink_->check(kind_, mt); }
        HRESULT GetMediaType(int index, MediaType *mt) override {
            if (kind_ != kVideo || index >= (int)sink_->proposed_.size()) return VFW_S_NO_MORE_ITEMS;
            *mt = sink_->proposed_[index];
            return S_OK;
        }
        HRESULT OnReceive(IMediaSample *s) override { return sink_->receive(this, s); }
        HRESULT OnEndOfStream() override { return sink_->end_of_stream(this); }
        HRESULT OnBeginFlush() override {
            sink_->wake(true);
            return S_OK;
        }
        HRESULT OnEndFlush() override {
            sink_->end_flush(this);
            return S_OK;
        }
        HRESULT OnNewSegment(REFERENCE_TIME start, REFERENCE_TIME, double) override {
            std::lock_guard<std::mutex> g(sink_->mu_);
            sink_->record(this).new_segments++;
            sink_->record(this).segment_start = start;
            return S_OK;
        }
        HRESULT Active() override {
            sink_->reset_for_run(this);
            return InputPin::Active();
        }
        HRESULT Inactive() override {
            sink_->wake(true);
            return InputPin::Inactive();
        }
        Kind kind() const { return kind_; }

    private:
        TestSink *sink_;
        Kind kind_;
    };

    // A new sink (count 1, for the caller) with a video and/or an audio input.
    static TestSink *create(bool video, bool audio, bool interleave = false) {
        return new TestSink(video, audio, interleave);
    }

    // Video subtypes accepted (all of ours by default), and types the video pin proposes.
    void accept_video(std::vector<GUID> subtypes) { video_subtypes_ = std::move(subtypes); }
    void propose(MediaType mt) { proposed_.push_back(std::move(mt)); }
    // Accepts nothing at all: for "nowhere to go".
    void refuse_everything() { refuse_ = true; }

    StreamRecord stream(Kind k) {
        std::lock_guard<std::mutex> g(mu_);
        return records_[k];
    }
    int total_samples() {
        std::lock_guard<std::mutex> g(mu_);
        return records_[0].samples + records_[1].samples;
    }
    // Waits until `n` samples arrived since the last reset (in total, or on one stream), or
    // every stream ended.
    void wait_samples(int n, int kind = -1) {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] {
            int got = kind < 0 ? records_[0].samples + records_[1].samples : records_[kind].samples;
            return got >= n || all_ended_locked();
        });
    }
    // Forgets what was recorded (between runs).
    void clear() {
        std::lock_guard<std::mutex> g(mu_);
        for (auto &r : records_) r = StreamRecord{};
    }

    Pin *pin(Kind k) const { return pins_[k]; }

private:
    TestSink(bool video, bool audio, bool interleave) : BaseFilter(CLSID_MediaTestSink), interleave_(interleave) {
        if (video) pins_[kVideo] = add_pin(std::make_unique<Pin>(this, OLESTR("Video Input 01"), kVideo));
        if (audio) pins_[kAudio] = add_pin(std::make_unique<Pin>(this, OLESTR("Audio Input 01"), kAudio));
    }

    StreamRecord &record(Pin *p) { return records_[p->kind()]; }

    HRESULT check(Kind k, const AM_MEDIA_TYPE &mt) {
        if (refuse_) return VFW_E_TYPE_NOT_ACCEPTED;
        if (k == kVideo) {
            media::VideoTypeInfo vi;
            if (!media::parse_video_type(mt, &vi)) return VFW_E_TYPE_NOT_ACCEPTED;
            if (!video_subtypes_.empty() &&
                std::find(video_subtypes_.begin(), video_subtypes_.end(), mt.subtype) == video_subtypes_.end())
                return VFW_E_TYPE_NOT_ACCEPTED;
            return S_OK;
        }
        int rate, ch;
        return media::parse_pcm_type(mt, &rate, &ch) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    bool all_ended_locked() const {
        bool any = false;
        for (int k = 0; k < 2; ++k) {
            if (!pins_[k] || !pins_[k]->is_connected()) continue;
            any = true;
            if (!records_[k].eos) return false;
        }
        return any;
    }

    void reset_for_run(Pin *p) {
        std::lock_guard<std::mutex> g(mu_);
        stopping_ = false;
        flushing_ = false;
        record(p).eos = false;
        complete_sent_ = false;
    }

    void wake(bool stop) {
        std::lock_guard<std::mutex> g(mu_);
        if (stop) stopping_ = true;
        cv_.notify_all();
    }
    void end_flush(Pin *p) {
        std::lock_guard<std::mutex> g(mu_);
        stopping_ = false;
        record(p).eos = false;
        record(p).last_start = -1;
        complete_sent_ = false;
    }

    HRESULT receive(Pin *p, IMediaSample *s) {
        REFERENCE_TIME a = 0, b = 0;
        HRESULT th = s->GetTime(&a, &b);
        BYTE *data = nullptr;
        s->GetPointer(&data);
        LONG len = s->GetActualDataLength();
        std::unique_lock<std::mutex> lock(mu_);
        StreamRecord &r = record(p);
        if (r.samples == 0 || r.type.empty()) r.type = MediaType(p->connection_type().get());
        r.samples++;
        r.bytes += len;
        if (th != S_OK) {
            r.all_timed = false;
        } else {
            if (r.first_start < 0) r.first_start = a;
            if (r.last_start >= 0 && a <= r.last_start) r.times_rise = false;
            r.last_start = a;
            r.last_stop = b;
        }
        if (s->IsDiscontinuity() == S_OK) r.discontinuities++;
        if (p->kind() == kVideo) {
            const VIDEOINFOHEADER *vih = r.type.video_info();
            if (!vih || (DWORD)len != vih->bmiHeader.biSizeImage) r.sizes_ok = false;
            for (LONG i = 1; i < len && !r.picture_varies; i += 97)
                if (data[i] != data[0]) r.picture_varies = true;
        }
        cv_.notify_all();
        if (interleave_ && th == S_OK) {
            // Hold this stream while it is ahead of another one that still delivers.
            cv_.wait(lock, [&] {
                if (stopping_ || flushing_) return true;
                for (int k = 0; k < 2; ++k) {
                    if (k == p->kind() || !pins_[k] || !pins_[k]->is_connected() || records_[k].eos) continue;
                    if (a > records_[k].last_start + 2000000) return false;
                }
                return true;
            });
        }
        return S_OK;
    }

    HRESULT end_of_stream(Pin *p) {
        bool complete = false;
        {
            std::lock_guard<std::mutex> g(mu_);
            record(p).eos = true;
            cv_.notify_all();
            if (all_ended_locked() && !complete_sent_) complete = complete_sent_ = true;
        }
        if (complete) NotifyComplete();
        return S_OK;
    }

    void *GetInterface(REFIID riid) override { return BaseFilter::GetInterface(riid); }

    Pin *pins_[2] = {nullptr, nullptr};
    bool interleave_;
    bool refuse_ = false;
    std::vector<GUID> video_subtypes_;
    std::vector<MediaType> proposed_;

    std::mutex mu_;  // guards everything below
    std::condition_variable cv_;
    StreamRecord records_[2];
    bool stopping_ = false, flushing_ = false;
    bool complete_sent_ = false;
};

}  // namespace media_test
