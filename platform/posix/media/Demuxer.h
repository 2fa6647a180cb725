// Demuxer: one opened media source (a local path or any URL libavformat reads), the packets
// of its streams, and seeking.
//
// Opening maps every failure to the HRESULT Windows reports for the same situation:
//   missing file                      HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) 0x80070002
//   missing directory on the path     HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) 0x80070003
//   no permission, or a directory     E_ACCESSDENIED 0x80070005
//   data no demuxer recognises,       VFW_E_UNKNOWN_FILE_TYPE 0x80040240
//     a zero-byte file included (nothing in it can be recognised)
//   a recognised container that       VFW_E_INVALID_FILE_FORMAT 0x8004022F
//     cannot be read (truncated, corrupt headers)
//   media without audio or video      VFW_E_UNSUPPORTED_STREAM 0x80040265
//   unknown URL scheme                HRESULT_FROM_WIN32(ERROR_INVALID_NAME) 0x8007007B
//     (Windows takes such a string for a file name with a bad character)
//   HTTP 404                          HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
//   HTTP 401/403                      E_ACCESSDENIED
//   connection refused                HRESULT_FROM_WIN32(WSAECONNREFUSED) 0x8007274D
//   no answer in time, host or        HRESULT_FROM_WIN32(WSAETIMEDOUT) 0x8007274C
//     network unreachable
//   host name not resolved            HRESULT_FROM_WIN32(WSAHOST_NOT_FOUND) 0x80072AF9
//   connection reset                  HRESULT_FROM_WIN32(WSAECONNRESET) 0x80072746
//   aborted (Interrupt::abort)        E_ABORT
//   a file open in this process for   HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) 0x80070020
//     writing without read sharing
//
// Threads: open, read and seek are called from one thread at a time (the caller's lock or
// thread structure guarantees it); Interrupt::abort may be called from any thread and makes
// a blocking open or read return E_ABORT promptly.
#pragma once

#include "platform/posix/media/FFmpeg.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tw::posix::media {

// The interrupt callback FFmpeg polls during blocking I/O: an abort flag set from any thread,
// and a deadline for the call in progress so that a silent network peer cannot hang us.
class Interrupt {
public:
    void abort() { aborted_ = true; }
    void clear() {
        aborted_ = false;
        timed_out_ = false;
    }
    bool aborted() const { return aborted_; }
    bool timed_out() const { return timed_out_; }

    // Arms a deadline `d` from now for the blocking call that follows; disarm() ends it.
    void arm(std::chrono::steady_clock::duration d);
    void disarm() { deadline_ = 0; }

    // An extra abort condition polled with the flag (the graph's Abort during RenderFile).
    // Set and cleared by the thread that makes the blocking call, around it.
    void set_external(std::function<bool()> aborted) { external_ = std::move(aborted); }

    AVIOInterruptCB callback() { return AVIOInterruptCB{&Interrupt::check, this}; }

private:
    std::function<bool()> external_;
    static int check(void *self);
    std::atomic<bool> aborted_{false};
    std::atomic<bool> timed_out_{false};
    std::atomic<int64_t> deadline_{0};  // steady_clock ticks; 0 = none
};

struct DemuxerOptions {
    // How long a network open, or a read that gets no data, may take before it fails with
    // WSAETIMEDOUT.
    std::chrono::milliseconds network_timeout{20000};
};

class Demuxer {
public:
    Demuxer() = default;
    ~Demuxer();
    Demuxer(const Demuxer &) = delete;
    Demuxer &operator=(const Demuxer &) = delete;

    // Opens `url` (UTF-8) and reads its stream information. S_OK or a code listed above.
    HRESULT open(const std::string &url, const DemuxerOptions &options = {});
    void close();

    Interrupt &interrupt() { return interrupt_; }

    AVFormatContext *context() const { return ctx_; }
    unsigned stream_count() const { return ctx_ ? ctx_->nb_streams : 0; }
    AVStream *stream(unsigned i) const { return ctx_->streams[i]; }
    // Indexes of the audio and video streams with a known codec, in file order.
    const std::vector<int> &media_streams() const { return media_streams_; }

    // Reads the next packet into `pkt` (unreferenced first). S_OK; S_FALSE at the end of the
    // source; E_ABORT when interrupted; a failure when the source breaks (a network drop,
    // corrupt data the demuxer cannot pass).
    HRESULT read(AVPacket *pkt);

    // Seeks every stream to the last key frame at or before `t` (100 ns, from the start of
    // the source). S_OK, E_NOTIMPL when the source cannot seek, or the failure.
    HRESULT seek(int64_t t);

    // Duration in 100 ns, 0 when unknown (as found when opening). Any thread.
    int64_t duration() const { return duration_; }
    // The source time (100 ns) that counts as time 0: the earliest start of its streams.
    int64_t start_time() const { return start_time_; }
    // Packet time in 100 ns relative to start_time(); AV_NOPTS_VALUE stays.
    int64_t packet_time(const AVPacket *pkt, int64_t ts) const;

    // Any thread.
    bool seekable() const { return seekable_; }
    // A network source: its data comes at the pace the peer sends it.
    bool network() const { return network_; }
    const std::string &url() const { return url_; }
    // A readable name for the source: the file name of a path, the URL otherwise.
    std::string display_name() const;

private:
    HRESULT open_with_probe(const std::string &target, AVDictionary **opts, AVIOContext *pb = nullptr);
    HRESULT open_local_file(const std::string &path, AVDictionary **opts);  // through a handle of ours
    HRESULT open_stream_file(const std::string &path, AVDictionary **opts);
    static int read_stream_file(void *self, uint8_t *buf, int size);
    void free_io(AVIOContext **pb);
    HRESULT open_direct(const std::string &target, AVDictionary **opts);
    HRESULT finish_open(int probe_score);
    HRESULT open_error(int err, int probe_score) const;

    Interrupt interrupt_;
    DemuxerOptions options_;
    AVFormatContext *ctx_ = nullptr;
    AVIOContext *own_pb_ = nullptr;  // our own I/O context when we probed ourselves
    HANDLE file_ = nullptr;          // a local file's handle (CreateFile), held while open
    int file_fd_ = -1;               // its descriptor, read by own_pb_
    int stream_fd_ = -1;             // the descriptor behind own_pb_ for a pipe or device
    std::vector<int> media_streams_;
    std::string url_;
    std::string local_path_;  // non-empty for a local file
    bool network_ = false;
    int64_t start_time_ = 0;
    int64_t duration_ = 0;
    bool seekable_ = false;
};

// Splits a source string: a local path (plain, or file: URL) gives its path; otherwise "".
std::string local_path_of(const std::string &source);
// The scheme of a URL in lower case ("" for a plain path).
std::string scheme_of(const std::string &source);

}  // namespace tw::posix::media
