#include "tests/support/AsfTestUtil.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace asftest {

std::vector<uint8_t> make_i420(int w, int h, int frame) {
    std::vector<uint8_t> b(size_t(w) * h * 3 / 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Stripes that move, and noise: enough detail that every bit rate is used.
            uint32_t n = uint32_t(x * 73856093u ^ y * 19349663u ^ frame * 83492791u);
            n ^= n >> 13;
            n *= 0x5bd1e995u;
            b[size_t(y) * w + x] = uint8_t(40 + ((x + frame * 4) / 16 % 2) * 96 + (y * 32 / h) + (n >> 28) * 2);
        }
    std::memset(b.data() + size_t(w) * h, uint8_t(90 + frame % 64), size_t(w / 2) * (h / 2));
    std::memset(b.data() + size_t(w) * h * 5 / 4, 160, size_t(w / 2) * (h / 2));
    return b;
}

std::vector<uint8_t> make_rgb32(int w, int h, int frame) {
    std::vector<uint8_t> b(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t *p = &b[(size_t(y) * w + x) * 4];
            p[0] = uint8_t((x + frame * 3) & 0xFF);
            p[1] = uint8_t(y & 0xFF);
            p[2] = uint8_t(128 + ((x / 32 + y / 32 + frame / 8) % 2) * 100);
            p[3] = 0;
        }
    return b;
}

std::vector<uint8_t> make_pcm(int rate, int channels, int64_t first, int samples) {
    std::vector<uint8_t> b(size_t(samples) * channels * 2);
    auto *s = reinterpret_cast<int16_t *>(b.data());
    for (int i = 0; i < samples; ++i) {
        double t = double(first + i) / rate;
        int16_t v = int16_t(8000 * std::sin(2 * M_PI * 440 * t));
        for (int c = 0; c < channels; ++c) s[i * channels + c] = v;
    }
    return b;
}

int FileInfo::video_streams() const {
    int n = 0;
    for (const auto &s : streams) n += s.video;
    return n;
}
const StreamInfo *FileInfo::first_video() const {
    for (const auto &s : streams)
        if (s.video) return &s;
    return nullptr;
}
const StreamInfo *FileInfo::first_audio() const {
    for (const auto &s : streams)
        if (!s.video) return &s;
    return nullptr;
}

namespace {
struct Input {
    AVFormatContext *fc = nullptr;
    ~Input() { avformat_close_input(&fc); }
};
struct Codec {
    AVCodecContext *c = nullptr;
    ~Codec() { avcodec_free_context(&c); }
};
}  // namespace

int frames_off_grid(const StreamInfo &s, double fps) {
    int off = 0;
    for (int64_t t : s.pts_ms) {
        double k = std::round(t * fps / 1000.0);
        if (std::fabs(k * 1000.0 / fps - double(t)) > 1.01) ++off;
    }
    return off;
}

