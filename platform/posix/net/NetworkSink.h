// The Windows Media network sink of our platform layer: an IWMWriterNetworkSink that serves
// the ASF stream a writer feeds it to HTTP clients (MMS-over-HTTP framing for Windows Media
// clients, plain ASF for the rest). WMCreateWriterNetworkSink (platform/wmf.h) creates one
// with the default limits.
//
// Threads: the writer calls the IWMWriterSink methods on its own thread; one server thread
// per open sink accepts connections, reads requests and writes to every client through
// non-blocking sockets. A packet handed to OnDataUnit is queued for each client and the call
// returns at once: a slow client only grows its own bounded queue, and is dropped when that
// overflows or when it accepts nothing for a while. Status callbacks (IWMRegisterCallback)
// arrive on the server thread.
#pragma once

#include "platform/wmf.h"

#include <cstddef>

namespace tw::posix::net {

struct SinkLimits {
    size_t client_queue_bytes = 8u << 20;   // a client further behind than this is dropped
    size_t backlog_bytes = 4u << 20;        // kept since the last key frame for clients joining
    unsigned stall_timeout_ms = 10000;      // a client that takes nothing for this long is dropped
    unsigned request_timeout_ms = 10000;    // time to send a complete request
    unsigned max_pending_connections = 32;  // connections still sending their request
    int socket_send_buffer = 256 * 1024;    // per client; 0 leaves the system's default
};

HRESULT CreateNetworkSink(const SinkLimits &limits, IWMWriterNetworkSink **out);

}  // namespace tw::posix::net
