#include "platform/posix/media/MediaTypes.h"

#include <cstring>

namespace tw::posix::media {

static GUID tag_guid(uint32_t tag) {
    return GUID{tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
static GUID codec_guid(AVCodecID id) {
    return GUID{(uint32_t)id, 0x5457, 0x4646, {0x93, 0x42, 0x08, 0x46, 0x60, 0xA6, 0x43, 0x83}};
}

static AVRational stream_frame_rate(const AVStream *st) {
    if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0) return st->avg_frame_rate;
    if (st->r_frame_rate.num > 0 && st->r_frame_rate.den > 0) return st->r_frame_rate;
    return AVRational{0, 0};
}

static REFERENCE_TIME frame_duration(AVRational fr) {
    if (fr.num <= 0 || fr.den <= 0) return 0;
    return av_rescale(kUnits, fr.den, fr.num);
}

MediaType compressed_type(const AVStream *st) {
    const AVCodecParameters *par = st->codecpar;
    AVRational fr = stream_frame_rate(st);
    std::vector<uint8_t> block;
    uint32_t tag = windows_codec_tag(par->codec_type, par->codec_id);
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
        VIDEOINFOHEADER vih;
        std::memset(&vih, 0, sizeof vih);
        vih.rcSource = RECT{0, 0, par->width, par->height};
        vih.rcTarget = vih.rcSource;
        vih.dwBitRate = (DWORD)std::min<int64_t>(par->bit_rate > 0 ? par->bit_rate : 0, UINT32_MAX);
        vih.AvgTimePerFrame = frame_duration(fr);
        vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih.bmiHeader.biWidth = par->width;
        vih.bmiHeader.biHeight = par->height;
        vih.bmiHeader.biPlanes = 1;
        vih.bmiHeader.biBitCount = (WORD)(par->bits_per_coded_sample > 0 ? par->bits_per_coded_sample : 24);
        vih.bmiHeader.biCompression = tag;
        block.resize(sizeof vih);
        std::memcpy(block.data(), &vih, sizeof vih);
        append_codec_info(par, st->time_base, fr, block);
        MediaType mt(MEDIATYPE_Video, tag ? tag_guid(tag) : codec_guid(par->codec_id));
        mt.set_format(FORMAT_TwCodecInfo, block.data(), (ULONG)block.size());
        mt.get().bFixedSizeSamples = FALSE;
        mt.get().bTemporalCompression = TRUE;
        mt.get().lSampleSize = 0;
        return mt;
    }
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
        WAVEFORMATEX wfx;
        std::memset(&wfx, 0, sizeof wfx);
        wfx.wFormatTag = (WORD)(tag && tag <= 0xFFFF ? tag : 0xFFFF);
        wfx.nChannels = (WORD)par->ch_layout.nb_channels;
        wfx.nSamplesPerSec = (DWORD)par->sample_rate;
        wfx.nAvgBytesPerSec = (DWORD)std::max<int64_t>(par->bit_rate / 8, 0);
        wfx.nBlockAlign = (WORD)std::max(par->block_align, 1);
        wfx.wBitsPerSample = (WORD)par->bits_per_coded_sample;
        block.resize(sizeof wfx);
        append_codec_info(par, st->time_base, fr, block);
        wfx.cbSize = (WORD)std::min<size_t>(block.size() - sizeof wfx, 0xFFFF);
        std::memcpy(block.data(), &wfx, sizeof wfx);
        MediaType mt(MEDIATYPE_Audio, tag && tag <= 0xFFFF ? tag_guid(tag) : codec_guid(par->codec_id));
        mt.set_format(FORMAT_TwCodecInfo, block.data(), (ULONG)block.size());
        mt.get().bFixedSizeSamples = FALSE;
        mt.get().bTemporalCompression = FALSE;
        mt.get().lSampleSize = 0;
        return mt;
    }
    return MediaType();
}

bool parse_compressed_type(const AM_MEDIA_TYPE &mt, CompressedStream *out) {
    if (mt.formattype != FORMAT_TwCodecInfo || !mt.pbFormat) return false;
    size_t head;
    AVMediaType want;
    if (mt.majortype == MEDIATYPE_Video) {
        head = sizeof(VIDEOINFOHEADER);
        want = AVMEDIA_TYPE_VIDEO;
    } else if (mt.majortype == MEDIATYPE_Audio) {
        head = sizeof(WAVEFORMATEX);
        want = AVMEDIA_TYPE_AUDIO;
    } else {
        return false;
    }
    if (mt.cbFormat < head) return false;
    CodecParametersPtr par(avcodec_parameters_alloc());
    if (!par) return false;
    AVRational tb, fr;
    if (!read_codec_info(mt.pbFormat + head, mt.cbFormat - head, par.get(), &tb, &fr)) return false;
    if (par->codec_type != want) return false;
    out->par = std::move(par);
    out->time_base = tb;
    out->frame_rate = fr;
    return true;
}

