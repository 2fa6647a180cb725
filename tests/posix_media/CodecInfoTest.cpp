// The codec information carried from the source filter to the decoders in a media type.
#include "platform/posix/media/CodecInfo.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace tw::posix::media;

// Demuxers keep colour values from a file as they came, out of FFmpeg's enums or not (a
// fuzzed file gave 205): they must go through as "unspecified", and the rest unchanged.
TEST(CodecInfo, ValuesOutsideFfmpegsEnumsArriveAsUnspecified) {
    AVCodecParameters *in = avcodec_parameters_alloc();
    in->codec_type = AVMEDIA_TYPE_VIDEO;
    in->codec_id = AV_CODEC_ID_H264;
    in->width = 640;
    in->height = 480;
    in->color_space = AVCOL_SPC_BT709;
    const int32_t stray = 205;
    std::memcpy(&in->color_primaries, &stray, sizeof stray);
    std::memcpy(&in->chroma_location, &stray, sizeof stray);
    std::vector<uint8_t> block;
    append_codec_info(in, AVRational{1, 90000}, AVRational{30, 1}, block);

    AVCodecParameters *out = avcodec_parameters_alloc();
    AVRational tb{}, fr{};
    ASSERT_TRUE(read_codec_info(block.data(), block.size(), out, &tb, &fr));
    EXPECT_EQ(out->codec_id, AV_CODEC_ID_H264);
    EXPECT_EQ(out->width, 640);
    EXPECT_EQ(out->color_space, AVCOL_SPC_BT709);
    EXPECT_EQ(out->color_primaries, AVCOL_PRI_UNSPECIFIED);
    EXPECT_EQ(out->chroma_location, AVCHROMA_LOC_UNSPECIFIED);
    EXPECT_EQ(fr.num, 30);

    // A codec FFmpeg does not know is no codec at all, not a number cast into the enum.
    const int32_t unknown = 0x3ffff;
    std::memcpy(&in->codec_id, &unknown, sizeof unknown);
    block.clear();
    append_codec_info(in, AVRational{1, 90000}, AVRational{30, 1}, block);
    ASSERT_TRUE(read_codec_info(block.data(), block.size(), out, &tb, &fr));
    EXPECT_EQ(out->codec_id, AV_CODEC_ID_NONE);
    avcodec_parameters_free(&in);
    avcodec_parameters_free(&out);
}

}  // namespace
