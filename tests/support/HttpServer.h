// A small HTTP/1.0 file server on 127.0.0.1 for the URL tests: GET with byte ranges (FFmpeg
// seeks with them), 404 for unknown paths, and a path that accepts the request and then says
// nothing (for time-outs and aborts). Each connection is served on its own thread; the server
// stops and joins them all when destroyed.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class TestHttpServer {
public:
    TestHttpServer() {
        listen_ = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        bind(listen_, (sockaddr *)&a, sizeof a);
        listen(listen_, 16);
        socklen_t len = sizeof a;
        getsockname(listen_, (sockaddr *)&a, &len);
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { accept_loop(); });
    }
    ~TestHttpServer() {
        stop_ = true;
        {
            std::lock_guard<std::mutex> lock(mu_);
            silent_released_ = true;
        }
        cv_.notify_all();
        shutdown(listen_, SHUT_RDWR);
        close(listen_);
        acceptor_.join();
        std::vector<std::thread> workers;
        {
            std::lock_guard<std::mutex> lock(mu_);
            workers.swap(workers_);
        }
        for (auto &t : workers) t.join();
    }

    int port() const { return port_; }
    std::string url(const std::string &path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    // Serves the file's bytes under `path`.
    void add_file(const std::string &path, const std::string &file) {
        std::ifstream in(file, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::lock_guard<std::mutex> lock(mu_);
        files_[path] = std::move(data);
    }
    // Requests for `path` are read and never answered until the server is destroyed.
    void add_silent(const std::string &path) {
        std::lock_guard<std::mutex> lock(mu_);
        silent_.push_back(path);
    }
    // Serves only the first `bytes` bytes of `path` (announcing the full length), then closes.
    void cut_after(const std::string &path, size_t bytes) {
        std::lock_guard<std::mutex> lock(mu_);
        cut_[path] = bytes;
    }
    // Waits until `count` requests for silent paths have arrived since the server started.
    void wait_silent_requests(int count) {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [this, count] { return silent_hits_ >= count; });
    }
    int requests() const { return requests_; }

private:
    void accept_loop() {
        while (!stop_) {
            int c = accept(listen_, nullptr, nullptr);
            if (c < 0) return;
            std::lock_guard<std::mutex> lock(mu_);
            workers_.emplace_back([this, c] { serve(c); });
        }
    }

    static void send_all(int fd, const char *p, size_t n) {
        while (n > 0) {
            ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
            if (w <= 0) return;
            p += w;
            n -= (size_t)w;
        }
    }

    void serve(int c) {
        std::string req;
        char buf[4096];
        while (req.find("\r\n\r\n") == std::string::npos && req.size() < 65536) {
            pollfd p{c, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) break;
            ssize_t r = recv(c, buf, sizeof buf, 0);
            if (r <= 0) break;
            req.append(buf, (size_t)r);
        }
        ++requests_;
        std::istringstream is(req);
        std::string method, path;
        is >> method >> path;
        size_t from = 0;
        if (size_t r = req.find("Range: bytes="); r != std::string::npos) from = std::stoull(req.substr(r + 13));

        std::string body;
        bool found = false, silent = false;
        size_t cut = std::string::npos;
        {
            std::unique_lock<std::mutex> lock(mu_);
            for (auto &s : silent_)
                if (s == path) silent = true;
            if (silent) {
                ++silent_hits_;
                cv_.notify_all();
                cv_.wait(lock, [this] { return silent_released_; });
            } else if (auto it = files_.find(path); it != files_.end()) {
                found = true;
                body = it->second;
                if (auto ct = cut_.find(path); ct != cut_.end()) cut = ct->second;
            }
        }
        if (silent) {
            close(c);
            return;
        }
        std::string head;
        if (!found) {
            head = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            send_all(c, head.data(), head.size());
        } else {
            if (from > body.size()) from = body.size();
            size_t total = body.size();
            if (from > 0)
                head = "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
                       std::to_string(total - 1) + "/" + std::to_string(total) + "\r\n";
            else
                head = "HTTP/1.0 200 OK\r\n";
            head += "Content-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\nContent-Length: " +
                    std::to_string(total - from) + "\r\nConnection: close\r\n\r\n";
            send_all(c, head.data(), head.size());
            size_t end = cut == std::string::npos ? total : std::min(cut, total);
            if (end > from) send_all(c, body.data() + from, end - from);
        }
        shutdown(c, SHUT_RDWR);
        close(c);
    }

    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread acceptor_;
    std::mutex mu_;  // guards everything below
    std::condition_variable cv_;
    std::vector<std::thread> workers_;
    std::map<std::string, std::string> files_;
    std::map<std::string, size_t> cut_;
    std::vector<std::string> silent_;
    int silent_hits_ = 0;
    bool silent_released_ = false;
};

// A port on 127.0.0.1 where nothing listens (bound, then closed).
inline int refused_port() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, (sockaddr *)&a, sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, (sockaddr *)&a, &len);
    close(s);
    return ntohs(a.sin_port);
}
