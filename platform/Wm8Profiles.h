// The settings our WM ASF Writer on Linux encodes with, one row per stream of each of the 27 Windows
// Media 8 system profiles. The figures are carried over from wm8-profiles.csv; the profile's
// streams are listed in the order the filter creates inputs for them (audio first).
// Plain data, shared by both targets, so the programs can show what a profile records.
#pragma once

#include "platform/com.h"

#include <cstddef>
#include <vector>

namespace tw::wm8 {

enum class StreamKind { kAudio, kVideo };

struct StreamSetting {
    int profile;          // index of the profile (TWMPofiles8 value)
    StreamKind kind;
    int bitrate;          // bits per second; 0 for the quality-based (VBR) rows
    int width, height;    // video frame size
    int fps_num, fps_den; // video frame rate
    int keyframe_ms;      // longest distance between key frames
    int buffer_ms;        // rate-control buffer window
    int quality;          // VBR quality 0..100 (rows with bitrate 0); ignored otherwise
    int sample_rate;      // audio
    int channels;         // audio
};

struct ProfileInfo {
    int index;
    const char *name;  // the system profile's constant name
    GUID guid;
};

// The 27 profiles in TWMPofiles8 order.
const ProfileInfo *profiles(size_t *count);
// Index of the profile with this GUID, or -1.
int profile_from_guid(const GUID &guid);
// The streams of profile `index` (audio first, then the video variants), empty if unknown.
std::vector<StreamSetting> profile_streams(int index);

// Bit rate our WMA encoder uses for an audio row: the row's figure, raised to the encoder's
// floor; for the quality-based rows a rate chosen from the quality, since the WMA encoder has
// no quality mode.
int audio_encode_bitrate(const StreamSetting &s);
// The lowest bit rate FFmpeg's wmav2 encoder accepts.
constexpr int kWmaMinBitrate = 24000;

}  // namespace tw::wm8
