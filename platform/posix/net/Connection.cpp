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

HRESULT open_listener(const std::string &address, uint16_t port, int *out_fd, uint16_t *bound) {
    sockaddr_storage addr{};
    socklen_t addr_len;
    int fd = -1;
    in_addr one4;
    in6_addr one6;
    if (!address.empty() && inet_pton(AF_INET, address.c_str(), &one4) == 1) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return NS_E_NETWORK_RESOURCE_FAILURE;
        auto *a4 = reinterpret_cast<sockaddr_in *>(&addr);
        a4->sin_family = AF_INET;
        a4->sin_addr = one4;
        a4->sin_port = htons(port);
        addr_len = sizeof(sockaddr_in);
    } else if (!address.empty() && inet_pton(AF_INET6, address.c_str(), &one6) == 1) {
        fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return NS_E_NETWORK_RESOURCE_FAILURE;
        int on = 1;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        auto *a6 = reinterpret_cast<sockaddr_in6 *>(&addr);
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = one6;
        a6->sin6_port = htons(port);
        addr_len = sizeof(sockaddr_in6);
    } else if ((fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) >= 0) {
        int off = 0;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        auto *a6 = reinterpret_cast<sockaddr_in6 *>(&addr);
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = in6addr_any;
        a6->sin6_port = htons(port);
        addr_len = sizeof(sockaddr_in6);
    } else {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) return NS_E_NETWORK_RESOURCE_FAILURE;
        auto *a4 = reinterpret_cast<sockaddr_in *>(&addr);
        a4->sin_family = AF_INET;
        a4->sin_addr.s_addr = htonl(INADDR_ANY);
        a4->sin_port = htons(port);
        addr_len = sizeof(sockaddr_in);
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);  // rebind at once after Close
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), addr_len) != 0 || listen(fd, SOMAXCONN) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        ::close(fd);
        return NS_E_NETWORK_RESOURCE_FAILURE;
    }
    *out_fd = fd;
    *bound = addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port)
                                        : ntohs(reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
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

bool read_once(Client &c, char *buf, size_t size, size_t *got) {
    *got = 0;
    for (;;) {
        ssize_t n = ::recv(c.fd, buf, size, MSG_DONTWAIT);
        if (n == 0) return false;  // the peer closed
        if (n > 0) {
            *got = static_cast<size_t>(n);
            return true;
        }
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

}  // namespace tw::posix::net
