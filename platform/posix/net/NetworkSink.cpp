// The network sink (see NetworkSink.h). One file, though long: the COM calls on the writer's
// thread and the server loop on the sink's thread share the client table under one lock, and
// keeping them together keeps that lock's rules in one place. What needs no lock is apart:
// the broadcast's framing and joining rules (Broadcast.cpp), the sockets (Connection.cpp) and
// the request reader (HttpRequest.cpp).
#include "platform/posix/net/NetworkSink.h"

#include "platform/posix/net/AsfLive.h"
#include "platform/posix/net/Broadcast.h"
#include "platform/posix/net/Connection.h"
#include "platform/posix/net/HttpRequest.h"
#include "platform/posix/net/NSSBuffer.h"
#include "platform/posix/object.h"
#include "platform/text.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <new>
#include <optional>
#include <poll.h>
#include <random>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tw::posix::net {
namespace {

constexpr DWORD kDefaultMaxClients = 5;
constexpr size_t kMaxRequestBytes = 16 * 1024;
constexpr auto kDrainTimeout = std::chrono::seconds(2);
constexpr const char *kServer = "Cougar/9.01.01.3814";

std::shared_ptr<std::vector<uint8_t>> make_bytes(const std::string &s) {
    return std::make_shared<std::vector<uint8_t>>(s.begin(), s.end());
}

class NetworkSink final
    : public ComObject<IWMWriterNetworkSink, IWMClientConnections, IWMRegisterCallback, ITwNetworkSinkAddress> {
public:
    // The wake-up event lives as long as the object, so that the writer's thread can always
    // signal it, whatever Open and Close do meanwhile.
    explicit NetworkSink(const SinkLimits &limits)
        : limits_(limits), wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), broadcast_(limits.backlog_bytes) {}
    ~NetworkSink() override {
        Close();
        if (wake_fd_ >= 0) ::close(wake_fd_);
    }

