// The media types of the FFmpeg filters.
//
// Compressed streams (source output pins) are MEDIATYPE_Video or MEDIATYPE_Audio with a
// subtype per codec: the codec's FourCC or WAVE format tag in the usual
// {XXXXXXXX-0000-0010-8000-00AA00389B71} form, or, for codecs Windows has no tag for,
// {codec id-5457-4646-9342-084660A64383}. Their format type is FORMAT_TwCodecInfo, ours, whose
// block begins with the structure a Windows filter would look for (VIDEOINFOHEADER with
// biCompression = FourCC and the picture size, or WAVEFORMATEX with cbSize counting what
// follows) and continues with a CodecInfo block (CodecInfo.h). Nothing outside our decoders
// takes that format type, so intelligent connect puts a decoder in between.
//
// Uncompressed video (decoder output) is FORMAT_VideoInfo with the picture layouts of
// Codecs.h: positive biHeight (RGB bottom-up, as DIBs are; YUV top-down, as always),
// biSizeImage the whole picture, rcSource = rcTarget = the picture, AvgTimePerFrame from the
// source's frame rate. Uncompressed audio is FORMAT_WaveFormatEx, WAVE_FORMAT_PCM, 16 bits.
#pragma once

#include "platform/posix/graph/MediaType.h"
#include "platform/posix/media/CodecInfo.h"
#include "platform/posix/media/Codecs.h"

namespace tw::posix::media {

// {228946BE-2E31-4CB3-89EE-1A9F0709AAC9}
TW_DEFINE_GUID(FORMAT_TwCodecInfo, 0x228946BE, 0x2E31, 0x4CB3, 0x89, 0xEE, 0x1A, 0x9F, 0x07, 0x09, 0xAA, 0xC9);

// The media type of a demuxed stream. Empty (majortype GUID_NULL) for a stream that is not
// audio or video.
MediaType compressed_type(const AVStream *stream);

// The codec description inside a compressed type: false when `mt` is not one of ours.
struct CompressedStream {
    CodecParametersPtr par;
    AVRational time_base{0, 1};
    AVRational frame_rate{0, 0};
};
bool parse_compressed_type(const AM_MEDIA_TYPE &mt, CompressedStream *out);

// Uncompressed video of format `f`, `width` x `height`, one frame per `avg_time_per_frame`
// (100 ns; 0 when unknown).
MediaType video_type(VideoFormat f, int width, int height, REFERENCE_TIME avg_time_per_frame);

struct VideoTypeInfo {
    VideoFormat format;
    int width, height;
    bool flipped;  // RGB with a negative biHeight: rows top-down
    REFERENCE_TIME avg_time_per_frame;
};
// False when `mt` is not uncompressed video we can produce.
bool parse_video_type(const AM_MEDIA_TYPE &mt, VideoTypeInfo *out);

// 16-bit PCM.
MediaType pcm_type(int sample_rate, int channels);
// False when `mt` is not 16-bit PCM with a rate and channel count we can produce.
bool parse_pcm_type(const AM_MEDIA_TYPE &mt, int *sample_rate, int *channels);

}  // namespace tw::posix::media
