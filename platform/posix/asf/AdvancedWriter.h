// The writer's sinks (IWMWriterAdvanced): the state the filter and its advanced writer share,
// the advanced writer the filter hands out through IServiceProvider, and the adapter that gives
// the recorder's output to one sink.
#pragma once

#include "platform/posix/asf/AsfRecorder.h"
#include "platform/posix/object.h"
#include "platform/wmf.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tw::posix::asf {

// ---- Sinks added through IWMWriterAdvanced, shared by the filter and its advanced writer (the
// application may hold either longer than the other).
struct WriterState {
    std::mutex mutex;  // guards sinks, writing, live, tolerance, recorder
    std::vector<ComPtr<IWMWriterSink>> sinks;
    bool writing = false;
    BOOL live = FALSE;
    DWORD sync_tolerance_ms = 3000;
    std::shared_ptr<Recorder> recorder;  // while (or after) writing, for time and statistics
};

// Hands the recorder's header and packets to one IWMWriterSink as INSSBuffers.
class SinkAdapter final : public PacketSink {
public:
    explicit SinkAdapter(ComPtr<IWMWriterSink> sink) : sink_(std::move(sink)) {}
    void on_header(const Bytes &h) override { deliver(h.data(), h.size(), true); }
    void on_packet(const uint8_t *p, size_t n) override { deliver(p, n, false); }
    void on_end() override { sink_->OnEndWriting(); }

private:
    void deliver(const uint8_t *p, size_t n, bool header);
    ComPtr<IWMWriterSink> sink_;
};

// The advanced writer over the filter's state (a new object, one reference).
IWMWriterAdvanced2 *make_advanced_writer(std::shared_ptr<WriterState> state);

}  // namespace tw::posix::asf
