#include "tools/record/Recorder.h"

#include "tools/record/Checks.h"

#include "dsgraph/ASFWriter.h"
#include "dsgraph/FilterGraph.h"
#include "framework/MessageWindow.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace tw::record {

namespace {

constexpr UINT WM_INTERRUPT = WM_APP + 20;
constexpr UINT WM_FINISH = WM_APP + 21;
constexpr UINT_PTR kProgressTimer = 1;
constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;

enum class Stop { none, complete, duration, interrupted, failed };

// Brings a blocking open of the source back when the user interrupts it. The interruption
// arrives on another thread while the window's thread sits in RenderFile; the graph manager's
// Abort is the one call that reaches the opener from there. Abort is repeated while the open
// lasts, because an Abort that lands before RenderFile has begun is reset by it.
class OpenAborter {
public:
    OpenAborter() = default;
    ~OpenAborter() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            quit_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    OpenAborter(const OpenAborter &) = delete;
    OpenAborter &operator=(const OpenAborter &) = delete;

    // Started after the interruptions are being watched, so that the thread inherits their
    // blocking and never receives one itself.
    void start() { thread_ = std::thread([this] { body(); }); }

    // The open about to begin (a graph manager) or just ended (null). Window's thread.
    void set_opening(ComPtr<IGraphBuilder> builder) {
        {
            std::lock_guard<std::mutex> lock(lock_);
            builder_ = std::move(builder);
        }
        wake_.notify_all();
    }
    // Any thread.
    void interrupt() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            interrupted_ = true;
        }
        wake_.notify_all();
    }
    bool interrupted() {
        std::lock_guard<std::mutex> lock(lock_);
        return interrupted_;
    }

private:
    void body() {
        std::unique_lock<std::mutex> lock(lock_);
        while (!quit_) {
            if (interrupted_ && builder_) {
                // Abort only sets a flag in the graph manager; it is safe with the lock held.
                builder_->Abort();
                wake_.wait_for(lock, std::chrono::milliseconds(50));
            } else {
                wake_.wait(lock);
            }
        }
    }

    std::mutex lock_;  // guards everything below
    std::condition_variable wake_;
    ComPtr<IGraphBuilder> builder_;
    bool interrupted_ = false;
    bool quit_ = false;
    std::thread thread_;
};

uint64_t file_size(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string format_time(double seconds) {
    if (seconds < 0) seconds = 0;
    const long long tenths = static_cast<long long>(seconds * 10 + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld.%lld", tenths / 600, (tenths / 10) % 60, tenths % 10);
    return buf;
}

std::string format_bytes(uint64_t n) {
    char buf[32];
    if (n < 1024 * 1024)
        std::snprintf(buf, sizeof buf, "%.1f kB", n / 1024.0);
    else
        std::snprintf(buf, sizeof buf, "%.2f MB", n / (1024.0 * 1024.0));
    return buf;
}

// The network sink the writer broadcasts through, when it has one.
ComPtr<IWMWriterNetworkSink> network_sink(TASFWriter &writer) {
    ComPtr<IServiceProvider> provider;
    if (FAILED(writer.QueryInterface(iid_of<IServiceProvider>(), provider.out_void()))) return {};
    ComPtr<IWMWriterAdvanced2> advanced;
    if (FAILED(provider->QueryService(IID_IWMWriterAdvanced2, IID_IWMWriterAdvanced2, advanced.out_void())))
        return {};
    DWORD count = 0;
    if (FAILED(advanced->GetSinkCount(&count))) return {};
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IWMWriterSink> sink;
        if (SUCCEEDED(advanced->GetSink(i, sink.out())) && sink)
            if (auto net = sink.query<IWMWriterNetworkSink>()) return net;
    }
    return {};
}

std::string host_url(IWMWriterNetworkSink *sink) {
    DWORD len = 0;
    sink->GetHostURL(nullptr, &len);
    if (len == 0 || len > 4096) return {};
    tw::wstring buf(len, 0);
    if (FAILED(sink->GetHostURL(buf.data(), &len))) return {};
    buf.resize(std::char_traits<WCHAR>::length(buf.c_str()));
    return to_utf8(buf);
}

// "video 320x240 (WMV2) + audio 44100 Hz 2 ch (WMA)" from the writer's connected input pins.
std::string describe_streams(TASFWriter &writer) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(writer.MemberFilter(filter.out())) || !filter) return {};
    TPinList pins(filter.get());
    std::string text;
    for (int i = 0; i < pins.Count(); ++i) {
        ComPtr<IPin> pin = pins.Items(i);
        AM_MEDIA_TYPE mt{};
        if (FAILED(pin->ConnectionMediaType(&mt))) continue;
        std::string one;
        if (IsEqualGUID(mt.majortype, MEDIATYPE_Video))
            one = "video";
        else if (IsEqualGUID(mt.majortype, MEDIATYPE_Audio))
            one = "audio";
        else
            one = "stream";
        if (mt.pbFormat) CoTaskMemFree(mt.pbFormat);
        if (mt.pUnk) mt.pUnk->Release();
        text += (text.empty() ? "" : " + ") + one;
    }
    return text;
}

