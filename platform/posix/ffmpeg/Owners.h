// Owners for the libav* objects the media filters and the ASF writer's encoders hold: each
// frees its object the way FFmpeg asks for it.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace tw::posix::ffmpeg {

struct PacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct CodecParametersDeleter {
    void operator()(AVCodecParameters *p) const { avcodec_parameters_free(&p); }
};
struct SwsDeleter {
    void operator()(SwsContext *s) const { sws_freeContext(s); }
};
struct SwrDeleter {
    void operator()(SwrContext *s) const { swr_free(&s); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using CodecParametersPtr = std::unique_ptr<AVCodecParameters, CodecParametersDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

inline PacketPtr make_packet() { return PacketPtr(av_packet_alloc()); }
inline FramePtr make_frame() { return FramePtr(av_frame_alloc()); }
struct AudioFifoDeleter {
    void operator()(AVAudioFifo *f) const { av_audio_fifo_free(f); }
};
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;
// The pool goes once the last of its buffers is back.
struct BufferPoolDeleter {
    void operator()(AVBufferPool *p) const { av_buffer_pool_uninit(&p); }
};
using BufferPoolPtr = std::unique_ptr<AVBufferPool, BufferPoolDeleter>;

}  // namespace tw::posix::ffmpeg
