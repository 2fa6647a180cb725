// CodecInfo: what a decoder needs to know about a compressed stream, carried from the source
// filter to the decoder filter inside the format block of the stream's media type.
//
// The block is self-contained (no pointers), so a media type can be copied freely: a fixed
// header followed by the codec's extradata. Both ends are in this process and built from
// the same code, but the header still carries a magic number and its own size so that a
// block from anywhere else is refused rather than misread.
#pragma once

#include "platform/posix/media/FFmpeg.h"

#include <cstdint>
#include <vector>

namespace tw::posix::media {

struct CodecInfoHeader {
    uint32_t magic;        // kCodecInfoMagic
    uint32_t header_size;  // sizeof(CodecInfoHeader)
    int32_t codec_type;    // AVMediaType
    int32_t codec_id;      // AVCodecID
    uint32_t codec_tag;
    int32_t format;  // AVPixelFormat / AVSampleFormat of the coded data, -1 unknown
    int64_t bit_rate;
    int32_t bits_per_coded_sample, bits_per_raw_sample;
    int32_t profile, level;
    // video
    int32_t width, height;
    int32_t sar_num, sar_den;
    int32_t field_order, color_range, color_primaries, color_trc, color_space, chroma_location;
    int32_t video_delay;
    int32_t frame_rate_num, frame_rate_den;  // average frame rate, 0/0 unknown
    // audio
    uint64_t channel_mask;  // 0 when the order is not a native mask
    int32_t channels, sample_rate, block_align, frame_size;
    int32_t initial_padding, trailing_padding, seek_preroll;
    // timing of the packets' time stamps
    int32_t time_base_num, time_base_den;
    uint32_t extradata_size;  // bytes that follow the header
};
inline constexpr uint32_t kCodecInfoMagic = 0x46465754;  // "TWFF"

// Appends the description of `par` (packets timed in `time_base`, average frame rate
// `frame_rate`) to `out`.
void append_codec_info(const AVCodecParameters *par, AVRational time_base, AVRational frame_rate,
                       std::vector<uint8_t> &out);

// Reads a description written by append_codec_info into `par`. False when the block is
// not one (wrong magic, sizes that do not add up).
bool read_codec_info(const uint8_t *data, size_t size, AVCodecParameters *par, AVRational *time_base,
                     AVRational *frame_rate);

// The FourCC (video) or WAVE format tag (audio) Windows uses for a codec, 0 when none.
uint32_t windows_codec_tag(AVMediaType type, AVCodecID id);

}  // namespace tw::posix::media
