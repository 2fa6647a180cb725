// Every one of the 27 profiles recorded through the writer filter and read back. Longer than
// the rest of the suite (labelled "long"), still run by CI.
#include "tests/support/AsfTestUtil.h"
#include "tests/support/TestGraph.h"

#include "platform/posix/asf/Wm8Profiles.h"

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::posix::asf;
using namespace asftest;

class AllProfiles : public testing::TestWithParam<int> {};

TEST_P(AllProfiles, RecordsAsTheProfileSays) {
    int profile = GetParam();
    SourceSpec clip;
    clip.width = 640;
    clip.height = 480;
    clip.fps = 30;  // converted to every profile's own rate
    clip.seconds = 8;
    Rig rig;
    std::string path = temp_dir() + "/all" + std::to_string(profile) + ".asf";
    ASSERT_EQ(rig.build(profile, clip, path), S_OK);
    ASSERT_EQ(rig.run(), S_OK);
    ASSERT_TRUE(rig.graph->wait_for(EC_COMPLETE, 240));
    rig.stop();
    EXPECT_EQ(rig.graph->count(EC_ERRORABORT), 0);

    auto settings = profile_streams(profile);
    FileInfo info = probe(path);
    ASSERT_TRUE(info.opened) << info.error;
    ASSERT_EQ(info.streams.size(), settings.size());
    double frame = 0.07;
    for (size_t i = 0; i < settings.size(); ++i) {
        const StreamSetting &s = settings[i];
        const StreamInfo &st = info.streams[i];
        SCOPED_TRACE("stream " + std::to_string(i));
        EXPECT_EQ(st.decode_errors, 0);
        double rate = st.bytes * 8.0 / clip.seconds;
        if (s.kind == StreamKind::kVideo) {
            frame = double(s.fps_den) / s.fps_num;
            EXPECT_EQ(st.codec, "wmv2");
            EXPECT_EQ(st.width, s.width);
            EXPECT_EQ(st.height, s.height);
            EXPECT_EQ(frames_off_grid(st, 1 / frame), 0);
            EXPECT_NEAR(st.frame_rate, 1 / frame, 0.01);
            if (s.bitrate > 0) {
                // Slots may be left out to keep the bit rate, never added.
                EXPECT_LE(double(st.packets), clip.seconds / frame + 1.5);
                EXPECT_GE(double(st.packets), clip.seconds / frame / 3);
            } else {
                EXPECT_NEAR(double(st.packets), clip.seconds / frame, 1.5);
            }
            EXPECT_EQ(st.decoded, st.packets);
            if (s.bitrate > 0) {
                EXPECT_NEAR(rate, s.bitrate, s.bitrate * 0.35);
                EXPECT_EQ(st.declared_bitrate, s.bitrate);
            } else {
                // Quality-based: the header states what the stream turned out to use.
                EXPECT_NEAR(double(st.declared_bitrate), rate, rate * 0.05 + 1000);
            }
        } else {
            EXPECT_EQ(st.codec, "wmav2");
            EXPECT_EQ(st.sample_rate, s.sample_rate);
            EXPECT_EQ(st.channels, s.channels);
            EXPECT_EQ(st.declared_bitrate, audio_encode_bitrate(s));
            EXPECT_NEAR(rate, audio_encode_bitrate(s), audio_encode_bitrate(s) * 0.15);
        }
    }
    EXPECT_NEAR(info.duration_s, clip.seconds, frame + 0.001);
    EXPECT_TRUE(has_simple_index(path));
    bool key = false;
    double t = seek_and_read(path, 5.0, &key);
    EXPECT_GE(t, 0);
    EXPECT_LE(t, 5.05);
}

INSTANTIATE_TEST_SUITE_P(Wm8, AllProfiles, testing::Range(0, 27));
