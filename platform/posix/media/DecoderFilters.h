// The decoder filters: one compressed stream of the source filter in, uncompressed out.
//
// VideoDecoderFilter offers, best first, the layout its decoder produces natively and then
// I420, YV12, NV12, YUY2, RGB32 and RGB24 at the stream's size (MediaTypes.h); it also takes a
// type the downstream pin proposes in any of those formats and any size, and scales to it.
// AudioDecoderFilter offers 16-bit PCM at the stream's rate and channel count (and stereo
// for more than two channels), and takes any 16-bit PCM rate and channel count proposed.
//
// Both decode on the upstream thread inside Receive and convert straight into the output
// sample's buffer (video) or a reused buffer cut into output samples (audio). libavcodec
// runs with frame threads (one per core). The decoder is opened when the filter leaves
// Stopped and closed when it stops, so every run starts clean.
//
// Times: output samples carry the decoder's presentation times in segment time (frames
// reordered, missing times filled in from the frame rate or sample count); what ends before
// segment time 0 (the lead-in of a seek) is dropped, and audio that straddles 0 is cut there.
//
// Errors: a packet the decoder rejects is skipped; a stream whose packets keep failing (32 in a
// row) is broken: EC_ERRORABORT with the decoder's HRESULT, end of stream downstream, and
// Receive fails from then on so the source stops sending.
#pragma once

#include "platform/posix/graph/TransformFilter.h"
#include "platform/posix/media/Codecs.h"
#include "platform/posix/media/MediaTypes.h"

namespace tw::posix::media {

// {C8D8FBA8-435F-48C4-B4A5-50609A095F64}
TW_DEFINE_GUID(CLSID_TwVideoDecoder, 0xC8D8FBA8, 0x435F, 0x48C4, 0xB4, 0xA5, 0x50, 0x60, 0x9A, 0x09, 0x5F, 0x64);
// {7EBA9DE7-3C54-4E9C-9C71-D9501204C62F}
TW_DEFINE_GUID(CLSID_TwAudioDecoder, 0x7EBA9DE7, 0x3C54, 0x4E9C, 0x9C, 0x71, 0xD9, 0x50, 0x12, 0x04, 0xC6, 0x2F);

class DecoderFilter : public TransformFilter {
protected:
    DecoderFilter(const CLSID &clsid, AVMediaType kind);

    HRESULT CheckInputType(const AM_MEDIA_TYPE &mt) override;
    HRESULT Transform(IMediaSample *, IMediaSample *) override { return E_UNEXPECTED; }  // Receive does it all
    HRESULT Receive(IMediaSample *in) override;
    HRESULT EndOfStream() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    HRESULT OnPause(FILTER_STATE previous) override;
    HRESULT OnStop() override;

    // Hooks of the two kinds.
    virtual HRESULT configure_output(const AM_MEDIA_TYPE &out) = 0;  // when streaming starts
    virtual HRESULT deliver_frame(AVFrame *frame) = 0;
    virtual HRESULT drain_output() { return S_OK; }  // at end of stream, after the last frame
    virtual void reset_timing() = 0;                  // new segment, flush, start

    HRESULT decode(const AVPacket *pkt);  // nullptr drains
    HRESULT fail(HRESULT hr);

    AVMediaType kind_;
    CompressedStream stream_;  // from the input connection, read when streaming starts
    Decoder decoder_;
    FramePtr frame_ = make_frame();
    bool discontinuity_ = true;
    bool failed_ = false;
};

class VideoDecoderFilter final : public DecoderFilter {
public:
    static HRESULT create(IBaseFilter **out);
    static bool accepts(const AM_MEDIA_TYPE &mt);

protected:
    HRESULT GetOutputType(const AM_MEDIA_TYPE &in, int index, MediaType *out) override;
    HRESULT CheckOutputType(const AM_MEDIA_TYPE &in, const AM_MEDIA_TYPE &out) override;
    void DecideBufferSize(const AM_MEDIA_TYPE &out, ALLOCATOR_PROPERTIES *props) override;
    HRESULT configure_output(const AM_MEDIA_TYPE &out) override;
    HRESULT deliver_frame(AVFrame *frame) override;
    void reset_timing() override;

private:
    VideoDecoderFilter() : DecoderFilter(CLSID_TwVideoDecoder, AVMEDIA_TYPE_VIDEO) {}
    std::shared_ptr<VideoConverter> converter_;  // for the output's format; null before
    REFERENCE_TIME frame_time_ = 0;  // AvgTimePerFrame of the output
    int64_t next_ = AV_NOPTS_VALUE;  // predicted time of the next frame
    int64_t last_ = AV_NOPTS_VALUE;
};

class AudioDecoderFilter final : public DecoderFilter {
public:
    static HRESULT create(IBaseFilter **out);
    static bool accepts(const AM_MEDIA_TYPE &mt);

protected:
    HRESULT GetOutputType(const AM_MEDIA_TYPE &in, int index, MediaType *out) override;
    HRESULT CheckOutputType(const AM_MEDIA_TYPE &in, const AM_MEDIA_TYPE &out) override;
    void DecideBufferSize(const AM_MEDIA_TYPE &out, ALLOCATOR_PROPERTIES *props) override;
    HRESULT configure_output(const AM_MEDIA_TYPE &out) override;
    HRESULT deliver_frame(AVFrame *frame) override;
    HRESULT drain_output() override;
    void reset_timing() override;

private:
    AudioDecoderFilter() : DecoderFilter(CLSID_TwAudioDecoder, AVMEDIA_TYPE_AUDIO) {}
    HRESULT deliver_pcm(int64_t frame_time);
    int64_t sample_time(int64_t samples) const;

    AudioConverter converter_;
    std::vector<uint8_t> pcm_;  // converted, not yet delivered
    int64_t base_ = AV_NOPTS_VALUE;  // segment time of sample 0 of the current run
    int64_t samples_ = 0;            // samples since base_ (delivered or dropped)
};

}  // namespace tw::posix::media
