// The recording engine on generated pictures and sound, read back with libavformat.
#include "tests/support/AsfTestUtil.h"

#include "platform/posix/asf/AsfRecorder.h"
#include "platform/posix/asf/Downscale.h"
#include "platform/posix/asf/EncodeQueue.h"
#include "platform/posix/asf/PictureScaler.h"
#include "platform/posix/asf/Shrink.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
#include <libswscale/swscale.h>
}

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tw::posix::asf;
using namespace asftest;

namespace {

struct Source {
    int width = 640, height = 480;
    double fps = 25;
    bool rgb = false;
    int rate = 44100, channels = 2;
    double seconds = 4;
};

// Feeds `src` into the recorder input by input, interleaved by time, as a splitter would.
HRESULT feed(Recorder &r, const Source &src, double from = 0, double to = -1) {
    if (to < 0) to = src.seconds;
    int64_t audio_done = int64_t(from * src.rate);
    const int block = 1024;
    int frame = int(std::ceil(from * src.fps));
    for (;;) {
        double vt = frame / src.fps;
        double at = double(audio_done) / src.rate;
        bool video_left = vt < to, audio_left = at < to;
        if (!video_left && !audio_left) return S_OK;
        for (size_t i = 0; i < r.input_count(); ++i) {
            HRESULT hr = S_OK;
            if (r.input_kind(i) == StreamKind::kVideo && video_left && (vt <= at || !audio_left)) {
                auto pic = src.rgb ? make_rgb32(src.width, src.height, frame) : make_i420(src.width, src.height, frame);
                hr = r.push_video(i, pic.data(), pic.size(), int64_t(vt * 1e7), int64_t((frame + 1) / src.fps * 1e7));
            } else if (r.input_kind(i) == StreamKind::kAudio && audio_left && (at < vt || !video_left)) {
                int n = int(std::min<int64_t>(block, int64_t(to * src.rate) - audio_done));
                if (n <= 0) n = 1;
                auto pcm = make_pcm(src.rate, src.channels, audio_done, n);
                hr = r.push_audio(i, pcm.data(), pcm.size(), int64_t(at * 1e7));
            } else {
                continue;
            }
            if (FAILED(hr)) return hr;
        }
        bool has_video = false, has_audio = false;
        for (size_t i = 0; i < r.input_count(); ++i)
            (r.input_kind(i) == StreamKind::kVideo ? has_video : has_audio) = true;
        if (!has_audio) audio_done = int64_t(to * src.rate) + 1;
        if (!has_video) frame = int(to * src.fps) + 1;
        if (has_video && vt <= at && video_left) ++frame;
        else if (has_audio && audio_left) audio_done += block;
        else if (has_video && video_left) ++frame;
    }
}

void set_formats(Recorder &r, const Source &src) {
    for (size_t i = 0; i < r.input_count(); ++i) {
        if (r.input_kind(i) == StreamKind::kVideo) {
            VideoFormat f;
            f.pix_fmt = src.rgb ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_YUV420P;
            f.width = src.width;
            f.height = src.height;
            f.bottom_up = src.rgb;
            ASSERT_EQ(r.set_video_format(i, f), S_OK);
        } else {
            ASSERT_EQ(r.set_audio_format(i, AudioFormat{AV_SAMPLE_FMT_S16, src.rate, src.channels}), S_OK);
        }
    }
}

std::string record(int profile, const Source &src, const std::string &name, RecorderOptions opts = {}) {
    std::string path = temp_dir() + "/" + name;
    Recorder r(profile);
    set_formats(r, src);
    EXPECT_EQ(r.start(path, opts), S_OK);
    EXPECT_EQ(feed(r, src), S_OK);
    EXPECT_EQ(r.stop(), S_OK);
    return path;
}

double fps_of(const StreamSetting &s) { return double(s.fps_num) / s.fps_den; }

// What a file recorded with `profile` from `src` must look like.
void check_profile_file(int profile, const std::string &path, const Source &src, bool check_rate) {
    SCOPED_TRACE("profile " + std::to_string(profile));
    auto settings = profile_streams(profile);
    FileInfo info = probe(path);
    ASSERT_TRUE(info.opened) << info.error;
    ASSERT_EQ(info.streams.size(), settings.size());
    ASSERT_GT(info.duration_s, 0);
    double frame = 1.0 / 15;
    for (size_t i = 0; i < settings.size(); ++i) {
        const StreamSetting &s = settings[i];
        const StreamInfo &st = info.streams[i];
        SCOPED_TRACE("stream " + std::to_string(i));
        EXPECT_EQ(st.decode_errors, 0);
        if (s.kind == StreamKind::kVideo) {
            frame = 1 / fps_of(s);
            EXPECT_EQ(st.codec, "wmv2");
            EXPECT_EQ(st.width, s.width);
            EXPECT_EQ(st.height, s.height);
            // The profile's frame rate, whatever the source's: every frame on its grid; a
            // bit-rate stream may leave slots out to keep its rate, a quality-based one none.
            double expected_frames = src.seconds * fps_of(s);
            EXPECT_EQ(frames_off_grid(st, fps_of(s)), 0);
            EXPECT_NEAR(st.frame_rate, fps_of(s), 0.01);
            if (s.bitrate > 0) {
                EXPECT_LE(double(st.packets), expected_frames + 1.5);
                EXPECT_GE(double(st.packets), expected_frames / 3);
                // At a rate meant for moving pictures no picture freezes for long: slots are
                // skipped only when the encoder cannot keep to the buffer window.
                if (s.bitrate >= 100000) {
                    int64_t longest = 0;
                    for (size_t k = 1; k < st.pts_ms.size(); ++k)
                        longest = std::max(longest, st.pts_ms[k] - st.pts_ms[k - 1]);
                    EXPECT_LE(double(longest), 8000 / fps_of(s)) << "frames skipped in a row";
                }
            } else {
                EXPECT_NEAR(double(st.packets), expected_frames, 1.5);
            }
            EXPECT_EQ(st.decoded, st.packets);
            EXPECT_GE(st.key_packets, 1);
            if (check_rate && s.bitrate > 0) {
                double rate = st.bytes * 8.0 / src.seconds;
                EXPECT_NEAR(rate, s.bitrate, s.bitrate * 0.35) << "video bit rate";
                EXPECT_EQ(st.declared_bitrate, s.bitrate);
            }
        } else {
            EXPECT_EQ(st.codec, "wmav2");
            EXPECT_EQ(st.sample_rate, s.sample_rate);
            EXPECT_EQ(st.channels, s.channels);
            EXPECT_EQ(st.declared_bitrate, audio_encode_bitrate(s));
            EXPECT_GT(st.decoded, 0);
            if (check_rate) {
                double rate = st.bytes * 8.0 / src.seconds;
                EXPECT_NEAR(rate, audio_encode_bitrate(s), audio_encode_bitrate(s) * 0.15) << "audio bit rate";
            }
        }
    }
    EXPECT_NEAR(info.duration_s, src.seconds, frame + 0.001);
    EXPECT_TRUE(has_simple_index(path));
    bool key = false;
    double t = seek_and_read(path, src.seconds / 2, &key);
    EXPECT_GE(t, 0);
    EXPECT_LE(t, src.seconds / 2 + 0.05);
}

}  // namespace

