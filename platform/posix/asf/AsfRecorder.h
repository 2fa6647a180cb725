// The recording engine behind our WM ASF Writer: raw video frames and PCM audio in, an ASF
// file (and optionally a live copy of its packets) out.
//
// Threads: the caller pushes samples (from the graph's streaming threads); each output stream
// (the audio stream and every video bit-rate variant) has a worker thread of its own that
// converts and encodes, and one output thread writes the file and feeds the sinks. Queues are
// bounded: a push blocks while its stream's workers are busy, so memory stays flat whatever the
// source's speed. Nothing here waits on a clock: a recording runs as fast as data arrives.
#pragma once

#include "platform/com.h"
#include "platform/posix/asf/AsfMuxer.h"
#include "platform/posix/asf/Wm8Profiles.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct AVFrame;

namespace tw::posix::asf {

namespace recorder {
struct Planes;
}

// Raw video as delivered upstream. `pix_fmt` is an AVPixelFormat; YV12 is given as
// AV_PIX_FMT_YUV420P with `swap_uv`. `stride` is the first plane's line size in bytes
// (0: the format's natural one, 4-byte aligned for RGB). Bottom-up applies to RGB only.
struct VideoFormat {
    int pix_fmt = -1;
    int width = 0, height = 0;
    int stride = 0;
    bool bottom_up = false;
    bool swap_uv = false;
};
// Bytes a frame of this format takes; 0 when the format is unusable.
size_t video_frame_bytes(const VideoFormat &f);

// Interleaved PCM. `sample_fmt` is an AVSampleFormat of the packed kind (S16, U8, S32, FLT).
struct AudioFormat {
    int sample_fmt = -1;
    int sample_rate = 0, channels = 0;
};

// Receives the stream as it is written: the header once (broadcast form: header object and
// the data object's first 50 bytes), then every data packet, then the end. Called from the
// output thread, with no lock of the recorder held.
class PacketSink {
public:
    virtual void on_header(const Bytes &header) = 0;
    virtual void on_packet(const uint8_t *data, size_t size) = 0;
    virtual void on_end() = 0;

protected:
    ~PacketSink() = default;
};

struct RecorderOptions {
    bool index = true;
    std::vector<PacketSink *> sinks;  // not owned; must outlive stop()
    // Called once, from the output thread, when writing fails mid-way; the recording is then
    // aborted (pushes fail) and stop() still leaves what was written playable.
    std::function<void(HRESULT)> on_error;
    uint32_t packet_size = 0;  // 0: chosen from the profile's bit rate
};

// Threads: set up (formats, start) and finished (drain, stop) by the writer filter's owner, one
// thread at a time; push_* and end_of_stream from the streaming threads, one per input, at
// the same time as each other and as the queries. The workers, the interleaver and the output
// thread are the recorder's own (EncodeWorker.h, Interleaver.h).
class Recorder {
public:
    explicit Recorder(int profile);
    ~Recorder();
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    bool valid() const { return !inputs_.empty(); }
    // Inputs: one per stream the profile takes, audio first; MBR variants share a video input.
    size_t input_count() const { return inputs_.size(); }
    StreamKind input_kind(size_t input) const { return inputs_[input].kind; }
    // ASF stream number of the (first) stream the input feeds.
    int stream_number(size_t input) const { return inputs_[input].first_stream; }

    HRESULT set_video_format(size_t input, const VideoFormat &f);
    HRESULT set_audio_format(size_t input, const AudioFormat &f);

    // Opens the encoders, creates the file (failing with the system's code), writes the
    // provisional header and starts the threads.
    HRESULT start(const std::string &path, RecorderOptions options);
    bool started() const { return started_; }

    // Copies one sample in and queues it. Times in 100 ns units; video `stop` < 0 if unknown.
    // Fails once the recording is aborted or stopped, or for a buffer too short for its format.
    // Blocks while the input's queue is full (the encoder is behind): the source slows down
    // rather than memory growing; stop() and a write failure release it.
    HRESULT push_video(size_t input, const uint8_t *data, size_t size, int64_t start, int64_t stop);
    // The same for a decoded picture read where it lies, in whatever pixel format it has:
    // E_INVALIDARG unless it has the input's size and a format the scaler reads.
    HRESULT push_video(size_t input, const AVFrame &frame, int64_t start, int64_t stop);
    HRESULT push_audio(size_t input, const uint8_t *data, size_t size, int64_t start);
    // No more data on this input: its streams are finished (queued data first). Any thread;
    // a second call for the same input does nothing.
    void end_of_stream(size_t input);

    // Ends every input and waits until everything queued is encoded and written (the file stays
    // open; stop() finishes it). Blocks; not from a streaming thread that still pushes.
    void drain();
    // Finishes everything queued, writes the final header and the index, closes the file.
    // Returns the first failure of the recording, S_OK if none. Safe to call twice. Blocks
    // until every thread of the recorder has ended.
    HRESULT stop();

    // Latest media time received on any input (100 ns).
    int64_t position() const { return position_.load(); }
    // Media time the file holds so far (100 ns): the end of the objects complete in the packets
    // that reached the file. Behind position() by what is still being encoded or buffered.
    // After stop(), what the finished file holds.
    int64_t written_position() const;
    HRESULT error() const;
    // Objects (compressed frames) and their bytes written so far for an ASF stream number.
    bool stream_stats(int stream_number, uint64_t *objects, uint64_t *bytes) const;
    // The declared bit rate of an ASF stream number (0 if unknown or before start).
    uint32_t stream_bitrate(int stream_number) const;

    struct Impl;

private:
    HRESULT check_video(size_t input) const;
    static recorder::Planes planes_of(const AVFrame &frame);
    HRESULT push_planes(size_t input, const recorder::Planes &planes, int64_t start, int64_t stop);
    void note_position(int64_t t);

    struct Input {
        StreamKind kind;
        int first_stream;
        std::vector<size_t> workers;
    };
    int profile_;
    std::vector<StreamSetting> settings_;
    std::vector<Input> inputs_;
    std::vector<VideoFormat> video_formats_;
    std::vector<AudioFormat> audio_formats_;
    std::unique_ptr<Impl> impl_;
    // Per input: its end was queued. Set from whichever streaming thread ends it.
    std::unique_ptr<std::atomic<bool>[]> ended_;
    bool started_ = false;
    std::atomic<int64_t> position_{0};
};

}  // namespace tw::posix::asf
