// Helpers of the ASF writer tests: generated pictures and sound, and a reader that opens a
// finished file with libavformat and reports what a player would see.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace asftest {

// A moving test picture, I420 (or BGRA, bottom-up as DirectShow's RGB32) of w x h.
std::vector<uint8_t> make_i420(int w, int h, int frame);
std::vector<uint8_t> make_rgb32(int w, int h, int frame);
// Interleaved 16-bit PCM sine, `samples` frames starting at sample `first`.
std::vector<uint8_t> make_pcm(int rate, int channels, int64_t first, int samples);

struct StreamInfo {
    bool video = false;
    std::string codec;
    int width = 0, height = 0;
    int sample_rate = 0, channels = 0;
    int64_t declared_bitrate = 0;
    int64_t packets = 0, bytes = 0, key_packets = 0;
    int64_t first_pts_ms = -1, last_pts_ms = -1;
    int decoded = 0, decode_errors = 0;
    double frame_rate = 0;        // the reader's idea of the stream's frame rate (r_frame_rate)
    std::vector<int64_t> pts_ms;  // of every packet, in file order
};

// Packets of a video stream whose time is not on the grid of `fps` frames a second (1 ms
// rounding allowed); 0 for a constant-frame-rate stream.
int frames_off_grid(const StreamInfo &s, double fps);

struct FileInfo {
    bool opened = false;
    std::string error;
    double duration_s = -1;  // from the header; -1 if unknown
    std::vector<StreamInfo> streams;
    int video_streams() const;
    const StreamInfo *first_video() const;
    const StreamInfo *first_audio() const;
};

// Opens the file, reads every packet and decodes every stream.
FileInfo probe(const std::string &path);
// Seeks the first video stream (or the first stream) to `seconds` and returns the time of the
// first packet read after it, or -1 on failure. `key` tells whether that packet is a key frame.
double seek_and_read(const std::string &path, double seconds, bool *key);
// True if the file holds a simple index object after its data.
bool has_simple_index(const std::string &path);
// Mean luma of a rectangle of the first decoded picture of the first video stream; -1 on failure.
double first_frame_luma(const std::string &path, int x, int y, int w, int h);
// The same for each decoded picture, with its time in seconds from the first.
std::vector<std::pair<double, double>> frame_lumas(const std::string &path, int x, int y, int w, int h,
                                                   size_t max_frames = SIZE_MAX);

// A fresh directory under the system's temporary directory, removed with its content at exit.
std::string temp_dir();

}  // namespace asftest