MediaType video_type(VideoFormat f, int width, int height, REFERENCE_TIME avg_time_per_frame) {
    const VideoFormatInfo &info = video_format_info(f);
    PictureLayout layout = picture_layout(f, width, height);
    VIDEOINFOHEADER vih;
    std::memset(&vih, 0, sizeof vih);
    vih.rcSource = RECT{0, 0, width, height};
    vih.rcTarget = vih.rcSource;
    vih.AvgTimePerFrame = avg_time_per_frame;
    if (avg_time_per_frame > 0)
        vih.dwBitRate = (DWORD)std::min<int64_t>((int64_t)layout.size * 8 * kUnits / avg_time_per_frame, UINT32_MAX);
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = info.bit_count;
    vih.bmiHeader.biCompression = info.fourcc;
    vih.bmiHeader.biSizeImage = (DWORD)layout.size;
    GUID sub = info.fourcc ? tag_guid(info.fourcc)
                           : (f == VideoFormat::RGB32 ? MEDIASUBTYPE_RGB32 : MEDIASUBTYPE_RGB24);
    return MediaType::video(sub, vih);
}

bool parse_video_type(const AM_MEDIA_TYPE &mt, VideoTypeInfo *out) {
    if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo || !mt.pbFormat ||
        mt.cbFormat < sizeof(VIDEOINFOHEADER))
        return false;
    VIDEOINFOHEADER vih;
    std::memcpy(&vih, mt.pbFormat, sizeof vih);
    for (VideoFormat f : all_video_formats()) {
        MediaType probe = video_type(f, 2, 2, 0);
        if (probe.subtype() != mt.subtype) continue;
        const VideoFormatInfo &info = video_format_info(f);
        if (vih.bmiHeader.biBitCount != info.bit_count) return false;
        int w = vih.bmiHeader.biWidth, h = vih.bmiHeader.biHeight;
        bool flipped = false;
        if (h < 0) {
            if (!info.bottom_up) return false;  // YUV is always top-down; a sign there is wrong
            h = -h;
            flipped = true;
        }
        if (w <= 0 || h <= 0 || w > 16384 || h > 16384) return false;
        // The buffer must hold the picture as we lay it out.
        if (vih.bmiHeader.biSizeImage != 0 && vih.bmiHeader.biSizeImage < picture_layout(f, w, h).size) return false;
        out->format = f;
        out->width = w;
        out->height = h;
        out->flipped = flipped;
        out->avg_time_per_frame = vih.AvgTimePerFrame;
        return true;
    }
    return false;
}

MediaType pcm_type(int sample_rate, int channels) {
    WAVEFORMATEX wfx;
    std::memset(&wfx, 0, sizeof wfx);
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = (WORD)channels;
    wfx.nSamplesPerSec = (DWORD)sample_rate;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = (WORD)(channels * 2);
    wfx.nAvgBytesPerSec = (DWORD)sample_rate * wfx.nBlockAlign;
    wfx.cbSize = 0;
    return MediaType::audio(MEDIASUBTYPE_PCM, wfx);
}

bool parse_pcm_type(const AM_MEDIA_TYPE &mt, int *sample_rate, int *channels) {
    if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM || mt.formattype != FORMAT_WaveFormatEx ||
        !mt.pbFormat || mt.cbFormat < sizeof(WAVEFORMATEX))
        return false;
    WAVEFORMATEX wfx;
    std::memcpy(&wfx, mt.pbFormat, sizeof wfx);
    if (wfx.wFormatTag != WAVE_FORMAT_PCM || wfx.wBitsPerSample != 16) return false;
    if (wfx.nChannels < 1 || wfx.nChannels > 8 || wfx.nSamplesPerSec < 1000 || wfx.nSamplesPerSec > 384000) return false;
    if (wfx.nBlockAlign != wfx.nChannels * 2) return false;
    *sample_rate = (int)wfx.nSamplesPerSec;
    *channels = wfx.nChannels;
    return true;
}

}  // namespace tw::posix::media
