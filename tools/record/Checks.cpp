#include "tools/record/Checks.h"

#include "platform/Wm8Profiles.h"
#include "platform/text.h"

namespace tw::record {

namespace {

unsigned kind_of(const AM_MEDIA_TYPE &mt) {
    if (IsEqualGUID(mt.majortype, MEDIATYPE_Audio)) return kAudioStream;
    if (IsEqualGUID(mt.majortype, MEDIATYPE_Video)) return kVideoStream;
    return kNoStreams;
}

void free_type(AM_MEDIA_TYPE &mt) {
    if (mt.pbFormat) CoTaskMemFree(mt.pbFormat);
    if (mt.pUnk) mt.pUnk->Release();
    mt.pbFormat = nullptr;
    mt.pUnk = nullptr;
}

unsigned pin_kind(IPin *pin) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    if (FAILED(pin->QueryDirection(&dir)) || dir != PINDIR_OUTPUT) return kNoStreams;
    AM_MEDIA_TYPE mt{};
    if (SUCCEEDED(pin->ConnectionMediaType(&mt))) {
        const unsigned k = kind_of(mt);
        free_type(mt);
        return k;
    }
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(types.out())) || !types) return kNoStreams;
    AM_MEDIA_TYPE *first = nullptr;
    if (types->Next(1, &first, nullptr) != S_OK || !first) return kNoStreams;
    const unsigned k = kind_of(*first);
    free_type(*first);
    CoTaskMemFree(first);
    return k;
}

unsigned filter_kinds(IBaseFilter *filter) {
    unsigned kinds = kNoStreams;
    TPinList pins(filter);
    for (int i = 0; i < pins.Count(); ++i) kinds |= pin_kind(pins.Items(i).get());
    return kinds;
}

const char *kinds_text(unsigned kinds) {
    switch (kinds) {
    case kAudioStream: return "audio only";
    case kVideoStream: return "video only";
    default: return "audio and video";
    }
}

}  // namespace

unsigned profile_kinds(TWMPofiles8 profile) {
    unsigned kinds = kNoStreams;
    for (const auto &s : wm8::profile_streams(profile))
        kinds |= s.kind == wm8::StreamKind::kAudio ? kAudioStream : kVideoStream;
    return kinds;
}

unsigned graph_kinds(IFilterGraph *graph, IBaseFilter *except) {
    unsigned kinds = kNoStreams;
    TFilterList filters(graph);
    for (int i = 0; i < filters.Count(); ++i) {
        ComPtr<IBaseFilter> f = filters.Items(i);
        if (f.get() != except) kinds |= filter_kinds(f.get());
    }
    return kinds;
}

unsigned source_kinds(IGraphBuilder *graph, const std::string &source) {
    ComPtr<IBaseFilter> f;
    if (FAILED(graph->AddSourceFilter(to_wide(source).c_str(), OLESTR("Source"), f.out())) || !f) return kNoStreams;
    const unsigned kinds = filter_kinds(f.get());
    graph->RemoveFilter(f.get());
    return kinds;
}

std::string missing_stream_text(unsigned source, TWMPofiles8 profile) {
    const unsigned wanted = profile_kinds(profile);
    const unsigned lacking = wanted & ~source;
    if (source == kNoStreams || lacking == kNoStreams) return {};
    std::string text = std::string("the source has no ") +
                       (lacking == (kAudioStream | kVideoStream) ? "audio or video"
                        : lacking == kAudioStream                ? "audio"
                                                                 : "video") +
                       " stream, and the profile " + ProfileNames[profile] + " records " + kinds_text(wanted) +
                       ".\nProfiles that fit this source (" + kinds_text(source) + "):";
    const char *separator = " ";
    for (int i = 0; i < 27; ++i) {
        const unsigned k = profile_kinds(static_cast<TWMPofiles8>(i));
        if (k == kNoStreams || (k & ~source) != 0) continue;
        text += separator + std::string(ProfileNames[i]) + " (" + std::to_string(i) + ")";
        separator = ", ";
    }
    return text + ".";
}

}  // namespace tw::record
