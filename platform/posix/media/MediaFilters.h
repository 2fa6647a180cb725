// The entry points of the FFmpeg media filters for RenderFile and intelligent connect
// (platform/posix/graph/Render.h): the source opener and the two decoder candidates.
#pragma once

#include "platform/posix/graph/Render.h"

namespace tw::posix::media {

// Opens any path or URL libavformat reads; never "not mine" (S_FALSE). Codes: Demuxer.h.
HRESULT open_media_source(LPCWSTR url, const OpenContext &ctx, IBaseFilter **source);

bool video_decoder_accepts(const AM_MEDIA_TYPE &input);
HRESULT create_video_decoder(IBaseFilter **filter);
bool audio_decoder_accepts(const AM_MEDIA_TYPE &input);
HRESULT create_audio_decoder(IBaseFilter **filter);

}  // namespace tw::posix::media