TEST(AsfRecorder, InputsFollowTheProfile) {
    Recorder av(9), mbr(3), audio(15), video(22), bad(27);
    ASSERT_EQ(av.input_count(), 2u);
    EXPECT_EQ(av.input_kind(0), StreamKind::kAudio);
    EXPECT_EQ(av.input_kind(1), StreamKind::kVideo);
    EXPECT_EQ(av.stream_number(0), 1);
    EXPECT_EQ(av.stream_number(1), 2);
    ASSERT_EQ(mbr.input_count(), 2u);  // four video variants share one input
    EXPECT_EQ(audio.input_count(), 1u);
    EXPECT_EQ(audio.input_kind(0), StreamKind::kAudio);
    EXPECT_EQ(video.input_count(), 1u);
    EXPECT_EQ(video.input_kind(0), StreamKind::kVideo);
    EXPECT_FALSE(bad.valid());
}

TEST(AsfRecorder, RejectsFormatsAndSamplesItCannotUse) {
    Recorder r(9);
    VideoFormat f;
    f.pix_fmt = AV_PIX_FMT_YUV420P;
    EXPECT_EQ(r.set_video_format(1, f), E_INVALIDARG);  // no size
    f.width = 64;
    f.height = 48;
    EXPECT_EQ(r.set_video_format(0, f), E_INVALIDARG);  // the audio input
    EXPECT_EQ(r.set_video_format(1, f), S_OK);
    EXPECT_EQ(r.set_audio_format(0, AudioFormat{AV_SAMPLE_FMT_S16P, 44100, 2}), E_INVALIDARG);
    EXPECT_EQ(r.set_audio_format(0, AudioFormat{AV_SAMPLE_FMT_S16, 0, 2}), E_INVALIDARG);
    EXPECT_EQ(r.set_audio_format(0, AudioFormat{AV_SAMPLE_FMT_S16, 22050, 1}), S_OK);
    uint8_t small[16] = {};
    EXPECT_EQ(r.push_video(1, small, sizeof small, 0, -1), E_UNEXPECTED);  // not started
    std::string path = temp_dir() + "/short.asf";
    ASSERT_EQ(r.start(path, {}), S_OK);
    EXPECT_EQ(r.push_video(1, small, sizeof small, 0, -1), E_INVALIDARG);  // shorter than a frame
    EXPECT_EQ(r.stop(), S_OK);
    EXPECT_EQ(r.push_video(1, small, sizeof small, 0, -1), E_UNEXPECTED);  // stopped
}

