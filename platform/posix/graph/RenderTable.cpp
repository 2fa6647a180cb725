// The built-in source openers and transform candidates of RenderFile and intelligent connect.
// Each media area adds its entries here, in the order they are to be tried.
#include "platform/posix/graph/Render.h"
#include "platform/posix/media/MediaFilters.h"

namespace tw::posix {

static const SourceOpener kOpeners[] = {
    {"FFmpeg source", &media::open_media_source},
    {nullptr, nullptr},  // end marker, keeps the array non-empty
};

static const TransformCandidate kTransforms[] = {
    {"Video Decoder", &media::video_decoder_accepts, &media::create_video_decoder},
    {"Audio Decoder", &media::audio_decoder_accepts, &media::create_audio_decoder},
    {nullptr, nullptr, nullptr},  // end marker
};

const SourceOpener *builtin_source_openers(size_t *count) {
    *count = sizeof(kOpeners) / sizeof(kOpeners[0]) - 1;
    return kOpeners;
}

const TransformCandidate *builtin_transforms(size_t *count) {
    *count = sizeof(kTransforms) / sizeof(kTransforms[0]) - 1;
    return kTransforms;
}

}  // namespace tw::posix
