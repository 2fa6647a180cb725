#include "platform/posix/net/HttpRequest.h"

#include <cctype>

namespace tw::posix::net {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool iequals_prefix(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

}  // namespace

size_t request_head_length(std::string_view buffer) {
    for (size_t i = 0; i < buffer.size(); ++i) {
        if (buffer[i] != '\n') continue;
        if (i + 1 < buffer.size() && buffer[i + 1] == '\n') return i + 2;
        if (i + 2 < buffer.size() && buffer[i + 1] == '\r' && buffer[i + 2] == '\n') return i + 3;
    }
    return 0;
}

std::optional<HttpRequest> parse_request(std::string_view head) {
    HttpRequest req;
    size_t eol = head.find('\n');
    std::string_view line = trim(head.substr(0, eol));
    size_t sp1 = line.find(' ');
    if (sp1 == std::string_view::npos || sp1 == 0) return std::nullopt;
    size_t sp2 = line.find(' ', sp1 + 1);
    std::string_view target = line.substr(sp1 + 1, sp2 == std::string_view::npos ? std::string_view::npos : sp2 - sp1 - 1);
    if (target.empty() || sp2 == std::string_view::npos || !iequals_prefix(line.substr(sp2 + 1), "HTTP/"))
        return std::nullopt;
    req.method = std::string(line.substr(0, sp1));
    if (iequals_prefix(target, "http://")) {
        size_t slash = target.find('/', 7);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    req.path = std::string(target.substr(0, target.find_first_of("?#")));

    bool client_guid = false;
    bool play = false;
    size_t pos = eol == std::string_view::npos ? head.size() : eol + 1;
    while (pos < head.size()) {
        size_t end = head.find('\n', pos);
        std::string_view h = head.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? head.size() : end + 1;
        size_t colon = h.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view name = trim(h.substr(0, colon));
        std::string_view value = trim(h.substr(colon + 1));
        if (iequals_prefix(name, "user-agent") && name.size() == 10) {
            req.user_agent = std::string(value);
        } else if (iequals_prefix(name, "pragma") && name.size() == 6) {
            while (!value.empty()) {
                size_t comma = value.find(',');
                std::string_view token = trim(value.substr(0, comma));
                if (!token.empty()) req.pragmas.emplace_back(token);
                if (iequals_prefix(token, "xClientGUID")) client_guid = true;
                if (iequals_prefix(token, "xPlayStrm=1")) play = true;
                value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
            }
        }
    }
    std::string_view ua = req.user_agent;
    bool wms = client_guid || iequals_prefix(ua, "NSPlayer/") || iequals_prefix(ua, "NSServer") ||
               iequals_prefix(ua, "Windows-Media-Player");
    req.kind = !wms ? RequestKind::Plain : play ? RequestKind::Play : RequestKind::Describe;
    return req;
}

}  // namespace tw::posix::net
