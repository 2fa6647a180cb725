// FFmpeg's pixel formats as our converters take them.
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace tw::posix::ffmpeg {

// JPEG's full-range formats (YUVJ...) are the plain ones with the range set apart: the plain
// format, with `*full_range` set for them and left alone for any other.
inline AVPixelFormat plain_format(AVPixelFormat f, bool *full_range) {
    switch (f) {
    case AV_PIX_FMT_YUVJ420P: *full_range = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: *full_range = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: *full_range = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: *full_range = true; return AV_PIX_FMT_YUV440P;
    default: return f;
    }
}

}  // namespace tw::posix::ffmpeg