// The writer opened its broadcast on every interface; moves it to `address` alone, on the
// same port. Returns kExitOk, or the exit code with `message` when that cannot be done.
int listen_on(TASFWriter &writer, const std::string &address, std::string *message) {
    ComPtr<IWMWriterNetworkSink> sink = network_sink(writer);
    if (!sink) {
        *message = "the broadcast could not be started";
        return kExitOutput;
    }
    ComPtr<ITwNetworkSinkAddress> binding = sink.query<ITwNetworkSinkAddress>();
    if (!binding) {
        *message = "--bind is not available here: the broadcast listens on every interface";
        return kExitUsage;
    }
    DWORD port = writer.Port();
    sink->Close();
    if (FAILED(binding->SetListenAddress(to_wide(address).c_str()))) {
        *message = "--bind needs a numeric IPv4 or IPv6 address of this machine, not '" + address + "'";
        return kExitUsage;
    }
    HRESULT hr = sink->Open(&port);
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(hr));
        *message = "the broadcast cannot listen on " + address + " port " + std::to_string(port) + ": " +
                   DirectShowErrorText(hr) + " ($" + code + ")";
        return kExitOutput;
    }
    return kExitOk;
}

class Session {
public:
    Session(const Options &o, std::FILE *out, std::FILE *err) : o_(o), out_(out), err_(err) {
        tty_ = !o.quiet && (out == stdout ? stdout_is_terminal() : false);
        quiet_ = o.quiet;
    }

    int run(Summary *summary);

private:
    static void on_interrupt(void *self, int count);
    LRESULT on_message(UINT msg, WPARAM wp, LPARAM lp);
    void tick();
    void finish(Stop why);
    double position_seconds();
    double duration_seconds();
    void say(const char *fmt, const std::string &a = {}, const std::string &b = {});
    // After a write to out_ failed (its reader went away), the rest goes on as if --quiet.
    void check_output() {
        if (std::ferror(out_)) quiet_ = true;
    }
    std::string explain(const EDirectShowException &e);

    const Options &o_;
    std::FILE *out_;
    std::FILE *err_;
    bool tty_ = false;
    bool quiet_ = false;  // --quiet, or out_ can no longer be written
    HWND window_ = nullptr;
    Stop stop_ = Stop::none;
    HRESULT failure_ = S_OK;
    int interrupts_ = 0;
    bool duration_by_graph_ = false;  // the source itself stops at --duration
    double source_seconds_ = 0;       // length of the source, when known
    std::chrono::steady_clock::time_point started_;
    double last_position_ = 0;
    TFilterGraph *graph_ = nullptr;
    TASFWriter *writer_ = nullptr;
    ComPtr<IMediaSeeking> seeking_;
    ComPtr<IWMWriterNetworkSink> sink_;
    size_t progress_width_ = 0;  // the last progress line's length, on a terminal
    double last_line_at_ = -1;   // when the last plain progress line was printed, in wall seconds
    OpenAborter aborter_;
};

// Where the interrupt hook finds the running session. The platform's watcher calls the hook
// until the process ends, so this outlives every session; a session enters itself for the
// time it runs.
struct InterruptRoute {
    std::mutex lock;  // guards session
    Session *session = nullptr;
};
InterruptRoute &interrupt_route() {
    static InterruptRoute route;
    return route;
}

