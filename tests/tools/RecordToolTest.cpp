// tarnwick-record run as a user runs it: a child process with arguments, its output read back,
// its files opened with libavformat.
#include "tests/support/AsfTestUtil.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char *kTool = TARNWICK_RECORD_PATH;

struct Outcome {
    int code = -1;
    std::string out, err;
};

// A started child with its stdout and stderr read on the side.
class Child {
public:
    explicit Child(const std::vector<std::string> &args) {
        int o[2], e[2];
        if (pipe(o) != 0 || pipe(e) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(o[1], 1);
            dup2(e[1], 2);
            close(o[0]), close(e[0]), close(o[1]), close(e[1]);
            int devnull = open("/dev/null", O_RDONLY);
            dup2(devnull, 0);
            std::vector<char *> argv;
            argv.push_back(const_cast<char *>(kTool));
            for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(kTool, argv.data());
            _exit(127);
        }
        close(o[1]);
        close(e[1]);
        out_fd_ = o[0];
        err_fd_ = e[0];
    }

    // Reads output until `pred(out)` holds or the child ends or the time is up.
    bool wait_for_output(const std::function<bool(const std::string &)> &pred, int seconds) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (pred(run_.out)) return true;
            if (!pump(200)) return pred(run_.out);
        }
        return false;
    }

    void signal(int sig) { kill(pid_, sig); }

    // Closes our end of the child's standard output, as a reader that goes away does.
    void close_output() {
        close(out_fd_);
        out_fd_ = -1;
        out_closed_ = true;
    }

    Outcome finish(int seconds = 120) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (pump(200) && std::chrono::steady_clock::now() < deadline) {
        }
        int status = 0;
        if (std::chrono::steady_clock::now() >= deadline) kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        run_.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (out_fd_ >= 0) close(out_fd_);
        close(err_fd_);
        return run_;
    }

private:
    // One round of reading; false once both pipes are closed.
    bool pump(int timeout_ms) {
        pollfd fds[2] = {{out_closed_ ? -1 : out_fd_, POLLIN, 0}, {err_closed_ ? -1 : err_fd_, POLLIN, 0}};
        int n = poll(fds, 2, timeout_ms);
        if (n < 0) return false;
        bool open_any = false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents & (POLLIN | POLLHUP)) {
                char buf[4096];
                ssize_t got = read(fds[i].fd, buf, sizeof buf);
                if (got > 0) (i == 0 ? run_.out : run_.err).append(buf, size_t(got));
                if (got > 0) open_any = true;
                if (got == 0) fds[i].fd = -1, (i == 0 ? out_closed_ : err_closed_) = true;
            } else if (!(i == 0 ? out_closed_ : err_closed_)) {
                open_any = true;
            }
        }
        return open_any || !(out_closed_ && err_closed_);
    }

    pid_t pid_ = -1;
    int out_fd_ = -1, err_fd_ = -1;
    bool out_closed_ = false, err_closed_ = false;
    Outcome run_;
};

Outcome run_tool(const std::vector<std::string> &args, int seconds = 120) {
    Child c(args);
    return c.finish(seconds);
}

struct MediaInfo {
    bool opened = false;
    int video = 0, audio = 0;
    std::string vcodec, acodec;
    int width = 0, height = 0;
    double duration = 0;
};

MediaInfo probe(const std::string &path) {
    MediaInfo info;
    AVFormatContext *fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return info;
    if (avformat_find_stream_info(fmt, nullptr) >= 0) {
        info.opened = true;
        for (unsigned i = 0; i < fmt->nb_streams; ++i) {
            const AVCodecParameters *p = fmt->streams[i]->codecpar;
            if (p->codec_type == AVMEDIA_TYPE_VIDEO) {
                ++info.video;
                info.vcodec = avcodec_get_name(p->codec_id);
                info.width = p->width;
                info.height = p->height;
            } else if (p->codec_type == AVMEDIA_TYPE_AUDIO) {
                ++info.audio;
                info.acodec = avcodec_get_name(p->codec_id);
            }
        }
        if (fmt->duration > 0) info.duration = fmt->duration / double(AV_TIME_BASE);
    }
    avformat_close_input(&fmt);
    return info;
}