// Single rate, MBR, audio only (below the encoder's floor), video only, quality-based, PAL.
TEST(AsfRecorder, RepresentativeProfiles) {
    Source src;
    src.seconds = 6;
    for (int profile : {9, 3, 15, 22, 24, 13}) {
        std::string path = record(profile, src, "rep" + std::to_string(profile) + ".asf");
        check_profile_file(profile, path, src, profile != 3);
    }
}

TEST(AsfRecorder, MbrFileDeclaresExclusiveVariants) {
    Source src;
    src.seconds = 3;
    std::string path = record(3, src, "mbr.asf");
    FileInfo info = probe(path);
    ASSERT_TRUE(info.opened);
    EXPECT_EQ(info.video_streams(), 4);
    // Variants at rising bit rates carry rising amounts of data.
    std::vector<int64_t> bytes;
    for (const auto &s : info.streams)
        if (s.video) bytes.push_back(s.bytes);
    for (size_t i = 1; i < bytes.size(); ++i) EXPECT_GT(bytes[i], bytes[i - 1]);
    std::ifstream f(path, std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // Bitrate Mutual Exclusion Object {D6E229DC-35DA-11D1-9034-00A0C90349BE}, bit-rate kind,
    // listing the four video streams 2..5.
    const char mutex[] = "\xDC\x29\xE2\xD6\xDA\x35\xD1\x11\x90\x34\x00\xA0\xC9\x03\x49\xBE";
    size_t at = b.find(std::string(mutex, 16));
    ASSERT_NE(at, std::string::npos);
    ASSERT_LT(at + 24 + 16 + 2 + 8, b.size());
    EXPECT_EQ(uint8_t(b[at + 24]), 0x01);  // {D6E22A01-...}: bit-rate exclusion
    EXPECT_EQ(uint8_t(b[at + 40]), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(uint8_t(b[at + 42 + 2 * i]), 2 + i);
}

TEST(AsfRecorder, PictureIsFittedWithBordersAndRgbIsUpright) {
    Source wide;
    wide.width = 640;
    wide.height = 360;  // 16:9 into 4:3: black bars above and below
    wide.seconds = 1;
    std::string path = record(9, wide, "wide.asf");
    EXPECT_LT(first_frame_luma(path, 0, 0, 320, 16), 20);
    EXPECT_GT(first_frame_luma(path, 0, 100, 320, 40), 40);

    Source rgb;
    rgb.rgb = true;
    rgb.width = 320;
    rgb.height = 240;
    rgb.seconds = 1;
    path = record(9, rgb, "rgb.asf");
    // The generated picture is bottom-up with green growing with the row in memory, so the
    // picture's top is the greenest (brightest) part; a flipped picture would be dark on top.
    double top = first_frame_luma(path, 0, 0, 320, 8), bottom = first_frame_luma(path, 0, 228, 320, 8);
    EXPECT_GT(bottom, 0);
    EXPECT_GT(top, bottom + 20);
}

// The fitted side is rounded to the nearest even size, as other tools fit it (854x480 into
// 320x240 is 320x180 from row 30, not 178 rows), and the bars stay black next to it.
TEST(AsfRecorder, FittedPictureKeepsItsAspectAndItsBarsBlack) {
    auto fit = [](int w, int h, int ow, int oh) {
        VideoFormat in;
        in.pix_fmt = AV_PIX_FMT_YUV420P;
        in.width = w;
        in.height = h;
        std::vector<uint8_t> pic(video_frame_bytes(in), 128);
        std::memset(pic.data(), 200, size_t(w) * h);
        recorder::PictureScaler scaler(in, ow, oh);
        recorder::Planes planes;
        EXPECT_TRUE(recorder::PictureScaler::planes_of(in, pic.data(), &planes));
        return scaler.scale(planes);
    };
    tw::posix::ffmpeg::FramePtr wide = fit(854, 480, 320, 240);
    ASSERT_TRUE(wide);
    auto row = [&](int y) { return int(wide->data[0][size_t(y) * wide->linesize[0] + 160]); };
    EXPECT_EQ(row(29), 16);
    EXPECT_EQ(row(30), 200);
    EXPECT_EQ(row(209), 200);
    EXPECT_EQ(row(210), 16);

    // A portrait picture: 270 columns from column 184, black on both sides.
    tw::posix::ffmpeg::FramePtr tall = fit(1080, 1920, 640, 480);
    ASSERT_TRUE(tall);
    for (int y = 0; y < 480; y += 7) {
        const uint8_t *r = tall->data[0] + size_t(y) * tall->linesize[0];
        ASSERT_EQ(int(r[183]), 16) << "row " << y;
        ASSERT_EQ(int(r[184]), 200) << "row " << y;
        ASSERT_EQ(int(r[453]), 200) << "row " << y;
        ASSERT_EQ(int(r[454]), 16) << "row " << y;
        ASSERT_EQ(int(r[455]), 16) << "row " << y;
        ASSERT_EQ(int(tall->data[1][size_t(y / 2) * tall->linesize[1] + 227]), 128) << "row " << y;
    }
}

// Pictures laid out with the encoder's row stride hold the same picture, whichever way they
// are scaled; a stride that cannot hold a row is not taken.
TEST(AsfRecorder, PicturesInTheEncodersLayoutHoldTheSamePicture) {
    struct Case {
        AVPixelFormat fmt;
        int w, h, ow, oh;
    } cases[] = {{AV_PIX_FMT_YUV420P, 640, 480, 320, 240},    // whole factor
                 {AV_PIX_FMT_YUV420P, 1400, 1050, 640, 480},  // any ratio
                 {AV_PIX_FMT_BGR0, 640, 480, 320, 240}};      // swscale
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " + av_get_pix_fmt_name(c.fmt));
        VideoFormat in;
        in.pix_fmt = c.fmt;
        in.width = c.w;
        in.height = c.h;
        std::vector<uint8_t> pic = c.fmt == AV_PIX_FMT_BGR0 ? make_rgb32(c.w, c.h, 3) : make_i420(c.w, c.h, 3);
        recorder::Planes planes;
        ASSERT_TRUE(recorder::PictureScaler::planes_of(in, pic.data(), &planes));
        recorder::PictureScaler plain(in, c.ow, c.oh), laid(in, c.ow, c.oh), narrow(in, c.ow, c.oh);
        const int stride = FFALIGN(c.ow + 32, 64) + 64;
        laid.set_linesize(stride);
        narrow.set_linesize(c.ow - 64);
        auto a = plain.scale(planes), b = laid.scale(planes), n = narrow.scale(planes);
        ASSERT_TRUE(a && b && n);
        EXPECT_EQ(b->linesize[0], stride);
        EXPECT_EQ(b->linesize[1], stride / 2);
        EXPECT_GE(n->linesize[0], c.ow);
        for (int p = 0; p < 3; ++p) {
            int pw = p ? c.ow / 2 : c.ow, ph = p ? c.oh / 2 : c.oh;
            for (int y = 0; y < ph; ++y)
                ASSERT_EQ(std::memcmp(a->data[p] + size_t(y) * a->linesize[p], b->data[p] + size_t(y) * b->linesize[p], pw), 0)
                    << "plane " << p << " row " << y;
        }
    }
}

// Shrinking by a whole factor gives what swscale's bilinear scaler gives, to within rounding,
// edges included, on a plane of hard edges and noise (rows read from the top or from the bottom).
TEST(AsfRecorder, WholeFactorShrinkMatchesSwscale) {
    for (int k : {2, 3, 4, 6, 8}) {
        const int w = 38 * k, h = 26 * k, ow = w / k, oh = h / k;
        std::vector<uint8_t> src(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                src[size_t(y) * w + x] = uint8_t(((x / 5 + y / 7) % 2 ? 220 : 30) + (x * 31 + y * 17) % 23);
        SwsContext *sws = sws_getContext(w, h, AV_PIX_FMT_GRAY8, ow, oh, AV_PIX_FMT_GRAY8, SWS_BILINEAR, nullptr,
                                         nullptr, nullptr);
        ASSERT_TRUE(sws);
        std::vector<uint8_t> ref(size_t(ow) * oh), out(ref.size()), flipped(ref.size());
        const uint8_t *in[4] = {src.data()};
        int in_stride[4] = {w};
        uint8_t *ref_planes[4] = {ref.data()};
        int ref_stride[4] = {ow};
        sws_scale(sws, in, in_stride, 0, h, ref_planes, ref_stride);
        sws_freeContext(sws);
        std::vector<uint16_t> scratch;
        ASSERT_TRUE(recorder::shrink_plane(k, src.data(), w, w, h, out.data(), ow, scratch));
        // The same plane bottom-up, written bottom-up: the same picture.
        ASSERT_TRUE(recorder::shrink_plane(k, src.data() + size_t(w) * (h - 1), -w, w, h,
                                           flipped.data() + size_t(ow) * (oh - 1), -ow, scratch));
        int worst = 0;
        for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(int(out[i]) - int(ref[i])));
        EXPECT_LE(worst, 1) << "factor " << k;
        EXPECT_EQ(flipped, out) << "factor " << k;
    }
    std::vector<uint16_t> scratch;
    uint8_t pixel = 7, src[64] = {};
    EXPECT_FALSE(recorder::shrink_plane(2, src, 8, 7, 8, &pixel, 1, scratch));  // 7 columns do not halve
    EXPECT_FALSE(recorder::shrink_plane(9, src, 9, 9, 9, &pixel, 1, scratch));
    EXPECT_EQ(pixel, 7);
}

// Shrinking by other ratios (1920x1080 or 1280x720 into 768x432, 642x482 into 640x480, odd
// sizes) gives what swscale's bilinear scaler gives, to within rounding, edges included, rows
// read either way.
TEST(AsfRecorder, AnyRatioShrinkMatchesSwscale) {
    if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "the filter is used only with AVX2";
    struct Case { int w, h, ow, oh; };
    for (Case c : {Case{240, 135, 96, 54}, Case{131, 97, 37, 23}, Case{640, 480, 176, 132}, Case{300, 17, 41, 2},
                   Case{23, 200, 3, 29}, Case{1280, 720, 768, 432}, Case{720, 576, 600, 480}, Case{642, 482, 640, 480}}) {
        std::vector<uint8_t> src(size_t(c.w) * c.h);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                src[size_t(y) * c.w + x] = uint8_t(((x / 5 + y / 7) % 2 ? 220 : 30) + (x * 31 + y * 17) % 23);
        SwsContext *sws = sws_getContext(c.w, c.h, AV_PIX_FMT_GRAY8, c.ow, c.oh, AV_PIX_FMT_GRAY8, SWS_BILINEAR,
                                         nullptr, nullptr, nullptr);
        ASSERT_TRUE(sws);
        std::vector<uint8_t> ref(size_t(c.ow) * c.oh), out(ref.size()), flipped(ref.size());
        const uint8_t *in[4] = {src.data()};
        int in_stride[4] = {c.w};
        uint8_t *ref_planes[4] = {ref.data()};
        int ref_stride[4] = {c.ow};
        sws_scale(sws, in, in_stride, 0, c.h, ref_planes, ref_stride);
        sws_freeContext(sws);
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " into " + std::to_string(c.ow) + "x" +
                     std::to_string(c.oh));
        recorder::Downscaler d;
        ASSERT_TRUE(d.init(c.w, c.h, c.ow, c.oh));
        d.scale(src.data(), c.w, out.data(), c.ow);
        d.scale(src.data() + size_t(c.w) * (c.h - 1), -c.w, flipped.data() + size_t(c.ow) * (c.oh - 1), -c.ow);
        int worst = 0;
        for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(int(out[i]) - int(ref[i])));
        EXPECT_LE(worst, 2);
        EXPECT_EQ(flipped, out);
    }
    recorder::Downscaler d;
    EXPECT_FALSE(d.init(100, 100, 101, 50));  // wider than the source
    EXPECT_FALSE(d.init(100, 100, 100, 100));  // the same size
    EXPECT_FALSE(d.init(1920, 1080, 160, 90));  // twelve to one: more taps than the filter has
}

