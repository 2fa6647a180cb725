// What the network sink broadcasts, without sockets: the header in both framings, the data
// packets framed with their running location, and the backlog a joining client starts from
// (everything since the last key frame, its first packet stripped of the video that began
// before that key frame). The rules for a client are here too: a client that joins while the
// backlog is empty waits for the next key frame and starts there.
//
// Not thread-safe: the sink calls it with its own lock held.
#pragma once

#include "platform/posix/net/AsfLive.h"
#include "platform/win32.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace tw::posix::net {

class Broadcast {
public:
    using Bytes = std::shared_ptr<const std::vector<uint8_t>>;

    // A packet as broadcast: the $D-framed bytes (plain clients skip the frame's prefix).
    struct Packet {
        Bytes framed;
        bool key = false;  // begins a video key frame, or the stream has no video
    };

    explicit Broadcast(size_t backlog_limit) : backlog_limit_(backlog_limit) {}

    // A header from the writer. S_OK with *same = true when it is the header already on air;
    // NS_E_INVALID_DATA when it is not a header we can broadcast. A different header starts a
    // new broadcast: the caller ends the old one first (end()).
    HRESULT check_header(const uint8_t *data, size_t length, AsfHeaderInfo *info, bool *same) const;
    void start(AsfHeaderInfo info);
    void end();  // off the air: no header, no backlog
    bool on_air() const { return header_.has_value(); }

    const Bytes &framed_header() const { return framed_header_; }
    const Bytes &raw_header() const { return raw_header_; }

    // A data packet from the writer, framed and kept in the backlog as joining clients need it.
    // NS_E_INVALID_REQUEST off the air, NS_E_INVALID_DATA when its size is not the header's.
    HRESULT add(const uint8_t *data, size_t length, Packet *out);

    // The packets a client joining now starts with, after the header; empty while no key frame
    // has been kept. The client is in step with the broadcast when this is not empty.
    std::vector<Bytes> joining() const;
    // What a streaming client gets of `p`: nothing until it is in step, then the packet (the
    // first one as a client joining there sees it).
    Bytes for_client(const Packet &p, bool *in_step) const;

private:
    size_t backlog_limit_;
    std::optional<AsfHeaderInfo> header_;
    Bytes framed_header_;
    Bytes raw_header_;
    uint32_t next_location_ = 0;
    std::deque<Bytes> backlog_;  // from the last key frame's packet on
    Bytes join_packet_;          // that packet as a client joining there gets it
    size_t backlog_bytes_ = 0;
};

}  // namespace tw::posix::net
