// ASF container writing: the header objects, fixed-size data packets with payload parsing
// information, and the simple index.
//
// The muxer itself does no I/O. It hands every finished data packet to a callback, and builds
// the header and index as byte blocks; AsfFile puts them in a file. The header's size does not
// depend on what is recorded, so the finished header can be written over the provisional one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tw::posix::asf {

using Bytes = std::vector<uint8_t>;

struct AsfStream {
    bool video = false;
    int number = 0;        // ASF stream number, 1..127
    uint32_t bitrate = 0;  // declared average bit rate
    std::u16string codec_name, codec_description;
    Bytes extradata;       // codec private data (wmv2: 4 bytes, wmav2: 10 bytes)
    uint32_t buffer_ms = 0;          // rate-control buffer window
    uint64_t frame_time_100ns = 0;   // average time per frame (video), 0 if not fixed
    // audio
    uint16_t format_tag = 0;
    int channels = 0, sample_rate = 0, block_align = 0, bits_per_sample = 16;
    // video
    int width = 0, height = 0;
    uint32_t fourcc = 0;
};

struct AsfLayout {
    std::vector<AsfStream> streams;
    // Stream numbers that carry the same content at different bit rates (a player picks one).
    std::vector<int> exclusive_streams;
    uint32_t packet_size = 3200;
    uint32_t preroll_ms = 3000;
    int index_stream = 0;  // stream whose key frames the simple index points at (0 = none)
};

// What the finished header states.
struct AsfTotals {
    uint64_t file_size = 0;
    uint64_t packets = 0;
    uint64_t play_duration_ms = 0;  // media time, without preroll
    uint64_t send_duration_ms = 0;
    std::vector<uint32_t> bitrates;  // per stream of the layout, as finally declared
};

class AsfMuxer {
public:
    using PacketFn = std::function<void(const uint8_t *data, size_t size)>;

    AsfMuxer(AsfLayout layout, PacketFn on_packet);

    const AsfLayout &layout() const { return layout_; }

    // The header object followed by the start of the data object (50 bytes). With `live` the
    // broadcast flag is set and sizes, counts and durations are zero, as for a growing file;
    // otherwise `totals` fills them in. Both forms have the same size.
    Bytes header(bool live, const AsfTotals *totals = nullptr) const;
    size_t header_size() const { return header(true).size(); }

    // Adds one media object (a compressed frame). Times in milliseconds of media time.
    void add(int stream_number, const uint8_t *data, size_t size, int64_t pts_ms, int64_t duration_ms,
             bool key);
    // Pads and emits the packet being filled, if any.
    void flush();

    uint64_t packets() const { return packet_no_; }
    // End of the last object written (media time, ms), and the latest send time.
    int64_t end_ms() const { return end_ms_; }
    int64_t last_send_ms() const { return last_send_ms_; }
    // The same for the first `count` packets alone (what a file cut after them holds): the end
    // of the objects whose last fragment is among them, and the last of their send times.
    int64_t end_ms_within(uint64_t count) const;
    int64_t send_ms_within(uint64_t count) const;
    // Payload bytes written per stream number.
    uint64_t stream_bytes(int stream_number) const;
    uint64_t stream_objects(int stream_number) const { return objects_[stream_number & 0x7F]; }

    // The simple index object over what was added so far (empty when there is no index stream).
    Bytes simple_index(uint64_t interval_100ns = 10000000) const;

private:
    struct KeyObject {
        int64_t pres_ms;  // presentation time including preroll
        uint32_t first_packet, packet_count;
    };
    void begin_packet();
    void emit_packet();

    AsfLayout layout_;
    PacketFn on_packet_;
    uint8_t file_id_[16];
    uint64_t creation_time_;
    Bytes packet_;
    size_t pos_ = 0;
    int payloads_ = 0;
    int64_t packet_send_ms_ = 0;
    int64_t packet_end_ms_ = 0;
    uint64_t packet_no_ = 0;
    int64_t end_ms_ = 0;
    int64_t last_send_ms_ = 0;
    int64_t complete_end_ms_ = 0;  // end of the objects whose last fragment has been placed
    struct PacketTimes {
        int64_t send_ms, end_ms;  // the packet's send time; complete_end_ms_ when it was emitted
    };
    std::vector<PacketTimes> packet_times_;  // per emitted packet
    uint8_t object_no_[128] = {};
    uint64_t bytes_[128] = {};
    uint64_t objects_[128] = {};
    std::vector<KeyObject> keys_;
};

}  // namespace tw::posix::asf