// Decoded pictures reach the recorder in the decoder's own format (10-bit, full range) and
// are brought to the encoder's 8-bit video range in the scaling pass; a picture of another
// size is refused (the pin then hands over its bytes).
TEST(AsfRecorder, DecodedPicturesAreTakenInTheirOwnFormat) {
    struct Case {
        AVPixelFormat format;
        AVColorRange range;
        int white, black, grey;  // luma, and chroma without colour
    } cases[] = {{AV_PIX_FMT_YUV420P10LE, AVCOL_RANGE_MPEG, 940, 64, 512}, {AV_PIX_FMT_YUV420P, AVCOL_RANGE_JPEG, 255, 0, 128}};
    for (const Case &c : cases) {
        SCOPED_TRACE(av_get_pix_fmt_name(c.format));
        Recorder r(23);  // video only, 176x144
        VideoFormat f;
        f.pix_fmt = AV_PIX_FMT_YUV420P;  // what the connection says
        f.width = 320;
        f.height = 240;
        ASSERT_EQ(r.set_video_format(0, f), S_OK);
        std::string path = temp_dir() + "/decoded.asf";
        ASSERT_EQ(r.start(path, {}), S_OK);
        AVFrame *pic = av_frame_alloc();
        pic->format = c.format;
        pic->width = 320;
        pic->height = 240;
        pic->color_range = c.range;
        ASSERT_EQ(0, av_frame_get_buffer(pic, 0));
        auto fill = [&](int plane, int rows, int width, int top, int bottom) {
            for (int y = 0; y < rows; ++y)
                for (int x = 0; x < width; ++x) {
                    int v = y < rows / 2 ? top : bottom;
                    if (c.format == AV_PIX_FMT_YUV420P10LE)
                        reinterpret_cast<uint16_t *>(pic->data[plane] + y * pic->linesize[plane])[x] = uint16_t(v);
                    else
                        pic->data[plane][y * pic->linesize[plane] + x] = uint8_t(v);
                }
        };
        fill(0, 240, 320, c.white, c.black);  // white above, black below
        fill(1, 120, 160, c.grey, c.grey);
        fill(2, 120, 160, c.grey, c.grey);
        AVFrame *other = av_frame_alloc();
        other->format = AV_PIX_FMT_YUV420P;
        other->width = 160;
        other->height = 120;
        ASSERT_EQ(0, av_frame_get_buffer(other, 0));
        EXPECT_EQ(E_INVALIDARG, r.push_video(0, *other, 0, 666666));
        for (int i = 0; i < 15; ++i) ASSERT_EQ(S_OK, r.push_video(0, *pic, i * 666666LL, (i + 1) * 666666LL));
        av_frame_free(&pic);
        av_frame_free(&other);
        ASSERT_EQ(S_OK, r.stop());
        EXPECT_NEAR(235, first_frame_luma(path, 8, 8, 160, 48), 8);
        EXPECT_NEAR(16, first_frame_luma(path, 8, 88, 160, 48), 8);
    }
}

