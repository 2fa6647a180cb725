// The network sink against real clients on 127.0.0.1: FFmpeg's mmsh:// and http:// clients,
// and bare sockets for what the tools cannot show (join points, limits, stalls, closing).
// One file, though long: the tests share one server fixture and its clients.
#include "tests/support/NetFixtures.h"

#include "platform/posix/net/NetworkSink.h"
#include "platform/posix/object.h"
#include "platform/text.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using nettest::clip;
using nettest::RawClient;
using nettest::request;
using tw::ComPtr;

namespace {

// Counts the sink's client status messages so tests can wait for them.
class StatusRecorder final : public tw::posix::ComObject<IWMStatusCallback> {
public:
    HRESULT STDMETHODCALLTYPE OnStatus(WMT_STATUS status, HRESULT hr, WMT_ATTR_DATATYPE type, BYTE *value,
                                       void *context) override {
        std::lock_guard<std::mutex> lock(m_);
        if (type == WMT_TYPE_BINARY && value) last_ = *reinterpret_cast<WM_CLIENT_PROPERTIES *>(value);
        if (status == WMT_CLIENT_CONNECT) ++connects_;
        if (status == WMT_CLIENT_DISCONNECT) {
            ++disconnects_;
            disconnected_ports_.push_back(last_.dwPort);
        }
        context_ = context;
        cv_.notify_all();
        return S_OK;
    }
    bool wait_connects(int n, std::chrono::milliseconds t = 20s) {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, t, [&] { return connects_ >= n; });
    }
    bool wait_disconnects(int n, std::chrono::milliseconds t = 20s) {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, t, [&] { return disconnects_ >= n; });
    }
    bool wait_disconnect_of(uint16_t port, std::chrono::milliseconds t = 20s) {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, t, [&] {
            return std::find(disconnected_ports_.begin(), disconnected_ports_.end(), port) != disconnected_ports_.end();
        });
    }
    int connects() {
        std::lock_guard<std::mutex> lock(m_);
        return connects_;
    }
    void *context() {
        std::lock_guard<std::mutex> lock(m_);
        return context_;
    }

protected:
    void *GetInterface(REFIID riid) override { return answer<IWMStatusCallback>(riid); }

private:
    std::mutex m_;
    std::condition_variable cv_;
    int connects_ = 0;
    int disconnects_ = 0;
    std::vector<DWORD> disconnected_ports_;
    WM_CLIENT_PROPERTIES last_{};
    void *context_ = nullptr;
};

class NetworkSinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(clip().packets.empty()) << "ffmpeg could not make the test clip";
        open_sink(tw::posix::net::SinkLimits{});
    }
    void TearDown() override {
        if (sink) {
            if (status) sink.query<IWMRegisterCallback>()->Unadvise(status.get(), this);
            EXPECT_EQ(sink->Close(), S_OK);
        }
    }
    void open_sink(const tw::posix::net::SinkLimits &limits) {
        if (sink) sink->Close();
        sink = nullptr;
        ASSERT_EQ(tw::posix::net::CreateNetworkSink(limits, sink.out()), S_OK);
        status = ComPtr<StatusRecorder>::adopt(new StatusRecorder);
        ASSERT_EQ(sink.query<IWMRegisterCallback>()->Advise(status.get(), this), S_OK);
        DWORD p = 0;
        ASSERT_EQ(sink->Open(&p), S_OK);
        ASSERT_NE(p, 0u);
        port = static_cast<uint16_t>(p);
    }
    void header() { ASSERT_EQ(sink->OnHeader(nettest::buffer_of(clip().header).get()), S_OK); }
    void feed(size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            ASSERT_EQ(sink->OnDataUnit(nettest::buffer_of(clip().packets[i]).get()), S_OK) << "packet " << i;
    }
    std::string url(const char *scheme) { return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + "/"; }
    // The last packet at or before `index` in which a video key frame starts.
    size_t key_at_or_before(size_t index) {
        const auto &keys = clip().video_key_packets;
        auto it = keys.upper_bound(index);
        EXPECT_NE(it, keys.begin());
        return *std::prev(it);
    }

    ComPtr<IWMWriterNetworkSink> sink;
    ComPtr<StatusRecorder> status;
    uint16_t port = 0;
};

