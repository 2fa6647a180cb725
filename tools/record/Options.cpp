#include "tools/record/Options.h"

#include <CLI/CLI.hpp>

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

namespace {

// The values are taken as text and checked here, so each refusal names the option and says
// what it accepts, in our words rather than the parser's.
struct ValueOption {
    const char *names;  // as the parser takes them
    const char *needs;  // what a missing value should have been
    std::string text;
    CLI::Option *option = nullptr;

    bool given() const { return option->count() > 0; }
};

std::string user_spelling(const std::string &parser_text) {
    // The parser reports "--port: ..." or "quiet was given ...": the option's long name.
    std::string name = parser_text.substr(0, parser_text.find_first_of(": "));
    return name.rfind("-", 0) == 0 ? name : "--" + name;
}

}  // namespace

ParseResult parse_command_line(const std::vector<std::string> &args) {
    ParseResult r;
    Options &o = r.options;

    CLI::App app{"", "tarnwick-record"};
    app.set_help_flag();  // our own -h, with our own usage text
    app.allow_extras();   // unknown options come back to be named in our message
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    ValueOption profile{"-p,--profile", "a profile name or index", {}};
    ValueOption duration{"-d,--duration", "a number of seconds", {}};
    ValueOption port{"--port", "a port number", {}};
    ValueOption max_users{"--max-users", "a number of clients", {}};
    ValueOption bind{"--bind", "an address", {}};
    ValueOption log{"--log", "a file name", {}};
    ValueOption *const valued[] = {&profile, &duration, &port, &max_users, &bind, &log};
    for (ValueOption *v : valued) v->option = app.add_option(v->names, v->text);

    for (auto [names, flag] : {std::pair{"-h,--help", &o.help}, {"-V,--version", &o.version},
                               {"--list-profiles", &o.list_profiles}, {"-q,--quiet", &o.quiet},
                               {"-v,--verbose", &o.verbose}, {"--graph-edit", &o.graph_edit}})
        app.add_flag(names, *flag)->disable_flag_override();

    std::vector<std::string> positional;
    app.add_option("files", positional);

    // "--log=" is an empty value; the parser would take the next argument instead.
    for (const std::string &a : args) {
        if (a == "--") break;
        if (a.size() > 3 && a.rfind("--", 0) == 0 && a.back() == '=')
            for (ValueOption *v : valued)
                if (v->option->check_name(a.substr(0, a.size() - 1))) {
                    r.error = "option " + a.substr(0, a.size() - 1) + " needs " + v->needs;
                    return r;
                }
    }

    std::vector<std::string> reversed(args.rbegin(), args.rend());  // the parser takes them last first
    try {
        app.parse(reversed);
    } catch (const CLI::ArgumentMismatch &e) {
        const std::string what = e.what();
        const std::string name = user_spelling(what);
        if (what.find("flag override") != std::string::npos) {
            r.error = "option " + name + " takes no value";
            return r;
        }
        for (ValueOption *v : valued)
            if (v->option->check_name(name)) r.error = "option " + name + " needs " + v->needs;
        if (r.error.empty()) r.error = what;
        return r;
    } catch (const CLI::ParseError &e) {
        r.error = e.what();
        return r;
    }
    for (const std::string &extra : app.remaining())
        if (extra != "--") {
            r.error = "unknown option '" + extra + "'";
            return r;
        }

    if (profile.given()) {
        auto p = parse_profile(profile.text);
        if (!p) {
            r.error = "unknown profile '" + profile.text + "' (see --list-profiles)";
            return r;
        }
        o.profile = *p;
    }
    if (duration.given()) {
        auto s = parse_seconds(duration.text);
        if (!s) {
            r.error = "invalid duration '" + duration.text + "': give a positive number of seconds";
            return r;
        }
        o.duration = *s;
    }
    if (port.given()) {
        auto v = parse_uint(port.text, 1, 65535);
        if (!v) {
            r.error = "invalid port '" + port.text + "': give 1 to 65535";
            return r;
        }
        o.port = static_cast<uint32_t>(*v);
    }
    if (max_users.given()) {
        auto v = parse_uint(max_users.text, 1, 1000);
        if (!v) {
            r.error = "invalid client limit '" + max_users.text + "': give 1 to 1000";
            return r;
        }
        o.max_users = static_cast<uint32_t>(*v);
    }
    if (bind.given() && bind.text.empty()) {
        r.error = "option --bind needs " + std::string(bind.needs);
        return r;
    }
    o.bind_address = bind.text;
    if (log.given() && log.text.empty()) {
        r.error = "option --log needs " + std::string(log.needs);
        return r;
    }
    o.log_file = log.text;

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
