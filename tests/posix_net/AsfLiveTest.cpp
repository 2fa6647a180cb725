// The broadcast form of an ASF header, key-frame join points, MMS framing, request
// classification and the memory INSSBuffer.
#include "tests/support/NetFixtures.h"

#include "platform/posix/net/AsfLive.h"
#include "platform/posix/net/HttpRequest.h"

using namespace tw::posix::net;
using nettest::clip;
using nettest::rd32;
using nettest::rd64;

namespace {

size_t find_object(const std::vector<uint8_t> &h, uint8_t first_byte, uint8_t second_byte) {
    size_t pos = 30;
    size_t end = static_cast<size_t>(rd64(&h[16]));
    while (pos + 24 <= end) {
        if (h[pos] == first_byte && h[pos + 1] == second_byte) return pos;
        pos += static_cast<size_t>(rd64(&h[pos + 16]));
    }
    return 0;
}

}  // namespace

TEST(AsfLive, HeaderBecomesABroadcastHeader) {
    const auto &c = clip();
    ASSERT_FALSE(c.packets.empty()) << "ffmpeg could not make the test clip";
    std::string why;
    auto info = parse_header(c.header.data(), c.header.size(), &why);
    ASSERT_TRUE(info) << why;
    EXPECT_EQ(info->packet_size, c.packet_size);
    ASSERT_EQ(info->video_streams.size(), 1u);
    EXPECT_EQ(info->live_header.size(), c.header_object_size + 50);

    const auto &h = info->live_header;
    size_t fp = find_object(h, 0xA1, 0xDC);
    ASSERT_NE(fp, 0u);
    EXPECT_EQ(rd64(&h[fp + 40]), 0u);         // file size
    EXPECT_EQ(rd64(&h[fp + 56]), 0u);         // packet count
    EXPECT_EQ(rd64(&h[fp + 64]), 0u);         // play duration
    EXPECT_EQ(rd64(&h[fp + 72]), 0u);         // send duration
    EXPECT_EQ(rd32(&h[fp + 88]) & 3u, 1u);    // broadcast, not seekable
    EXPECT_EQ(rd32(&h[fp + 92]), c.packet_size);
    EXPECT_EQ(std::memcmp(&h[fp + 80], &c.header[fp + 80], 8), 0);  // preroll kept
    // Data Object start: size 50, no packets, the file's File ID.
    size_t d = c.header_object_size;
    EXPECT_EQ(h[d], 0x36);
    EXPECT_EQ(rd64(&h[d + 16]), 50u);
    EXPECT_EQ(rd64(&h[d + 40]), 0u);
    EXPECT_EQ(std::memcmp(&h[d + 24], &c.header[d + 24], 16), 0);
    // Everything else is the writer's header unchanged.
    EXPECT_EQ(std::memcmp(h.data(), c.header.data(), fp + 40), 0);

    // A writer that sends the Header Object alone gets the same result.
    auto alone = parse_header(c.header.data(), c.header_object_size, &why);
    ASSERT_TRUE(alone) << why;
    EXPECT_EQ(alone->live_header, info->live_header);
}

TEST(AsfLive, MalformedHeadersAreRefused) {
    const auto &c = clip();
    ASSERT_FALSE(c.packets.empty());
    std::string why;
    EXPECT_FALSE(parse_header(nullptr, 0, &why));
    EXPECT_FALSE(parse_header(c.header.data(), 29, &why));
    EXPECT_FALSE(parse_header(c.header.data(), c.header_object_size - 1, &why));  // cut short

    auto bad_guid = c.header;
    bad_guid[0] ^= 0xFF;
    EXPECT_FALSE(parse_header(bad_guid.data(), bad_guid.size(), &why));

    auto variable = c.header;
    size_t fp = find_object(variable, 0xA1, 0xDC);
    ASSERT_NE(fp, 0u);
    variable[fp + 92] ^= 0x01;  // min packet size != max packet size
    EXPECT_FALSE(parse_header(variable.data(), variable.size(), &why));
    EXPECT_NE(why.find("fixed size"), std::string::npos) << why;

    auto broken_child = c.header;
    broken_child[30 + 16] = 0xFF;  // first child object claims more than the header holds
    broken_child[30 + 17] = 0xFF;
    EXPECT_FALSE(parse_header(broken_child.data(), broken_child.size(), &why));
}

