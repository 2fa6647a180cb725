// The same IMediaSeeking cases over the three implementers of the platform layer: the graph
// manager (empty), the source filter (a seekable clip) and the WM ASF Writer (nothing
// upstream, so everything but its own position is unanswerable). Exact results per column.
#include "platform/directshow.h"
#include "platform/posix/media/SourceFilter.h"

#include "tests/support/MediaFixtures.h"
#include "tests/support/HResultChecks.h"

#include <functional>

using namespace tw;

namespace {

constexpr LONGLONG kSecond = 10000000;

struct Case {
    const char *what;
    std::function<HRESULT(IMediaSeeking *)> call;
    HRESULT graph, source, writer;
};

// A call's result whose out-value must also be right (read after the call): E_UNEXPECTED when
// the call succeeded with another value.
template <class T, class U>
HRESULT Gives(HRESULT hr, T got, U want) {
    return SUCCEEDED(hr) && got != static_cast<T>(want) ? E_UNEXPECTED : hr;
}

}  // namespace

TEST(SeekingConformance, EveryImplementerAnswersTheSameCallsAlike) {
    ASSERT_GE(CoInitializeEx(nullptr, COINIT_MULTITHREADED), 0);
    {
        ComPtr<IMediaSeeking> graph, source, writer;
        ASSERT_HR(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaSeeking,
                                         graph.out_void()));
        ComPtr<IBaseFilter> filter;
        ASSERT_HR(S_OK, posix::media::SourceFilter::create(media_fixtures::clip("h264_aac.mp4"), nullptr, &filter));
        source = filter.query<IMediaSeeking>();
        ASSERT_TRUE(source);
        ASSERT_HR(S_OK, CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaSeeking,
                                         writer.out_void()));

        const GUID media = TIME_FORMAT_MEDIA_TIME, frame = TIME_FORMAT_FRAME;
        const DWORD seek = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetCurrentPos;
        const Case cases[] = {
            {"IsFormatSupported(media time)", [&](IMediaSeeking *s) { return s->IsFormatSupported(&media); }, S_OK, S_OK,
             S_OK},
            {"IsFormatSupported(frame)", [&](IMediaSeeking *s) { return s->IsFormatSupported(&frame); }, S_FALSE,
             S_FALSE, S_FALSE},
            {"IsFormatSupported(null)", [](IMediaSeeking *s) { return s->IsFormatSupported(nullptr); }, E_POINTER,
             E_POINTER, E_POINTER},
            {"SetTimeFormat(frame)", [&](IMediaSeeking *s) { return s->SetTimeFormat(&frame); }, E_INVALIDARG,
             E_INVALIDARG, E_INVALIDARG},
            {"QueryPreferredFormat",
             [](IMediaSeeking *s) {
                 GUID g{};
                 const HRESULT hr = s->QueryPreferredFormat(&g);
                 return Gives(hr, g == TIME_FORMAT_MEDIA_TIME, true);
             },
             S_OK, S_OK, S_OK},
            {"ConvertTimeFormat(frame <- media)",
             [&](IMediaSeeking *s) {
                 LONGLONG t = 0;
                 return s->ConvertTimeFormat(&t, &frame, 5, &media);
             },
             E_INVALIDARG, E_INVALIDARG, E_INVALIDARG},
            {"ConvertTimeFormat(media <- media)",
             [&](IMediaSeeking *s) {
                 LONGLONG t = 0;
                 const HRESULT hr = s->ConvertTimeFormat(&t, nullptr, 5, &media);
                 return Gives(hr, t, 5);
             },
             S_OK, S_OK, S_OK},
            {"CheckCapabilities(current position)",
             [](IMediaSeeking *s) {
                 DWORD c = AM_SEEKING_CanGetCurrentPos;
                 return s->CheckCapabilities(&c);
             },
             S_OK, S_OK, S_OK},
            {"CheckCapabilities(seek and current position)",
             [&](IMediaSeeking *s) {
                 DWORD c = seek;
                 HRESULT hr = s->CheckCapabilities(&c);
                 return hr == S_FALSE ? Gives(hr, c, DWORD(AM_SEEKING_CanGetCurrentPos)) : hr;
             },
             S_FALSE, S_OK, S_FALSE},
            {"SetPositions(nothing)",
             [](IMediaSeeking *s) { return s->SetPositions(nullptr, AM_SEEKING_NoPositioning, nullptr, 0); }, S_FALSE,
             S_FALSE, E_NOTIMPL},
            {"SetPositions(incremental current)",
             [](IMediaSeeking *s) {
                 LONGLONG c = kSecond;
                 return s->SetPositions(&c, AM_SEEKING_IncrementalPositioning, nullptr, 0);
             },
             E_INVALIDARG, E_INVALIDARG, E_NOTIMPL},
            {"SetPositions(absolute, null)",
             [](IMediaSeeking *s) { return s->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0); },
             E_POINTER, E_POINTER, E_NOTIMPL},
            {"SetPositions(negative)",
             [](IMediaSeeking *s) {
                 LONGLONG c = -1;
                 return s->SetPositions(&c, AM_SEEKING_AbsolutePositioning, nullptr, 0);
             },
             E_INVALIDARG, E_INVALIDARG, E_NOTIMPL},
            {"SetPositions(2 s, return time)",
             [](IMediaSeeking *s) {
                 LONGLONG c = 2 * kSecond, stop = kSecond;
                 HRESULT hr = s->SetPositions(&c, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, &stop,
                                              AM_SEEKING_IncrementalPositioning | AM_SEEKING_ReturnTime);
                 return Gives(hr, c + stop, 2 * kSecond + 3 * kSecond);
             },
             E_NOTIMPL, S_OK, E_NOTIMPL},
            {"GetPositions(null, null)", [](IMediaSeeking *s) { return s->GetPositions(nullptr, nullptr); }, E_POINTER,
             E_POINTER, E_POINTER},
            {"SetRate(1)", [](IMediaSeeking *s) { return s->SetRate(1.0); }, S_OK, S_OK, E_NOTIMPL},
            {"SetRate(0)", [](IMediaSeeking *s) { return s->SetRate(0.0); }, E_INVALIDARG, E_INVALIDARG, E_NOTIMPL},
            {"SetRate(2)", [](IMediaSeeking *s) { return s->SetRate(2.0); }, E_NOTIMPL, E_NOTIMPL, E_NOTIMPL},
            {"GetRate",
             [](IMediaSeeking *s) {
                 double r = 0;
                 const HRESULT hr = s->GetRate(&r);
                 return Gives(hr, r, 1.0);
             },
             S_OK, S_OK, E_NOTIMPL},
            {"GetPreroll",
             [](IMediaSeeking *s) {
                 LONGLONG p = -1;
                 const HRESULT hr = s->GetPreroll(&p);
                 return Gives(hr, p, 0);
             },
             S_OK, S_OK, S_OK},
        };
        for (const Case &c : cases) {
            EXPECT_HR(c.graph, c.call(graph.get())) << "graph: " << c.what;
            EXPECT_HR(c.source, c.call(source.get())) << "source: " << c.what;
            EXPECT_HR(c.writer, c.call(writer.get())) << "writer: " << c.what;
        }
    }
    CoUninitialize();
}