void Session::on_interrupt(void *route_ptr, int count) {
    // A second interruption ends the program at once, whatever it is waiting for; the file
    // keeps what had reached the disk, as after any abrupt end.
    if (count >= 2) {
        std::fputs("\ntarnwick-record: stopped at once; the output may lack its index and final header.\n", stderr);
        std::fflush(stderr);
        std::_Exit(kExitKilled);
    }
    auto *route = static_cast<InterruptRoute *>(route_ptr);
    std::lock_guard<std::mutex> lock(route->lock);
    if (route->session) route->session->aborter_.interrupt();
}

void Session::say(const char *fmt, const std::string &a, const std::string &b) {
    if (quiet_) return;
    std::fprintf(out_, fmt, a.c_str(), b.c_str());
    std::fflush(out_);
    check_output();
}

double Session::position_seconds() {
    REFERENCE_TIME t = 0;
    if (seeking_ && SUCCEEDED(seeking_->GetCurrentPosition(&t)) && t >= 0) last_position_ = double(t) / kUnitsPerSecond;
    return last_position_;
}

double Session::duration_seconds() {
    REFERENCE_TIME t = 0;
    if (seeking_ && SUCCEEDED(seeking_->GetDuration(&t)) && t > 0) return double(t) / kUnitsPerSecond;
    return 0;
}

LRESULT Session::on_message(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_TIMER:
        tick();
        return 0;
    case WM_INTERRUPT:
        // The first interruption finishes the file; a second one ends the process from the
        // interrupt hook and never gets here.
        if (++interrupts_ == 1) finish(Stop::interrupted);
        return 0;
    case WM_FINISH:
        finish(static_cast<Stop>(wp));
        return 0;
    default:
        return DefWindowProcA(window_, msg, wp, lp);
    }
}

void Session::finish(Stop why) {
    if (stop_ != Stop::none) return;
    stop_ = why;
    PostQuitMessage(0);
}

void Session::tick() {
    const double pos = position_seconds();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    if (o_.duration && !duration_by_graph_ && (seeking_ ? pos : wall) >= *o_.duration) finish(Stop::duration);
    if (quiet_) return;

    const double total = o_.duration ? *o_.duration : duration_seconds();
    std::string line = "recording " + format_time(pos);
    if (total > 0) line += " / " + format_time(total);
    line += "  " + format_bytes(file_size(o_.output));
    if (wall > 0.5) {
        char speed[32];
        std::snprintf(speed, sizeof speed, "  %.1fx", pos / wall);
        line += speed;
    }
    if (sink_) {
        ComPtr<IWMClientConnections> clients = sink_.query<IWMClientConnections>();
        DWORD n = 0;
        if (clients && SUCCEEDED(clients->GetClientCount(&n))) line += "  clients " + std::to_string(n);
    }
    if (tty_) {
        std::string padded = line;
        if (padded.size() < progress_width_) padded.append(progress_width_ - padded.size(), ' ');
        progress_width_ = line.size();
        std::fprintf(out_, "\r%s", padded.c_str());
    } else {
        // Plain lines, once a second, for logs and pipes.
        if (wall - last_line_at_ < 1.0) return;
        last_line_at_ = wall;
        std::fprintf(out_, "%s\n", line.c_str());
    }
    std::fflush(out_);
    check_output();
}

// A writer whose input pins are not all connected cannot run (VFW_E_NOT_CONNECTED), and a
// source none of whose streams fits the profile cannot be rendered (VFW_E_CANNOT_RENDER): when
// that is because the source lacks a kind of stream the profile records, say so.
std::string Session::explain(const EDirectShowException &e) {
    unsigned kinds = kNoStreams;
    if (e.ResultCode() == VFW_E_NOT_CONNECTED) {
        ComPtr<IFilterGraph> graph;
        ComPtr<IBaseFilter> writer;
        if (SUCCEEDED(graph_->QueryInterface(iid_of<IFilterGraph>(), graph.out_void())) &&
            SUCCEEDED(writer_->MemberFilter(writer.out())))
            kinds = graph_kinds(graph.get(), writer.get());
    } else if (e.ResultCode() == VFW_E_CANNOT_RENDER) {
        ComPtr<IGraphBuilder> builder;
        if (SUCCEEDED(graph_->QueryInterface(iid_of<IGraphBuilder>(), builder.out_void())))
            kinds = source_kinds(builder.get(), o_.source);
    }
    return missing_stream_text(kinds, o_.profile);
}

