#include "platform/posix/net/Connection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace tw::posix::net {

namespace {

struct Address {
    sockaddr_storage addr{};
    socklen_t len = 0;
    int v6only = -1;  // IPV6_V6ONLY for an IPv6 socket
};

Address ipv4(in_addr a, uint16_t port) {
    Address r;
    auto *a4 = reinterpret_cast<sockaddr_in *>(&r.addr);
    a4->sin_family = AF_INET;
    a4->sin_addr = a;
    a4->sin_port = htons(port);
    r.len = sizeof(sockaddr_in);
    return r;
}

Address ipv6(const in6_addr &a, uint16_t port, bool only) {
    Address r;
    auto *a6 = reinterpret_cast<sockaddr_in6 *>(&r.addr);
    a6->sin6_family = AF_INET6;
    a6->sin6_addr = a;
    a6->sin6_port = htons(port);
    r.len = sizeof(sockaddr_in6);
    r.v6only = only ? 1 : 0;
    return r;
}

int open_socket(const Address &a) {
    int fd = socket(a.addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd >= 0 && a.v6only >= 0) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &a.v6only, sizeof a.v6only);
    return fd;
}

}  // namespace

HRESULT open_listener(const std::string &address, uint16_t port, int *out_fd, uint16_t *bound) {
    in_addr one4;
    in6_addr one6;
    Address a;
    if (!address.empty() && inet_pton(AF_INET, address.c_str(), &one4) == 1)
        a = ipv4(one4, port);
    else if (!address.empty() && inet_pton(AF_INET6, address.c_str(), &one6) == 1)
        a = ipv6(one6, port, true);
    else
        a = ipv6(in6addr_any, port, false);
    int fd = open_socket(a);
    if (fd < 0 && a.v6only == 0) {  // every interface, on a system without IPv6
        in_addr any{};
        any.s_addr = htonl(INADDR_ANY);
        a = ipv4(any, port);
        fd = open_socket(a);
    }
    if (fd < 0) return NS_E_NETWORK_RESOURCE_FAILURE;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);  // rebind at once after Close
    sockaddr_storage got{};
    socklen_t len = sizeof got;
    if (bind(fd, reinterpret_cast<const sockaddr *>(&a.addr), a.len) != 0 || listen(fd, SOMAXCONN) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&got), &len) != 0) {
        ::close(fd);
        return NS_E_NETWORK_RESOURCE_FAILURE;
    }
    *out_fd = fd;
    *bound = got.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&got)->sin6_port)
                                       : ntohs(reinterpret_cast<sockaddr_in *>(&got)->sin_port);
    return S_OK;
}

std::unique_ptr<Client> new_client(int fd, const sockaddr_storage &peer, int send_buffer) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (send_buffer > 0) setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof send_buffer);
    auto c = std::make_unique<Client>();
    c->fd = fd;
    if (peer.ss_family == AF_INET) {
        auto *a4 = reinterpret_cast<const sockaddr_in *>(&peer);
        c->ipv4 = ntohl(a4->sin_addr.s_addr);
        c->port = ntohs(a4->sin_port);
    } else if (peer.ss_family == AF_INET6) {
        auto *a6 = reinterpret_cast<const sockaddr_in6 *>(&peer);
        if (IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) std::memcpy(&c->ipv4, a6->sin6_addr.s6_addr + 12, 4);
        c->ipv4 = ntohl(c->ipv4);
        c->port = ntohs(a6->sin6_port);
    }
    c->since = c->heard = c->progress = Clock::now();
    return c;
}

bool flush(Client &c) {
    while (!c.out.empty()) {
        Chunk &front = c.out.front();
        size_t left = front.data->size() - front.offset;
        ssize_t n = ::send(c.fd, front.data->data() + front.offset, left, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
            if (errno == EINTR) continue;
            return false;
        }
        c.sent += static_cast<uint64_t>(n);
        c.queued -= static_cast<size_t>(n);
        front.offset += static_cast<size_t>(n);
        if (front.offset == front.data->size()) c.out.pop_front();
    }
    return true;
}

// What the peer has taken: bytes it acknowledged, that is bytes handed to the socket less what
// the socket still holds. Bytes moved into our own send buffer do not count, or a client that
// never reads would seem to take data until that buffer is full.
void note_progress(Client &c, Clock::time_point now) {
    if (c.sent == 0 && c.out.empty()) return;
    int held = 0;
    if (::ioctl(c.fd, SIOCOUTQ, &held) != 0 || held < 0) held = 0;
    const uint64_t acked = c.sent - std::min<uint64_t>(c.sent, static_cast<uint64_t>(held));
    if (acked > c.acked) {
        c.acked = acked;
        c.progress = now;
    }
    c.owed = !c.out.empty() || held > 0;
}

bool read_available(Client &c, const std::function<void(const char *, size_t)> &on_bytes) {
    char buf[4096];
    for (;;) {
        ssize_t n = ::recv(c.fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n == 0) return false;  // the peer closed
        if (n > 0) {
            on_bytes(buf, size_t(n));
            continue;
        }
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

}  // namespace tw::posix::net