// A 60 fps source into a 29.97 fps profile: each output slot shows the first picture that
// falls into it, and a slot none falls into (44 to 54 are missing) repeats the one before.
// A picture whose slot is taken is dropped on the spot: the recorder keeps no reference to
// it, which would keep one more of the decoder's pictures alive.
TEST(AsfRecorder, EverySlotShowsItsPictureWhenPicturesOutrunTheFrameRate) {
    Recorder r(26);  // quality-based (fine steps of grey survive), 320x240 at 29.97
    VideoFormat f;
    f.pix_fmt = AV_PIX_FMT_YUV420P;
    f.width = 320;
    f.height = 240;
    ASSERT_EQ(r.set_video_format(1, f), S_OK);
    ASSERT_EQ(r.set_audio_format(0, AudioFormat{AV_SAMPLE_FMT_S16, 44100, 2}), S_OK);
    std::string path = temp_dir() + "/sixty.asf";
    ASSERT_EQ(r.start(path, {}), S_OK);
    r.end_of_stream(0);  // no sound
    auto luma = [](int i) { return 16 + 3 * i; };
    auto present = [](int i) { return i < 44 || i > 54; };
    auto slot = [](int i) { return (i * 1000 + 1001) / 2002; };  // the nearest to i / 60 s at 29.97
    AVFrame *pic = av_frame_alloc();
    pic->format = AV_PIX_FMT_YUV420P;
    pic->width = 320;
    pic->height = 240;
    ASSERT_EQ(0, av_frame_get_buffer(pic, 0));
    for (int i = 0; i < 60; ++i) {
        if (!present(i)) continue;
        ASSERT_EQ(0, av_frame_make_writable(pic));
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < (p ? 120 : 240); ++y)
                std::memset(pic->data[p] + y * pic->linesize[p], p ? 128 : luma(i), p ? 160 : 320);
        ASSERT_EQ(S_OK, r.push_video(1, *pic, i * 10000000LL / 60, (i + 1) * 10000000LL / 60));
        ASSERT_EQ(1, av_buffer_get_ref_count(pic->buf[0])) << "picture " << i;
    }
    av_frame_free(&pic);
    r.end_of_stream(1);
    ASSERT_EQ(S_OK, r.stop());
    auto shown = frame_lumas(path, 0, 0, 320, 240);
    ASSERT_GE(shown.size(), 29u);
    for (auto [t, y] : shown) {
        int j = int(std::lround(t * 30000 / 1001));
        int want = -1;
        for (int k = j; k >= 0 && want < 0; --k)
            for (int i = 0; i < 60 && want < 0; ++i)
                if (present(i) && slot(i) == k) want = i;
        SCOPED_TRACE("slot " + std::to_string(j));
        EXPECT_NEAR(luma(want), y, 1.5) << "picture " << want;
    }
}

