// Command line of tarnwick-record.
#pragma once

#include "dsutil/DSUtil.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tw::record {

// Exit codes, documented in the usage text.
enum ExitCode : int {
    kExitOk = 0,       // recorded (also after Ctrl-C: the file is finished, not lost)
    kExitRuntime = 1,  // the recording broke off (stream error, write failure)
    kExitUsage = 2,    // bad options or values
    kExitSource = 3,   // the source cannot be opened or rendered, or lacks a stream the profile records
    kExitOutput = 4,   // the output cannot be created (or is the source) or the graph cannot run
    kExitInterrupted = 5,  // interrupted while the source was being opened: no file written
    kExitKilled = 130,     // a second interruption ended the program at once
};

struct Options {
    std::string source;
    std::string output;
    TWMPofiles8 profile = wmp_V80_384Video;  // the window's initial choice
    std::optional<double> duration;          // seconds of media to record
    uint32_t port = 0;
    uint32_t max_users = 0;
    std::string bind_address;  // broadcast on this local address only; empty = every interface
    std::string log_file;
    bool graph_edit = false;
    bool quiet = false;
    bool verbose = false;  // the media libraries' own diagnostic lines to stderr too
    bool help = false;
    bool version = false;
    bool list_profiles = false;
};

struct ParseResult {
    Options options;
    std::string error;  // empty when the command line is good
};

ParseResult parse_command_line(const std::vector<std::string> &args);

// "wmp_V80_384Video" (any case, with or without the "wmp_V80_" prefix) or an index 0..26.
std::optional<TWMPofiles8> parse_profile(const std::string &text);

std::string usage_text();
std::string version_text();

// What a recording with the profile carries: "audio and video", "audio only", "video only".
const char *profile_media(TWMPofiles8 profile);

}  // namespace tw::record
