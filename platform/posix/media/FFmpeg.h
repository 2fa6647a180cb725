// Shared pieces of the FFmpeg-backed media filters: owners for the libav* objects (from
// ffmpeg/Owners.h, shared with the ASF writer), time
// conversion between stream time bases and REFERENCE_TIME, and the mapping of FFmpeg errors
// to the HRESULTs the platform reports in the same situations.
#pragma once

#include "platform/posix/ffmpeg/Owners.h"
#include "platform/posix/media/Results.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace tw::posix::media {

typedef int64_t REFERENCE_TIME_T;  // 100 ns units, as REFERENCE_TIME

// 100-ns units per second.
inline constexpr int64_t kUnits = 10000000;
inline constexpr AVRational kUnitsTimeBase = {1, 10000000};

// A stream timestamp (in `tb`) in 100-ns units; AV_NOPTS_VALUE stays AV_NOPTS_VALUE.
inline int64_t to_units(int64_t ts, AVRational tb) {
    if (ts == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
    return av_rescale_q(ts, tb, kUnitsTimeBase);
}
inline int64_t from_units(int64_t t, AVRational tb) {
    if (t == AV_NOPTS_VALUE) return AV_NOPTS_VALUE;
    return av_rescale_q(t, kUnitsTimeBase, tb);
}

using ffmpeg::CodecContextPtr;
using ffmpeg::CodecParametersPtr;
using ffmpeg::FramePtr;
using ffmpeg::make_frame;
using ffmpeg::make_packet;
using ffmpeg::PacketPtr;
using ffmpeg::SwrPtr;
using ffmpeg::SwsPtr;

// FFmpeg's text for an error code, for logs.
std::string av_error_text(int err);

// The HRESULT for an FFmpeg error met while streaming (after the source was opened):
// network failures as the Winsock codes, corrupt data as VFW_E_INVALID_FILE_FORMAT, an
// interrupted call as E_ABORT, anything else as E_FAIL.
HRESULT hresult_from_av(int err);

}  // namespace tw::posix::media
