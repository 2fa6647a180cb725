// Media clips for the media tests, made with the ffmpeg command-line tool into a temporary
// directory the first time a test asks for one, and removed when the test program ends.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

namespace media_fixtures {

inline const std::filesystem::path &dir() {
    static std::filesystem::path d = [] {
        char tmpl[] = "/tmp/tw-media-XXXXXX";
        const char *p = mkdtemp(tmpl);
        if (!p) abort();
        std::filesystem::path path(p);
        static struct Cleanup {
            std::filesystem::path p;
            ~Cleanup() {
                std::error_code ec;
                std::filesystem::remove_all(p, ec);
            }
        } cleanup{path};
        return path;
    }();
    return d;
}

// Arguments for ffmpeg that make each named clip (written to the file of that name).
inline const std::map<std::string, std::string> &recipes() {
    static const std::map<std::string, std::string> r = {
        // H.264 with B-frames (reordered time stamps) and AAC.
        {"h264_aac.mp4",
         "-f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 "
         "-c:v libx264 -preset ultrafast -g 12 -bf 2 -pix_fmt yuv420p -c:a aac -shortest"},
        {"vp8_vorbis.mkv",
         "-f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi -i sine=sample_rate=48000:duration=2 "
         "-c:v libvpx -deadline realtime -cpu-used 8 -c:a libvorbis"},
        {"vp8_opus.webm",
         "-f lavfi -i testsrc=size=320x240:rate=30:duration=2 -f lavfi -i sine=duration=2 "
         "-c:v libvpx -deadline realtime -cpu-used 8 -c:a libopus"},
        // Odd picture size.
        {"mjpeg_pcm_161x97.avi",
         "-f lavfi -i testsrc=size=161x97:rate=15:duration=2 -f lavfi -i sine=sample_rate=22050:duration=2 "
         "-c:v mjpeg -pix_fmt yuvj420p -c:a pcm_s16le"},
        {"mjpeg_4s.avi", "-f lavfi -i testsrc=size=160x120:rate=15:duration=4 -c:v mjpeg -pix_fmt yuvj420p"},
        {"mpeg2_mp2.ts",
         "-f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi -i sine=duration=2 -c:v mpeg2video -c:a mp2"},
        {"audio_only.wav", "-f lavfi -i sine=duration=2:sample_rate=44100 -ac 2"},
        {"video_only.mp4",
         "-f lavfi -i testsrc=size=320x240:rate=25:duration=2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p"},
        // Two minutes of a tiny clip, for memory bounds.
        {"long_tiny.mkv",
         "-f lavfi -i testsrc=size=64x48:rate=25:duration=120 -f lavfi -i sine=sample_rate=8000:duration=120 "
         "-c:v libvpx -deadline realtime -cpu-used 8 -b:v 50k -c:a libvorbis"},
    };
    return r;
}

// Path of the named clip, made on first use. Fails the test when ffmpeg fails.
inline std::mutex &clip_mutex() {
    static std::mutex mu;  // guards the making of clips
    return mu;
}
inline std::string clip_locked(const std::string &name);
inline std::string clip(const std::string &name) {
    std::lock_guard<std::mutex> lock(clip_mutex());
    return clip_locked(name);
}
inline std::string clip_locked(const std::string &name) {
    std::filesystem::path p = dir() / name;
    if (std::filesystem::exists(p)) return p.string();
    if (name == "truncated.mp4") {
        // The index (moov) of an mp4 written by ffmpeg comes last: half the file has none.
        std::string whole = clip_locked("h264_aac.mp4");
        std::ifstream in(whole, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream(p, std::ios::binary).write(data.data(), (std::streamsize)(data.size() / 2));
    } else if (name == "text.txt" || name == "text.mp4") {
        std::ofstream(p) << "This is a text file.\nIt holds no media at all.\n";
    } else if (name == "empty.avi") {
        std::ofstream(p).flush();
    } else {
        auto it = recipes().find(name);
        if (it == recipes().end()) {
            ADD_FAILURE() << "no recipe for " << name;
            return p.string();
        }
        std::string cmd = "ffmpeg -nostdin -v error -y " + it->second + " '" + p.string() + "'";
        int rc = std::system(cmd.c_str());
        if (rc != 0) ADD_FAILURE() << "ffmpeg failed (" << rc << "): " << cmd;
    }
    return p.string();
}

}  // namespace media_fixtures
