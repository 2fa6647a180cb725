// Opening and reading a source through the platform's graph on arbitrary bytes: the input is
// written to a file, rendered (source filter, demuxer, decoders) into the media tests' sink
// and run to its end, as a recording would read it. A source the platform refuses is a normal
// outcome; a crash, a sanitizer report, a leak or a hang is a fault.
#include "platform/directshow.h"
#include "platform/posix/diagnostics.h"
#include "platform/text.h"
#include "tests/support/TestSink.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// One file per fuzzing process, rewritten for every input.
const std::string &input_path() {
    static const std::string path = [] {
        const char *dir = std::getenv("TMPDIR");
        std::string p = std::string(dir && *dir ? dir : "/tmp") + "/tw-fuzz-source-" + std::to_string(getpid());
        std::atexit([] { std::remove(input_path().c_str()); });
        return p;
    }();
    return path;
}

bool write_input(const uint8_t *data, size_t size) {
    std::FILE *f = std::fopen(input_path().c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Runs the rendered graph until the source ends or fails; a source that neither ends nor
// fails within the bound is stopped (a live-like input), and the stop must still return.
void run_to_end(IGraphBuilder *graph) {
    tw::ComPtr<IMediaControl> control;
    tw::ComPtr<IMediaEventEx> events;
    graph->QueryInterface(IID_IMediaControl, control.out_void());
    graph->QueryInterface(IID_IMediaEventEx, events.out_void());
    if (!control || !events) std::abort();
    if (SUCCEEDED(control->Run())) {
        for (;;) {
            LONG code = 0;
            LONG_PTR p1 = 0, p2 = 0;
            if (FAILED(events->GetEvent(&code, &p1, &p2, 5000))) break;
            events->FreeEventParams(code, p1, p2);
            if (code == EC_COMPLETE || code == EC_ERRORABORT) break;
        }
    }
    control->Stop();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    CoInitialize(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (!write_input(data, size)) std::abort();
    tw::ComPtr<IGraphBuilder> graph;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.out_void())))
        std::abort();
    media_test::TestSink *sink = media_test::TestSink::create(true, true);
    auto sink_ref = tw::ComPtr<IBaseFilter>::adopt(sink);
    graph->AddFilter(sink, OLESTR("Sink"));
    if (SUCCEEDED(graph->RenderFile(tw::to_wide(input_path()).c_str(), nullptr))) run_to_end(graph.get());
    return 0;
}
