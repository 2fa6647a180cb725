#include "platform/posix/diagnostics.h"

extern "C" {
#include <libavutil/log.h>
}

#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <map>
#include <mutex>

namespace tw::posix {

namespace {

std::mutex g_sinks_lock;  // guards g_sinks and g_next_id; held while a line is delivered
std::map<int, std::function<void(const std::string &)>> g_sinks;
int g_next_id = 1;
std::atomic<bool> g_to_stderr{false};

// FFmpeg may log a line in pieces; each thread collects its own until the newline.
thread_local std::string t_partial;
thread_local int t_print_prefix = 1;

void on_ffmpeg_log(void *avcl, int level, const char *fmt, va_list vl) {
    if (level > av_log_get_level()) return;
    char buf[1024];
    av_log_format_line2(avcl, level, fmt, vl, buf, sizeof buf, &t_print_prefix);
    t_partial += buf;
    size_t nl;
    while ((nl = t_partial.find('\n')) != std::string::npos) {
        std::string line = t_partial.substr(0, nl);
        t_partial.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) emit_diagnostic(line);
    }
}

}  // namespace

void route_library_diagnostics() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(on_ffmpeg_log); });
}

// From the start of any program that links this file, before a library can print a line.
[[maybe_unused]] static const bool g_routed_at_start = (route_library_diagnostics(), true);

int subscribe_diagnostics(std::function<void(const std::string &)> sink) {
    route_library_diagnostics();
    std::lock_guard<std::mutex> g(g_sinks_lock);
    const int id = g_next_id++;
    g_sinks.emplace(id, std::move(sink));
    return id;
}

void unsubscribe_diagnostics(int id) {
    std::lock_guard<std::mutex> g(g_sinks_lock);
    g_sinks.erase(id);
}

void set_diagnostics_to_stderr(bool on) {
    route_library_diagnostics();
    g_to_stderr = on;
}

void emit_diagnostic(const std::string &line) {
    {
        std::lock_guard<std::mutex> g(g_sinks_lock);
        for (auto &s : g_sinks) s.second(line);
    }
    if (g_to_stderr) {
        const std::string text = line + "\n";
        (void)!::write(STDERR_FILENO, text.data(), text.size());  // one write: lines of threads do not mix
    }
}

}  // namespace tw::posix
