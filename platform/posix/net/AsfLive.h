// The ASF knowledge a live HTTP broadcast needs: turning the header of a file into the header
// of a broadcast, finding where a client may join (a packet that starts a video key frame),
// and the MMS-over-HTTP framing of header, data and end packets.
#pragma once

#include "platform/com.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tw::posix::net {

// What the broadcast needs to know about an ASF header.
struct AsfHeaderInfo {
    std::vector<uint8_t> live_header;  // Header Object + 50-byte Data Object start, broadcast form
    uint32_t packet_size = 0;          // the fixed data packet size (File Properties min = max)
    std::vector<uint8_t> streams;        // every stream number (1..127) the header declares
    std::vector<uint8_t> video_streams;  // those whose type is video
};

// Reads an ASF header as a writer produced it: the Header Object, optionally followed by the
// start of the Data Object (the 50 bytes before the first packet). Returns the broadcast form
// of it: the File Properties Object marked as a broadcast (flag 0x01, not seekable) with file
// size, packet count and durations 0, and a Data Object start of size 50 with 0 packets.
// Anything that is not a well-formed header with fixed-size packets gives nullopt and the
// reason in *error.
std::optional<AsfHeaderInfo> parse_header(const uint8_t *data, size_t size, std::string *error);

// True when the data packet holds a payload that starts a key frame (key-frame bit, offset
// 0 into its media object) of one of the given video streams. With no video streams every
// well-formed packet is a join point. A packet that cannot be parsed is never one.
bool starts_key_frame(const uint8_t *packet, size_t size, const std::vector<uint8_t> &video_streams);

// The packet a client joins at may begin with payloads of the video stream that precede the
// key frame (the end of the frame before it, or whole small frames). A client that starts
// there would get frames it cannot decode. This removes those payloads from the client's
// copy of the packet, which keeps its size: the padding grows by what was removed (the
// padding length is rewritten as a 16-bit field). Returns the number of payloads removed;
// 0 leaves the packet untouched.
size_t drop_video_before_key_frame(uint8_t *packet, size_t size, const std::vector<uint8_t> &video_streams);

// MMS-over-HTTP framing. PacketLength counts the bytes after the 4-byte framing header.
inline constexpr size_t kFramingHeader = 4;   // '$', type, u16 length
inline constexpr size_t kFramedPrefix = 12;   // framing header + LocationId, Incarnation, AFFlags, PacketSize
inline constexpr size_t kMaxFramedPayload = 0xFFFF - 8;  // bytes of header or packet one frame can carry

// A `$H` packet carrying the whole header. The header must be at most kMaxFramedPayload bytes.
std::vector<uint8_t> frame_header(const std::vector<uint8_t> &header);
// The 12-byte `$D` prefix for the data packet with the given number in the broadcast.
void frame_data_prefix(uint8_t out[kFramedPrefix], uint32_t location, uint32_t packet_size);
// A `$E` packet (end of the broadcast, reason 0).
std::vector<uint8_t> frame_end();

}  // namespace tw::posix::net