TEST(AsfRecorder, ExistingFileIsReplaced) {
    std::string path = temp_dir() + "/replace.asf";
    {
        std::ofstream f(path, std::ios::binary);
        std::string junk(4 << 20, 'x');
        f << junk;
    }
    Source src;
    src.seconds = 1;
    record(17, src, "replace.asf");
    EXPECT_LT(std::filesystem::file_size(path), 1u << 20);
    FileInfo info = probe(path);
    EXPECT_TRUE(info.opened);
}

TEST(AsfRecorder, PathThatCannotBeCreatedFailsWithTheSystemCode) {
    Recorder r(9);
    EXPECT_EQ(r.start(temp_dir() + "/no/such/dir/x.asf", {}), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(r.started());
    Recorder d(9);
    EXPECT_EQ(d.start(temp_dir(), {}), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));  // a directory
}

namespace {
struct CountingSink : PacketSink {
    int headers = 0, ends = 0;
    size_t packets = 0, packet_size = 0;
    bool header_first = true;
    Bytes header;
    void on_header(const Bytes &h) override {
        ++headers;
        header = h;
    }
    void on_packet(const uint8_t *, size_t n) override {
        if (headers == 0) header_first = false;
        ++packets;
        packet_size = n;
    }
    void on_end() override { ++ends; }
};
}  // namespace

