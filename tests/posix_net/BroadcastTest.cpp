// The broadcast's rules without sockets: framing and numbering, where a joining client starts,
// when a client that joined early comes in step, the backlog's bound, and a new header.
#include "platform/posix/net/Broadcast.h"
#include "tests/support/NetFixtures.h"

#include <gtest/gtest.h>

#include <cstring>

using tw::posix::net::Broadcast;
using nettest::clip;

namespace {

// Feeds packets [from, to) and returns what a client that was streaming all along received.
std::vector<Broadcast::Bytes> feed(Broadcast &b, size_t from, size_t to, bool *in_step) {
    std::vector<Broadcast::Bytes> got;
    for (size_t i = from; i < to; ++i) {
        Broadcast::Packet p;
        EXPECT_EQ(b.add(clip().packets[i].data(), clip().packets[i].size(), &p), S_OK) << "packet " << i;
        EXPECT_EQ(p.key, clip().video_key_packets.count(i) == 1) << "packet " << i;
        if (auto bytes = b.for_client(p, in_step)) got.push_back(bytes);
    }
    return got;
}

uint32_t location_of(const Broadcast::Bytes &framed) {
    uint32_t v;
    std::memcpy(&v, framed->data() + 4, 4);  // after "$D" and the frame's length
    return v;
}

Broadcast on_air(size_t backlog_limit) {
    Broadcast b(backlog_limit);
    tw::posix::net::AsfHeaderInfo info;
    bool same = true;
    EXPECT_EQ(b.check_header(clip().header.data(), clip().header.size(), &info, &same), S_OK);
    EXPECT_FALSE(same);
    b.start(std::move(info));
    return b;
}

}  // namespace

TEST(Broadcast, AClientJoinsAtTheLastKeyFrameOrWaitsForTheNext) {
    ASSERT_GE(clip().video_key_packets.size(), 2u) << "the clip needs two key frames";
    const size_t first_key = *clip().video_key_packets.begin();
    const size_t second_key = *std::next(clip().video_key_packets.begin());
    Broadcast b = on_air(64u << 20);
    Broadcast::Packet p;
    EXPECT_EQ(b.add(clip().packets[0].data(), clip().packets[0].size() - 1, &p), NS_E_INVALID_DATA);

    // Joined before any key frame: nothing until the first one, which comes as a joiner sees it.
    bool early = false;
    std::vector<Broadcast::Bytes> got = feed(b, 0, second_key, &early);
    ASSERT_TRUE(early);
    ASSERT_EQ(got.size(), second_key - first_key);
    EXPECT_EQ(location_of(got.front()), first_key) << "packets are numbered from the first one broadcast";

    // Joining now: the backlog from the first key frame, the same bytes the early client got.
    std::vector<Broadcast::Bytes> joining = b.joining();
    ASSERT_EQ(joining.size(), got.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(*joining[i], *got[i]) << "packet " << i;
    if (clip().key_packets_after_frames.count(first_key)) {
        const std::vector<uint8_t> &whole = clip().packets[first_key];
        EXPECT_NE(std::memcmp(joining.front()->data() + 8, whole.data(), whole.size()), 0)
            << "the join packet must lose the video that began before the key frame";
    }

    // The next key frame starts the backlog anew.
    feed(b, second_key, second_key + 1, &early);
    EXPECT_EQ(b.joining().size(), 1u);
}

TEST(Broadcast, AnOverfullBacklogIsDroppedAndANewHeaderIsANewBroadcast) {
    Broadcast b = on_air(clip().packet_size);  // not even two packets
    bool in_step = false;
    const size_t first_key = *clip().video_key_packets.begin();
    feed(b, 0, first_key + 2, &in_step);
    EXPECT_TRUE(b.joining().empty()) << "too far from a key frame: a joiner waits for the next";

    tw::posix::net::AsfHeaderInfo info;
    bool same = false;
    ASSERT_EQ(b.check_header(clip().header.data(), clip().header.size(), &info, &same), S_OK);
    EXPECT_TRUE(same);
    std::vector<uint8_t> junk(clip().header.size(), 0x5A);
    EXPECT_EQ(b.check_header(junk.data(), junk.size(), &info, &same), NS_E_INVALID_DATA);

    b.end();
    EXPECT_FALSE(b.on_air());
    Broadcast::Packet p;
    EXPECT_EQ(b.add(clip().packets[0].data(), clip().packets[0].size(), &p), NS_E_INVALID_REQUEST);
}
