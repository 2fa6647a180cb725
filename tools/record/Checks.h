// What the recorder finds out for itself, to say in plain words what the platform's result
// codes leave as a riddle: an output that is the source, a source without a stream the profile
// records.
#pragma once

#include "dsutil/DSUtil.h"

#include <string>

namespace tw::record {

// Kinds of stream, as a set.
enum StreamKinds : unsigned { kNoStreams = 0, kAudioStream = 1, kVideoStream = 2 };

// What the profile records.
unsigned profile_kinds(TWMPofiles8 profile);

// What the filters in `graph` other than `except` offer on their output pins: the source and
// whatever decodes it. A pin's connection type counts, else the first type it proposes.
unsigned graph_kinds(IFilterGraph *graph, IBaseFilter *except);

// What the source at `source` offers, found by adding its source filter to `graph` alone and
// taking it out again; kNoStreams when that cannot be told (no such filter, or a source
// filter that gives a byte stream rather than audio and video).
unsigned source_kinds(IGraphBuilder *graph, const std::string &source);

// The explanation for a source that lacks a kind of stream the profile records: which one,
// what the profile records, and the profiles that fit the source. Empty when the source has
// every kind the profile records, or its kinds are not known.
std::string missing_stream_text(unsigned source, TWMPofiles8 profile);

}  // namespace tw::record