TEST(AsfRecorder, SinkGetsHeaderPacketsAndEnd) {
    CountingSink sink;
    RecorderOptions o;
    o.sinks.push_back(&sink);
    Source src;
    src.seconds = 2;
    std::string path = record(9, src, "sink.asf", o);
    EXPECT_EQ(sink.headers, 1);
    EXPECT_TRUE(sink.header_first);
    EXPECT_EQ(sink.ends, 1);
    ASSERT_GT(sink.packets, 0u);
    // Every packet that went to the file went to the sink too.
    size_t file = std::filesystem::file_size(path);
    EXPECT_GE(file, sink.header.size() + sink.packets * sink.packet_size);
    // The live header is marked as a broadcast (File Properties flags, bit 0).
    ASSERT_GT(sink.header.size(), 30u + 88u);
    EXPECT_EQ(sink.header[30 + 88] & 1, 1);
    // It ends with the data object's start, sized 50: readers take that as a live stream
    // (a size below 24 makes some of them reject the file).
    size_t d = sink.header.size() - 50;
    uint64_t data_size = 0;
    for (int i = 0; i < 8; ++i) data_size |= uint64_t(sink.header[d + 16 + i]) << (8 * i);
    EXPECT_EQ(data_size, 50u);
    EXPECT_EQ(sink.header[d], 0x36);  // {75B22636-...}: Data Object
}

TEST(AsfRecorder, RunningRecordingReachesTheSinkWithoutWaitingForABatch) {
    // A few seconds of a low-rate audio profile make fewer packets than the output thread is
    // woken for; a listener must still get them while the recording runs.
    struct Sink : PacketSink {
        std::atomic<size_t> packets{0};
        void on_header(const Bytes &) override {}
        void on_packet(const uint8_t *, size_t) override { ++packets; }
        void on_end() override {}
    } sink;
    RecorderOptions o;
    o.sinks.push_back(&sink);
    Recorder r(17);
    Source src;
    src.seconds = 3;
    set_formats(r, src);
    ASSERT_EQ(r.start(temp_dir() + "/live.asf", o), S_OK);
    ASSERT_EQ(feed(r, src), S_OK);
    for (int i = 0; i < 100 && sink.packets == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GT(sink.packets.load(), 0u);
    EXPECT_EQ(r.stop(), S_OK);
}

TEST(AsfRecorder, GapInTheSoundBecomesSilence) {
    // 48 kHz into a 44.1 kHz stream, with the second between 1 s and 2 s missing: the sound
    // after the gap keeps its time, and the packets go on evenly across the gap.
    Source src;
    src.rate = 48000;
    std::string path = temp_dir() + "/gap.asf";
    {
        Recorder r(17);
        set_formats(r, src);
        ASSERT_EQ(r.start(path, {}), S_OK);
        ASSERT_EQ(feed(r, src, 0, 1), S_OK);
        ASSERT_EQ(feed(r, src, 2, 3), S_OK);
        ASSERT_EQ(r.stop(), S_OK);
    }
    FileInfo info = probe(path);
    ASSERT_TRUE(info.opened) << info.error;
    const StreamInfo *a = info.first_audio();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->decode_errors, 0);
    EXPECT_NEAR(info.duration_s, 3.0, 0.05);
    EXPECT_GE(a->last_pts_ms, 2900) << "the sound after the gap moved up into it";
    int64_t longest = 0;
    for (size_t k = 1; k < a->pts_ms.size(); ++k) longest = std::max(longest, a->pts_ms[k] - a->pts_ms[k - 1]);
    EXPECT_LE(longest, 100) << "a hole in the stream";
}

