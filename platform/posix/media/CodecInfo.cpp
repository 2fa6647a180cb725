#include "platform/posix/media/CodecInfo.h"

#include <cstring>

namespace tw::posix::media {

namespace {

// FFmpeg keeps some values it read from a file in its enum fields as they came, inside the
// enum's range or not; reading such a field as the enum is undefined, so these go by their bits.
template <class E>
int32_t bits_of(const E &e) {
    static_assert(sizeof(E) == sizeof(int32_t));
    int32_t v;
    memcpy(&v, &e, sizeof v);
    return v;
}

// A value read back from a media type: kept when the enum has it (below `end`), otherwise the
// enum's "unspecified".
template <class E>
E enum_or(int32_t v, E end, E unspecified) {
    return v >= 0 && v < static_cast<int32_t>(end) ? static_cast<E>(v) : unspecified;
}

AVCodecID known_codec(int32_t id) {
    for (const AVCodecDescriptor *d = nullptr; (d = avcodec_descriptor_next(d));)
        if (d->id == id) return d->id;
    return AV_CODEC_ID_NONE;
}

}  // namespace

void append_codec_info(const AVCodecParameters *par, AVRational time_base, AVRational frame_rate,
                       std::vector<uint8_t> &out) {
    CodecInfoHeader h;
    memset(&h, 0, sizeof h);
    h.magic = kCodecInfoMagic;
    h.header_size = sizeof h;
    h.codec_type = bits_of(par->codec_type);
    h.codec_id = bits_of(par->codec_id);
    h.codec_tag = par->codec_tag;
    h.format = par->format;
    h.bit_rate = par->bit_rate;
    h.bits_per_coded_sample = par->bits_per_coded_sample;
    h.bits_per_raw_sample = par->bits_per_raw_sample;
    h.profile = par->profile;
    h.level = par->level;
    h.width = par->width;
    h.height = par->height;
    h.sar_num = par->sample_aspect_ratio.num;
    h.sar_den = par->sample_aspect_ratio.den;
    h.field_order = bits_of(par->field_order);
    h.color_range = bits_of(par->color_range);
    h.color_primaries = bits_of(par->color_primaries);
    h.color_trc = bits_of(par->color_trc);
    h.color_space = bits_of(par->color_space);
    h.chroma_location = bits_of(par->chroma_location);
    h.video_delay = par->video_delay;
    h.frame_rate_num = frame_rate.num;
    h.frame_rate_den = frame_rate.den;
    h.channel_mask = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0;
    h.channels = par->ch_layout.nb_channels;
    h.sample_rate = par->sample_rate;
    h.block_align = par->block_align;
    h.frame_size = par->frame_size;
    h.initial_padding = par->initial_padding;
    h.trailing_padding = par->trailing_padding;
    h.seek_preroll = par->seek_preroll;
    h.time_base_num = time_base.num;
    h.time_base_den = time_base.den;
    h.extradata_size = par->extradata && par->extradata_size > 0 ? (uint32_t)par->extradata_size : 0;
    size_t at = out.size();
    out.resize(at + sizeof h + h.extradata_size);
    memcpy(out.data() + at, &h, sizeof h);
    if (h.extradata_size) memcpy(out.data() + at + sizeof h, par->extradata, h.extradata_size);
}

bool read_codec_info(const uint8_t *data, size_t size, AVCodecParameters *par, AVRational *time_base,
                     AVRational *frame_rate) {
    CodecInfoHeader h;
    if (!data || size < sizeof h) return false;
    memcpy(&h, data, sizeof h);
    if (h.magic != kCodecInfoMagic || h.header_size != sizeof h) return false;
    if (h.extradata_size > size - sizeof h) return false;
    if (h.codec_type != AVMEDIA_TYPE_VIDEO && h.codec_type != AVMEDIA_TYPE_AUDIO) return false;

    av_freep(&par->extradata);
    par->extradata_size = 0;
    par->codec_type = h.codec_type == AVMEDIA_TYPE_VIDEO ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;  // checked above
    par->codec_id = known_codec(h.codec_id);
    par->codec_tag = h.codec_tag;
    par->format = h.format;
    par->bit_rate = h.bit_rate;
    par->bits_per_coded_sample = h.bits_per_coded_sample;
    par->bits_per_raw_sample = h.bits_per_raw_sample;
    par->profile = h.profile;
    par->level = h.level;
    par->width = h.width;
    par->height = h.height;
    par->sample_aspect_ratio = AVRational{h.sar_num, h.sar_den};
    par->field_order = enum_or(h.field_order, AVFieldOrder(AV_FIELD_BT + 1), AV_FIELD_UNKNOWN);
    par->color_range = enum_or(h.color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    par->color_primaries = enum_or(h.color_primaries, AVCOL_PRI_NB, AVCOL_PRI_UNSPECIFIED);
    par->color_trc = enum_or(h.color_trc, AVCOL_TRC_NB, AVCOL_TRC_UNSPECIFIED);
    par->color_space = enum_or(h.color_space, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    par->chroma_location = enum_or(h.chroma_location, AVCHROMA_LOC_NB, AVCHROMA_LOC_UNSPECIFIED);
    par->video_delay = h.video_delay;
    av_channel_layout_uninit(&par->ch_layout);
    if (h.channels > 0) {
        if (h.channel_mask && av_popcount64(h.channel_mask) == h.channels)
            av_channel_layout_from_mask(&par->ch_layout, h.channel_mask);
        else
            av_channel_layout_default(&par->ch_layout, h.channels);
    }
    par->sample_rate = h.sample_rate;
    par->block_align = h.block_align;
    par->frame_size = h.frame_size;
    par->initial_padding = h.initial_padding;
    par->trailing_padding = h.trailing_padding;
    par->seek_preroll = h.seek_preroll;
    if (h.extradata_size) {
        par->extradata = (uint8_t *)av_mallocz(h.extradata_size + AV_INPUT_BUFFER_PADDING_SIZE);
        if (!par->extradata) return false;
        memcpy(par->extradata, data + sizeof h, h.extradata_size);
        par->extradata_size = (int)h.extradata_size;
    }
    if (time_base) *time_base = AVRational{h.time_base_num, h.time_base_den};
    if (frame_rate) *frame_rate = AVRational{h.frame_rate_num, h.frame_rate_den};
    return true;
}

uint32_t windows_codec_tag(AVMediaType type, AVCodecID id) {
    // The well-known ones first, so that the tag does not depend on table order.
    if (type == AVMEDIA_TYPE_VIDEO) {
        switch (id) {
        case AV_CODEC_ID_H264: return MKTAG('H', '2', '6', '4');
        case AV_CODEC_ID_HEVC: return MKTAG('H', 'E', 'V', 'C');
        case AV_CODEC_ID_MPEG4: return MKTAG('M', 'P', '4', 'V');
        case AV_CODEC_ID_MJPEG: return MKTAG('M', 'J', 'P', 'G');
        case AV_CODEC_ID_VP8: return MKTAG('V', 'P', '8', '0');
        case AV_CODEC_ID_VP9: return MKTAG('V', 'P', '9', '0');
        case AV_CODEC_ID_AV1: return MKTAG('A', 'V', '0', '1');
        case AV_CODEC_ID_MPEG1VIDEO: return MKTAG('M', 'P', 'G', '1');
        case AV_CODEC_ID_MPEG2VIDEO: return MKTAG('M', 'P', 'G', '2');
        case AV_CODEC_ID_THEORA: return MKTAG('T', 'H', 'E', 'O');
        case AV_CODEC_ID_WMV1: return MKTAG('W', 'M', 'V', '1');
        case AV_CODEC_ID_WMV2: return MKTAG('W', 'M', 'V', '2');
        case AV_CODEC_ID_WMV3: return MKTAG('W', 'M', 'V', '3');
        case AV_CODEC_ID_VC1: return MKTAG('W', 'V', 'C', '1');
        default: break;
        }
        const AVCodecTag *tables[] = {avformat_get_riff_video_tags(), nullptr};
        return av_codec_get_tag(tables, id);
    }
    switch (id) {
    case AV_CODEC_ID_AAC: return 0x00FF;
    case AV_CODEC_ID_MP3: return 0x0055;
    case AV_CODEC_ID_MP2: return 0x0050;
    case AV_CODEC_ID_AC3: return 0x2000;
    case AV_CODEC_ID_WMAV1: return 0x0160;
    case AV_CODEC_ID_WMAV2: return 0x0161;
    case AV_CODEC_ID_FLAC: return 0xF1AC;
    default: break;
    }
    const AVCodecTag *tables[] = {avformat_get_riff_audio_tags(), nullptr};
    return av_codec_get_tag(tables, id);
}

}  // namespace tw::posix::media
