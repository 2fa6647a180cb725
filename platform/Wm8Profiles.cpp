#include "platform/Wm8Profiles.h"

#include <algorithm>

namespace tw::wm8 {

namespace {

const ProfileInfo kProfiles[] = {
    { 0, "WMProfile_V80_255VideoPDA", {0xFEEDBCDF, 0x3FAC, 0x4C93, {0xAC,0x0D,0x47,0x94,0x1E,0xC7,0x2C,0x0B}}},
    { 1, "WMProfile_V80_150VideoPDA", {0xAEE16DFA, 0x2C14, 0x4A2F, {0xAD,0x3F,0xA3,0x03,0x40,0x31,0x78,0x4F}}},
    { 2, "WMProfile_V80_28856VideoMBR", {0xD66920C4, 0xC21F, 0x4EC8, {0xA0,0xB4,0x95,0xCF,0x2B,0xD5,0x7F,0xC4}}},
    { 3, "WMProfile_V80_100768VideoMBR", {0x5BDB5A0E, 0x979E, 0x47D3, {0x95,0x96,0x73,0xB3,0x86,0x39,0x2A,0x55}}},
    { 4, "WMProfile_V80_288100VideoMBR", {0xD8722C69, 0x2419, 0x4B36, {0xB4,0xE0,0x6E,0x17,0xB6,0x05,0x64,0xE5}}},
    { 5, "WMProfile_V80_288Video", {0x3DF678D9, 0x1352, 0x4186, {0xBB,0xF8,0x74,0xF0,0xC1,0x9B,0x6A,0xE2}}},
    { 6, "WMProfile_V80_56Video", {0x254E8A96, 0x2612, 0x405C, {0x80,0x39,0xF0,0xBF,0x72,0x5C,0xED,0x7D}}},
    { 7, "WMProfile_V80_100Video", {0xA2E300B4, 0xC2D4, 0x4FC0, {0xB5,0xDD,0xEC,0xBD,0x94,0x8D,0xC0,0xDF}}},
    { 8, "WMProfile_V80_256Video", {0xBBC75500, 0x33D2, 0x4466, {0xB8,0x6B,0x12,0x2B,0x20,0x1C,0xC9,0xAE}}},
    { 9, "WMProfile_V80_384Video", {0x29B00C2B, 0x09A9, 0x48BD, {0xAD,0x09,0xCD,0xAE,0x11,0x7D,0x1D,0xA7}}},
    {10, "WMProfile_V80_768Video", {0x74D01102, 0xE71A, 0x4820, {0x8F,0x0D,0x13,0xD2,0xEC,0x1E,0x48,0x72}}},
    {11, "WMProfile_V80_700NTSCVideo", {0xC8C2985F, 0xE5D9, 0x4538, {0x9E,0x23,0x9B,0x21,0xBF,0x78,0xF7,0x45}}},
    {12, "WMProfile_V80_1400NTSCVideo", {0x931D1BEE, 0x617A, 0x4BCD, {0x99,0x05,0xCC,0xD0,0x78,0x66,0x83,0xEE}}},
    {13, "WMProfile_V80_384PALVideo", {0x9227C692, 0xAE62, 0x4F72, {0xA7,0xEA,0x73,0x60,0x62,0xD0,0xE2,0x1E}}},
    {14, "WMProfile_V80_700PALVideo", {0xEC298949, 0x639B, 0x45E2, {0x96,0xFD,0x4A,0xB3,0x2D,0x59,0x19,0xC2}}},
    {15, "WMProfile_V80_288MonoAudio", {0x7EA3126D, 0xE1BA, 0x4716, {0x89,0xAF,0xF6,0x5C,0xEE,0x0C,0x0C,0x67}}},
    {16, "WMProfile_V80_288StereoAudio", {0x7E4CAB5C, 0x35DC, 0x45BB, {0xA7,0xC0,0x19,0xB2,0x80,0x70,0xD0,0xCC}}},
    {17, "WMProfile_V80_32StereoAudio", {0x60907F9F, 0xB352, 0x47E5, {0xB2,0x10,0x0E,0xF1,0xF4,0x7E,0x9F,0x9D}}},
    {18, "WMProfile_V80_48StereoAudio", {0x5EE06BE5, 0x492B, 0x480A, {0x8A,0x8F,0x12,0xF3,0x73,0xEC,0xF9,0xD4}}},
    {19, "WMProfile_V80_64StereoAudio", {0x09BB5BC4, 0x3176, 0x457F, {0x8D,0xD6,0x3C,0xD9,0x19,0x12,0x3E,0x2D}}},
    {20, "WMProfile_V80_96StereoAudio", {0x1FC81930, 0x61F2, 0x436F, {0x9D,0x33,0x34,0x9F,0x2A,0x1C,0x0F,0x10}}},
    {21, "WMProfile_V80_128StereoAudio", {0x407B9450, 0x8BDC, 0x4EE5, {0x88,0xB8,0x6F,0x52,0x7B,0xD9,0x41,0xF2}}},
    {22, "WMProfile_V80_288VideoOnly", {0x8C45B4C7, 0x4AEB, 0x4F78, {0xA5,0xEC,0x88,0x42,0x0B,0x9D,0xAD,0xEF}}},
    {23, "WMProfile_V80_56VideoOnly", {0x6E2A6955, 0x81DF, 0x4943, {0xBA,0x50,0x68,0xA9,0x86,0xA7,0x08,0xF6}}},
    {24, "WMProfile_V80_FAIRVBRVideo", {0x3510A862, 0x5850, 0x4886, {0x83,0x5F,0xD7,0x8E,0xC6,0xA6,0x40,0x42}}},
    {25, "WMProfile_V80_HIGHVBRVideo", {0x0F10D9D3, 0x3B04, 0x4FB0, {0xA3,0xD3,0x88,0xD4,0xAC,0x85,0x4A,0xCC}}},
    {26, "WMProfile_V80_BESTVBRVideo", {0x048439BA, 0x309C, 0x440E, {0x9C,0xB4,0x3D,0xCC,0xA3,0x75,0x64,0x23}}},
};

constexpr StreamKind kAudio = StreamKind::kAudio;
constexpr StreamKind kVideo = StreamKind::kVideo;

// profile, kind, bit rate, width, height, fps (num/den), key-frame ms, buffer ms, VBR quality,
// sample rate, channels. One line per row of wm8-profiles.csv.
const StreamSetting kStreams[] = {
    { 0, kAudio,   32000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 255VideoPDA
    { 0, kVideo,  193000, 208, 160,    15,    1, 8000, 5000,  0,     0, 0},  // 255VideoPDA
    { 1, kAudio,   32000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 150VideoPDA
    { 1, kVideo,  118000, 208, 160,    15,    1, 8000, 5000,  0,     0, 0},  // 150VideoPDA
    { 2, kAudio,    8000,   0,   0,     0,    0,    0, 5000,  0,  8000, 1},  // 28856VideoMBR shared
    { 2, kVideo,   14000, 160, 120,    15,    1, 8000, 5000,  0,     0, 0},  // 28856VideoMBR 28.8k
    { 2, kVideo,   29000, 160, 120,    15,    1, 8000, 5000,  0,     0, 0},  // 28856VideoMBR 56k
    { 3, kAudio,   32000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 100768VideoMBR shared
    { 3, kVideo,   68000, 320, 240, 30000, 1001, 8000, 5000,  0,     0, 0},  // 100768VideoMBR 100k
    { 3, kVideo,  224000, 320, 240, 30000, 1001, 8000, 5000,  0,     0, 0},  // 100768VideoMBR 256k
    { 3, kVideo,  352000, 320, 240, 30000, 1001, 8000, 5000,  0,     0, 0},  // 100768VideoMBR 384k
    { 3, kVideo,  736000, 320, 240, 30000, 1001, 8000, 5000,  0,     0, 0},  // 100768VideoMBR 768k
    { 4, kAudio,    8000,   0,   0,     0,    0,    0, 5000,  0,  8000, 1},  // 288100VideoMBR shared
    { 4, kVideo,   14000, 160, 120,    15,    1, 8000, 5000,  0,     0, 0},  // 288100VideoMBR 28.8k
    { 4, kVideo,   29000, 160, 120,    15,    1, 8000, 5000,  0,     0, 0},  // 288100VideoMBR 56k
    { 4, kVideo,   92000, 160, 120,    15,    1, 8000, 5000,  0,     0, 0},  // 288100VideoMBR 100k
    { 5, kAudio,    8000,   0,   0,     0,    0,    0, 5000,  0,  8000, 1},  // 288Video
    { 5, kVideo,   14000, 160, 120,    15,    1, 8000, 5000,  0,     0, 0},  // 288Video
    { 6, kAudio,   16000,   0,   0,     0,    0,    0, 5000,  0, 16000, 1},  // 56Video
    { 6, kVideo,   21000, 176, 144,    15,    1, 8000, 5000,  0,     0, 0},  // 56Video
    { 7, kAudio,   16000,   0,   0,     0,    0,    0, 5000,  0, 16000, 2},  // 100Video
    { 7, kVideo,   84000, 240, 180,    15,    1, 8000, 5000,  0,     0, 0},  // 100Video
    { 8, kAudio,   32000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 256Video
    { 8, kVideo,  224000, 320, 240, 30000, 1001, 8000, 5000,  0,     0, 0},  // 256Video
    { 9, kAudio,   32000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 384Video
    { 9, kVideo,  352000, 320, 240, 30000, 1001, 8000, 5000,  0,     0, 0},  // 384Video
    {10, kAudio,   64000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 768Video
    {10, kVideo,  704000, 320, 240, 30000, 1001, 8000, 5000,  0,     0, 0},  // 768Video
    {11, kAudio,   64000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 700NTSCVideo
    {11, kVideo,  636000, 640, 480, 30000, 1001, 8000, 5000,  0,     0, 0},  // 700NTSCVideo
    {12, kAudio,  128000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 1400NTSCVideo
    {12, kVideo, 1272000, 640, 480, 30000, 1001, 8000, 5000,  0,     0, 0},  // 1400NTSCVideo
    {13, kAudio,   32000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 384PALVideo
    {13, kVideo,  352000, 384, 288,    25,    1, 8000, 5000,  0,     0, 0},  // 384PALVideo
    {14, kAudio,   64000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 700PALVideo
    {14, kVideo,  636000, 768, 576,    25,    1, 8000, 5000,  0,     0, 0},  // 700PALVideo
    {15, kAudio,   20000,   0,   0,     0,    0,    0, 5000,  0, 22050, 1},  // 288MonoAudio
    {16, kAudio,   20000,   0,   0,     0,    0,    0, 5000,  0, 22050, 2},  // 288StereoAudio
    {17, kAudio,   32000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 32StereoAudio
    {18, kAudio,   48000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 48StereoAudio
    {19, kAudio,   64000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 64StereoAudio
    {20, kAudio,   96000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 96StereoAudio
    {21, kAudio,  128000,   0,   0,     0,    0,    0, 5000,  0, 44100, 2},  // 128StereoAudio
    {22, kVideo,   22000, 160, 120,    15,    1, 8000, 5000,  0,     0, 0},  // 288VideoOnly
    {23, kVideo,   37000, 176, 144,    15,    1, 8000, 5000,  0,     0, 0},  // 56VideoOnly
    {24, kAudio,       0,   0,   0,     0,    0,    0,    0, 50, 44100, 2},  // FAIRVBRVideo
    {24, kVideo,       0, 320, 240, 30000, 1001, 8000,    0, 50,     0, 0},  // FAIRVBRVideo
    {25, kAudio,       0,   0,   0,     0,    0,    0,    0, 75, 44100, 2},  // HIGHVBRVideo
    {25, kVideo,       0, 320, 240, 30000, 1001, 8000,    0, 75,     0, 0},  // HIGHVBRVideo
    {26, kAudio,       0,   0,   0,     0,    0,    0,    0, 98, 44100, 2},  // BESTVBRVideo
    {26, kVideo,       0, 320, 240, 30000, 1001, 8000,    0, 98,     0, 0},  // BESTVBRVideo
};

}  // namespace

const ProfileInfo *profiles(size_t *count) {
    *count = sizeof(kProfiles) / sizeof(kProfiles[0]);
    return kProfiles;
}

int profile_from_guid(const GUID &guid) {
    for (const ProfileInfo &p : kProfiles)
        if (p.guid == guid) return p.index;
    return -1;
}

std::vector<StreamSetting> profile_streams(int index) {
    std::vector<StreamSetting> out;
    for (const StreamSetting &s : kStreams)
        if (s.profile == index) out.push_back(s);
    std::stable_sort(out.begin(), out.end(), [](const StreamSetting &a, const StreamSetting &b) {
        return a.kind == StreamKind::kAudio && b.kind != StreamKind::kAudio;
    });
    return out;
}

int audio_encode_bitrate(const StreamSetting &s) {
    int rate = s.bitrate;
    if (rate == 0) {
        // Quality-based rows: the WMA encoder is bit-rate driven, so the quality picks a tier.
        rate = s.quality >= 90 ? 128000 : s.quality >= 70 ? 96000 : 64000;
    }
    return std::max(rate, kWmaMinBitrate);
}

}  // namespace tw::wm8
