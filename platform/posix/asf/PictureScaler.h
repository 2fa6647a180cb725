// Brings a raw picture, as the writer's video pin receives it, to one of the profile's frame
// sizes: 4:2:0 planar, the picture fitted with its aspect kept and the rest black. Used on the
// pushing thread, once per distinct size, so the bit-rate variants of a size share one picture
// and the full-size one is never queued.
#pragma once

#include "platform/posix/asf/AsfRecorder.h"
#include "platform/posix/asf/Downscale.h"
#include "platform/posix/ffmpeg/Owners.h"

#include <vector>

namespace tw::posix::asf::recorder {

// One picture's planes as the scaler reads them: in the input's pixel format, or in
// `format` (an AVPixelFormat; a decoded picture as it is) at the input's size.
struct Planes {
    const uint8_t *data[4] = {};
    int linesize[4] = {};
    int format = -1;
    bool full_range = false;  // YUV from 0 to 255 rather than video's 16 to 235
};

class PictureScaler {
public:
    PictureScaler(const VideoFormat &in, int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }
    // Lays the pictures' rows `linesize` bytes apart (chroma half that) when that holds a
    // row; before the first picture only.
    void set_linesize(int linesize);
    // Where the planes of a picture lie in `data` (video_frame_bytes(in) bytes, as the pin
    // receives it); false for a format the scaler does not read.
    static bool planes_of(const VideoFormat &in, const uint8_t *data, Planes *out);
    // The picture at this size; null on failure.
    ffmpeg::FramePtr scale(const Planes &in);

private:
    bool setup(int format, bool full_range);
    ffmpeg::FramePtr new_frame();

    VideoFormat in_;
    int width_, height_;
    ffmpeg::SwsPtr sws_;
    int shrink_ = 0;  // a whole factor the picture shrinks by, done without swscale; 0: swscale
    std::vector<uint16_t> scratch_;
    bool downscale_ = false;  // by another ratio, with luma_ and chroma_ rather than swscale
    Downscaler luma_, chroma_;
    int sws_format_ = -1;  // what sws_ was set up for
    bool sws_full_range_ = false;
    int sw_ = 0, sh_ = 0, x_ = 0, y_ = 0;  // the fitted picture's size and place
    // The scaled pictures' buffers, used again once the encoders let go of them: a picture
    // allocated and freed on different threads for every frame left the heap a few
    // pictures larger than what was ever in use, and each fresh one cost page faults.
    ffmpeg::BufferPoolPtr pool_;
    int linesize_[3] = {};
};

}  // namespace tw::posix::asf::recorder
