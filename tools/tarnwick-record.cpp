// tarnwick-record: the recorder without a window.
#include "tools/record/Options.h"
#include "tools/record/Recorder.h"

#include "platform/platform.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace tw::record;

static void list_profiles(std::FILE *out) {
    std::fprintf(out, "%-5s %-24s %-16s\n", "index", "name", "records");
    for (int i = 0; i < 27; ++i) {
        const auto p = static_cast<TWMPofiles8>(i);
        std::fprintf(out, "%-5d %-24s %-16s\n", i, tw::ProfileNames[i], profile_media(p));
    }
}

int main(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    ParseResult parsed = parse_command_line(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tarnwick-record: %s\n\n%s", parsed.error.c_str(), usage_text().c_str());
        return kExitUsage;
    }
    const Options &o = parsed.options;
    if (o.help) {
        std::fputs(usage_text().c_str(), stdout);
        return kExitOk;
    }
    if (o.version) {
        std::fputs(version_text().c_str(), stdout);
        return kExitOk;
    }
    if (o.list_profiles) {
        list_profiles(stdout);
        return kExitOk;
    }

    // One single-threaded apartment for the whole program, as the window has.
    const HRESULT com = CoInitialize(nullptr);
    const int code = record(o, stdout, stderr);
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}
