#include "platform/posix/net/Broadcast.h"

#include "platform/wmf.h"

#include <cstring>

namespace tw::posix::net {

HRESULT Broadcast::check_header(const uint8_t *data, size_t length, AsfHeaderInfo *info, bool *same) const {
    auto parsed = parse_header(data, length, nullptr);
    if (!parsed) return NS_E_INVALID_DATA;
    *same = header_ && header_->live_header == parsed->live_header;
    *info = std::move(*parsed);
    return S_OK;
}

void Broadcast::start(AsfHeaderInfo info) {
    header_ = std::move(info);
    framed_header_ = std::make_shared<std::vector<uint8_t>>(frame_header(header_->live_header));
    raw_header_ = std::make_shared<std::vector<uint8_t>>(header_->live_header);
    next_location_ = 0;
    backlog_.clear();
    backlog_bytes_ = 0;
}

void Broadcast::end() {
    header_.reset();
    framed_header_.reset();
    raw_header_.reset();
    backlog_.clear();
    backlog_bytes_ = 0;
}

HRESULT Broadcast::add(const uint8_t *data, size_t length, Packet *out) {
    if (!header_) return NS_E_INVALID_REQUEST;  // no header: nothing to put the packet in
    if (length != header_->packet_size) return NS_E_INVALID_DATA;
    const bool key = starts_key_frame(data, length, header_->video_streams);
    auto bytes = std::make_shared<std::vector<uint8_t>>(kFramedPrefix + length);
    frame_data_prefix(bytes->data(), next_location_++, uint32_t(length));
    std::memcpy(bytes->data() + kFramedPrefix, data, length);
    Bytes packet = std::move(bytes);

    // Keep what a joining client needs: everything since the last key frame, and the key
    // frame's packet as a client starting there should see it.
    if (key) {
        backlog_.clear();
        backlog_bytes_ = 0;
        auto join = std::make_shared<std::vector<uint8_t>>(*packet);
        drop_video_before_key_frame(join->data() + kFramedPrefix, length, header_->video_streams);
        join_packet_ = std::move(join);
    }
    if (key || !backlog_.empty()) {
        backlog_.push_back(packet);
        backlog_bytes_ += packet->size();
        if (backlog_bytes_ > backlog_limit_) {
            backlog_.clear();  // too far from a key frame; the next one starts anew
            backlog_bytes_ = 0;
        }
    }
    *out = Packet{std::move(packet), key};
    return S_OK;
}

std::vector<Broadcast::Bytes> Broadcast::joining() const {
    std::vector<Bytes> r;
    for (size_t i = 0; i < backlog_.size(); ++i) r.push_back(i == 0 ? join_packet_ : backlog_[i]);
    return r;
}

Broadcast::Bytes Broadcast::for_client(const Packet &p, bool *in_step) const {
    if (*in_step) return p.framed;
    if (!p.key) return nullptr;
    *in_step = true;
    return join_packet_;
}

}  // namespace tw::posix::net
