#include "platform/posix/net/AsfLive.h"

#include <algorithm>
#include <cstring>

namespace tw::posix::net {
namespace {

// Object GUIDs as they are stored in a file (first three fields little-endian).
using GuidBytes = uint8_t[16];
constexpr GuidBytes kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr GuidBytes kDataObject = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                   0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr GuidBytes kFilePropertiesObject = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                             0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr GuidBytes kStreamPropertiesObject = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                               0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr GuidBytes kHeaderExtensionObject = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                              0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr GuidBytes kExtendedStreamPropertiesObject = {0xCB, 0xA5, 0xE6, 0x14, 0x72, 0xC6, 0x32, 0x43,
                                                       0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A};
constexpr GuidBytes kVideoMedia = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                                   0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

constexpr size_t kObjectHeader = 24;     // GUID + u64 size
constexpr size_t kDataObjectStart = 50;  // GUID, size, File ID, total packets, reserved
constexpr size_t kFilePropertiesSize = 104;

bool is_guid(const uint8_t *p, const GuidBytes &g) { return std::memcmp(p, g, 16) == 0; }

uint16_t rd16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t rd32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t rd64(const uint8_t *p) { return rd32(p) | (static_cast<uint64_t>(rd32(p + 4)) << 32); }
void wr16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void wr32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void wr64(uint8_t *p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Walks the objects in [p, p + size); calls f(object, object size) for each. False when an
// object's size runs outside the range.
template <class F>
bool for_each_object(const uint8_t *p, size_t size, F &&f) {
    size_t pos = 0;
    while (pos < size) {
        if (size - pos < kObjectHeader) return false;
        uint64_t len = rd64(p + pos + 16);
        if (len < kObjectHeader || len > size - pos) return false;
        f(p + pos, static_cast<size_t>(len));
        pos += static_cast<size_t>(len);
    }
    return true;
}

void note_stream(const uint8_t *obj, size_t len, AsfHeaderInfo *info) {
    // Stream type GUID at 24, flags (stream number in the low 7 bits) at 72.
    if (len < 74) return;
    uint8_t number = rd16(obj + 72) & 0x7F;
    if (number == 0) return;
    auto add = [number](std::vector<uint8_t> *list) {
        if (std::find(list->begin(), list->end(), number) == list->end()) list->push_back(number);
    };
    add(&info->streams);
    if (is_guid(obj + 24, kVideoMedia)) add(&info->video_streams);
}

// An Extended Stream Properties Object may end in an embedded Stream Properties Object.
void note_extended_stream(const uint8_t *obj, size_t len, AsfHeaderInfo *info) {
    size_t pos = kObjectHeader + 64;  // fixed fields up to and including the two counts
    if (len < pos) return;
    uint16_t names = rd16(obj + kObjectHeader + 60);
    uint16_t systems = rd16(obj + kObjectHeader + 62);
    for (uint16_t i = 0; i < names; ++i) {
        if (len - pos < 4) return;
        pos += 4 + rd16(obj + pos + 2);
        if (pos > len) return;
    }
    for (uint16_t i = 0; i < systems; ++i) {
        if (len - pos < 22) return;
        pos += 22 + rd32(obj + pos + 18);
        if (pos > len) return;
    }
    if (len - pos >= kObjectHeader && is_guid(obj + pos, kStreamPropertiesObject)) {
        uint64_t inner = rd64(obj + pos + 16);
        if (inner <= len - pos) note_stream(obj + pos, static_cast<size_t>(inner), info);
    }
}

size_t field_size(unsigned type) {
    static const size_t sizes[4] = {0, 1, 2, 4};
    return sizes[type & 3];
}

// Reads a variable-size field; false when it runs past the end.
bool read_field(const uint8_t *p, size_t size, size_t *pos, unsigned type, uint32_t *value) {
    size_t n = field_size(type);
    if (size - *pos < n) return false;
    const uint8_t *q = p + *pos;
    *value = n == 0 ? 0 : n == 1 ? q[0] : n == 2 ? rd16(q) : rd32(q);
    *pos += n;
    return true;
}

}  // namespace

std::optional<AsfHeaderInfo> parse_header(const uint8_t *data, size_t size, std::string *error) {
    auto fail = [&](const char *why) -> std::optional<AsfHeaderInfo> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (!data || size < 30) return fail("too short for an ASF Header Object");
    if (!is_guid(data, kHeaderObject)) return fail("not an ASF Header Object");
    uint64_t header_size = rd64(data + 16);
    if (header_size < 30 || header_size > size) return fail("Header Object size does not fit the buffer");
    if (header_size + kDataObjectStart > kMaxFramedPayload) return fail("header too large for one $H packet");

    AsfHeaderInfo info;
    const uint8_t *file_props = nullptr;
    const uint8_t *children = data + 30;
    size_t children_size = static_cast<size_t>(header_size) - 30;
    bool ok = for_each_object(children, children_size, [&](const uint8_t *obj, size_t len) {
        if (is_guid(obj, kFilePropertiesObject) && len >= kFilePropertiesSize) {
            file_props = obj;
        } else if (is_guid(obj, kStreamPropertiesObject)) {
            note_stream(obj, len, &info);
        } else if (is_guid(obj, kHeaderExtensionObject) && len >= 46) {
            size_t ext_size = rd32(obj + 42);
            if (ext_size <= len - 46) {
                for_each_object(obj + 46, ext_size, [&](const uint8_t *inner, size_t inner_len) {
                    if (is_guid(inner, kExtendedStreamPropertiesObject))
                        note_extended_stream(inner, inner_len, &info);
                });
            }
        }
    });
    if (!ok) return fail("malformed object in the Header Object");
    if (!file_props) return fail("no File Properties Object");
    uint32_t min_packet = rd32(file_props + 92);
    uint32_t max_packet = rd32(file_props + 96);
    if (min_packet == 0 || min_packet != max_packet) return fail("data packets are not of one fixed size");
    if (min_packet > kMaxFramedPayload) return fail("data packets too large for one $D packet");
    info.packet_size = min_packet;

    // The File ID comes from the Data Object when the writer sent its start, else from the
    // File Properties Object (they are the same in a well-formed file).
    uint8_t file_id[16];
    std::memcpy(file_id, file_props + 24, 16);
    if (size - header_size >= kDataObjectStart && is_guid(data + header_size, kDataObject))
        std::memcpy(file_id, data + header_size + 24, 16);

    info.live_header.assign(data, data + header_size);
    uint8_t *fp = info.live_header.data() + (file_props - data);
    wr64(fp + 40, 0);  // file size
    wr64(fp + 56, 0);  // data packets count
    wr64(fp + 64, 0);  // play duration
    wr64(fp + 72, 0);  // send duration
    uint32_t flags = rd32(fp + 88);
    wr32(fp + 88, (flags & ~0x2u) | 0x1u);  // broadcast, not seekable

    uint8_t start[kDataObjectStart] = {};
    std::memcpy(start, kDataObject, 16);
    wr64(start + 16, kDataObjectStart);  // a size of 50 marks the data as live
    std::memcpy(start + 24, file_id, 16);
    wr64(start + 40, 0);                 // total packets
    start[48] = 0x01;                    // reserved
    start[49] = 0x01;
    info.live_header.insert(info.live_header.end(), start, start + kDataObjectStart);
    return info;
}

namespace {

// One payload of a data packet, as far as joining a broadcast is concerned.
struct Payload {
    size_t begin;         // offset of the payload (its stream-number byte) in the packet
    size_t end;           // offset just past its data
    uint8_t number;       // stream number, 1..127
    bool key;             // key-frame bit
    bool starts_object;   // offset 0 into its media object, or compressed (whole objects)
};

// The fixed part of a data packet, as far as rewriting it needs.
struct PacketLayout {
    size_t ec_bytes = 0;  // error correction data, kept as it is
    uint8_t length_flags = 0;
    uint8_t property_flags = 0;
    uint32_t packet_length = 0;
    uint32_t sequence = 0;
    size_t time_at = 0;  // send time and duration (6 bytes)
    bool multiple = false;
    uint8_t payload_length_type = 0;
    size_t payloads_at = 0;  // first payload
    size_t total = 0;        // packet length in effect
};

// Calls f(payload) for each payload of the packet until f returns false. False when the
// packet cannot be parsed (whatever f saw up to there stays seen).
template <class F>
bool for_each_payload(const uint8_t *p, size_t size, F &&f, PacketLayout *layout = nullptr) {
    if (!p || size < 1) return false;
    size_t pos = 0;
    if (p[0] & 0x80) {  // error correction data
        if ((p[0] >> 5) & 3) return false;  // only the 4-bit length form is defined
        pos = 1 + (p[0] & 0x0F);
    }
    if (size - std::min(pos, size) < 2) return false;
    uint8_t length_flags = p[pos];
    uint8_t property_flags = p[pos + 1];
    pos += 2;
    if (length_flags & 0x80) return false;               // error correction flag where none may be
    if (((property_flags >> 6) & 3) != 1) return false;  // stream numbers are one byte
    uint32_t packet_length = 0, sequence = 0, padding = 0;
    if (!read_field(p, size, &pos, length_flags >> 5, &packet_length)) return false;
    if (!read_field(p, size, &pos, length_flags >> 1, &sequence)) return false;
    if (!read_field(p, size, &pos, length_flags >> 3, &padding)) return false;
    if (size - pos < 6) return false;
    size_t time_at = pos;
    pos += 6;  // send time, duration
    size_t end = size;
    if (packet_length != 0 && packet_length < end) end = packet_length;
    size_t total = end;
    if (padding > end - std::min(pos, end)) return false;
    end -= padding;
    if (pos > end) return false;

    bool multiple = length_flags & 0x01;
    unsigned count = 1, payload_length_type = 0;
    if (multiple) {
        if (end - pos < 1) return false;
        count = p[pos] & 0x3F;
        payload_length_type = p[pos] >> 6;
        ++pos;
    }
    if (layout) {
        layout->ec_bytes = (p[0] & 0x80) ? 1 + (p[0] & 0x0F) : 0;
        layout->length_flags = length_flags;
        layout->property_flags = property_flags;
        layout->packet_length = packet_length;
        layout->sequence = sequence;
        layout->time_at = time_at;
        layout->multiple = multiple;
        layout->payload_length_type = static_cast<uint8_t>(payload_length_type);
        layout->payloads_at = pos;
        layout->total = total;
    }
    for (unsigned i = 0; i < count; ++i) {
        if (end - pos < 1) return false;
        Payload payload;
        payload.begin = pos;
        uint8_t stream = p[pos++];
        uint32_t object = 0, offset = 0, replicated = 0;
        if (!read_field(p, end, &pos, property_flags >> 4, &object)) return false;
        if (!read_field(p, end, &pos, property_flags >> 2, &offset)) return false;
        if (!read_field(p, end, &pos, property_flags, &replicated)) return false;
        if (end - pos < replicated) return false;
        pos += replicated;
        uint32_t length = 0;
        if (multiple) {
            if (!read_field(p, end, &pos, payload_length_type, &length)) return false;
            if (end - pos < length) return false;
        } else {
            length = static_cast<uint32_t>(end - pos);
        }
        payload.number = stream & 0x7F;
        payload.key = stream & 0x80;
        // Replicated data of length 1 marks compressed payloads: every sub-payload is a whole
        // media object, and the offset field holds a presentation time instead.
        payload.starts_object = replicated == 1 || offset == 0;
        payload.end = pos + length;
        if (!f(payload)) return true;
        pos += length;
    }
    return true;
}

bool contains(const std::vector<uint8_t> &v, uint8_t x) { return std::find(v.begin(), v.end(), x) != v.end(); }

}  // namespace

bool starts_key_frame(const uint8_t *p, size_t size, const std::vector<uint8_t> &video_streams) {
    bool found = false;
    bool parsed = for_each_payload(p, size, [&](const Payload &pl) {
        found = pl.key && pl.starts_object && (video_streams.empty() || contains(video_streams, pl.number));
        return !found;
    });
    // With no video at all, any packet that parsed is a place to join.
    return found || (parsed && video_streams.empty());
}

namespace {
void write_field(uint8_t *p, size_t *pos, unsigned type, uint32_t value) {
    size_t n = field_size(type);
    for (size_t i = 0; i < n; ++i) p[(*pos)++] = static_cast<uint8_t>(value >> (8 * i));
}
}  // namespace

size_t drop_video_before_key_frame(uint8_t *p, size_t size, const std::vector<uint8_t> &video_streams) {
    if (video_streams.empty()) return 0;
    PacketLayout layout;
    std::vector<std::pair<size_t, size_t>> kept, dropped;
    bool found = false;
    bool parsed = for_each_payload(
        p, size,
        [&](const Payload &pl) {
            bool video = contains(video_streams, pl.number);
            if (!found && video && pl.key && pl.starts_object) found = true;
            (found || !video ? kept : dropped).emplace_back(pl.begin, pl.end);
            return true;
        },
        &layout);
    if (!parsed || !found || dropped.empty() || !layout.multiple) return 0;

    // Rebuild the packet: the same fields with a 16-bit padding length (which grows by what
    // is dropped), the remaining payloads unchanged, zeros after them.
    std::vector<uint8_t> out(size, 0);
    size_t pos = layout.ec_bytes;
    std::memcpy(out.data(), p, pos);
    uint8_t length_flags = static_cast<uint8_t>((layout.length_flags & ~0x18) | (2 << 3));
    out[pos++] = length_flags;
    out[pos++] = layout.property_flags;
    write_field(out.data(), &pos, length_flags >> 5, layout.packet_length);
    write_field(out.data(), &pos, length_flags >> 1, layout.sequence);
    size_t padding_at = pos;
    pos += 2;
    std::memcpy(out.data() + pos, p + layout.time_at, 6);
    pos += 6;
    out[pos++] = static_cast<uint8_t>((layout.payload_length_type << 6) | kept.size());
    for (auto [b, e] : kept) {
        std::memcpy(out.data() + pos, p + b, e - b);
        pos += e - b;
    }
    if (pos > layout.total || layout.total - pos > 0xFFFF) return 0;  // cannot happen for a parsed packet
    size_t padding = layout.total - pos;
    out[padding_at] = static_cast<uint8_t>(padding);
    out[padding_at + 1] = static_cast<uint8_t>(padding >> 8);
    std::memcpy(p, out.data(), size);
    return dropped.size();
}

std::vector<uint8_t> frame_header(const std::vector<uint8_t> &header) {
    std::vector<uint8_t> out(kFramedPrefix + header.size());
    uint16_t length = static_cast<uint16_t>(8 + header.size());
    out[0] = 0x24;
    out[1] = 0x48;  // 'H'
    wr16(&out[2], length);
    wr32(&out[4], 0);  // location: first (and only) piece
    out[8] = 0;        // incarnation
    out[9] = 0x0C;     // first and last piece
    wr16(&out[10], length);
    std::memcpy(out.data() + kFramedPrefix, header.data(), header.size());
    return out;
}

void frame_data_prefix(uint8_t out[kFramedPrefix], uint32_t location, uint32_t packet_size) {
    uint16_t length = static_cast<uint16_t>(8 + packet_size);
    out[0] = 0x24;
    out[1] = 0x44;  // 'D'
    wr16(out + 2, length);
    wr32(out + 4, location);
    out[8] = 0;
    out[9] = static_cast<uint8_t>(location);  // low bits of the packet counter
    wr16(out + 10, length);
}

std::vector<uint8_t> frame_end() {
    std::vector<uint8_t> out(8, 0);
    out[0] = 0x24;
    out[1] = 0x45;  // 'E'
    wr16(&out[2], 4);
    return out;  // reason 0: the broadcast is over
}

}  // namespace tw::posix::net
