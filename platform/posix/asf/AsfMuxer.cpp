#include "platform/posix/asf/AsfMuxer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

namespace tw::posix::asf {

namespace {

struct Guid {
    uint32_t d1;
    uint16_t d2, d3;
    uint8_t d4[8];
};

// Object and type identifiers of the ASF format.
constexpr Guid kHeaderObject{0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr Guid kDataObject{0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr Guid kSimpleIndexObject{0x33000890, 0xE5B1, 0x11CF, {0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}};
constexpr Guid kFileProperties{0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr Guid kStreamProperties{0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr Guid kHeaderExtension{0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr Guid kHeaderExtensionReserved{0xABD3D211, 0xA9BA, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr Guid kExtendedStreamProperties{0x14E6A5CB, 0xC672, 0x4332, {0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A}};
constexpr Guid kCodecList{0x86D15240, 0x311D, 0x11D0, {0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6}};
constexpr Guid kCodecListReserved{0x86D15241, 0x311D, 0x11D0, {0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6}};
constexpr Guid kStreamBitrateProperties{0x7BF875CE, 0x468D, 0x11D1, {0x8D, 0x82, 0x00, 0x60, 0x97, 0xC9, 0xA2, 0xB2}};
constexpr Guid kBitrateMutualExclusion{0xD6E229DC, 0x35DA, 0x11D1, {0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE}};
constexpr Guid kMutexBitrate{0xD6E22A01, 0x35DA, 0x11D1, {0x90, 0x34, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xBE}};
constexpr Guid kAudioMedia{0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
constexpr Guid kVideoMedia{0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
constexpr Guid kNoErrorCorrection{0x20FB5700, 0x5B55, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
constexpr Guid kAudioSpread{0xBFC3CD50, 0x618F, 0x11CF, {0x8B, 0xB2, 0x00, 0xAA, 0x00, 0xB4, 0xE2, 0x20}};

class Writer {
public:
    explicit Writer(Bytes &b) : b_(b) {}
    void u8(uint8_t v) { b_.push_back(v); }
    void u16(uint16_t v) { for (int i = 0; i < 2; ++i) b_.push_back(uint8_t(v >> (8 * i))); }
    void u32(uint32_t v) { for (int i = 0; i < 4; ++i) b_.push_back(uint8_t(v >> (8 * i))); }
    void u64(uint64_t v) { for (int i = 0; i < 8; ++i) b_.push_back(uint8_t(v >> (8 * i))); }
    void guid(const Guid &g) {
        u32(g.d1);
        u16(g.d2);
        u16(g.d3);
        b_.insert(b_.end(), g.d4, g.d4 + 8);
    }
    void bytes(const uint8_t *p, size_t n) { b_.insert(b_.end(), p, p + n); }
    void bytes(const Bytes &v) { b_.insert(b_.end(), v.begin(), v.end()); }
    // Counted UTF-16 string with its terminating NUL; the count is in characters.
    void wstr_counted(const std::u16string &s) {
        u16(uint16_t(s.size() + 1));
        for (char16_t c : s) u16(c);
        u16(0);
    }
    // Starts an object: GUID and a size field patched by end().
    size_t begin(const Guid &g) {
        size_t at = b_.size();
        guid(g);
        u64(0);
        return at;
    }
    void end(size_t at) { patch64(at + 16, b_.size() - at); }
    void patch64(size_t at, uint64_t v) { for (int i = 0; i < 8; ++i) b_[at + i] = uint8_t(v >> (8 * i)); }
    size_t size() const { return b_.size(); }

private:
    Bytes &b_;
};

void put16(uint8_t *p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void put32(uint8_t *p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }

// Packet layout used for every data packet: error correction data (2 bytes), length type
// flags, property flags, padding length as a WORD, send time, duration, payload flags; each
// payload has a byte stream number, byte object number, DWORD offset, 8 bytes of replicated
// data (object size, presentation time) and a WORD payload length.
constexpr size_t kPacketHeader = 1 + 2 + 1 + 1 + 2 + 4 + 2 + 1;
constexpr size_t kPayloadHeader = 1 + 1 + 4 + 1 + 8 + 2;
constexpr int kMaxPayloads = 63;

}  // namespace

AsfMuxer::AsfMuxer(AsfLayout layout, PacketFn on_packet)
    : layout_(std::move(layout)), on_packet_(std::move(on_packet)) {
    std::random_device rd;
    for (auto &b : file_id_) b = uint8_t(rd());
    file_id_[7] = uint8_t((file_id_[7] & 0x0F) | 0x40);  // a version-4 (random) GUID
    file_id_[8] = uint8_t((file_id_[8] & 0x3F) | 0x80);
    // FILETIME: 100 ns units since 1601-01-01.
    auto now = std::chrono::system_clock::now().time_since_epoch();
    creation_time_ = uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) * 10 +
                     116444736000000000ull;
    packet_.assign(layout_.packet_size, 0);
}

Bytes AsfMuxer::header(bool live, const AsfTotals *totals) const {
    Bytes b;
    Writer w(b);
    size_t hdr = w.begin(kHeaderObject);
    size_t count_at = w.size();
    w.u32(0);
    w.u8(1);
    w.u8(2);
    uint32_t objects = 0;

    uint64_t max_bitrate = 0;
    for (size_t i = 0; i < layout_.streams.size(); ++i)
        max_bitrate += totals && i < totals->bitrates.size() ? totals->bitrates[i] : layout_.streams[i].bitrate;

    // File properties.
    size_t fp = w.begin(kFileProperties);
    w.bytes(file_id_, 16);
    bool final_form = !live && totals;
    w.u64(final_form ? totals->file_size : 0);
    w.u64(creation_time_);
    w.u64(final_form ? totals->packets : 0);
    w.u64(final_form ? (totals->play_duration_ms + layout_.preroll_ms) * 10000 : 0);
    w.u64(final_form ? totals->send_duration_ms * 10000 : 0);
    w.u64(layout_.preroll_ms);
    w.u32(final_form ? 0x02 : 0x01);  // seekable when finished; broadcast while growing
    w.u32(layout_.packet_size);
    w.u32(layout_.packet_size);
    w.u32(uint32_t(std::min<uint64_t>(max_bitrate, 0xFFFFFFFFu)));
    w.end(fp);
    ++objects;

    // Stream properties, one per stream.
    for (const AsfStream &s : layout_.streams) {
        size_t sp = w.begin(kStreamProperties);
        w.guid(s.video ? kVideoMedia : kAudioMedia);
        w.guid(s.video ? kNoErrorCorrection : kAudioSpread);
        w.u64(0);  // time offset
        Bytes type_data;
        Writer t(type_data);
        Bytes ec;
        Writer e(ec);
        if (s.video) {
            t.u32(uint32_t(s.width));
            t.u32(uint32_t(s.height));
            t.u8(2);
            t.u16(uint16_t(40 + s.extradata.size()));
            // BITMAPINFOHEADER and the codec's private data.
            t.u32(uint32_t(40 + s.extradata.size()));
            t.u32(uint32_t(s.width));
            t.u32(uint32_t(s.height));
            t.u16(1);
            t.u16(24);
            t.u32(s.fourcc);
            t.u32(uint32_t(s.width * s.height * 3));
            t.u32(0);
            t.u32(0);
            t.u32(0);
            t.u32(0);
            t.bytes(s.extradata);
        } else {
            // WAVEFORMATEX and the codec's private data.
            t.u16(s.format_tag);
            t.u16(uint16_t(s.channels));
            t.u32(uint32_t(s.sample_rate));
            t.u32(s.bitrate / 8);
            t.u16(uint16_t(s.block_align));
            t.u16(uint16_t(s.bits_per_sample));
            t.u16(uint16_t(s.extradata.size()));
            t.bytes(s.extradata);
            // Audio spread with a span of one: no interleaving of audio blocks.
            e.u8(1);
            e.u16(uint16_t(s.block_align));
            e.u16(uint16_t(s.block_align));
            e.u16(1);
            e.u8(0);
        }
        w.u32(uint32_t(type_data.size()));
        w.u32(uint32_t(ec.size()));
        w.u16(uint16_t(s.number & 0x7F));
        w.u32(0);
        w.bytes(type_data);
        w.bytes(ec);
        w.end(sp);
        ++objects;
    }

    // Header extension, with the extended properties of every stream (bit rate, buffer,
    // frame time) that readers take the per-stream bit rate from.
    size_t he = w.begin(kHeaderExtension);
    w.guid(kHeaderExtensionReserved);
    w.u16(6);
    size_t he_size = w.size();
    w.u32(0);
    for (size_t i = 0; i < layout_.streams.size(); ++i) {
        const AsfStream &s = layout_.streams[i];
        uint32_t rate = totals && i < totals->bitrates.size() ? totals->bitrates[i] : s.bitrate;
        size_t ep = w.begin(kExtendedStreamProperties);
        w.u64(0);  // start time
        w.u64(0);  // end time
        w.u32(rate);
        w.u32(s.buffer_ms);
        w.u32(s.buffer_ms);
        w.u32(rate);
        w.u32(s.buffer_ms);
        w.u32(s.buffer_ms);
        w.u32(0);     // largest object: not known in advance
        w.u32(0x02);  // seekable
        w.u16(uint16_t(s.number & 0x7F));
        w.u16(0);  // language index
        w.u64(s.frame_time_100ns);
        w.u16(0);  // stream names
        w.u16(0);  // payload extension systems
        w.end(ep);
    }
    {
        uint32_t n = uint32_t(w.size() - he_size - 4);
        for (int i = 0; i < 4; ++i) b[he_size + i] = uint8_t(n >> (8 * i));
    }
    w.end(he);
    ++objects;

    // Codec list.
    size_t cl = w.begin(kCodecList);
    w.guid(kCodecListReserved);
    w.u32(uint32_t(layout_.streams.size()));
    for (const AsfStream &s : layout_.streams) {
        w.u16(s.video ? 1 : 2);
        w.wstr_counted(s.codec_name);
        w.wstr_counted(s.codec_description);
        if (s.video) {
            w.u16(4);
            w.u32(s.fourcc);
        } else {
            w.u16(2);
            w.u16(s.format_tag);
        }
    }
    w.end(cl);
    ++objects;

    // Stream bitrate properties.
    size_t sb = w.begin(kStreamBitrateProperties);
    w.u16(uint16_t(layout_.streams.size()));
    for (size_t i = 0; i < layout_.streams.size(); ++i) {
        w.u16(uint16_t(layout_.streams[i].number & 0x7F));
        w.u32(totals && i < totals->bitrates.size() ? totals->bitrates[i] : layout_.streams[i].bitrate);
    }
    w.end(sb);
    ++objects;

    if (layout_.exclusive_streams.size() > 1) {
        size_t mx = w.begin(kBitrateMutualExclusion);
        w.guid(kMutexBitrate);
        w.u16(uint16_t(layout_.exclusive_streams.size()));
        for (int n : layout_.exclusive_streams) w.u16(uint16_t(n));
        w.end(mx);
        ++objects;
    }

    w.end(hdr);
    for (int i = 0; i < 4; ++i) b[count_at + i] = uint8_t(objects >> (8 * i));

    // Start of the data object. While growing, its size is that of the start alone: readers
    // take a data object of 50 bytes as a live one whose packets run to the end of the file.
    w.guid(kDataObject);
    w.u64(final_form ? 50 + totals->packets * layout_.packet_size : 50);
    w.bytes(file_id_, 16);
    w.u64(final_form ? totals->packets : 0);
    w.u8(1);
    w.u8(1);
    return b;
}

void AsfMuxer::begin_packet() {
    std::fill(packet_.begin(), packet_.end(), 0);
    pos_ = kPacketHeader;
    payloads_ = 0;
}

void AsfMuxer::add(int stream_number, const uint8_t *data, size_t size, int64_t pts_ms, int64_t duration_ms,
                   bool key) {
    int sn = stream_number & 0x7F;
    // Times before zero (an audio encoder's priming frame) stay in the preroll, which every
    // presentation time includes; send times cannot go below zero.
    pts_ms = std::max<int64_t>(pts_ms, -int64_t(layout_.preroll_ms));
    uint32_t pres = uint32_t(pts_ms + layout_.preroll_ms);
    uint8_t object = object_no_[sn]++;
    uint64_t first_packet = packet_no_;
    size_t offset = 0;
    do {
        if (payloads_ == 0) {
            begin_packet();
            packet_send_ms_ = std::max<int64_t>(pts_ms, 0);
            packet_end_ms_ = packet_send_ms_;
        }
        size_t room = packet_.size() - pos_;
        if (room <= kPayloadHeader || payloads_ == kMaxPayloads) {
            emit_packet();
            continue;
        }
        size_t chunk = std::min(size - offset, room - kPayloadHeader);
        uint8_t *p = packet_.data() + pos_;
        p[0] = uint8_t(sn | (key ? 0x80 : 0));
        p[1] = object;
        put32(p + 2, uint32_t(offset));
        p[6] = 8;
        put32(p + 7, uint32_t(size));
        put32(p + 11, pres);
        put16(p + 15, uint16_t(chunk));
        std::memcpy(p + kPayloadHeader, data + offset, chunk);
        pos_ += kPayloadHeader + chunk;
        offset += chunk;
        ++payloads_;
        packet_end_ms_ = std::max(packet_end_ms_, pts_ms);
        if (offset < size) emit_packet();
    } while (offset < size);
    // The object is complete in the packet being filled, whenever that goes out.
    complete_end_ms_ = std::max(complete_end_ms_, pts_ms + std::max<int64_t>(duration_ms, 0));
    // A packet that cannot take another payload header goes out now.
    if (payloads_ && (packet_.size() - pos_ <= kPayloadHeader || payloads_ == kMaxPayloads)) emit_packet();

    bytes_[sn] += size;
    ++objects_[sn];
    end_ms_ = std::max(end_ms_, pts_ms + std::max<int64_t>(duration_ms, 0));
    if (key && sn == layout_.index_stream) {
        uint64_t last = payloads_ ? packet_no_ : packet_no_ - 1;
        keys_.push_back({int64_t(pres), uint32_t(first_packet), uint32_t(last - first_packet + 1)});
    }
}

void AsfMuxer::emit_packet() {
    if (payloads_ == 0) return;
    uint8_t *p = packet_.data();
    size_t padding = packet_.size() - pos_;
    p[0] = 0x82;  // error correction data present, 2 bytes
    p[1] = 0;
    p[2] = 0;
    p[3] = 0x11;  // several payloads; padding length is a WORD; packet length implied
    p[4] = 0x5D;  // replicated data length BYTE, offset DWORD, object number BYTE, stream BYTE
    put16(p + 5, uint16_t(padding));
    put32(p + 7, uint32_t(packet_send_ms_));
    put16(p + 11, uint16_t(std::min<int64_t>(packet_end_ms_ - packet_send_ms_, 0xFFFF)));
    p[13] = uint8_t(0x80 | payloads_);  // payload lengths are WORDs
    last_send_ms_ = std::max(last_send_ms_, packet_send_ms_);
    packet_times_.push_back({last_send_ms_, complete_end_ms_});
    ++packet_no_;
    payloads_ = 0;
    on_packet_(packet_.data(), packet_.size());
}

void AsfMuxer::flush() { emit_packet(); }

int64_t AsfMuxer::end_ms_within(uint64_t count) const {
    count = std::min<uint64_t>(count, packet_times_.size());
    return count ? std::max<int64_t>(packet_times_[count - 1].end_ms, 0) : 0;
}

int64_t AsfMuxer::send_ms_within(uint64_t count) const {
    count = std::min<uint64_t>(count, packet_times_.size());
    return count ? std::max<int64_t>(packet_times_[count - 1].send_ms, 0) : 0;
}

uint64_t AsfMuxer::stream_bytes(int stream_number) const { return bytes_[stream_number & 0x7F]; }

Bytes AsfMuxer::simple_index(uint64_t interval_100ns) const {
    Bytes b;
    if (layout_.index_stream == 0 || keys_.empty()) return b;
    uint64_t end_100ns = uint64_t(end_ms_ + layout_.preroll_ms) * 10000;
    uint32_t entries = uint32_t(end_100ns / interval_100ns + 1);
    Writer w(b);
    size_t at = w.begin(kSimpleIndexObject);
    w.bytes(file_id_, 16);
    w.u64(interval_100ns);
    uint32_t max_count = 0;
    for (const KeyObject &k : keys_) max_count = std::max(max_count, k.packet_count);
    w.u32(max_count);
    w.u32(entries);
    size_t k = 0;
    for (uint32_t i = 0; i < entries; ++i) {
        int64_t t_ms = int64_t(uint64_t(i) * interval_100ns / 10000);
        while (k + 1 < keys_.size() && keys_[k + 1].pres_ms <= t_ms) ++k;
        w.u32(keys_[k].first_packet);
        w.u16(uint16_t(keys_[k].packet_count));
    }
    w.end(at);
    return b;
}

}  // namespace tw::posix::asf