int Session::run(Summary *summary) {
    window_ = AllocateHWnd([this](UINT m, WPARAM w, LPARAM l) { return on_message(m, w, l); });
    {
        std::lock_guard<std::mutex> lock(interrupt_route().lock);
        interrupt_route().session = this;
    }
    watch_interrupts(window_, WM_INTERRUPT, &Session::on_interrupt, &interrupt_route());
    aborter_.start();

    TFilterGraph graph(nullptr);
    TASFWriter writer(nullptr);
    graph_ = &graph;
    writer_ = &writer;
    graph.SetName("FilterGraph1");
    writer.SetName("ASFWriter1");
    graph.SetMode(gmCapture);
    graph.SetGraphEdit(o_.graph_edit);
    if (!o_.log_file.empty()) graph.SetLogFile(o_.log_file);
    writer.SetFilterGraph(&graph);
    writer.SetPort(o_.port);
    writer.SetMaxUsers(o_.max_users);

    // Events arrive on this thread while the loop runs; a handler only notes what happened, the
    // loop stops the graph after the drain has finished.
    graph.OnGraphComplete = [this](TObject *, HRESULT, IBaseFilter *) {
        PostMessageA(window_, WM_FINISH, static_cast<WPARAM>(Stop::complete), 0);
    };
    graph.OnGraphErrorAbort = [this](TObject *, HRESULT hr) {
        if (failure_ == S_OK) failure_ = hr;
        PostMessageA(window_, WM_FINISH, static_cast<WPARAM>(Stop::failed), 0);
    };
    graph.OnGraphUserAbort = [this](TObject *) {
        PostMessageA(window_, WM_FINISH, static_cast<WPARAM>(Stop::complete), 0);
    };

    int code = kExitOk;
    int stage = kExitRuntime;
    try {
        writer.SetFileName(o_.output);
        writer.SetProfile(o_.profile);
        graph.EmptyGraph();
        graph.SetActive(true);
        graph.EmptyGraph();
        if (!o_.bind_address.empty()) {
            std::string message;
            stage = listen_on(writer, o_.bind_address, &message);
            if (stage != kExitOk) throw Exception(message);
        }

        stage = kExitSource;
        say("source   %s\n", o_.source);
        ComPtr<IGraphBuilder> builder;
        graph.QueryInterface(iid_of<IGraphBuilder>(), builder.out_void());
        aborter_.set_opening(builder);
        HRESULT hr = S_OK;
        try {
            hr = graph.RenderSource(to_wide(o_.source));
        } catch (const Exception &) {
            aborter_.set_opening(nullptr);
            throw;
        }
        aborter_.set_opening(nullptr);
        if (aborter_.interrupted()) throw Exception("interrupted while the source was being opened");
        if (hr == VFW_S_PARTIAL_RENDER || hr == VFW_S_AUDIO_NOT_RENDERED || hr == VFW_S_VIDEO_NOT_RENDERED)
            say("note     %s\n", hr == VFW_S_AUDIO_NOT_RENDERED   ? std::string("the audio stream is not recorded")
                                 : hr == VFW_S_VIDEO_NOT_RENDERED ? std::string("the video stream is not recorded")
                                                                  : std::string("some streams are not recorded"));

        graph.QueryInterface(iid_of<IMediaSeeking>(), seeking_.out_void());
        if (o_.duration && seeking_) {
            // Let the source end the recording at the stop time: the file then ends exactly
            // there. Sources that cannot seek (live URLs) are stopped by the clock instead.
            REFERENCE_TIME stop = static_cast<REFERENCE_TIME>(*o_.duration * kUnitsPerSecond);
            source_seconds_ = duration_seconds();
            duration_by_graph_ = SUCCEEDED(
                seeking_->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning));
        }

        stage = kExitOutput;
        say("output   %s (%s)\n", o_.output, tw::ProfileNames[o_.profile]);
        if (!graph.RunGraph()) throw Exception("the graph cannot be run");
        stage = kExitRuntime;
        started_ = std::chrono::steady_clock::now();

        if (o_.port && o_.max_users) {
            sink_ = network_sink(writer);
            if (sink_)
                say("serving  %s (at most %s clients)\n", host_url(sink_.get()), std::to_string(o_.max_users));
            else
                say("note     %s%s\n", "the broadcast could not be started");
        }

        SetTimer(window_, kProgressTimer, 250, nullptr);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        KillTimer(window_, kProgressTimer);
        if (tty_ && progress_width_ && !quiet_) std::fprintf(out_, "\n");

        // A source told to stop at --duration ends with EC_COMPLETE like any other.
        if (stop_ == Stop::complete && duration_by_graph_ && (source_seconds_ <= 0 || source_seconds_ > *o_.duration))
            stop_ = Stop::duration;
        graph.StopGraph();  // the writer finishes the file
        // Asked once the file is finished: the writer's position is then what the file holds,
        // also when a write failure cut it short.
        const double recorded = position_seconds();
        std::string streams = describe_streams(writer);
        sink_ = nullptr;
        seeking_ = nullptr;
        graph.EmptyGraph();
        graph.SetActive(false);

        if (stop_ == Stop::failed) {
            std::fprintf(err_, "tarnwick-record: the recording broke off: %s ($%08X).\n",
                         DirectShowErrorText(failure_).c_str(), static_cast<unsigned>(failure_));
            code = kExitRuntime;
        }
        Summary s;
        s.seconds = recorded;
        s.bytes = file_size(o_.output);
        s.streams = streams;
        s.stop_reason = stop_ == Stop::complete      ? "end of source"
                        : stop_ == Stop::duration    ? "duration reached"
                        : stop_ == Stop::interrupted ? "interrupted"
                                                     : "stream error";
        if (!quiet_) {
            std::fprintf(out_, "recorded %s (%s), %s, %s\n", format_time(s.seconds).c_str(), s.stop_reason.c_str(),
                         format_bytes(s.bytes).c_str(), s.streams.empty() ? "no streams" : s.streams.c_str());
            std::fprintf(out_, "file     %s\n", o_.output.c_str());
        }
        if (summary) *summary = s;
    } catch (const Exception &e) {
        if (tty_ && progress_width_ && !quiet_) std::fprintf(out_, "\n");
        const auto *failed = dynamic_cast<const EDirectShowException *>(&e);
        const std::string why = failed ? explain(*failed) : std::string();
        // The message as the window's error report would show it: a period appended when the
        // last character sorts after ".".
        std::string m = e.Message();
        if (!m.empty() && static_cast<unsigned char>(m.back()) > '.') m += '.';
        code = stage;
        if (stage == kExitSource && aborter_.interrupted()) {
            // Whatever the open failed with, it was the user who stopped it.
            m = "interrupted while the source was being opened; nothing was recorded.";
            code = kExitInterrupted;
        } else if (!why.empty()) {
            m = why;
            code = kExitSource;
        }
        std::fprintf(err_, "tarnwick-record: %s\n", m.c_str());
        seeking_ = nullptr;
        sink_ = nullptr;
        try {
            graph.EmptyGraph();
        } catch (const Exception &) {
            // Already reporting the first failure; the deactivation below releases the rest.
        }
        graph.SetActive(false);
    }
    writer.SetFilterGraph(nullptr);
    {
        std::lock_guard<std::mutex> lock(interrupt_route().lock);
        interrupt_route().session = nullptr;
    }
    DeallocateHWnd(window_);
    window_ = nullptr;
    return code;
}

}  // namespace

int record(const Options &options, std::FILE *out, std::FILE *err, Summary *summary) {
    // The writer replaces its file when it starts, and the log is replaced before the source is
    // opened: writing either onto the source would destroy it, under whatever name it is given.
    const std::pair<const std::string *, const char *> written[] = {{&options.output, "output file"},
                                                                    {&options.log_file, "log file"}};
    for (const auto &[name, what] : written) {
        if (name->empty() || !same_file(options.source, *name)) continue;
        std::fprintf(err, "tarnwick-record: the %s %s is the source itself (the same file): recording would destroy "
                          "it. Give another %s.\n",
                     what, name->c_str(), what);
        return kExitOutput;
    }
    Session s(options, out, err);
    return s.run(summary);
}

}  // namespace tw::record
