// tarnwick-record: the recorder without a window.
#include "tools/record/Options.h"
#include "tools/record/Recorder.h"

#include "platform/Wm8Profiles.h"
#include "platform/console.h"
#include "platform/platform.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace tw::record;

// "video 352 kbps 320x240 29.97 fps, key frame every 8 s" and the like.
static std::string describe(const tw::wm8::StreamSetting &s) {
    char buf[160];
    if (s.kind == tw::wm8::StreamKind::kAudio) {
        const int used = tw::wm8::audio_encode_bitrate(s);
        std::string rate = s.bitrate ? std::to_string(s.bitrate / 1000) + " kbps" : "quality " + std::to_string(s.quality);
        if (s.bitrate && used != s.bitrate) rate += " (encoded at " + std::to_string(used / 1000) + ")";
        std::snprintf(buf, sizeof buf, "audio %s %g kHz %s", rate.c_str(), s.sample_rate / 1000.0,
                      s.channels == 1 ? "mono" : "stereo");
    } else {
        std::string rate = s.bitrate ? std::to_string(s.bitrate / 1000) + " kbps" : "quality " + std::to_string(s.quality);
        std::snprintf(buf, sizeof buf, "video %s %dx%d %.4g fps, key frame every %g s", rate.c_str(), s.width, s.height,
                      double(s.fps_num) / s.fps_den, s.keyframe_ms / 1000.0);
    }
    return buf;
}

static void list_profiles(std::FILE *out) {
    std::fprintf(out, "%-5s %-24s %-16s %s\n", "index", "name", "records", "settings");
    for (int i = 0; i < 27; ++i) {
        const auto p = static_cast<TWMPofiles8>(i);
        std::string settings;
        for (const auto &s : tw::wm8::profile_streams(i)) settings += (settings.empty() ? "" : "; ") + describe(s);
        std::fprintf(out, "%-5d %-24s %-16s %s\n", i, tw::ProfileNames[i], profile_media(p), settings.c_str());
    }
}

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    ParseResult parsed = parse_command_line(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tarnwick-record: %s\n\n%s", parsed.error.c_str(), usage_text().c_str());
        return kExitUsage;
    }
    const Options &o = parsed.options;
    if (o.help) {
        std::fputs(usage_text().c_str(), stdout);
        return kExitOk;
    }
    if (o.version) {
        std::fputs(version_text().c_str(), stdout);
        return kExitOk;
    }
    if (o.list_profiles) {
        list_profiles(stdout);
        return kExitOk;
    }

    // Whoever reads the progress lines may go away; the recording is finished all the same.
    tw::survive_closed_output();
    tw::show_library_diagnostics(o.verbose);

    // One single-threaded apartment for the whole program, as the window has.
    const HRESULT com = CoInitialize(nullptr);
    const int code = record(o, stdout, stderr);
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}
