#include "tools/record/Options.h"

#include <gtest/gtest.h>

using namespace tw::record;

namespace {
ParseResult parse(std::vector<std::string> args) { return parse_command_line(args); }
}  // namespace

TEST(RecordOptions, SourceAndOutputWithDefaults) {
    auto r = parse({"in.mp4", "out.asf"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.source, "in.mp4");
    EXPECT_EQ(r.options.output, "out.asf");
    EXPECT_EQ(r.options.profile, wmp_V80_384Video);
    EXPECT_FALSE(r.options.duration.has_value());
    EXPECT_EQ(r.options.port, 0u);
    EXPECT_EQ(r.options.max_users, 0u);
    EXPECT_FALSE(r.options.graph_edit);
}

TEST(RecordOptions, ProfileByNameIndexAndShortName) {
    EXPECT_EQ(parse_profile("wmp_V80_255VideoPDA"), wmp_V80_255VideoPDA);
    EXPECT_EQ(parse_profile("WMP_V80_BESTVBRVIDEO"), wmp_V80_BESTVBRVideo);
    EXPECT_EQ(parse_profile("128StereoAudio"), wmp_V80_128StereoAudio);
    EXPECT_EQ(parse_profile("WMProfile_V80_56VideoOnly"), wmp_V80_56VideoOnly);
    EXPECT_EQ(parse_profile("0"), wmp_V80_255VideoPDA);
    EXPECT_EQ(parse_profile("26"), wmp_V80_BESTVBRVideo);
    EXPECT_FALSE(parse_profile("27").has_value());
    EXPECT_FALSE(parse_profile("-1").has_value());
    EXPECT_FALSE(parse_profile("9x").has_value());
    EXPECT_FALSE(parse_profile("").has_value());
    EXPECT_FALSE(parse_profile("wmp_V80_").has_value());

    auto r = parse({"--profile", "15", "a", "b"});
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.options.profile, wmp_V80_288MonoAudio);
    r = parse({"--profile=wmp_V80_768Video", "a", "b"});
    EXPECT_EQ(r.options.profile, wmp_V80_768Video);
}

TEST(RecordOptions, EveryOptionTakesItsValue) {
    auto r = parse({"-p", "3", "-d", "2.5", "--port", "8080", "--max-users", "3", "--bind", "::1", "--log", "g.log",
                    "--graph-edit", "-q", "http://h/x", "o.asf"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.profile, wmp_V80_100768VideoMBR);
    ASSERT_TRUE(r.options.duration.has_value());
    EXPECT_DOUBLE_EQ(*r.options.duration, 2.5);
    EXPECT_EQ(r.options.port, 8080u);
    EXPECT_EQ(r.options.max_users, 3u);
    EXPECT_EQ(r.options.bind_address, "::1");
    EXPECT_EQ(r.options.log_file, "g.log");
    EXPECT_TRUE(r.options.graph_edit);
    EXPECT_TRUE(r.options.quiet);
    EXPECT_EQ(r.options.source, "http://h/x");
}

TEST(RecordOptions, PortAloneServesFiveClients) {
    auto r = parse({"--port", "9000", "a", "b"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.max_users, 5u);
    r = parse({"--max-users", "2", "a", "b"});
    EXPECT_NE(r.error.find("--port"), std::string::npos);
}

TEST(RecordOptions, BadValuesAreRefusedWithAReason) {
    struct Case {
        std::vector<std::string> args;
        const char *says;
    } cases[] = {
        {{"a"}, "source and an output"},
        {{}, "source and an output"},
        {{"a", "b", "c"}, "too many"},
        {{"--profile", "nope", "a", "b"}, "unknown profile 'nope'"},
        {{"--profile"}, "needs"},
        {{"--duration", "0", "a", "b"}, "invalid duration"},
        {{"--duration", "-3", "a", "b"}, "invalid duration"},
        {{"--duration", "abc", "a", "b"}, "invalid duration"},
        {{"--duration", "nan", "a", "b"}, "invalid duration"},
        {{"--port", "0", "a", "b"}, "invalid port"},
        {{"--port", "65536", "a", "b"}, "invalid port"},
        {{"--port", "80x", "a", "b"}, "invalid port"},
        {{"--port", "99999999999", "a", "b"}, "invalid port"},
        {{"--port", "80", "--max-users", "0", "a", "b"}, "invalid client limit"},
        {{"--log", "", "a", "b"}, "needs a file name"},
        {{"--bind", "127.0.0.1", "a", "b"}, "--bind needs --port"},
        {{"--port", "80", "--bind=", "a", "b"}, "needs an address"},
        {{"--bogus", "a", "b"}, "unknown option '--bogus'"},
        {{"--quiet=yes", "a", "b"}, "takes no value"},
        {{"", "b"}, "source must not be empty"},
        {{"a", ""}, "output file name must not be empty"},
    };
    for (const auto &c : cases) {
        auto r = parse(c.args);
        EXPECT_NE(r.error.find(c.says), std::string::npos) << "args: " << testing::PrintToString(c.args)
                                                            << " gave: '" << r.error << "'";
    }
}

TEST(RecordOptions, DoubleDashEndsOptionsAndInformationalOptionsNeedNoFiles) {
    auto r = parse({"--", "-odd-name.mp4", "--out.asf"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.source, "-odd-name.mp4");
    EXPECT_EQ(r.options.output, "--out.asf");
    EXPECT_TRUE(parse({"--help"}).options.help);
    EXPECT_TRUE(parse({"--version"}).options.version);
    EXPECT_TRUE(parse({"--list-profiles"}).options.list_profiles);
    EXPECT_EQ(parse({"--list-profiles"}).error, "");
}

TEST(RecordOptions, ProfileMediaFollowsTheProfileGroups) {
    EXPECT_STREQ(profile_media(wmp_V80_384Video), "audio and video");
    EXPECT_STREQ(profile_media(wmp_V80_288MonoAudio), "audio only");
    EXPECT_STREQ(profile_media(wmp_V80_128StereoAudio), "audio only");
    EXPECT_STREQ(profile_media(wmp_V80_288VideoOnly), "video only");
    EXPECT_STREQ(profile_media(wmp_V80_56VideoOnly), "video only");
    EXPECT_STREQ(profile_media(wmp_V80_FAIRVBRVideo), "audio and video");
}
