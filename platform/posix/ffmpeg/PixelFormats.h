// FFmpeg's pixel formats as our converters take them.
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
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

// Sets the YUV ranges `sws` converts between (full 0-255 or video 16-235), keeping its
// colour tables; false when the context does not take them.
inline bool set_ranges(SwsContext *sws, bool src_full, bool dst_full) {
    int *inv_table, *table, src_range, dst_range, brightness, contrast, saturation;
    if (sws_getColorspaceDetails(sws, &inv_table, &src_range, &table, &dst_range, &brightness, &contrast,
                                 &saturation) < 0)
        return false;
    return sws_setColorspaceDetails(sws, inv_table, src_full ? 1 : 0, table, dst_full ? 1 : 0, brightness, contrast,
                                    saturation) >= 0;
}

}  // namespace tw::posix::ffmpeg
