// Reading the HTTP requests of broadcast clients. Windows Media players (and FFmpeg's and
// VLC's mmsh clients, which pose as them) speak MMS over HTTP: a Describe request for the
// header, then a Play request on a new connection for the framed stream. Everyone else gets
// the plain ASF stream.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::posix::net {

enum class RequestKind {
    Describe,  // Windows Media client asking for the header
    Play,      // Windows Media client asking for the stream (xPlayStrm=1)
    Plain,     // any other HTTP client: unframed ASF
};

struct HttpRequest {
    std::string method;
    std::string path;  // without query; an absolute URL is cut down to its path
    std::string user_agent;
    std::vector<std::string> pragmas;  // every token of every Pragma line, trimmed
    RequestKind kind = RequestKind::Plain;
};

// The length of the request head (through the blank line) if `buffer` holds a complete one,
// else 0. Bare LF line ends are accepted.
size_t request_head_length(std::string_view buffer);

// Parses a complete request head; nullopt when the request line is malformed.
std::optional<HttpRequest> parse_request(std::string_view head);

}  // namespace tw::posix::net