// Decodes every packet of the file; returns the number of video frames decoded, -1 on error.
int count_decodable_packets(const std::string &path) {
    AVFormatContext *fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return -1;
    int n = 0;
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(fmt, pkt) >= 0) {
        ++n;
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    return n;
}

class RecordTool : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tarnwick-record-test-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        clip_ = (dir_ / "clip.mp4").string();
        const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=320x240:rate=25 "
                                "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 4 -c:v libx264 -preset ultrafast "
                                "-pix_fmt yuv420p -c:a aac -ac 2 " + clip_;
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        // A long transport stream for the interruption and broadcast runs, served slowly.
        long_clip_ = (dir_ / "long.ts").string();
        const std::string cmd2 = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=160x120:rate=15 "
                                 "-f lavfi -i sine=frequency=300:sample_rate=22050 -t 60 -c:v libx264 -preset ultrafast "
                                 "-pix_fmt yuv420p -c:a aac -ac 1 -f mpegts " + long_clip_;
        ASSERT_EQ(std::system(cmd2.c_str()), 0) << cmd2;
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static std::string path(const std::string &name) { return (dir_ / name).string(); }

    static fs::path dir_;
    static std::string clip_, long_clip_;
};
fs::path RecordTool::dir_;
std::string RecordTool::clip_, RecordTool::long_clip_;

// Serves one file over HTTP/1.0 on 127.0.0.1 at a limited rate, to every client, until stopped.
class SlowServer {
public:
    SlowServer(std::string file, size_t bytes_per_second) : file_(std::move(file)), rate_(bytes_per_second) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        listen(fd_, 8);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~SlowServer() {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        thread_.join();
        // Every client thread is joined before the members it reads go away; shutting its
        // socket down wakes one that is blocked on it.
        for (int c : client_fds_) shutdown(c, SHUT_RDWR);
        for (auto &t : clients_) t.join();
        for (int c : client_fds_) close(c);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/long.ts"; }

private:
    void serve() {
        while (!stop_) {
            int c = accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            client_fds_.push_back(c);
            clients_.emplace_back([this, c] {
                char req[2048];
                (void)!read(c, req, sizeof req);
                std::ifstream in(file_, std::ios::binary);
                std::string body((std::istreambuf_iterator<char>(in)), {});
                std::string head = "HTTP/1.0 200 OK\r\nContent-Type: video/mp2t\r\n\r\n";
                (void)!write(c, head.data(), head.size());
                const size_t chunk = rate_ / 10;
                for (size_t off = 0; off < body.size() && !stop_; off += chunk) {
                    size_t n = std::min(chunk, body.size() - off);
                    if (send(c, body.data() + off, n, MSG_NOSIGNAL) <= 0) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // pacing, not synchronisation
                }
                shutdown(c, SHUT_RDWR);  // the end of the body; the descriptor is closed with the server
            });
        }
    }
    std::string file_;
    size_t rate_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::vector<std::thread> clients_;  // the accepting thread's until it is joined
    std::vector<int> client_fds_;       // likewise
};

// Accepts connections on 127.0.0.1 and never answers them, until destroyed.
class SilentServer {
public:
    SilentServer() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        listen(fd_, 8);  // the kernel completes the handshakes; nobody reads
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~SilentServer() { close(fd_); }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/live.ts"; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// Opens the FIFO for writing once a reader holds it (a non-blocking open succeeds only then).
int fifo_writer(const std::string &fifo, int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 || errno != ENXIO || std::chrono::steady_clock::now() > until) return fd;
        std::this_thread::yield();
    }
}

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

}  // namespace

TEST_F(RecordTool, UsageErrorsExitTwoWithTheUsage) {
    Outcome r = run_tool({});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("give a source and an output file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Usage: tarnwick-record"), std::string::npos);

    r = run_tool({"--profile", "99", "a", "b"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("unknown profile '99'"), std::string::npos) << r.err;

    r = run_tool({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("--max-users"), std::string::npos);

    r = run_tool({"--list-profiles"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("wmp_V80_BESTVBRVideo"), std::string::npos);
    EXPECT_NE(r.out.find("audio only"), std::string::npos);
}

TEST_F(RecordTool, MissingSourceExitsThreeWithThePlatformsMessage) {
    const std::string out = path("never.asf");
    Outcome r = run_tool({path("no-such-file.mp4"), out});
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find("($80070002)."), std::string::npos) << r.err;

    const std::string text = path("notes.txt");
    std::ofstream(text) << "this is not media\n";
    r = run_tool({text, out});
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find("($8004"), std::string::npos) << r.err;
}

