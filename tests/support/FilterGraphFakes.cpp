#include "tests/support/FilterGraphFakes.h"

#include "framework/MessageWindow.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace fakes {

std::vector<std::string> &Log() {
    static std::vector<std::string> log;
    return log;
}

std::vector<std::string> TakeLog() {
    std::vector<std::string> out;
    out.swap(Log());
    return out;
}

bool InOrder(const std::vector<std::string> &log, const std::vector<std::string> &wanted) {
    size_t next = 0;
    for (const auto &call : log)
        if (next < wanted.size() && call == wanted[next]) ++next;
    if (next == wanted.size()) return true;
    std::fprintf(stderr, "missing or out of order: \"%s\"; the calls were:", wanted[next].c_str());
    for (const auto &call : log) std::fprintf(stderr, " \"%s\"", call.c_str());
    std::fprintf(stderr, "\n");
    return false;
}

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(v));
    return buf;
}

std::string FakeListener::ActionName(TGraphAction a) {
    switch (a) {
    case gaRun: return "gaRun";
    case gaPause: return "gaPause";
    case gaStop: return "gaStop";
    case gaRenderFile: return "gaRenderFile";
    case gaFileRendered: return "gaFileRendered";
    case gaActivation: return "gaActivation";
    }
    return "ga?" + std::to_string(static_cast<int>(a));
}

bool PumpUntil(const std::function<bool()> &done, UINT timeoutMs) {
    bool timedOut = false;
    HWND timerWnd = tw::AllocateHWnd([&](UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg == WM_TIMER) timedOut = true;
        return 0;
    });
    SetTimer(timerWnd, 1, timeoutMs, nullptr);
    while (!done() && !timedOut) {
        MSG m;
        if (GetMessageA(&m, nullptr, 0, 0) <= 0) break;
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    KillTimer(timerWnd, 1);
    tw::DeallocateHWnd(timerWnd);
    return done();
}

std::string TempPath(const std::string &name) {
    char dir[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, dir);
    std::string d = dir;
    if (!d.empty() && d.back() != '/' && d.back() != '\\') d += '/';
    return d + "tw_fg_" + std::to_string(GetCurrentProcessId()) + "_" + name;
}

std::string ReadText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool FileExists(const std::string &path) { return std::ifstream(path).good(); }

void RemoveFile(const std::string &path) { std::remove(path.c_str()); }

std::vector<std::string> RotDisplayNames() {
    std::vector<std::string> names;
    tw::ComPtr<IRunningObjectTable> rot;
    if (FAILED(GetRunningObjectTable(0, rot.out()))) return names;
    tw::ComPtr<IEnumMoniker> monikers;
    if (FAILED(rot->EnumRunning(monikers.out())) || !monikers) return names;
    // IBindCtx is only named on Linux; it is held through its IUnknown base (first base, same
    // address) so that the code is the same on both targets.
    IBindCtx *ctx = nullptr;
    CreateBindCtx(0, &ctx);
    tw::ComPtr<IUnknown> ctxRef = tw::ComPtr<IUnknown>::adopt(reinterpret_cast<IUnknown *>(ctx));
    tw::ComPtr<IMoniker> m;
    while (monikers->Next(1, m.out(), nullptr) == S_OK) {
        LPOLESTR name = nullptr;
        if (SUCCEEDED(m->GetDisplayName(ctx, nullptr, &name)) && name) {
            names.push_back(tw::to_utf8(name));
            CoTaskMemFree(name);
        }
    }
    return names;
}

std::string RotName(const void *graph) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "!FilterGraph %0*llX pid %X", static_cast<int>(sizeof(void *) * 2),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(graph)),
                  static_cast<unsigned>(GetCurrentProcessId()));
    return buf;
}

}  // namespace fakes
