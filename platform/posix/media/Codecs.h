// The FFmpeg side of the decoder filters: a libavcodec decoder, the uncompressed video
// formats the video decoder offers with their picture layouts, a cached libswscale
// conversion straight into a sample buffer, and a libswresample conversion to 16-bit PCM.
//
// Nothing here is shared between threads: each decoder filter owns its objects and uses them
// on its streaming thread (and on the control thread only while streaming is stopped).
#pragma once

#include "platform/posix/graph/MediaSample.h"
#include "platform/posix/media/FFmpeg.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tw::posix::media {

// ---- Uncompressed video formats.

enum class VideoFormat { I420, YV12, NV12, YUY2, RGB32, RGB24 };

struct VideoFormatInfo {
    VideoFormat id;
    uint32_t fourcc;     // the subtype's FourCC and biCompression; 0 (BI_RGB) for RGB
    uint32_t subtype_data1;  // Data1 of the subtype GUID (RGB subtypes are not FourCC GUIDs)
    uint16_t bit_count;  // biBitCount
    AVPixelFormat pix;   // the same memory layout in FFmpeg's terms
    bool bottom_up;      // rows stored bottom first (RGB with a positive biHeight)
    const char *name;
};
const VideoFormatInfo &video_format_info(VideoFormat f);
const std::vector<VideoFormat> &all_video_formats();

// Where the planes of one picture lie in a sample buffer. RGB rows are padded to 4 bytes,
// as for every DIB; YUV planes are packed without padding, chroma planes of odd sizes
// rounded up ((w + 1) / 2 by (h + 1) / 2), which is what biSizeImage counts.
struct PictureLayout {
    int planes = 0;
    size_t offset[4] = {};
    int stride[4] = {};
    size_t size = 0;  // biSizeImage
};
PictureLayout picture_layout(VideoFormat f, int width, int height);

// The formats a video decoder offers, best first for a decoder whose frames come in
// `native`: the native layout when it is one of ours (no conversion at all), then the YUV
// formats, then RGB.
std::vector<VideoFormat> preferred_video_formats(AVPixelFormat native);

// ---- Decoder

class Decoder {
public:
    // Opens a decoder for `par`. Packets and frames are timed in 100-ns units. `threads` 0:
    // one per core (frame threads where the codec has them).
    HRESULT open(const AVCodecParameters *par, int threads = 0);
    void close() { ctx_.reset(); }
    bool is_open() const { return ctx_ != nullptr; }
    AVCodecContext *context() const { return ctx_.get(); }

    // Sends one packet; nullptr starts draining. S_OK; S_FALSE when the decoder's output is
    // full (receive every frame, then send the packet again); or the failure
    // (VFW_E_INVALID_FILE_FORMAT for data the decoder rejects).
    HRESULT send(const AVPacket *pkt);
    // S_OK with a frame; S_FALSE when more input is needed or the decoder is drained.
    HRESULT receive(AVFrame *frame);
    // Forgets buffered data (after a seek); the decoder stays open.
    void flush();

    // Consecutive packets the decoder has rejected; a stream that keeps failing is broken.
    int errors_in_row() const { return errors_in_row_; }

private:
    CodecContextPtr ctx_;
    int errors_in_row_ = 0;
};

class VideoConverter;

// A decoded picture handed downstream as it is, as a sample's content (see SampleContent):
// the decoder neither copies nor converts it. It is put into the buffer in the sample's
// format only for a consumer that asks for bytes: copied plane by plane when it is already
// in that layout, otherwise converted by the decoder's converter.
class FrameContent final : public SampleContent {
public:
    FrameContent(FramePtr frame, std::shared_ptr<VideoConverter> converter, bool plain)
        : frame_(std::move(frame)), converter_(std::move(converter)), plain_(plain) {}
    const AVFrame &frame() const { return *frame_; }
    HRESULT write(BYTE *dst, LONG size) const override;

private:
    FramePtr frame_;  // a reference of its own to the decoder's picture
    std::shared_ptr<VideoConverter> converter_;
    bool plain_;  // already in the sample's layout: a copy does
};

// Converts decoded pictures into one output format and size, keeping its swscale context.
// Made once per output format (a new one when the format changes) and shared with the
// pictures handed on, which a consumer may ask for bytes on a thread of its own: converting
// takes the converter's lock.
class VideoConverter : public std::enable_shared_from_this<VideoConverter> {
public:
    // `top_down` only matters for RGB: rows top first (a negative biHeight) instead of the
    // usual bottom first.
    VideoConverter(VideoFormat f, int width, int height, bool top_down = false);
    VideoFormat format() const { return format_; }
    const PictureLayout &layout() const { return layout_; }
    // Writes `frame` into `dst` (at least layout().size bytes). S_OK or E_FAIL.
    HRESULT convert(const AVFrame *frame, uint8_t *dst);
    // The frame as it is, for a picture of the output's size (converting is left to whoever
    // asks for the bytes); null for a picture that needs scaling.
    std::unique_ptr<FrameContent> share(const AVFrame *frame);

private:
    const VideoFormat format_;
    const int width_, height_;
    const bool top_down_;
    const PictureLayout layout_;
    std::mutex mutex_;         // guards what follows
    bool full_range_ = false;  // the range sws_ was set up for
    SwsPtr sws_;
};

// Converts decoded audio to interleaved signed 16-bit PCM at a fixed rate and channel count
// (the source's, as announced when the pins connected): frames that arrive in another
// layout or rate are converted to it.
class AudioConverter {
public:
    void set_output(int sample_rate, int channels);
    int channels() const { return channels_; }
    int sample_rate() const { return rate_; }
    int block_align() const { return channels_ * 2; }
    // Converts `frame` (nullptr drains what the resampler holds) and appends the PCM to
    // `out`. Returns the number of sample frames appended, or a negative FFmpeg error.
    int convert(const AVFrame *frame, std::vector<uint8_t> &out);
    // Drops what the resampler holds (after a seek).
    void reset();

private:
    int configure(const AVFrame *frame);

    SwrPtr swr_;
    AVChannelLayout in_layout_{};
    int in_format_ = -1, in_rate_ = 0;
    int channels_ = 0, rate_ = 0;
};

}  // namespace tw::posix::media
