#include "platform/posix/asf/EncodeWorker.h"

#include "platform/posix/ffmpeg/Owners.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

namespace tw::posix::asf::recorder {

namespace {

class AudioWorker : public Worker {
public:
    AudioWorker(size_t index, const StreamSetting &s, const AudioFormat &in)
        : Worker(index, kAudioQueue, kAudioRefill), s_(s), in_(in) {}
    ~AudioWorker() override {
        swr_free(&swr_);
        if (fifo_) av_audio_fifo_free(fifo_);
        av_frame_free(&frame_);
        av_packet_free(&pkt_);
    }

    HRESULT open() override {
        const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
        if (!codec) return E_FAIL;
        // Rates below the encoder's floor are raised to the lowest one it takes.
        for (int rate = audio_encode_bitrate(s_); rate <= 320000; rate += 8000) {
            enc_.reset(avcodec_alloc_context3(codec));
            AVCodecContext *c = enc_.get();
            c->sample_fmt = AV_SAMPLE_FMT_FLTP;
            c->sample_rate = s_.sample_rate;
            av_channel_layout_default(&c->ch_layout, s_.channels);
            c->bit_rate = rate;
            c->time_base = AVRational{1, s_.sample_rate};
            if (avcodec_open2(c, codec, nullptr) == 0) break;
            enc_.reset();
        }
        if (!enc_) return E_FAIL;
        fifo_ = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, s_.channels, enc_->frame_size * 4);
        frame_ = av_frame_alloc();
        pkt_ = av_packet_alloc();
        if (in_.sample_rate > 0 && in_.channels > 0) {
            AVChannelLayout in_layout, out_layout;
            av_channel_layout_default(&in_layout, in_.channels);
            av_channel_layout_default(&out_layout, s_.channels);
            if (swr_alloc_set_opts2(&swr_, &out_layout, AV_SAMPLE_FMT_FLTP, s_.sample_rate, &in_layout,
                                    AVSampleFormat(in_.sample_fmt), in_.sample_rate, 0, nullptr) < 0 ||
                swr_init(swr_) < 0)
                return E_FAIL;
        }
        return S_OK;
    }

    void fill(AsfStream &s) override {
        AVCodecContext *c = enc_.get();
        s.video = false;
        s.format_tag = 0x0161;
        s.channels = s_.channels;
        s.sample_rate = s_.sample_rate;
        s.block_align = c->block_align;
        s.bits_per_sample = 16;
        s.bitrate = uint32_t(c->bit_rate);  // the rate actually used, which may exceed the profile's
        s.buffer_ms = uint32_t(s_.buffer_ms);
        s.codec_name = u16("Windows Media Audio V2");
        s.codec_description = u16("");
        if (c->extradata_size > 0) s.extradata.assign(c->extradata, c->extradata + c->extradata_size);
    }

private:
    void encode_frames(bool last) {
        AVCodecContext *c = enc_.get();
        int n = c->frame_size;
        while (av_audio_fifo_size(fifo_) >= n || (last && av_audio_fifo_size(fifo_) > 0)) {
            av_frame_unref(frame_);
            frame_->format = AV_SAMPLE_FMT_FLTP;
            frame_->nb_samples = n;
            frame_->sample_rate = c->sample_rate;
            av_channel_layout_copy(&frame_->ch_layout, &c->ch_layout);
            if (av_frame_get_buffer(frame_, 0) < 0) return;
            int got = av_audio_fifo_read(fifo_, reinterpret_cast<void **>(frame_->data), n);
            if (got < n) av_samples_set_silence(frame_->data, got, n - got, s_.channels, AV_SAMPLE_FMT_FLTP);
            frame_->pts = base_ + encoded_;
            encoded_ += n;
            if (avcodec_send_frame(c, frame_) == 0) drain_encoder(c, pkt_);
        }
    }

    void add_silence(int64_t samples) {
        while (samples > 0) {
            int n = int(std::min<int64_t>(samples, 4096));
            uint8_t *planes[8] = {};
            av_samples_alloc(planes, nullptr, s_.channels, n, AV_SAMPLE_FMT_FLTP, 0);
            av_samples_set_silence(planes, 0, n, s_.channels, AV_SAMPLE_FMT_FLTP);
            av_audio_fifo_write(fifo_, reinterpret_cast<void **>(planes), n);
            av_freep(&planes[0]);
            samples -= n;
            encode_frames(false);
        }
    }

    void process(const Raw &r) override {
        if (!swr_) return;
        int bps = av_get_bytes_per_sample(AVSampleFormat(in_.sample_fmt)) * in_.channels;
        int in_samples = int(r.data.size() / size_t(bps));
        if (in_samples <= 0) return;
        int64_t start = std::max<int64_t>(r.start, 0);
        if (!begun_) {
            begun_ = true;
            base_ = av_rescale(start, s_.sample_rate, kUnits);
            expected_ = start;
        } else if (start > expected_ + kUnits / 10) {
            // A gap in the input becomes silence, so later audio stays in sync.
            add_silence(av_rescale(start - expected_, s_.sample_rate, kUnits));
            expected_ = start;
        }
        expected_ += av_rescale(in_samples, kUnits, in_.sample_rate);
        int out_max = swr_get_out_samples(swr_, in_samples);
        uint8_t *planes[8] = {};
        if (av_samples_alloc(planes, nullptr, s_.channels, out_max, AV_SAMPLE_FMT_FLTP, 0) < 0) return;
        const uint8_t *in[1] = {r.data.data()};
        int got = swr_convert(swr_, planes, out_max, in, in_samples);
        if (got > 0) av_audio_fifo_write(fifo_, reinterpret_cast<void **>(planes), got);
        av_freep(&planes[0]);
        encode_frames(false);
    }

    void finish() override {
        if (swr_ && begun_) {
            int out_max = swr_get_out_samples(swr_, 0);
            if (out_max > 0) {
                uint8_t *planes[8] = {};
                if (av_samples_alloc(planes, nullptr, s_.channels, out_max, AV_SAMPLE_FMT_FLTP, 0) >= 0) {
                    int got = swr_convert(swr_, planes, out_max, nullptr, 0);
                    if (got > 0) av_audio_fifo_write(fifo_, reinterpret_cast<void **>(planes), got);
                    av_freep(&planes[0]);
                }
            }
            encode_frames(true);
        }
        avcodec_send_frame(enc_.get(), nullptr);
        drain_encoder(enc_.get(), pkt_);
    }

    StreamSetting s_;
    AudioFormat in_;
    ffmpeg::CodecContextPtr enc_;
    SwrContext *swr_ = nullptr;
    AVAudioFifo *fifo_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVPacket *pkt_ = nullptr;
    bool begun_ = false;
    int64_t base_ = 0, encoded_ = 0, expected_ = 0;
};

}  // namespace

std::unique_ptr<Worker> make_audio_worker(size_t index, const StreamSetting &s, const AudioFormat &in) {
    return std::make_unique<AudioWorker>(index, s, in);
}

}  // namespace tw::posix::asf::recorder
