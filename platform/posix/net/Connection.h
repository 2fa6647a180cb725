// The sink's transport: the listening socket and one client connection's bytes. The sink's
// server thread owns every Client and calls these functions with the sink's lock held; none of
// them blocks (every socket is non-blocking) or calls back into the sink.
#pragma once

#include "platform/posix/net/HttpRequest.h"
#include "platform/wmf.h"

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tw::posix::net {

using Clock = std::chrono::steady_clock;
using Bytes = std::shared_ptr<const std::vector<uint8_t>>;

// One piece of a client's output: a shared buffer, from `offset` on.
struct Chunk {
    Bytes data;
    size_t offset;
};

struct Client {
    enum class State {
        Request,    // reading the request head
        Waiting,    // admitted, waiting for the broadcast's header
        Streaming,  // receiving the broadcast
        Flushing,   // sending what is queued, then closing (Describe, errors, end of broadcast)
        Draining,   // our side shut down; waiting for the peer to close so no data is lost
    };
    int fd = -1;
    uint32_t ipv4 = 0;  // peer address, first octet in the high byte; 0 for an IPv6 peer
    uint16_t port = 0;  // peer port
    State state = State::Request;
    RequestKind kind = RequestKind::Plain;
    bool admitted = false;  // counts against the client limit
    bool synced = false;    // has had its key-frame join point
    bool drop = false;      // to be closed by the server thread as soon as it sees it
    std::string request;
    std::deque<Chunk> out;
    size_t queued = 0;            // bytes in out
    Clock::time_point since;      // accepted, or start of draining
    Clock::time_point heard;      // accepted, or last bytes of the request received
    Clock::time_point progress;   // last time the peer took bytes, or output became owed
    uint64_t sent = 0;            // bytes handed to the socket
    uint64_t acked = 0;           // of those, bytes the peer has acknowledged
    bool owed = false;            // output waits here or in the socket's send queue
    uint32_t client_id = 0;
};

// A listening socket on `address` (an IPv4 or IPv6 literal; empty: every interface, IPv6 and
// IPv4 on one socket where the system has IPv6) and `port` (0: any). Gives the socket and the
// port it is bound to, or NS_E_NETWORK_RESOURCE_FAILURE.
HRESULT open_listener(const std::string &address, uint16_t port, int *fd, uint16_t *bound);

// A newly accepted connection, set up for streaming (no Nagle delay; the send buffer given,
// 0 for the system's).
std::unique_ptr<Client> new_client(int fd, const sockaddr_storage &peer, int send_buffer);

// Sends what the socket takes. False when the connection is broken.
bool flush(Client &c);

// Notes what the peer has taken since the last call (progress, owed).
void note_progress(Client &c, Clock::time_point now);

// Reads everything the peer has sent so far, passing each piece to on_bytes. False when the
// peer closed or the connection broke.
bool read_available(Client &c, const std::function<void(const char *, size_t)> &on_bytes);

}  // namespace tw::posix::net
