// What the platform layer offers by name: the classes CoCreateInstance creates, and the source
// openers and transforms that RenderFile and intelligent connect try. This file stands above
// every area it names; the areas themselves only declare the hooks (com/runtime.h,
// graph/Render.h), so no lower area depends on a higher one.
#include "platform/posix/asf/AsfWriterFilter.h"
#include "platform/posix/com/runtime.h"
#include "platform/posix/graph/Graph.h"
#include "platform/posix/graph/Render.h"
#include "platform/posix/media/MediaFilters.h"

namespace tw::posix {

// Classes, each area's in turn.
static const BuiltinClass kClasses[] = {
    {&CLSID_FilterGraph, create_filter_graph, "Filter Graph Manager"},
    {&CLSID_FilterGraphNoThread, create_filter_graph, "Filter Graph Manager (no thread)"},
    {&CLSID_CaptureGraphBuilder2, create_capture_graph_builder, "Capture Graph Builder 2"},
    {&CLSID_DvdGraphBuilder, create_dvd_graph_builder, "DVD Graph Builder"},
    {&CLSID_SystemClock, create_system_clock, "System Reference Clock"},
    {&CLSID_WMAsfWriter, asf::create_asf_writer, "WM ASF Writer"},
    {nullptr, nullptr, nullptr},  // end marker, keeps the array non-empty
};

// Source openers and transform candidates, in the order they are to be tried.
static const SourceOpener kOpeners[] = {
    {"FFmpeg source", &media::open_media_source},
    {nullptr, nullptr},  // end marker
};

static const TransformCandidate kTransforms[] = {
    {"Video Decoder", &media::video_decoder_accepts, &media::create_video_decoder},
    {"Audio Decoder", &media::audio_decoder_accepts, &media::create_audio_decoder},
    {nullptr, nullptr, nullptr},  // end marker
};

const BuiltinClass *builtin_classes(size_t *count) {
    *count = sizeof(kClasses) / sizeof(kClasses[0]) - 1;
    return kClasses;
}

const SourceOpener *builtin_source_openers(size_t *count) {
    *count = sizeof(kOpeners) / sizeof(kOpeners[0]) - 1;
    return kOpeners;
}

const TransformCandidate *builtin_transforms(size_t *count) {
    *count = sizeof(kTransforms) / sizeof(kTransforms[0]) - 1;
    return kTransforms;
}

}  // namespace tw::posix
