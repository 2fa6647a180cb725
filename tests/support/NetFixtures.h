// Test material for the network sink: a short ASF clip made with the ffmpeg CLI, split into
// its header and fixed-size data packets the way a writer hands them to a sink, plus a bare
// TCP client and a way to run the FFmpeg tools with a time limit.
#pragma once

#include "platform/comptr.h"
#include "platform/wmf.h"
#include "platform/posix/net/NSSBuffer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace nettest {

inline uint64_t rd64(const uint8_t *p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
inline uint32_t rd32(const uint8_t *p) { return static_cast<uint32_t>(rd64(p) & 0xFFFFFFFFu); }

struct ProcResult {
    int status = -1;
    std::string output;
};

// Runs a shell command (stderr folded into stdout), bounded by `timeout`.
inline ProcResult run(const std::string &cmd, int seconds = 60) {
    ProcResult r;
    std::string full = "timeout -k 5 " + std::to_string(seconds) + " " + cmd + " 2>&1";
    FILE *f = popen(full.c_str(), "r");
    if (!f) return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) r.output.append(buf, n);
    int st = pclose(f);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}
inline std::future<ProcResult> run_async(const std::string &cmd, int seconds = 60) {
    return std::async(std::launch::async, [cmd, seconds] { return run(cmd, seconds); });
}

// An ASF clip as a writer would feed it: header (Header Object + Data Object start) and packets.
struct Clip {
    std::string path;
    std::vector<uint8_t> file;
    std::vector<uint8_t> header;        // Header Object + 50 bytes of Data Object
    size_t header_object_size = 0;
    uint32_t packet_size = 0;
    std::vector<std::vector<uint8_t>> packets;
    std::set<size_t> video_key_packets;  // packets in which a video key frame starts (ffprobe's view)
    // Key-frame packets in which earlier (non-key) video frames start too.
    std::set<size_t> key_packets_after_frames;
};

// The clip's directory, removed when the test program ends.
struct ClipDirectory {
    std::string path;
    ~ClipDirectory() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
};

inline const Clip &clip() {
    static ClipDirectory directory;
    static Clip c = [] {
        Clip k;
        char dir[] = "/tmp/tw_net_XXXXXX";
        if (!mkdtemp(dir)) return k;
        directory.path = dir;
        k.path = std::string(dir) + "/clip.asf";
        ProcResult made = run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=15 "
                              "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 6 -c:v wmv2 -g 15 -b:v 120k "
                              "-c:a wmav2 -b:a 32k -ac 1 -f asf " + k.path);
        if (made.status != 0) return k;
        std::ifstream in(k.path, std::ios::binary);
        k.file.assign(std::istreambuf_iterator<char>(in), {});
        if (k.file.size() < 30) return k;
        k.header_object_size = static_cast<size_t>(rd64(&k.file[16]));
        // The File Properties Object gives the packet size (min = max at offset 92/96).
        size_t pos = 30;
        while (pos + 24 <= k.header_object_size) {
            uint64_t len = rd64(&k.file[pos + 16]);
            if (k.file[pos] == 0xA1 && k.file[pos + 1] == 0xDC && k.file[pos + 2] == 0xAB && k.file[pos + 3] == 0x8C)
                k.packet_size = rd32(&k.file[pos + 92]);
            if (len < 24) break;
            pos += static_cast<size_t>(len);
        }
        size_t data_start = k.header_object_size + 50;
        uint64_t data_size = rd64(&k.file[k.header_object_size + 16]);
        k.header.assign(k.file.begin(), k.file.begin() + static_cast<std::ptrdiff_t>(data_start));
        size_t data_end = k.header_object_size + static_cast<size_t>(data_size);
        for (size_t p = data_start; k.packet_size && p + k.packet_size <= data_end; p += k.packet_size)
            k.packets.emplace_back(k.file.begin() + static_cast<std::ptrdiff_t>(p),
                                   k.file.begin() + static_cast<std::ptrdiff_t>(p + k.packet_size));
        ProcResult probe = run("ffprobe -v error -select_streams v -show_entries packet=pos,flags -of csv=p=0 " + k.path);
        std::istringstream lines(probe.output);
        std::string line;
        std::set<size_t> non_key_starts;
        while (std::getline(lines, line)) {
            size_t comma = line.find(',');
            if (comma == std::string::npos || !k.packet_size) continue;
            size_t at = std::stoul(line.substr(0, comma));
            if (at < data_start) continue;
            size_t index = (at - data_start) / k.packet_size;
            if (line.find('K', comma) == std::string::npos) {
                non_key_starts.insert(index);
            } else {
                k.video_key_packets.insert(index);
                if (non_key_starts.count(index)) k.key_packets_after_frames.insert(index);
            }
        }
        return k;
    }();
    return c;
}

inline tw::ComPtr<INSSBuffer> buffer_of(const std::vector<uint8_t> &bytes) {
    tw::ComPtr<INSSBuffer> b;
    if (FAILED(tw::posix::CreateNSSBuffer(static_cast<DWORD>(bytes.size()), b.out()))) return b;
    BYTE *p = nullptr;
    b->GetBuffer(&p);
    std::memcpy(p, bytes.data(), bytes.size());
    return b;
}

// A bare TCP client on 127.0.0.1.
class RawClient {
public:
    explicit RawClient(uint16_t port, int receive_buffer = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        if (receive_buffer > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~RawClient() { close(); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool connected() const { return connected_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    uint16_t local_port() const {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        return ntohs(a.sin_port);
    }
    bool send(const std::string &s) { return ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == (ssize_t)s.size(); }

    // Reads until `n` bytes are buffered, the peer closes or `timeout` passes.
    bool fill(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
        auto until = std::chrono::steady_clock::now() + timeout;
        while (data.size() < n && !eof) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buf[65536];
            ssize_t got = ::recv(fd_, buf, sizeof buf, 0);
            if (got <= 0) {
                eof = true;
                break;
            }
            data.append(buf, static_cast<size_t>(got));
        }
        return data.size() >= n;
    }
    // Reads until the peer closes (true) or `timeout` passes (false).
    bool until_closed(std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
        fill(SIZE_MAX, timeout);
        return eof;
    }
    // The response head, once it has arrived; the body stays in `data`.
    std::string head() {
        for (;;) {
            size_t end = data.find("\r\n\r\n");
            if (end != std::string::npos) {
                std::string h = data.substr(0, end + 4);
                data.erase(0, end + 4);
                return h;
            }
            if (!fill(data.size() + 1)) return {};
        }
    }

    std::string data;
    bool eof = false;

private:
    int fd_ = -1;
    bool connected_ = false;
};

inline std::string request(const std::string &path, const std::string &extra = "") {
    return "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}
inline const char *kDescribe = "User-Agent: NSPlayer/4.1.0.3856\r\n"
                               "Pragma: xClientGUID={c77e7400-738a-11d2-9add-0020af0a3278}\r\n"
                               "Pragma: no-cache,rate=1.000000,stream-time=0,stream-offset=0:0,request-context=1,max-duration=0\r\n";
inline const char *kPlay = "User-Agent: NSPlayer/4.1.0.3856\r\n"
                           "Pragma: xClientGUID={c77e7400-738a-11d2-9add-0020af0a3278}\r\n"
                           "Pragma: xPlayStrm=1\r\n"
                           "Pragma: stream-switch-count=2\r\n"
                           "Pragma: stream-switch-entry=ffff:1:0 ffff:2:0\r\n";

}  // namespace nettest
