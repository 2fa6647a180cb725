// The Windows Media network sink of our platform layer: an IWMWriterNetworkSink that serves
// the ASF stream a writer feeds it to HTTP clients (MMS-over-HTTP framing for Windows Media
// clients, plain ASF for the rest). WMCreateWriterNetworkSink (platform/wmf.h) creates one
// with the default limits.
//
// Threads: the writer calls the IWMWriterSink methods on its own thread; one server thread
// per open sink accepts connections, reads requests and writes to every client through
// non-blocking sockets. A packet handed to OnDataUnit is queued for each client and the call
// returns at once: a slow client only grows its own bounded queue, and is dropped when that
// overflows or when it takes nothing for a while (nothing acknowledged by its TCP stack, so a
// client that never reads is found once its receive buffer is full, not ours). Status callbacks (IWMRegisterCallback)
// arrive on the server thread.
#pragma once

#include "platform/wmf.h"

#include <cstddef>

namespace tw::posix::net {

// The bounds that keep one client, or many connections that never become clients, from
// holding the broadcast: every connection is either admitted (at most the client limit),
// still sending its request (at most max_pending_connections, each for at most
// request_timeout_ms, together with the unadmitted requests that wait for the first header;
// when the table is full the one idle longest makes room for a newcomer),
// or being closed (at most max_closing_connections; the oldest is closed at once beyond that).
struct SinkLimits {
    size_t client_queue_bytes = 8u << 20;   // a client further behind than this is dropped
    size_t backlog_bytes = 4u << 20;        // kept since the last key frame for clients joining
    unsigned stall_timeout_ms = 3000;       // a client that takes nothing for this long is dropped
    unsigned request_timeout_ms = 3000;     // time to send a complete request
    unsigned max_pending_connections = 64;  // connections still sending their request
    unsigned max_closing_connections = 64;  // answered connections waiting for the peer to close
    int socket_send_buffer = 256 * 1024;    // per client; 0 leaves the system's default
};

HRESULT CreateNetworkSink(const SinkLimits &limits, IWMWriterNetworkSink **out);

}  // namespace tw::posix::net
