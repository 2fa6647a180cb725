// Diagnostic lines of the libraries under the platform layer (FFmpeg's own log), which would
// otherwise be printed to standard error by the library itself, beside the program's messages.
// Here they go to whoever subscribed (each filter graph, for its log file) and to standard
// error only when the program asked for it (tarnwick-record --verbose).
#pragma once

#include <functional>
#include <string>

namespace tw::posix {

// Takes over FFmpeg's log; idempotent. Subscribing or switching standard error on does it too.
void route_library_diagnostics();

// Subscribes `sink` to every diagnostic line (one line, without its newline) until
// unsubscribe_diagnostics(id) returns; after that it is never called again. Lines are
// delivered on whatever thread the library logs from, with a lock held: the sink must not
// subscribe, unsubscribe or log through FFmpeg itself.
int subscribe_diagnostics(std::function<void(const std::string &line)> sink);
void unsubscribe_diagnostics(int id);

// Standard error also gets every line from now on (off: the default).
void set_diagnostics_to_stderr(bool on);

// Delivers one line as above (the FFmpeg hook's output; also for tests).
void emit_diagnostic(const std::string &line);

}  // namespace tw::posix
