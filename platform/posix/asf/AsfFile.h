// The output file of a recording. The provisional header goes in first, so a file whose
// process dies still opens as a live (broadcast) stream up to the last packet that reached it;
// finish() writes the final header over it, appends the index and drops a torn last packet.
#pragma once

#include "platform/com.h"
#include "platform/posix/asf/AsfMuxer.h"

#include <functional>
#include <string>

namespace tw::posix::asf {

// HRESULT of an errno value, as the platform reports file errors.
HRESULT hresult_from_errno(int err);

class AsfFile {
public:
    AsfFile() = default;
    ~AsfFile();
    AsfFile(const AsfFile &) = delete;
    AsfFile &operator=(const AsfFile &) = delete;

    // Creates or replaces the file. Fails with the system's code.
    HRESULT create(const std::string &path);
    HRESULT write_header(const Bytes &header);
    // Appends one data packet. Packets are collected and written in blocks; flush() pushes them
    // to the system.
    HRESULT write_packet(const uint8_t *data, size_t size);
    HRESULT flush();
    // Number of whole packets that reached the file.
    uint64_t packets_on_disk() const { return on_disk_; }
    // Cuts the file after the last whole packet, appends `index`, writes the header that
    // make_header gives for the resulting file size over the provisional one (same size) and
    // closes. Works also after a write failure, to leave what was written playable.
    HRESULT finish(const std::function<Bytes(uint64_t file_size, uint64_t packets)> &make_header,
                   const Bytes &index);
    bool is_open() const { return fd_ >= 0; }
    void close();

private:
    HRESULT write_all(const uint8_t *p, size_t n);
    HANDLE handle_ = nullptr;  // from CreateFile; fd_ is its descriptor
    int fd_ = -1;
    size_t header_size_ = 0;
    size_t packet_size_ = 0;
    Bytes pending_;
    uint64_t pending_packets_ = 0;
    uint64_t on_disk_ = 0;
};

}  // namespace tw::posix::asf
