// The decoder's pictures handed on without a copy: what they write into a sample is the
// picture in the sample's layout.
#include "platform/posix/media/Codecs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace tw::posix::media;

// A decoder-like picture at an odd size: rows padded past the width, every byte different.
FramePtr picture(AVPixelFormat fmt, int w, int h) {
    FramePtr f = make_frame();
    f->format = fmt;
    f->width = w;
    f->height = h;
    EXPECT_EQ(0, av_frame_get_buffer(f.get(), 64));
    for (int p = 0; p < 4 && f->buf[p]; ++p)
        for (size_t i = 0; i < f->buf[p]->size; ++i) f->buf[p]->data[i] = uint8_t(i * 7 + p * 31 + i / 251);
    return f;
}

TEST(FrameContent, WritesThePictureInTheSamplesFormat) {
    const int w = 161, h = 97;
    struct Case {
        VideoFormat out;
        AVPixelFormat in;
    } cases[] = {{VideoFormat::I420, AV_PIX_FMT_YUV420P},
                 {VideoFormat::YV12, AV_PIX_FMT_YUV420P},
                 {VideoFormat::NV12, AV_PIX_FMT_NV12}};
    for (const Case &c : cases) {
        SCOPED_TRACE(video_format_info(c.out).name);
        FramePtr f = picture(c.in, w, h);
        auto conv = std::make_shared<VideoConverter>(c.out, w, h);
        std::unique_ptr<FrameContent> shared = conv->share(f.get());
        ASSERT_TRUE(shared);
        EXPECT_EQ(f->data[0], shared->frame().data[0]);  // the same picture, not a copy
        // The sample's layout: planes packed one after another, rows without padding, YV12's
        // V before U.
        const PictureLayout &l = conv->layout();
        const size_t size = l.size;
        std::vector<BYTE> expected(size, 0), written(size, 1);
        for (int p = 0; p < l.planes; ++p) {
            int src = c.out == VideoFormat::YV12 && p > 0 ? 3 - p : p;
            int rows = p == 0 ? h : (h + 1) / 2;
            for (int y = 0; y < rows; ++y)
                std::copy_n(f->data[src] + y * f->linesize[src], l.stride[p], &expected[l.offset[p] + y * l.stride[p]]);
        }
        ASSERT_EQ(S_OK, shared->write(written.data(), LONG(size)));
        EXPECT_TRUE(expected == written);
        EXPECT_EQ(E_FAIL, shared->write(written.data(), LONG(size - 1)));
    }
    // Pictures in another format or range are converted when asked for, as the decoder
    // would have; only a picture that needs scaling is not handed on as it is.
    {
        auto conv = std::make_shared<VideoConverter>(VideoFormat::I420, w, h);
        FramePtr full = picture(AV_PIX_FMT_YUV420P, w, h);
        full->color_range = AVCOL_RANGE_JPEG;
        FramePtr deep = picture(AV_PIX_FMT_YUV422P10LE, w, h);
        for (const AVFrame *f : {full.get(), deep.get()}) {
            std::unique_ptr<FrameContent> shared = conv->share(f);
            ASSERT_TRUE(shared);
            std::vector<BYTE> converted(conv->layout().size, 0), written(converted);
            ASSERT_EQ(S_OK, conv->convert(f, converted.data()));
            ASSERT_EQ(S_OK, shared->write(written.data(), LONG(written.size())));
            EXPECT_TRUE(converted == written);
        }
        EXPECT_FALSE(conv->share(picture(AV_PIX_FMT_YUV420P, w + 1, h).get()));
    }
}

}  // namespace