TEST(AsfRecorder, FullQueueTakesItsPusherBackOnlyOnceTheRefillHasGone) {
    recorder::Queue<int> q(4, 2);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(q.push(i));
    std::atomic<bool> pushed{false};
    std::thread pusher([&] {
        q.push(4);
        pushed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the pusher now waits on the full queue
    EXPECT_FALSE(pushed);
    int v = -1;
    ASSERT_TRUE(q.pop(v));
    EXPECT_EQ(v, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(pushed) << "woken with one place free";
    ASSERT_TRUE(q.pop(v));
    pusher.join();
    EXPECT_TRUE(pushed);
    for (int want = 2; want <= 4; ++want) {
        ASSERT_TRUE(q.pop(v));
        EXPECT_EQ(v, want);
    }
}

// Slack for "within one packet": a packet carries at most a video frame (33 ms here) and an
// audio frame or two.
constexpr int64_t kOnePacketMs = 100;

// The latest media time a file's packets reach: the last presentation time of any stream.
int64_t last_media_ms(const FileInfo &info) {
    int64_t last = 0;
    for (const StreamInfo &s : info.streams) last = std::max(last, s.last_pts_ms);
    return last;
}

TEST(AsfRecorder, KilledRecordingStillPlays) {
    std::string path = temp_dir() + "/killed.asf";
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        Recorder r(9);
        Source src;
        src.seconds = 1000;
        set_formats(r, src);
        if (r.start(path, {}) != S_OK) _exit(2);
        // Tell the parent what the file holds after 8 s of media, then go on until killed.
        feed(r, src, 0, 8);
        int64_t written = r.written_position();
        if (write(fds[1], &written, sizeof written) != sizeof written) _exit(3);
        feed(r, src, 8, 1000);
        _exit(4);
    }
    close(fds[1]);
    int64_t written = 0;
    ASSERT_EQ(read(fds[0], &written, sizeof written), ssize_t(sizeof written));
    close(fds[0]);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    FileInfo info = probe(path);
    ASSERT_TRUE(info.opened) << info.error;
    ASSERT_EQ(info.streams.size(), 2u);
    const StreamInfo *v = info.first_video();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->decode_errors, 0);
    // Most of what was received before the signal is there (the rest was still queued), and
    // at least all the recorder said the file held.
    EXPECT_GT(v->last_pts_ms, 5000);
    EXPECT_GT(written, 30000000);
    EXPECT_GE(last_media_ms(info), written / 10000 - kOnePacketMs);
    EXPECT_GT(v->decoded, 5 * 29);
    EXPECT_GT(info.first_audio()->decoded, 0);
}

TEST(AsfRecorder, FullDiskAbortsAndLeavesPlayableFile) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
    std::string dir = temp_dir() + "/small";
    std::filesystem::create_directory(dir);
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        std::string d;
        ~Unmount() { umount(d.c_str()); }
    } unmount{dir};
    std::string path = dir + "/full.asf";
    HRESULT reported = S_OK;
    int calls = 0;
    RecorderOptions o;
    o.on_error = [&](HRESULT hr) {
        reported = hr;
        ++calls;
    };
    Recorder r(12);  // 1.4 Mbit/s: 1 MB lasts a few seconds
    Source src;
    src.seconds = 60;
    set_formats(r, src);
    ASSERT_EQ(r.start(path, o), S_OK);
    HRESULT fed = feed(r, src);
    EXPECT_EQ(fed, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_EQ(r.stop(), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(reported, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    FileInfo info = probe(path);
    ASSERT_TRUE(info.opened) << info.error;
    const StreamInfo *v = info.first_video();
    ASSERT_NE(v, nullptr);
    EXPECT_GT(v->decoded, 10);
    EXPECT_EQ(v->decode_errors, 0);
    // The header and the recorder state what the packets hold, not what was encoded.
    const double held_ms = double(last_media_ms(info));
    EXPECT_NEAR(info.duration_s * 1000, held_ms, kOnePacketMs);
    EXPECT_NEAR(double(r.written_position()) / 10000, held_ms, kOnePacketMs);
}
