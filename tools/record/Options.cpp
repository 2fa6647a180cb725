#include "tools/record/Options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace tw::record {

namespace {

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A whole decimal number within [lo, hi], nothing else on the line.
std::optional<uint64_t> parse_uint(const std::string &text, uint64_t lo, uint64_t hi) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

std::optional<double> parse_seconds(const std::string &text) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char *end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v) || v <= 0 || v > 1e7)
        return std::nullopt;
    return v;
}

}  // namespace

std::optional<TWMPofiles8> parse_profile(const std::string &text) {
    if (auto index = parse_uint(text, 0, 26)) return static_cast<TWMPofiles8>(*index);
    const std::string want = lower(text);
    for (int i = 0; i < 27; ++i) {
        const std::string name = lower(tw::ProfileNames[i]);
        const std::string suffix = name.substr(8);  // after "wmp_v80_"
        if (want == name || want == suffix || want == "wmprofile_v80_" + suffix) return static_cast<TWMPofiles8>(i);
    }
    return std::nullopt;
}

const char *profile_media(TWMPofiles8 profile) {
    if (profile >= 15 && profile <= 21) return "audio only";
    if (profile == 22 || profile == 23) return "video only";
    return "audio and video";
}

ParseResult parse_command_line(const std::vector<std::string> &args) {
    ParseResult r;
    Options &o = r.options;
    std::vector<std::string> positional;
    bool options_done = false;

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (options_done || a.empty() || a[0] != '-' || a == "-") {
            positional.push_back(a);
            continue;
        }
        if (a == "--") {
            options_done = true;
            continue;
        }
        // --name=value and --name value are both accepted.
        std::string name = a, value;
        bool has_value = false;
        if (auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            has_value = true;
        }
        auto take_value = [&](const char *what) -> bool {
            if (has_value) return true;
            if (i + 1 >= args.size()) {
                r.error = "option " + name + " needs " + what;
                return false;
            }
            value = args[++i];
            return true;
        };

        if (name == "-h" || name == "--help") {
            o.help = true;
        } else if (name == "-V" || name == "--version") {
            o.version = true;
        } else if (name == "--list-profiles") {
            o.list_profiles = true;
        } else if (name == "-q" || name == "--quiet") {
            o.quiet = true;
        } else if (name == "-v" || name == "--verbose") {
            o.verbose = true;
        } else if (name == "--graph-edit") {
            o.graph_edit = true;
        } else if (name == "-p" || name == "--profile") {
            if (!take_value("a profile name or index")) return r;
            auto p = parse_profile(value);
            if (!p) {
                r.error = "unknown profile '" + value + "' (see --list-profiles)";
                return r;
            }
            o.profile = *p;
        } else if (name == "-d" || name == "--duration") {
            if (!take_value("a number of seconds")) return r;
            auto s = parse_seconds(value);
            if (!s) {
                r.error = "invalid duration '" + value + "': give a positive number of seconds";
                return r;
            }
            o.duration = *s;
        } else if (name == "--port") {
            if (!take_value("a port number")) return r;
            auto v = parse_uint(value, 1, 65535);
            if (!v) {
                r.error = "invalid port '" + value + "': give 1 to 65535";
                return r;
            }
            o.port = static_cast<uint32_t>(*v);
        } else if (name == "--max-users") {
            if (!take_value("a number of clients")) return r;
            auto v = parse_uint(value, 1, 1000);
            if (!v) {
                r.error = "invalid client limit '" + value + "': give 1 to 1000";
                return r;
            }
            o.max_users = static_cast<uint32_t>(*v);
        } else if (name == "--bind") {
            if (!take_value("a local address")) return r;
            if (value.empty()) {
                r.error = "option --bind needs an address";
                return r;
            }
            o.bind_address = value;
        } else if (name == "--log") {
            if (!take_value("a file name")) return r;
            if (value.empty()) {
                r.error = "option --log needs a file name";
                return r;
            }
            o.log_file = value;
        } else {
            r.error = "unknown option '" + a + "'";
            return r;
        }
        if (has_value && (name == "-h" || name == "--help" || name == "--version" || name == "--list-profiles" ||
                          name == "--quiet" || name == "--verbose" || name == "--graph-edit")) {
            r.error = "option " + name + " takes no value";
            return r;
        }
    }

    if (o.help || o.version || o.list_profiles) return r;
    if (positional.size() != 2) {
        r.error = positional.size() < 2 ? "give a source and an output file" : "too many arguments";
        return r;
    }
    o.source = positional[0];
    o.output = positional[1];
    if (o.source.empty()) {
        r.error = "the source must not be empty";
        return r;
    }
    if (o.output.empty()) {
        r.error = "the output file name must not be empty";
        return r;
    }
    // A broadcast needs both a port and a client limit; --port alone serves at most 5 clients.
    if (o.max_users && !o.port) {
        r.error = "--max-users needs --port";
        return r;
    }
    if (!o.bind_address.empty() && !o.port) {
        r.error = "--bind needs --port";
        return r;
    }
    if (o.port && o.max_users == 0) o.max_users = 5;
    return r;
}

}  // namespace tw::record

namespace tw::record {

std::string usage_text() {
    return "Usage: tarnwick-record [options] SOURCE OUTPUT\n"
           "\n"
           "Records SOURCE (a file path or a URL) into the ASF file OUTPUT, re-encoded with one of the\n"
           "27 Windows Media 8 system profiles. Stops at the end of the source, after --duration, or on\n"
           "Ctrl-C or SIGTERM; the file is finished in every case (a second Ctrl-C ends at once).\n"
           "\n"
           "Options:\n"
           "  -p, --profile NAME|INDEX  encoding profile (default wmp_V80_384Video); see --list-profiles\n"
           "  -d, --duration SECONDS    record at most this much of the source\n"
           "      --port N              also broadcast over HTTP on port N while recording\n"
           "      --max-users N         at most N clients at once (default 5 with --port)\n"
           "      --bind ADDRESS        serve the broadcast on this local IPv4 or IPv6 address only\n"
           "                            (default: every interface)\n"
           "      --log FILE            write the graph manager's log to FILE\n"
           "      --graph-edit          register the graph so a graph editor can attach to it\n"
           "      --list-profiles       list the profiles and exit\n"
           "  -q, --quiet               print errors only\n"
           "  -v, --verbose             also print the media libraries' own diagnostics (they go to the\n"
           "                            --log file in any case)\n"
           "  -h, --help                show this help and exit\n"
           "  -V, --version             show the version and exit\n"
           "\n"
           "Exit codes:\n"
           "  0    recorded; also after Ctrl-C or SIGTERM while recording: the file is finished\n"
           "  1    the recording broke off (stream error, write failure); the file holds what came before\n"
           "  2    bad command line\n"
           "  3    the source cannot be opened or rendered, or has no stream of a kind the profile records\n"
           "  4    the output cannot be written (it is the source, say) or the graph cannot run\n"
           "  5    Ctrl-C or SIGTERM while the source was being opened (a URL, a pipe with no writer):\n"
           "       nothing was recorded and the output file was not created or touched\n"
           "  130  a second Ctrl-C or SIGTERM ended the program at once, even while opening or finishing;\n"
           "       a file being written keeps what reached the disk but may lack its index\n"
           "A closed standard output does not stop the recording: it goes on quietly.\n";
}

std::string version_text() { return "tarnwick-record 0.2.0 (Tarnwick0.02bu)\n"; }

}  // namespace tw::record