uint32_t u32(const std::string &s, size_t at) {
    return nettest::rd32(reinterpret_cast<const uint8_t *>(s.data() + at));
}
uint16_t u16(const std::string &s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}

// Frames of an MMS-over-HTTP body: type letter and payload (after the 4-byte framing header).
std::vector<std::pair<char, std::string>> frames(const std::string &body, bool *complete) {
    std::vector<std::pair<char, std::string>> out;
    size_t pos = 0;
    while (pos + 4 <= body.size()) {
        if (body[pos] != '$') break;
        size_t len = u16(body, pos + 2);
        if (pos + 4 + len > body.size()) break;
        out.emplace_back(body[pos + 1], body.substr(pos + 4, len));
        pos += 4 + len;
    }
    *complete = pos == body.size();
    return out;
}

TEST_F(NetworkSinkTest, PropertiesAndOpening) {
    DWORD n = 0;
    EXPECT_EQ(sink->GetMaximumClients(&n), S_OK);
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(sink->SetMaximumClients(7), S_OK);
    EXPECT_EQ(sink->GetMaximumClients(&n), S_OK);
    EXPECT_EQ(n, 7u);
    WMT_NET_PROTOCOL proto = static_cast<WMT_NET_PROTOCOL>(9);
    EXPECT_EQ(sink->GetNetworkProtocol(&proto), S_OK);
    EXPECT_EQ(proto, WMT_PROTOCOL_HTTP);
    EXPECT_EQ(sink->SetNetworkProtocol(WMT_PROTOCOL_HTTP), S_OK);
    EXPECT_EQ(sink->SetNetworkProtocol(static_cast<WMT_NET_PROTOCOL>(1)), E_INVALIDARG);
    BOOL rt = FALSE;
    EXPECT_EQ(sink->IsRealTime(&rt), S_OK);
    EXPECT_EQ(rt, TRUE);
    EXPECT_EQ(sink->GetMaximumClients(nullptr), E_INVALIDARG);
    EXPECT_EQ(sink->IsRealTime(nullptr), E_INVALIDARG);
    EXPECT_EQ(sink->Open(nullptr), E_INVALIDARG);

    // Open(0) chose a real, listening port; opening again is refused, and so is a second
    // sink on the same port.
    {
        RawClient probe(port);
        EXPECT_TRUE(probe.connected());
    }
    DWORD again = 0;
    EXPECT_EQ(sink->Open(&again), NS_E_INVALID_REQUEST);
    ComPtr<IWMWriterNetworkSink> other;
    ASSERT_EQ(WMCreateWriterNetworkSink(other.out()), S_OK);
    DWORD same = port;
    EXPECT_EQ(other->Open(&same), NS_E_NETWORK_RESOURCE_FAILURE);
    EXPECT_EQ(other->GetHostURL(nullptr, &n), NS_E_NOT_CONNECTED);

    // All interfaces: IPv6 loopback too, where the machine has it.
    {
        int fd6 = socket(AF_INET6, SOCK_STREAM, 0);
        if (fd6 >= 0) {
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_addr = in6addr_loopback;
            a.sin6_port = htons(port);
            int r = ::connect(fd6, reinterpret_cast<sockaddr *>(&a), sizeof a);
            bool no_ipv6_here = r != 0 && (errno == EADDRNOTAVAIL || errno == ENETUNREACH);
            if (!no_ipv6_here) {
                EXPECT_EQ(r, 0) << "no IPv6 listener: " << std::strerror(errno);
            }
            ::close(fd6);
        }
    }

    // Host URL: the length first, too small a buffer, then the URL.
    DWORD cch = 0;
    EXPECT_EQ(sink->GetHostURL(nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(sink->GetHostURL(nullptr, &cch), S_OK);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string expect = std::string("http://") + host + ":" + std::to_string(port);
    EXPECT_EQ(cch, expect.size() + 1);
    std::vector<WCHAR> buf(cch, u'#');
    DWORD small = cch - 1;
    EXPECT_EQ(sink->GetHostURL(buf.data(), &small), ASF_E_BUFFERTOOSMALL);
    EXPECT_EQ(small, cch);
    EXPECT_EQ(buf[0], u'#');
    DWORD exact = cch;
    EXPECT_EQ(sink->GetHostURL(buf.data(), &exact), S_OK);
    EXPECT_EQ(tw::to_utf8(buf.data()), expect);

    // Close releases the port: nobody listens, and it can be opened again, on the same port.
    EXPECT_EQ(sink->Close(), S_OK);
    EXPECT_EQ(sink->GetHostURL(nullptr, &cch), NS_E_NOT_CONNECTED);
    {
        RawClient refused(port);
        EXPECT_FALSE(refused.connected());
    }
    DWORD reopen = port;
    EXPECT_EQ(sink->Open(&reopen), S_OK);
    EXPECT_EQ(reopen, port);
}

TEST_F(NetworkSinkTest, InterfacesAndBadInput) {
    EXPECT_TRUE(sink.query<IWMWriterSink>());
    EXPECT_TRUE(sink.query<IWMClientConnections>());
    EXPECT_TRUE(sink.query<IWMRegisterCallback>());
    EXPECT_FALSE(sink.query<INSSBuffer>());
    EXPECT_EQ(sink.query<IUnknown>().get(), sink.query<IWMClientConnections>().query<IUnknown>().get());
    EXPECT_EQ(status->context(), nullptr);

    // No packet before a header; no header that is not one; no packet of the wrong size.
    EXPECT_EQ(sink->OnDataUnit(nettest::buffer_of(clip().packets[0]).get()), NS_E_INVALID_REQUEST);
    EXPECT_EQ(sink->OnHeader(nullptr), E_INVALIDARG);
    std::vector<uint8_t> junk(600, 0x11);
    EXPECT_EQ(sink->OnHeader(nettest::buffer_of(junk).get()), NS_E_INVALID_DATA);
    header();
    EXPECT_EQ(sink->OnDataUnit(nullptr), E_INVALIDARG);
    std::vector<uint8_t> shorter(clip().packets[0].begin(), clip().packets[0].end() - 1);
    EXPECT_EQ(sink->OnDataUnit(nettest::buffer_of(shorter).get()), NS_E_INVALID_DATA);

    ComPtr<INSSBuffer> unit;
    EXPECT_EQ(sink->AllocateDataUnit(clip().packet_size, unit.out()), S_OK);
    DWORD max = 0;
    ASSERT_TRUE(unit);
    EXPECT_EQ(unit->GetMaxLength(&max), S_OK);
    EXPECT_EQ(max, clip().packet_size);

    // Only the stream is served.
    RawClient other(port);
    ASSERT_TRUE(other.send(request("/favicon.ico")));
    EXPECT_NE(other.head().find("404"), std::string::npos);
    RawClient post(port);
    ASSERT_TRUE(post.send("POST / HTTP/1.0\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_NE(post.head().find("405"), std::string::npos);
    EXPECT_EQ(status->connects(), 0);
    EXPECT_EQ(sink->OnEndWriting(), S_OK);
}

// FFmpeg's mmsh client joins a running broadcast, decodes video and audio, and ends cleanly
// at the broadcast's end.
TEST_F(NetworkSinkTest, FfmpegMmshClientDecodesTheBroadcast) {
    header();
    const size_t n = clip().packets.size();
    feed(0, n / 3);
    auto client = nettest::run_async("ffmpeg -nostdin -v error -i " + url("mmsh") + " -f framemd5 -");
    ASSERT_TRUE(status->wait_connects(1)) << "ffmpeg did not start playing";
    feed(n / 3, n);
    ASSERT_EQ(sink->OnEndWriting(), S_OK);
    auto result = client.get();
    EXPECT_EQ(result.status, 0) << result.output;
    int video = 0, audio = 0;
    std::istringstream lines(result.output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("0,", 0) == 0) ++video;
        if (line.rfind("1,", 0) == 0) ++audio;
    }
    RecordProperty("video_frames", video);
    RecordProperty("audio_frames", audio);
    // It joined at the key frame before packet n/3, so at least the frames from there on.
    EXPECT_GT(video, 15 * 3) << result.output;
    EXPECT_GT(audio, 10) << result.output;
    EXPECT_EQ(result.output.find("rror"), std::string::npos) << result.output;
}

TEST_F(NetworkSinkTest, FfprobeHttpClientFindsBothStreams) {
    header();
    const size_t n = clip().packets.size();
    feed(0, n / 2);
    auto probe = nettest::run_async("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + url("http"));
    ASSERT_TRUE(status->wait_connects(1)) << "ffprobe did not connect";
    feed(n / 2, n);
    ASSERT_EQ(sink->OnEndWriting(), S_OK);
    auto result = probe.get();
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("wmv2"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("wmav2"), std::string::npos) << result.output;
}

// Describe gives exactly one $H and closes; Play gives the same $H, then $D packets from the
// last key frame on, then $E; a plain client gets the same bytes unframed.
TEST_F(NetworkSinkTest, LateJoinersStartAtAKeyFrame) {
    header();
    const auto &c = clip();
    // Join at a key frame whose packet also starts frames before it: those must not reach
    // the client as its first video.
    ASSERT_FALSE(c.key_packets_after_frames.empty()) << "the clip should have such a packet";
    size_t key = *c.key_packets_after_frames.begin();
    size_t fed = key + 3;
    ASSERT_LT(fed, c.packets.size());
    ASSERT_LT(key_at_or_before(fed - 1), fed);
    feed(0, fed);
    size_t join = key_at_or_before(fed - 1);
    EXPECT_EQ(join, key);

    RawClient describe(port);
    ASSERT_TRUE(describe.send(request("/", nettest::kDescribe)));
    std::string dhead = describe.head();
    EXPECT_EQ(dhead.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << dhead;
    EXPECT_NE(dhead.find("application/vnd.ms.wms-hdr.asfv1"), std::string::npos);
    EXPECT_NE(dhead.find("features=\"broadcast\""), std::string::npos);
    ASSERT_TRUE(describe.until_closed()) << "Describe must close after the header";
    EXPECT_NE(dhead.find("Content-Length: " + std::to_string(describe.data.size())), std::string::npos) << dhead;
    bool complete = false;
    auto dframes = frames(describe.data, &complete);
    ASSERT_TRUE(complete);
    ASSERT_EQ(dframes.size(), 1u);
    EXPECT_EQ(dframes[0].first, 'H');

    RawClient play(port);
    ASSERT_TRUE(play.send(request("/", nettest::kPlay)));
    RawClient plain(port);
    ASSERT_TRUE(plain.send(request("/", "User-Agent: curl/7.88.1\r\n")));
    std::string phead = play.head();
    EXPECT_NE(phead.find("application/x-mms-framed"), std::string::npos) << phead;
    EXPECT_EQ(phead.find("Content-Length"), std::string::npos);
    std::string plhead = plain.head();
    EXPECT_NE(plhead.find("video/x-ms-asf"), std::string::npos) << plhead;
    ASSERT_TRUE(status->wait_connects(2));

    feed(fed, c.packets.size());
    ASSERT_EQ(sink->OnEndWriting(), S_OK);
    ASSERT_TRUE(play.until_closed());
    ASSERT_TRUE(plain.until_closed());

    auto pframes = frames(play.data, &complete);
    EXPECT_TRUE(complete);
    ASSERT_GE(pframes.size(), 3u);
    EXPECT_EQ(pframes.front(), dframes[0]) << "Play must repeat the Describe header byte for byte";
    EXPECT_EQ(pframes.back().first, 'E');
    EXPECT_EQ(pframes.back().second, std::string(4, '\0'));
    // The $D packets: numbered from the join point up, each the writer's packet unchanged.
    size_t expected = join;
    for (size_t i = 1; i + 1 < pframes.size(); ++i, ++expected) {
        ASSERT_EQ(pframes[i].first, 'D');
        const std::string &d = pframes[i].second;
        ASSERT_EQ(d.size(), 8 + c.packet_size);
        EXPECT_EQ(u32(d, 0), expected);
        EXPECT_EQ(u16(d, 6), 8 + c.packet_size);
        // The join packet lacks the video payloads that came before the key frame.
        if (expected != join) {
            ASSERT_EQ(std::memcmp(d.data() + 8, c.packets[expected].data(), c.packet_size), 0) << "packet " << expected;
        }
    }
    EXPECT_EQ(expected, c.packets.size());

    // Plain: the live header (the $H payload), then the same packets unframed.
    const std::string live_header = dframes[0].second.substr(8);
    ASSERT_EQ(plain.data.size(), live_header.size() + (c.packets.size() - join) * c.packet_size);
    EXPECT_EQ(plain.data.compare(0, live_header.size(), live_header), 0);
    EXPECT_EQ(plain.data.compare(live_header.size(), c.packet_size, pframes[1].second, 8, c.packet_size), 0)
        << "plain and framed clients join at the same packet";

    // What the plain client saved is an ASF file whose video begins with a key frame and
    // decodes without complaint.
    std::string saved = c.path + ".joined.asf";
    {
        std::ofstream out(saved, std::ios::binary);
        out.write(plain.data.data(), static_cast<std::streamsize>(plain.data.size()));
    }
    auto first = nettest::run("ffprobe -v error -select_streams v -read_intervals %+#1 -show_entries packet=flags "
                              "-of csv=p=0 " + saved);
    EXPECT_EQ(first.output.substr(0, 1), "K") << first.output;
    auto decoded = nettest::run("ffmpeg -nostdin -v warning -i " + saved + " -f null -");
    EXPECT_EQ(decoded.status, 0);
    EXPECT_EQ(decoded.output.find("keyframe"), std::string::npos) << decoded.output;
    EXPECT_EQ(decoded.output.find("rror"), std::string::npos) << decoded.output;
    EXPECT_EQ(first.output.find("rror"), std::string::npos) << first.output;
}

TEST_F(NetworkSinkTest, ClientsBeyondTheLimitAreRefused) {
    header();
    feed(0, 5);
    ASSERT_EQ(sink->SetMaximumClients(2), S_OK);
    RawClient a(port), b(port);
    ASSERT_TRUE(a.send(request("/")));
    ASSERT_TRUE(b.send(request("/", nettest::kPlay)));
    EXPECT_NE(a.head().find("200 OK"), std::string::npos);
    EXPECT_NE(b.head().find("200 OK"), std::string::npos);
    ASSERT_TRUE(status->wait_connects(2));

    RawClient third(port);
    ASSERT_TRUE(third.send(request("/")));
    EXPECT_NE(third.head().find("503"), std::string::npos);
    EXPECT_TRUE(third.until_closed());
    RawClient describe(port);  // a Windows Media client is told at once, not after its Describe
    ASSERT_TRUE(describe.send(request("/", nettest::kDescribe)));
    EXPECT_NE(describe.head().find("503"), std::string::npos);

    auto connections = sink.query<IWMClientConnections>();
    DWORD count = 0;
    EXPECT_EQ(connections->GetClientCount(&count), S_OK);
    EXPECT_EQ(count, 2u);
    WM_CLIENT_PROPERTIES props{};
    EXPECT_EQ(connections->GetClientProperties(0, &props), S_OK);
    EXPECT_EQ(props.dwIPAddress, 0x7F000001u);
    EXPECT_EQ(props.dwPort, a.local_port());
    EXPECT_EQ(connections->GetClientProperties(2, &props), E_INVALIDARG);

    // A client that leaves frees its place.
    uint16_t left = a.local_port();
    a.close();
    ASSERT_TRUE(status->wait_disconnect_of(left));
    RawClient fourth(port);
    ASSERT_TRUE(fourth.send(request("/")));
    EXPECT_NE(fourth.head().find("200 OK"), std::string::npos);
}

// A client that never reads is dropped when its queue is full; feeding never waits for it,
// and a reading client meanwhile gets every byte.
TEST_F(NetworkSinkTest, StalledClientDoesNotSlowFeeding) {
    tw::posix::net::SinkLimits limits;
    limits.client_queue_bytes = 512 * 1024;
    limits.socket_send_buffer = 16 * 1024;
    limits.stall_timeout_ms = 600000;  // only the full queue may end the stalled client here
    open_sink(limits);
    header();

    RawClient stalled(port, 4096);
    ASSERT_TRUE(stalled.send(request("/")));  // and never reads again
    RawClient reader(port);
    ASSERT_TRUE(reader.send(request("/")));
    ASSERT_TRUE(status->wait_connects(2));
    std::string reader_head = reader.head();
    ASSERT_NE(reader_head.find("200 OK"), std::string::npos);
    // The reader is read on a thread of its own, which publishes how much it has.
    std::mutex progress_m;
    std::condition_variable progress;
    size_t received = reader.data.size();
    std::thread pump([&] {
        while (!reader.eof) {
            reader.fill(reader.data.size() + 1, 100ms);
            std::lock_guard<std::mutex> lock(progress_m);
            received = reader.data.size();
            progress.notify_all();
        }
    });

    const auto &c = clip();
    const size_t rounds = 3000;  // about 9.6 MB, far beyond the stalled client's queue
    std::vector<ComPtr<INSSBuffer>> units;
    for (const auto &p : c.packets) units.push_back(nettest::buffer_of(p));
    auto slowest = std::chrono::steady_clock::duration::zero();
    auto feeding = std::chrono::steady_clock::duration::zero();
    for (size_t i = 0; i < rounds; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        HRESULT hr = sink->OnDataUnit(units[i % units.size()].get());
        auto took = std::chrono::steady_clock::now() - t0;
        slowest = std::max(slowest, took);
        feeding += took;
        if (hr != S_OK) {
            sink->Close();
            pump.join();
            FAIL() << "OnDataUnit failed at packet " << i << ": " << std::hex << hr;
        }
        // Keep the reader within reach of its queue, as a writer working in real time would;
        // the stalled client gets no such grace.
        if (i % 50 == 49) {
            size_t want = c.header.size() + (i + 1 - 50) * c.packet_size;
            std::unique_lock<std::mutex> lock(progress_m);
            bool kept_up = progress.wait_for(lock, 20s, [&] { return received >= want; });
            lock.unlock();
            if (!kept_up) {
                sink->Close();  // ends the reader, so the pump thread can be joined
                pump.join();
                FAIL() << "the reading client fell behind at packet " << i;
            }
        }
    }
    // Bounds far above the real cost (microseconds) yet far below any wait for the stalled
    // client, which would last until it is dropped: a busy machine must not fail this.
    EXPECT_LT(feeding, 10s);
    EXPECT_LT(slowest, 2s);
    EXPECT_TRUE(status->wait_disconnect_of(stalled.local_port())) << "the stalled client should be dropped";

    EXPECT_EQ(sink->OnEndWriting(), S_OK);
    pump.join();
    // Packet 0 starts a key frame, so the reader had everything from the first packet on.
    EXPECT_EQ(reader.data.size(), c.header.size() + rounds * c.packet_size);
    DWORD count = 9;
    EXPECT_EQ(sink.query<IWMClientConnections>()->GetClientCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(NetworkSinkTest, DisconnectDropsClientsAndCloseStopsListening) {
    header();
    feed(0, 5);
    RawClient a(port), b(port);
    ASSERT_TRUE(a.send(request("/")));
    ASSERT_TRUE(b.send(request("/", nettest::kPlay)));
    ASSERT_TRUE(status->wait_connects(2));
    ASSERT_EQ(sink->Disconnect(), S_OK);
    DWORD count = 9;
    EXPECT_EQ(sink.query<IWMClientConnections>()->GetClientCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(a.until_closed());
    EXPECT_TRUE(b.until_closed());
    EXPECT_TRUE(status->wait_disconnects(2));

    // Still listening after Disconnect.
    RawClient c(port);
    ASSERT_TRUE(c.send(request("/")));
    EXPECT_NE(c.head().find("200 OK"), std::string::npos);
    ASSERT_TRUE(status->wait_connects(3));

    ASSERT_EQ(sink->Close(), S_OK);
    EXPECT_TRUE(c.until_closed());
    RawClient refused(port);
    EXPECT_FALSE(refused.connected());
    EXPECT_EQ(sink->Disconnect(), S_OK);
    EXPECT_EQ(sink->Close(), S_OK);
}

// A client that comes before the writer's header waits for it.
TEST_F(NetworkSinkTest, ClientBeforeTheHeaderWaitsForIt) {
    RawClient early(port);
    ASSERT_TRUE(early.send(request("/", nettest::kPlay)));
    ASSERT_TRUE(status->wait_connects(1));
    EXPECT_FALSE(early.fill(1, 200ms));
    header();
    feed(0, 4);
    EXPECT_NE(early.head().find("200 OK"), std::string::npos);
    ASSERT_EQ(sink->OnEndWriting(), S_OK);
    ASSERT_TRUE(early.until_closed());
    bool complete = false;
    auto f = frames(early.data, &complete);
    EXPECT_TRUE(complete);
    ASSERT_EQ(f.size(), 6u);  // $H, four $D, $E
    EXPECT_EQ(f[0].first, 'H');
    EXPECT_EQ(u32(f[1].second, 0), 0u);
    EXPECT_EQ(f[5].first, 'E');
}

}  // namespace

// Descriptors this process has open.
size_t open_descriptors() {
    size_t n = 0;
    for ([[maybe_unused]] auto &e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// A thousand connections that send half a request and stall lock nobody out: a real mmsh
// client gets the stream at once, the sink holds a bounded number of them, and a lone stalled
// request is closed after a few seconds.
TEST_F(NetworkSinkTest, HalfOpenConnectionsLockNobodyOut) {
    header();
    const size_t n = clip().packets.size();
    feed(0, n / 3);

    const auto t0 = std::chrono::steady_clock::now();
    RawClient lone(port);
    ASSERT_TRUE(lone.send("GET / HTTP/1.0\r\nUser-Agent: NSPl"));
    EXPECT_TRUE(lone.until_closed(8s)) << "a request that never completes must be closed";
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 6s);

    const size_t before = open_descriptors();
    std::vector<std::unique_ptr<RawClient>> stalled;
    for (int i = 0; i < 1000; ++i) {
        stalled.push_back(std::make_unique<RawClient>(port));
        ASSERT_TRUE(stalled.back()->connected()) << "connection " << i;
        stalled.back()->send("GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n");  // and no end of the head
    }
    const auto started = std::chrono::steady_clock::now();
    auto client = nettest::run_async("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + url("mmsh"), 30);
    const bool admitted = status->wait_connects(1, 10s);
    const auto took = std::chrono::steady_clock::now() - started;
    // The sink's own share of the descriptors: the stalled connections hold one each here.
    const size_t held_by_sink = open_descriptors() - before - stalled.size();
    feed(n / 3, n);
    ASSERT_EQ(sink->OnEndWriting(), S_OK);
    auto result = client.get();
    EXPECT_TRUE(admitted) << "the mmsh client was never admitted";
    EXPECT_LT(took, 2s) << "the mmsh client waited " << std::chrono::duration<double>(took).count() << " s";
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("wmv2"), std::string::npos) << result.output;
    EXPECT_LE(held_by_sink, tw::posix::net::SinkLimits{}.max_pending_connections + 8u);
}

// Clients that take nothing give their places up after a few seconds, so that others are not
// turned away with 503 for long.
TEST_F(NetworkSinkTest, ClientsThatTakeNothingGiveUpTheirPlaces) {
    ASSERT_EQ(sink->SetMaximumClients(2), S_OK);
    header();
    feed(0, clip().packets.size() / 2);
    RawClient a(port, 4096), b(port, 4096);  // connect, ask, and never read
    ASSERT_TRUE(a.send(request("/", nettest::kPlay)));
    ASSERT_TRUE(b.send(request("/")));
    ASSERT_TRUE(status->wait_connects(2));
    const auto full = std::chrono::steady_clock::now();
    RawClient turned_away(port);
    ASSERT_TRUE(turned_away.send(request("/")));
    EXPECT_NE(turned_away.head().find("503"), std::string::npos);

    ASSERT_TRUE(status->wait_disconnects(2, 20s));
    const auto freed = std::chrono::steady_clock::now() - full;
    EXPECT_LT(freed, 7s) << "the places were held " << std::chrono::duration<double>(freed).count() << " s";
    RawClient next(port);
    ASSERT_TRUE(next.send(request("/")));
    EXPECT_NE(next.head().find("200 OK"), std::string::npos);
    EXPECT_EQ(sink->OnEndWriting(), S_OK);
}

// The sink may listen on one local address only; its URL then names that address.
TEST_F(NetworkSinkTest, ListensOnTheAddressGiven) {
    auto address = sink.query<ITwNetworkSinkAddress>();
    ASSERT_TRUE(address);
    EXPECT_EQ(address->SetListenAddress(u"127.0.0.1"), NS_E_INVALID_REQUEST);  // while open
    ASSERT_EQ(sink->Close(), S_OK);
    EXPECT_EQ(address->SetListenAddress(u"localhost"), E_INVALIDARG);
    EXPECT_EQ(address->SetListenAddress(u"127.0.0.1:80"), E_INVALIDARG);
    EXPECT_EQ(address->SetListenAddress(u"127.0.0.1"), S_OK);
    DWORD p = port;
    ASSERT_EQ(sink->Open(&p), S_OK);
    DWORD cch = 64;
    std::vector<WCHAR> buf(cch);
    ASSERT_EQ(sink->GetHostURL(buf.data(), &cch), S_OK);
    EXPECT_EQ(tw::to_utf8(buf.data()), "http://127.0.0.1:" + std::to_string(port));

    RawClient here(port);
    EXPECT_TRUE(here.connected());
    // Another loopback address reaches every interface, but not this one.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in other{};
    other.sin_family = AF_INET;
    other.sin_port = htons(port);
    other.sin_addr.s_addr = htonl(0x7F000002);
    EXPECT_NE(::connect(fd, reinterpret_cast<sockaddr *>(&other), sizeof other), 0);
    ::close(fd);

    // Back to every interface.
    ASSERT_EQ(sink->Close(), S_OK);
    EXPECT_EQ(address->SetListenAddress(nullptr), S_OK);
    ASSERT_EQ(sink->Open(&p), S_OK);
    RawClient anywhere(port);
    EXPECT_TRUE(anywhere.connected());
}