    // ---- IWMWriterSink
    HRESULT STDMETHODCALLTYPE OnHeader(INSSBuffer *pHeader) override {
        if (!pHeader) return E_INVALIDARG;
        BYTE *data = nullptr;
        DWORD length = 0;
        HRESULT hr = pHeader->GetBufferAndLength(&data, &length);
        if (FAILED(hr)) return hr;
        {
            std::lock_guard<std::mutex> lock(m_);
            AsfHeaderInfo info;
            bool same = false;
            hr = broadcast_.check_header(data, length, &info, &same);
            if (FAILED(hr)) return hr;
            if (same) return S_OK;                             // the same broadcast
            if (broadcast_.on_air()) end_broadcast_locked();  // a different header: the old clients cannot follow
            broadcast_.start(std::move(info));
            for (auto &c : clients_)
                if (c->state == Client::State::Waiting) start_locked(*c);
        }
        wake();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsRealTime(BOOL *pfRealTime) override {
        if (!pfRealTime) return E_INVALIDARG;
        *pfRealTime = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AllocateDataUnit(DWORD cbDataUnit, INSSBuffer **ppDataUnit) override {
        return CreateNSSBuffer(cbDataUnit, ppDataUnit);
    }
    HRESULT STDMETHODCALLTYPE OnDataUnit(INSSBuffer *pDataUnit) override {
        if (!pDataUnit) return E_INVALIDARG;
        BYTE *data = nullptr;
        DWORD length = 0;
        HRESULT hr = pDataUnit->GetBufferAndLength(&data, &length);
        if (FAILED(hr)) return hr;
        {
            std::lock_guard<std::mutex> lock(m_);
            Broadcast::Packet packet;
            hr = broadcast_.add(data, length, &packet);
            if (FAILED(hr)) return hr;
            for (auto &c : clients_) {
                if (c->state != Client::State::Streaming || c->drop) continue;
                if (Bytes b = broadcast_.for_client(packet, &c->synced)) queue_packet_locked(*c, b);
            }
        }
        wake();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEndWriting() override {
        {
            std::lock_guard<std::mutex> lock(m_);
            end_broadcast_locked();
        }
        wake();
        return S_OK;
    }

    // ---- IWMWriterNetworkSink
    HRESULT STDMETHODCALLTYPE SetMaximumClients(DWORD dwMaxClients) override {
        std::lock_guard<std::mutex> lock(m_);
        max_clients_ = dwMaxClients;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMaximumClients(DWORD *pdwMaxClients) override {
        if (!pdwMaxClients) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(m_);
        *pdwMaxClients = max_clients_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetNetworkProtocol(WMT_NET_PROTOCOL protocol) override {
        return protocol == WMT_PROTOCOL_HTTP ? S_OK : E_INVALIDARG;  // HTTP is the only one
    }
    HRESULT STDMETHODCALLTYPE GetNetworkProtocol(WMT_NET_PROTOCOL *pProtocol) override {
        if (!pProtocol) return E_INVALIDARG;
        *pProtocol = WMT_PROTOCOL_HTTP;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetHostURL(WCHAR *pwszURL, DWORD *pcchURL) override {
        if (!pcchURL) return E_INVALIDARG;
        uint16_t port;
        std::string address;
        {
            std::lock_guard<std::mutex> lock(control_);
            if (listen_fd_ < 0) return NS_E_NOT_CONNECTED;
            port = port_;
            address = listen_address_;
        }
        // Listening on one address, that address is the only one that reaches us.
        std::string name = address.find(':') == std::string::npos ? address : "[" + address + "]";
        if (address.empty()) {
            char host[256] = {};
            if (gethostname(host, sizeof host - 1) != 0 || !host[0]) std::strcpy(host, "localhost");
            name = host;
        }
        wstring url = to_wide(std::string("http://") + name + ":" + std::to_string(port));
        DWORD needed = static_cast<DWORD>(url.size() + 1);
        if (!pwszURL) {
            *pcchURL = needed;
            return S_OK;
        }
        if (*pcchURL < needed) {
            *pcchURL = needed;
            return ASF_E_BUFFERTOOSMALL;
        }
        std::memcpy(pwszURL, url.c_str(), needed * sizeof(WCHAR));
        *pcchURL = needed;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Open(DWORD *pdwPortNum) override {
        if (!pdwPortNum) return E_INVALIDARG;
        if (*pdwPortNum > 0xFFFF) return NS_E_INVALID_PORT;
        std::lock_guard<std::mutex> control(control_);
        if (listen_fd_ >= 0) return NS_E_INVALID_REQUEST;
        if (wake_fd_ < 0) return E_OUTOFMEMORY;
        int fd = -1;
        uint16_t bound = 0;
        HRESULT hr = open_listener(listen_address_, static_cast<uint16_t>(*pdwPortNum), &fd, &bound);
        if (FAILED(hr)) return hr;
        listen_fd_ = fd;
        port_ = bound;
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = false;
        }
        thread_ = std::thread([this] { serve(); });
        *pdwPortNum = port_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Disconnect() override {
        std::lock_guard<std::mutex> control(control_);
        if (listen_fd_ < 0) return S_OK;
        std::unique_lock<std::mutex> lock(m_);
        for (auto &c : clients_) c->drop = true;
        uint64_t request = ++disconnect_requested_;
        lock.unlock();
        wake();
        lock.lock();
        done_.wait(lock, [&] { return disconnect_done_ >= request; });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        std::lock_guard<std::mutex> control(control_);
        if (listen_fd_ < 0) return S_OK;
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
        }
        wake();
        thread_.join();
        ::close(listen_fd_);
        listen_fd_ = -1;
        port_ = 0;
        return S_OK;
    }

    // ---- ITwNetworkSinkAddress
    HRESULT STDMETHODCALLTYPE SetListenAddress(LPCWSTR address) override {
        std::string text = address ? to_utf8(address) : std::string();
        std::lock_guard<std::mutex> control(control_);
        if (listen_fd_ >= 0) return NS_E_INVALID_REQUEST;
        if (!text.empty()) {
            in6_addr a6;
            in_addr a4;
            if (inet_pton(AF_INET, text.c_str(), &a4) != 1 && inet_pton(AF_INET6, text.c_str(), &a6) != 1)
                return E_INVALIDARG;
        }
        listen_address_ = text;
        return S_OK;
    }

    // ---- IWMClientConnections
    HRESULT STDMETHODCALLTYPE GetClientCount(DWORD *pcClients) override {
        if (!pcClients) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(m_);
        *pcClients = static_cast<DWORD>(admitted_count_locked());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClientProperties(DWORD dwClientNum, WM_CLIENT_PROPERTIES *pProps) override {
        if (!pProps) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(m_);
        DWORD i = 0;
        for (auto &c : clients_) {
            if (!c->admitted) continue;
            if (i++ == dwClientNum) {
                *pProps = properties(*c);
                return S_OK;
            }
        }
        return E_INVALIDARG;
    }

    // ---- IWMRegisterCallback
    HRESULT STDMETHODCALLTYPE Advise(IWMStatusCallback *pCallback, void *pvContext) override {
        if (!pCallback) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(m_);
        callbacks_.push_back({ComPtr<IWMStatusCallback>::addref(pCallback), pvContext});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(IWMStatusCallback *pCallback, void *pvContext) override {
        if (!pCallback) return E_INVALIDARG;
        ComPtr<IWMStatusCallback> released;  // released after the lock is given up
        std::lock_guard<std::mutex> lock(m_);
        for (auto it = callbacks_.begin(); it != callbacks_.end(); ++it) {
            if (it->callback.get() == pCallback && it->context == pvContext) {
                released = std::move(it->callback);
                callbacks_.erase(it);
                return S_OK;
            }
        }
        return E_INVALIDARG;
    }

protected:
    void *GetInterface(REFIID riid) override {
        if (auto p = answer<IWMWriterSink, IWMWriterNetworkSink>(riid)) return p;
        if (auto p = answer<IWMWriterNetworkSink>(riid)) return p;
        if (auto p = answer<IWMClientConnections>(riid)) return p;
        if (auto p = answer<IWMRegisterCallback>(riid)) return p;
        if (auto p = answer<ITwNetworkSinkAddress>(riid)) return p;
        return nullptr;
    }

private:
    struct Advised {
        ComPtr<IWMStatusCallback> callback;
        void *context;
    };
    struct Event {
        WMT_STATUS status;
        WM_CLIENT_PROPERTIES props;
    };

    static WM_CLIENT_PROPERTIES properties(const Client &c) {
        WM_CLIENT_PROPERTIES p;
        p.dwIPAddress = c.ipv4;
        p.dwPort = c.port;
        return p;
    }

    void wake() {
        if (wake_fd_ < 0) return;
        uint64_t one = 1;
        ssize_t r = ::write(wake_fd_, &one, sizeof one);
        (void)r;  // a full counter still wakes the poll
    }

    size_t admitted_count_locked() const {
        size_t n = 0;
        for (auto &c : clients_)
            if (c->admitted) ++n;
        return n;
    }

    void queue_locked(Client &c, Bytes data, size_t offset) {
        if (c.out.empty() && !c.owed) {
            c.progress = Clock::now();  // owed from now on; the stall clock starts here
            c.owed = true;
        }
        c.queued += data->size() - offset;
        c.out.push_back({std::move(data), offset});
        if (c.queued > limits_.client_queue_bytes) c.drop = true;  // too far behind
    }
    void queue_packet_locked(Client &c, const Bytes &packet) {
        // Windows Media clients get the $D framing; plain clients the bare packet.
        queue_locked(c, packet, c.kind == RequestKind::Play ? 0 : kFramedPrefix);
    }

    std::string response_head(const Client &c) {
        std::string h = "HTTP/1.0 200 OK\r\n";
        if (c.kind == RequestKind::Plain) {
            h += "Content-Type: video/x-ms-asf\r\n";
        } else {
            h += c.kind == RequestKind::Describe ? "Content-Type: application/vnd.ms.wms-hdr.asfv1\r\n"
                                                 : "Content-Type: application/x-mms-framed\r\n";
            if (c.kind == RequestKind::Describe)
                h += "Content-Length: " + std::to_string(broadcast_.framed_header()->size()) + "\r\n";
        }
        h += std::string("Server: ") + kServer + "\r\nCache-Control: no-cache\r\n";
        if (c.kind != RequestKind::Plain) {
            h += "Pragma: no-cache,client-id=" + std::to_string(c.client_id) + "\r\n";
            h += "Pragma: features=\"broadcast\"\r\n";
        }
        h += "Connection: close\r\n\r\n";
        return h;
    }

    // The client's response begins: head, header, then the packets from the last key frame.
    void start_locked(Client &c) {
        queue_locked(c, make_bytes(response_head(c)), 0);
        if (c.kind == RequestKind::Describe) {
            queue_locked(c, broadcast_.framed_header(), 0);
            c.state = Client::State::Flushing;
            return;
        }
        queue_locked(c, c.kind == RequestKind::Play ? broadcast_.framed_header() : broadcast_.raw_header(), 0);
        c.state = Client::State::Streaming;
        std::vector<Bytes> packets = broadcast_.joining();
        c.synced = !packets.empty();
        for (const Bytes &p : packets) queue_packet_locked(c, p);
    }

    void end_broadcast_locked() {
        Bytes end = std::make_shared<std::vector<uint8_t>>(frame_end());
        for (auto &c : clients_) {
            if (c->state != Client::State::Streaming) continue;
            if (c->kind == RequestKind::Play) queue_locked(*c, end, 0);
            c->state = Client::State::Flushing;
        }
        broadcast_.end();
    }

    void refuse_locked(Client &c, const char *status, const char *text) {
        std::string body = std::string(text) + "\r\n";
        std::string r = std::string("HTTP/1.0 ") + status + "\r\nContent-Type: text/plain\r\nServer: " + kServer +
                        "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                        body;
        queue_locked(c, make_bytes(r), 0);
        c.state = Client::State::Flushing;
    }

    void handle_request_locked(Client &c, std::vector<Event> *events) {
        size_t head = request_head_length(c.request);
        if (head == 0) {
            if (c.request.size() > kMaxRequestBytes) refuse_locked(c, "400 Bad Request", "request too large");
            return;
        }
        auto req = parse_request(std::string_view(c.request).substr(0, head));
        c.request.clear();
        if (!req) return refuse_locked(c, "400 Bad Request", "malformed request");
        if (req->method != "GET") return refuse_locked(c, "405 Method Not Allowed", "only GET is served");
        if (req->path != "/" && !req->path.empty()) return refuse_locked(c, "404 Not Found", "no such stream");
        c.kind = req->kind;
        if (admitted_count_locked() >= max_clients_)
            return refuse_locked(c, "503 Service Unavailable", "the broadcast has its maximum number of clients");
        c.client_id = std::uniform_int_distribution<uint32_t>(1, 0x7FFFFFFF)(random_);
        if (c.kind != RequestKind::Describe) {
            c.admitted = true;
            events->push_back({WMT_CLIENT_CONNECT, properties(c)});
        }
        if (broadcast_.on_air()) {
            start_locked(c);
        } else {
            c.state = Client::State::Waiting;  // the header comes with the writer's first output
        }
    }

    void remove_locked(size_t index, std::vector<Event> *events) {
        Client &c = *clients_[index];
        if (c.admitted) events->push_back({WMT_CLIENT_DISCONNECT, properties(c)});
        if (c.fd >= 0) ::close(c.fd);
        clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
    }

    void accept_locked(std::vector<Event> *events) {
        for (;;) {
            sockaddr_storage peer{};
            socklen_t len = sizeof peer;
            int fd = accept4(listen_fd_, reinterpret_cast<sockaddr *>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                // Out of descriptors or memory: the connection stays queued and the socket
                // readable, so leave it alone for a moment instead of spinning on it.
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
                    accept_paused_until_ = Clock::now() + std::chrono::milliseconds(100);
                return;
            }
            // A full table of connections still sending their requests (or, before the first
            // header, waiting for it without a place among the clients) gives up the one idle
            // longest: closing the newcomer instead would let a few stalled connections lock
            // every real client out.
            size_t pending = 0, idlest = clients_.size();
            for (size_t i = 0; i < clients_.size(); ++i) {
                const Client &c = *clients_[i];
                const bool unplaced = c.state == Client::State::Request ||
                                      (c.state == Client::State::Waiting && !c.admitted);
                if (!unplaced || c.drop) continue;
                ++pending;
                if (idlest == clients_.size() || c.heard < clients_[idlest]->heard) idlest = i;
            }
            if (pending >= limits_.max_pending_connections) {
                if (limits_.max_pending_connections == 0) {
                    ::close(fd);
                    continue;
                }
                // Closed now, so descriptors stay bounded however many arrive at once; the
                // entry itself goes at the top of the serve loop, since the loop may still hold
                // a pointer to it.
                Client &evicted = *clients_[idlest];
                ::close(evicted.fd);
                evicted.fd = -1;
                evicted.drop = true;
            }
            clients_.push_back(new_client(fd, peer, limits_.socket_send_buffer));
        }
    }

    void fire(std::vector<Event> &events) {
        if (events.empty()) return;
        std::vector<Advised> targets;
        {
            std::lock_guard<std::mutex> lock(m_);
            targets = callbacks_;
        }
        for (auto &e : events)
            for (auto &t : targets)
                t.callback->OnStatus(e.status, S_OK, WMT_TYPE_BINARY, reinterpret_cast<BYTE *>(&e.props), t.context);
        events.clear();
    }

    void serve() {
        std::vector<pollfd> fds;
        std::vector<Client *> polled;
        std::vector<Event> events;
        std::unique_lock<std::mutex> lock(m_);
        while (!stop_) {
            // Closing what the writer's thread or Disconnect marked, and timeouts.
            auto now = Clock::now();
            size_t closing = 0;
            for (size_t i = clients_.size(); i-- > 0;) {
                Client &c = *clients_[i];
                if (c.state != Client::State::Request && c.state != Client::State::Draining)
                    note_progress(c, now);
                bool expired = (c.state == Client::State::Request &&
                                now - c.since > std::chrono::milliseconds(limits_.request_timeout_ms)) ||
                               (c.state == Client::State::Draining && now - c.since > kDrainTimeout) ||
                               (c.state != Client::State::Draining && c.owed &&
                                now - c.progress > std::chrono::milliseconds(limits_.stall_timeout_ms));
                if (c.drop || expired)
                    remove_locked(i, &events);
                else if (c.state == Client::State::Draining)
                    ++closing;
            }
            // Connections being closed wait only for their peer; beyond the bound the oldest
            // goes at once (clients_ is in order of acceptance).
            for (size_t i = 0; closing > limits_.max_closing_connections && i < clients_.size();) {
                if (clients_[i]->state == Client::State::Draining) {
                    remove_locked(i, &events);
                    --closing;
                } else {
                    ++i;
                }
            }
            if (disconnect_done_ != disconnect_requested_) {
                disconnect_done_ = disconnect_requested_;
                done_.notify_all();
            }

            fds.clear();
            polled.clear();
            fds.push_back({wake_fd_, POLLIN, 0});
            fds.push_back({listen_fd_, static_cast<short>(Clock::now() < accept_paused_until_ ? 0 : POLLIN), 0});
            for (auto &c : clients_) {
                short ev = POLLIN;
                if (!c->out.empty()) ev |= POLLOUT;
                fds.push_back({c->fd, ev, 0});
                polled.push_back(c.get());
            }
            lock.unlock();
            fire(events);
            int n = ::poll(fds.data(), fds.size(), 250);
            lock.lock();
            if (n < 0) continue;
            if (fds[0].revents & POLLIN) {
                uint64_t v;
                while (::read(wake_fd_, &v, sizeof v) > 0) {
                }
            }
            if (fds[1].revents & POLLIN) accept_locked(&events);
            for (size_t k = 0; k < polled.size(); ++k) {
                Client &c = *polled[k];
                short rev = fds[k + 2].revents;
                if (c.drop || rev == 0) continue;
                if (rev & POLLIN) read_locked(c, &events);
                if (c.drop) continue;
                if ((rev & (POLLERR | POLLHUP)) && !(rev & POLLIN)) {
                    c.drop = true;
                    continue;
                }
            }
            // Output goes out for every client, not only those polled writable: new data may
            // have been queued while polling, and a non-blocking send costs nothing if full.
            for (auto &c : clients_) {
                if (c->drop || c->state == Client::State::Draining) continue;
                if (!flush(*c)) {
                    c->drop = true;
                    continue;
                }
                if (c->state == Client::State::Flushing && c->out.empty()) {
                    ::shutdown(c->fd, SHUT_WR);
                    c->state = Client::State::Draining;
                    c->since = Clock::now();
                    if (c->admitted) {
                        c->admitted = false;
                        events.push_back({WMT_CLIENT_DISCONNECT, properties(*c)});
                    }
                }
            }
        }
        for (size_t i = clients_.size(); i-- > 0;) remove_locked(i, &events);
        disconnect_done_ = disconnect_requested_;
        done_.notify_all();
        lock.unlock();
        fire(events);
    }

    void read_locked(Client &c, std::vector<Event> *events) {
        // A closed peer: a client still owed a response is gone; one that is draining has done
        // what we waited for. Anything a client sends after its request is read and ignored.
        const bool open = read_available(c, [&](const char *bytes, size_t n) {
            if (c.state != Client::State::Request) return;
            c.heard = Clock::now();
            c.request.append(bytes, n);
            handle_request_locked(c, events);
        });
        if (!open) c.drop = true;
    }

    const SinkLimits limits_;
    std::mutex control_;  // Open / Close / Disconnect / GetHostURL / SetListenAddress against each other
    const int wake_fd_;
    std::string listen_address_;  // guarded by control_; empty = every interface
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;

    // Lock order: control_, then m_ (Open, Close and Disconnect take m_ inside control_); never
    // control_ while m_ is held. Neither is held while a status callback runs (fire()).
    std::mutex m_;  // everything below, between the writer's thread, the server thread and callers
    std::condition_variable done_;
    bool stop_ = false;
    uint64_t disconnect_requested_ = 0;
    uint64_t disconnect_done_ = 0;
    DWORD max_clients_ = kDefaultMaxClients;
    std::vector<std::unique_ptr<Client>> clients_;
    std::vector<Advised> callbacks_;
    Broadcast broadcast_;  // the header, the packets' framing and the joining backlog
    Clock::time_point accept_paused_until_{};
    std::mt19937 random_{std::random_device{}()};
};

}  // namespace

HRESULT CreateNetworkSink(const SinkLimits &limits, IWMWriterNetworkSink **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    auto *sink = new (std::nothrow) NetworkSink(limits);
    if (!sink) return E_OUTOFMEMORY;
    *out = sink;
    return S_OK;
}

}  // namespace tw::posix::net

HRESULT STDMETHODCALLTYPE WMCreateWriterNetworkSink(IWMWriterNetworkSink **ppSink) {
    return tw::posix::net::CreateNetworkSink(tw::posix::net::SinkLimits{}, ppSink);
}