TEST_F(RecordTool, UnwritableOutputExitsFour) {
    Outcome r = run_tool({clip_, path("no-such-dir/out.asf")});
    EXPECT_EQ(r.code, 4) << r.out << r.err;
    EXPECT_NE(r.err.find("($8007"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(path("no-such-dir")));
}

TEST_F(RecordTool, RecordsAClipIntoAValidFileAndSummarises) {
    const std::string out = path("clip.asf");
    Outcome r = run_tool({clip_, out});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    MediaInfo m = probe(out);
    ASSERT_TRUE(m.opened);
    EXPECT_EQ(m.video, 1);
    EXPECT_EQ(m.audio, 1);
    EXPECT_EQ(m.vcodec, "wmv2");
    EXPECT_EQ(m.acodec, "wmav2");
    EXPECT_EQ(m.width, 320);
    EXPECT_EQ(m.height, 240);
    EXPECT_NEAR(m.duration, 4.0, 0.5);
    EXPECT_NE(r.out.find("recorded 00:0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("end of source"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("audio + video"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(out), std::string::npos);
}

TEST_F(RecordTool, FramesTheRateCanCarryAreAllKept) {
    // The bundled sample (ten seconds of 25 fps) fits every rate from 224 kbps up: each of the
    // profile's 300 frame slots gets its frame. An encoder aimed at the whole rate went over
    // the buffer window after busy moments, and the frames after them were skipped.
    for (const char *profile : {"wmp_V80_384Video", "wmp_V80_100768VideoMBR"}) {
        SCOPED_TRACE(profile);
        const std::string out = path("every-frame.asf");
        Outcome r = run_tool({"--profile", profile, TARNWICK_SAMPLE_PATH, out});
        ASSERT_EQ(r.code, 0) << r.out << r.err;
        asftest::FileInfo info = asftest::probe(out);
        ASSERT_TRUE(info.opened) << info.error;
        int checked = 0;
        for (const asftest::StreamInfo &s : info.streams)
            if (s.video && s.declared_bitrate >= 224000) {
                EXPECT_EQ(s.packets, 300) << "stream at " << s.declared_bitrate << " bps";
                ++checked;
            }
        EXPECT_GE(checked, 1);
    }
}

TEST_F(RecordTool, DurationEndsTheRecordingThere) {
    const std::string out = path("short.asf");
    Outcome r = run_tool({"--duration", "1.5", "--profile", "wmp_V80_256Video", clip_, out});
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    MediaInfo m = probe(out);
    ASSERT_TRUE(m.opened);
    EXPECT_NEAR(m.duration, 1.5, 0.5);
    EXPECT_NE(r.out.find("duration reached"), std::string::npos) << r.out;
}

TEST_F(RecordTool, InterruptFinishesAPlayableFile) {
    SlowServer server(long_clip_, 40000);
    const std::string out = path("interrupted.asf");
    Child c({server.url(), out});
    ASSERT_TRUE(c.wait_for_output([](const std::string &o) { return o.find("recording 00:0") != std::string::npos &&
                                                                        o.find("recording 00:00.0") == std::string::npos; },
                                  60));
    c.signal(SIGINT);
    Outcome r = c.finish();
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("interrupted"), std::string::npos) << r.out;
    MediaInfo m = probe(out);
    ASSERT_TRUE(m.opened);
    EXPECT_GT(m.duration, 0.5);
    EXPECT_GT(count_decodable_packets(out), 10);
}

TEST_F(RecordTool, BroadcastReachesAnMmshClient) {
    SlowServer server(long_clip_, 60000);
    const std::string out = path("broadcast.asf");
    Child c({"--port", "0", "--max-users", "2", server.url(), out});
    // --port 0 is refused: the writer broadcasts only on a real port number.
    Outcome refused = c.finish();
    EXPECT_EQ(refused.code, 2);

    // Find a free port, then serve on it.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);
    const int port = ntohs(a.sin_port);
    close(s);

    // An address that is not one is refused before anything is recorded.
    Outcome bad = run_tool({"--port", std::to_string(port), "--bind", "localhost", server.url(), out});
    EXPECT_EQ(bad.code, 2) << bad.out << bad.err;
    EXPECT_NE(bad.err.find("numeric IPv4 or IPv6 address"), std::string::npos) << bad.err;

    Child rec({"--port", std::to_string(port), "--max-users", "2", "--bind", "127.0.0.1", server.url(), out});
    ASSERT_TRUE(rec.wait_for_output(
        [](const std::string &o) { return o.find("serving  http://127.0.0.1:") != std::string::npos; }, 60));
    const std::string client = "ffmpeg -nostdin -hide_banner -loglevel error -y -t 2 -i mmsh://127.0.0.1:" +
                               std::to_string(port) + "/ -f null - ";
    EXPECT_EQ(std::system(client.c_str()), 0) << client;
    rec.signal(SIGTERM);
    Outcome r = rec.finish();
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_TRUE(probe(out).opened);
}

// The output is refused when it is the source under any name, with the source left whole; the
// platform refuses it too where the recorder cannot tell (a file: URL).
TEST_F(RecordTool, OutputThatIsTheSourceIsRefusedUnderEveryName) {
    const std::string source = path("own.mp4");
    fs::copy_file(clip_, source, fs::copy_options::overwrite_existing);
    fs::create_symlink(source, path("own-link.mp4"));
    fs::create_hard_link(source, path("own-hard.mp4"));
    const auto before = fs::file_size(source);
    for (const std::string &output : {source, (dir_ / "." / "own.mp4").string(), path("own-link.mp4"),
                                      path("own-hard.mp4")}) {
        Outcome r = run_tool({source, output});
        EXPECT_EQ(r.code, 4) << output << "\n" << r.err;
        EXPECT_NE(r.err.find("is the source itself"), std::string::npos) << r.err;
    }
    Outcome log = run_tool({"--log", path("own-link.mp4"), source, path("own.asf")});
    EXPECT_EQ(log.code, 4) << log.err;
    EXPECT_NE(log.err.find("the log file"), std::string::npos) << log.err;
    Outcome r = run_tool({"file://" + source, path("own-hard.mp4")});
    EXPECT_EQ(r.code, 4) << r.err;
    EXPECT_NE(r.err.find("because it is being used by another process. ($80070020)"), std::string::npos) << r.err;
    EXPECT_EQ(fs::file_size(source), before);
    EXPECT_TRUE(probe(source).opened);
}

// An audio-only source with a profile that records video: the recorder names what is missing
// and what would fit.
TEST_F(RecordTool, SourceWithoutAStreamTheProfileRecordsIsExplained) {
    const std::string song = path("song.mp3");
    const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i sine=sample_rate=44100 -t 1 "
                            "-c:a libmp3lame " + song;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    for (const std::vector<std::string> &profile : {std::vector<std::string>{}, {"--profile", "wmp_V80_288VideoOnly"}}) {
        std::vector<std::string> args = profile;
        args.push_back(song);
        args.push_back(path("song.asf"));
        Outcome r = run_tool(args);
        EXPECT_EQ(r.code, 3) << r.err;
        EXPECT_NE(r.err.find("the source has no video stream"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(profile.empty() ? "wmp_V80_384Video records audio and video"
                                             : "wmp_V80_288VideoOnly records video only"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("(audio only): wmp_V80_288MonoAudio (15), "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("wmp_V80_128StereoAudio (21)."), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(path("song.asf")));
    }
}

// FFmpeg's own lines go to stderr only with --verbose, and to the --log file.
TEST_F(RecordTool, FFmpegLinesOnlyWhenAskedFor) {
    const std::string cut = path("cut.mp4");
    {
        std::ifstream in(clip_, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(cut, std::ios::binary).write(data.data(), std::streamsize(data.size() / 2));
    }
    Outcome plain = run_tool({"--log", path("cut.log"), cut, path("cut.asf")});
    EXPECT_EQ(plain.code, 3);
    EXPECT_EQ(plain.err.find(" @ 0x"), std::string::npos) << plain.err;
    std::ifstream log(path("cut.log"));
    std::string logged((std::istreambuf_iterator<char>(log)), {});
    EXPECT_NE(logged.find("FFmpeg [mov,mp4"), std::string::npos) << logged;

    Outcome verbose = run_tool({"--verbose", cut, path("cut.asf")});
    EXPECT_EQ(verbose.code, 3);
    EXPECT_NE(verbose.err.find("[mov,mp4"), std::string::npos) << verbose.err;
    EXPECT_NE(verbose.err.find("tarnwick-record: "), std::string::npos) << verbose.err;
}

// The reader of the progress lines goes away: the recording goes on, quietly, to its end.
TEST_F(RecordTool, ClosedStandardOutputDoesNotEndTheRecording) {
    SlowServer server(long_clip_, 60000);
    const std::string out = path("unread.asf");
    Child c({"--duration", "3", server.url(), out});
    ASSERT_TRUE(c.wait_for_output([](const std::string &o) { return o.find("recording ") != std::string::npos; }, 60));
    c.close_output();
    Outcome r = c.finish();
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    MediaInfo m = probe(out);
    ASSERT_TRUE(m.opened);
    EXPECT_NEAR(m.duration, 3.0, 1.0);
}

// Linux names are bytes: a source and an output whose names are not UTF-8 are found and made
// under exactly those bytes.
TEST_F(RecordTool, NamesThatAreNotUtf8KeepTheirBytes) {
    const std::string source = path("clip-\xE9\xFF.mp4");
    const std::string out = path("\xFF\xFE\x80");
    fs::copy_file(clip_, source, fs::copy_options::overwrite_existing);
    Outcome r = run_tool({"--quiet", "--duration", "1", source, out});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(probe(out).opened);
    for (const auto &entry : fs::directory_iterator(dir_))
        EXPECT_EQ(entry.path().filename().string().find("\xEF\xBF\xBD"), std::string::npos) << entry.path();
}

// Ctrl-C and SIGTERM reach a recorder blocked in opening its source: a pipe nobody writes to,
// a server that accepts and never answers. It ends at once, says so, and creates no file.
TEST_F(RecordTool, InterruptEndsABlockedOpenAtOnce) {
    const std::string fifo = path("nobody-writes.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    SilentServer server;
    const struct {
        std::string source;
        int sig;
    } cases[] = {{fifo, SIGTERM}, {server.url(), SIGINT}};
    for (const auto &c : cases) {
        const std::string out = path("never-written.asf");
        Child rec({c.source, out});
        ASSERT_TRUE(rec.wait_for_output([](const std::string &o) { return o.find("source   ") != std::string::npos; }, 30));
        const auto sent = std::chrono::steady_clock::now();
        rec.signal(c.sig);
        Outcome r = rec.finish(10);
        const double took = seconds_since(sent);
        EXPECT_EQ(r.code, 5) << c.source << "\n" << r.out << r.err;
        EXPECT_LT(took, 2.0) << c.source;
        EXPECT_NE(r.err.find("interrupted while the source was being opened"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out)) << c.source;
    }
}

// A pipe whose writer sent part of a clip and stalls: Ctrl-C still finishes what was recorded.
TEST_F(RecordTool, InterruptEndsAStalledSourceWithTheFileFinished) {
    const std::string fifo = path("stalling.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string data;
    {
        std::ifstream in(long_clip_, std::ios::binary);
        data.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string out = path("stalled.asf");
    Child rec({fifo, out});
    int fd = fifo_writer(fifo, 30);
    ASSERT_GE(fd, 0);
    fcntl(fd, F_SETFL, 0);
    const size_t part = std::min<size_t>(data.size(), 200000);  // a few seconds of the clip
    ASSERT_EQ(write(fd, data.data(), part), static_cast<ssize_t>(part));
    // The pipe stays open and silent from here on.
    ASSERT_TRUE(rec.wait_for_output(
        [](const std::string &o) {
            size_t at = o.rfind("recording 00:0");
            return at != std::string::npos && o.compare(at, 15, "recording 00:00") != 0;
        },
        60));
    const auto sent = std::chrono::steady_clock::now();
    rec.signal(SIGINT);
    Outcome r = rec.finish(10);
    const double took = seconds_since(sent);
    close(fd);
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_LT(took, 2.0);
    EXPECT_NE(r.out.find("(interrupted)"), std::string::npos) << r.out;
    MediaInfo m = probe(out);
    ASSERT_TRUE(m.opened);
    EXPECT_GT(m.duration, 1.0);
}