FileInfo probe(const std::string &path) {
    FileInfo info;
    Input in;
    if (avformat_open_input(&in.fc, path.c_str(), nullptr, nullptr) < 0) {
        info.error = "cannot open";
        return info;
    }
    if (avformat_find_stream_info(in.fc, nullptr) < 0) {
        info.error = "no stream info";
        return info;
    }
    info.opened = true;
    if (in.fc->duration != AV_NOPTS_VALUE && in.fc->duration > 0) info.duration_s = in.fc->duration / double(AV_TIME_BASE);
    std::vector<std::unique_ptr<Codec>> dec;
    for (unsigned i = 0; i < in.fc->nb_streams; ++i) {
        AVStream *st = in.fc->streams[i];
        StreamInfo s;
        s.video = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        s.codec = avcodec_get_name(st->codecpar->codec_id);
        s.width = st->codecpar->width;
        s.height = st->codecpar->height;
        s.sample_rate = st->codecpar->sample_rate;
        s.channels = st->codecpar->ch_layout.nb_channels;
        s.declared_bitrate = st->codecpar->bit_rate;
        s.frame_rate = av_q2d(st->r_frame_rate);
        info.streams.push_back(s);
        auto d = std::make_unique<Codec>();
        if (const AVCodec *c = avcodec_find_decoder(st->codecpar->codec_id)) {
            d->c = avcodec_alloc_context3(c);
            avcodec_parameters_to_context(d->c, st->codecpar);
            if (avcodec_open2(d->c, c, nullptr) < 0) avcodec_free_context(&d->c);
        }
        dec.push_back(std::move(d));
    }
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    auto drain = [&](unsigned i) {
        while (avcodec_receive_frame(dec[i]->c, frame) == 0) {
            ++info.streams[i].decoded;
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(in.fc, pkt) >= 0) {
        unsigned i = unsigned(pkt->stream_index);
        StreamInfo &s = info.streams[i];
        AVRational tb = in.fc->streams[i]->time_base;
        int64_t ms = av_rescale_q(pkt->pts, tb, AVRational{1, 1000});
        if (s.first_pts_ms < 0) s.first_pts_ms = ms;
        s.last_pts_ms = std::max(s.last_pts_ms, ms);
        ++s.packets;
        s.pts_ms.push_back(ms);
        s.bytes += pkt->size;
        if (pkt->flags & AV_PKT_FLAG_KEY) ++s.key_packets;
        if (dec[i]->c) {
            if (avcodec_send_packet(dec[i]->c, pkt) < 0) ++s.decode_errors;
            drain(i);
        }
        av_packet_unref(pkt);
    }
    for (unsigned i = 0; i < dec.size(); ++i)
        if (dec[i]->c) {
            avcodec_send_packet(dec[i]->c, nullptr);
            drain(i);
        }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    return info;
}

double seek_and_read(const std::string &path, double seconds, bool *key) {
    Input in;
    if (avformat_open_input(&in.fc, path.c_str(), nullptr, nullptr) < 0) return -1;
    if (avformat_find_stream_info(in.fc, nullptr) < 0) return -1;
    int si = av_find_best_stream(in.fc, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (si < 0) si = 0;
    AVStream *st = in.fc->streams[si];
    int64_t ts = av_rescale_q(int64_t(seconds * 1000), AVRational{1, 1000}, st->time_base);
    if (av_seek_frame(in.fc, si, ts, AVSEEK_FLAG_BACKWARD) < 0) return -1;
    AVPacket *pkt = av_packet_alloc();
    double t = -1;
    while (av_read_frame(in.fc, pkt) >= 0) {
        if (pkt->stream_index == si) {
            t = pkt->pts * av_q2d(st->time_base);
            if (key) *key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            av_packet_unref(pkt);
            break;
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    return t;
}

bool has_simple_index(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<uint8_t> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // Simple Index Object GUID {33000890-E5B1-11CF-89F4-00A0C90349CB} as stored.
    const uint8_t g[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
    // Walk the top-level objects: header, data, then whatever follows.
    size_t pos = 0;
    while (pos + 24 <= b.size()) {
        uint64_t size = 0;
        for (int i = 0; i < 8; ++i) size |= uint64_t(b[pos + 16 + i]) << (8 * i);
        if (std::memcmp(&b[pos], g, 16) == 0) return size >= 56 && pos + size <= b.size();
        if (size < 24) return false;
        pos += size;
    }
    return false;
}

std::vector<std::pair<double, double>> frame_lumas(const std::string &path, int x, int y, int w, int h,
                                                   size_t max_frames) {
    std::vector<std::pair<double, double>> out;
    Input in;
    if (avformat_open_input(&in.fc, path.c_str(), nullptr, nullptr) < 0) return out;
    if (avformat_find_stream_info(in.fc, nullptr) < 0) return out;
    int si = av_find_best_stream(in.fc, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (si < 0) return out;
    Codec d;
    const AVCodec *c = avcodec_find_decoder(in.fc->streams[si]->codecpar->codec_id);
    d.c = avcodec_alloc_context3(c);
    avcodec_parameters_to_context(d.c, in.fc->streams[si]->codecpar);
    if (avcodec_open2(d.c, c, nullptr) < 0) return out;
    const AVRational tb = in.fc->streams[si]->time_base;
    AVPacket *pkt = av_packet_alloc();
    AVFrame *f = av_frame_alloc();
    int64_t first = AV_NOPTS_VALUE;
    while (out.size() < max_frames && av_read_frame(in.fc, pkt) >= 0) {
        if (pkt->stream_index == si && avcodec_send_packet(d.c, pkt) == 0 && avcodec_receive_frame(d.c, f) == 0) {
            double sum = 0;
            for (int j = y; j < y + h; ++j)
                for (int i = x; i < x + w; ++i) sum += f->data[0][j * f->linesize[0] + i];
            int64_t t = f->best_effort_timestamp;
            if (first == AV_NOPTS_VALUE) first = t;
            out.emplace_back(double(t - first) * av_q2d(tb), sum / (w * h));
        }
        av_packet_unref(pkt);
    }
    av_frame_free(&f);
    av_packet_free(&pkt);
    return out;
}

double first_frame_luma(const std::string &path, int x, int y, int w, int h) {
    auto lumas = frame_lumas(path, x, y, w, h, 1);
    return lumas.empty() ? -1 : lumas[0].second;
}

std::string temp_dir() {
    static std::string dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tw-asf-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back(0);
        std::string d = mkdtemp(buf.data()) ? buf.data() : "/tmp";
        static struct Cleanup {
            std::string d;
            ~Cleanup() {
                std::error_code ec;
                if (d != "/tmp" && !std::getenv("TW_ASF_KEEP")) std::filesystem::remove_all(d, ec);
            }
        } cleanup{d};
        return d;
    }();
    return dir;
}

}  // namespace asftest