TEST(AsfLive, KeyFramePacketsAgreeWithFfprobe) {
    const auto &c = clip();
    ASSERT_FALSE(c.packets.empty());
    auto info = parse_header(c.header.data(), c.header.size(), nullptr);
    ASSERT_TRUE(info);
    ASSERT_GE(c.video_key_packets.size(), 3u) << "the clip should have a key frame every second";
    std::set<size_t> ours;
    for (size_t i = 0; i < c.packets.size(); ++i)
        if (starts_key_frame(c.packets[i].data(), c.packets[i].size(), info->video_streams)) ours.insert(i);
    EXPECT_EQ(ours, c.video_key_packets);

    // Without video streams (an audio-only broadcast) every packet is a join point; a packet
    // cut down to its first bytes is none.
    EXPECT_TRUE(starts_key_frame(c.packets[1].data(), c.packets[1].size(), {}));
    EXPECT_FALSE(starts_key_frame(c.packets[0].data(), 3, info->video_streams));
    EXPECT_FALSE(starts_key_frame(nullptr, 0, info->video_streams));
}

TEST(AsfLive, VideoBeforeTheKeyFrameIsDroppedForJoiningClients) {
    const auto &c = clip();
    ASSERT_FALSE(c.packets.empty());
    auto info = parse_header(c.header.data(), c.header.size(), nullptr);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->streams.size(), 2u);
    ASSERT_FALSE(c.key_packets_after_frames.empty());

    for (size_t k : c.video_key_packets) {
        std::vector<uint8_t> copy = c.packets[k];
        size_t dropped = drop_video_before_key_frame(copy.data(), copy.size(), info->video_streams);
        if (c.key_packets_after_frames.count(k)) {
            EXPECT_GT(dropped, 0u) << "packet " << k;
        }
        EXPECT_EQ(copy.size(), c.packets[k].size());
        // Still a well-formed packet that starts the key frame, with nothing left to drop.
        EXPECT_TRUE(starts_key_frame(copy.data(), copy.size(), info->video_streams)) << "packet " << k;
        EXPECT_EQ(drop_video_before_key_frame(copy.data(), copy.size(), info->video_streams), 0u);
        if (dropped == 0) {
            EXPECT_EQ(copy, c.packets[k]);
        }
    }

    // A packet without a key frame, or a broadcast without video, is left alone.
    size_t plain = 0;
    while (c.video_key_packets.count(plain)) ++plain;
    std::vector<uint8_t> copy = c.packets[plain];
    EXPECT_EQ(drop_video_before_key_frame(copy.data(), copy.size(), info->video_streams), 0u);
    EXPECT_EQ(copy, c.packets[plain]);
    size_t k = *c.key_packets_after_frames.begin();
    copy = c.packets[k];
    EXPECT_EQ(drop_video_before_key_frame(copy.data(), copy.size(), {}), 0u);
    EXPECT_EQ(copy, c.packets[k]);
}

