// One recording from the command line: the same sequence as the window's record button, with
// a filter graph in capture mode and an ASF writer attached to it, driven by a message loop.
#pragma once

#include "tools/record/Options.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tw::record {

struct Summary {
    double seconds = 0;        // media time recorded
    uint64_t bytes = 0;        // size of the output file
    std::string streams;       // e.g. "video (WMV2) + audio (WMA)"
    std::string stop_reason;   // "end of source", "duration reached", "interrupted", ...
};

// Runs the recording described by `options` and returns the exit code. Progress goes to
// `out` (a line a few times a second on a terminal, plain lines otherwise), errors to `err`.
int record(const Options &options, std::FILE *out, std::FILE *err, Summary *summary = nullptr);

}  // namespace tw::record