TEST(AsfLive, Framing) {
    std::vector<uint8_t> header(809, 0xAB);
    auto h = frame_header(header);
    ASSERT_EQ(h.size(), 809u + 12);
    const uint8_t expect_h[] = {0x24, 0x48, 0x31, 0x03, 0, 0, 0, 0, 0, 0x0C, 0x31, 0x03};
    EXPECT_EQ(std::memcmp(h.data(), expect_h, 12), 0);
    EXPECT_EQ(h[12], 0xAB);

    uint8_t d[kFramedPrefix];
    frame_data_prefix(d, 0x18, 3200);
    const uint8_t expect_d[] = {0x24, 0x44, 0x88, 0x0C, 0x18, 0, 0, 0, 0, 0x18, 0x88, 0x0C};
    EXPECT_EQ(std::memcmp(d, expect_d, 12), 0);

    auto e = frame_end();
    const std::vector<uint8_t> expect_e = {0x24, 0x45, 0x04, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(e, expect_e);
}

TEST(HttpRequestParsing, ClientsAreToldApart) {
    // FFmpeg's Play request: its last Pragma line runs into "Connection:".
    std::string ffmpeg_play =
        "GET / HTTP/1.1\r\nAccept: */*\r\nUser-Agent: NSPlayer/4.1.0.3856\r\nHost: 127.0.0.1:8080\r\n"
        "Pragma: no-cache,rate=1.000000,stream-time=0,stream-offset=0:0,request-context=2,max-duration=0\r\n"
        "Pragma: xClientGUID={c77e7400-738a-11d2-9add-0020af0a3278}\r\nPragma: xPlayStrm=1\r\n"
        "Pragma: stream-switch-count=2\r\nPragma: stream-switch-entry=ffff:1:0 ffff:2:0 \r\n"
        "Pragma: no-cache,rate=1.000000,stream-time=0Connection: Close\r\n\r\n";
    ASSERT_EQ(request_head_length(ffmpeg_play), ffmpeg_play.size());
    auto r = parse_request(ffmpeg_play);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind, RequestKind::Play);
    EXPECT_EQ(r->method, "GET");
    EXPECT_EQ(r->path, "/");
    EXPECT_GE(r->pragmas.size(), 10u);

    // VLC's odd GUID still marks a Windows Media client; no xPlayStrm: Describe.
    auto vlc = parse_request("GET /live?x=1 HTTP/1.0\r\nUser-Agent: VLC\r\n"
                             "Pragma: xClientGUID={0xbabac001-0xf9ee-0x4a55-0x97-0x51}\r\n\r\n");
    ASSERT_TRUE(vlc);
    EXPECT_EQ(vlc->kind, RequestKind::Describe);
    EXPECT_EQ(vlc->path, "/live");

    auto curl = parse_request("GET http://example:80/ HTTP/1.1\nUser-Agent: curl/7.88\n\n");
    ASSERT_TRUE(curl);
    EXPECT_EQ(curl->kind, RequestKind::Plain);
    EXPECT_EQ(curl->path, "/");

    EXPECT_EQ(request_head_length("GET / HTTP/1.0\r\nHost: x\r\n"), 0u);  // not complete yet
    EXPECT_EQ(request_head_length("GET / HTTP/1.0\n\nrest"), 16u);
    EXPECT_FALSE(parse_request("garbage\r\n\r\n"));
    EXPECT_FALSE(parse_request("GET /\r\n\r\n"));
    EXPECT_FALSE(parse_request("GET / SPDY/3\r\n\r\n"));
}

TEST(NSSBuffer, LengthWithinCapacity) {
    tw::ComPtr<INSSBuffer> b;
    ASSERT_EQ(tw::posix::CreateNSSBuffer(3200, b.out()), S_OK);
    DWORD len = 0, max = 0;
    BYTE *p = nullptr, *q = nullptr;
    EXPECT_EQ(b->GetLength(&len), S_OK);
    EXPECT_EQ(b->GetMaxLength(&max), S_OK);
    EXPECT_EQ(len, 3200u);
    EXPECT_EQ(max, 3200u);
    EXPECT_EQ(b->SetLength(100), S_OK);
    EXPECT_EQ(b->SetLength(3201), E_INVALIDARG);
    EXPECT_EQ(b->GetBufferAndLength(&p, &len), S_OK);
    EXPECT_EQ(len, 100u);
    EXPECT_EQ(b->GetBuffer(&q), S_OK);
    EXPECT_EQ(p, q);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(b->GetLength(nullptr), E_INVALIDARG);
    EXPECT_EQ(b->GetBufferAndLength(&p, nullptr), E_INVALIDARG);
    EXPECT_EQ(tw::posix::CreateNSSBuffer(1, nullptr), E_INVALIDARG);
    EXPECT_TRUE(b.query<INSSBuffer>());
    EXPECT_FALSE(b.query<IWMWriterSink>());
    EXPECT_EQ(tw::ref_count(b.get()), 1u);

    tw::ComPtr<INSSBuffer> empty;
    ASSERT_EQ(tw::posix::CreateNSSBuffer(0, empty.out()), S_OK);
    EXPECT_EQ(empty->GetBuffer(&p), S_OK);
    EXPECT_NE(p, nullptr);
}
