// The network sink's request reader on arbitrary bytes: the bytes arrive in pieces, as a
// socket delivers them, and are parsed the way the sink parses them once a head is complete.
// The first input byte chooses the piece size, so the fuzzer also varies how a head is split.
#include "platform/posix/net/HttpRequest.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace tw::posix::net;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = data[0] % 64 + 1;
    std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    std::string buffer;
    while (!rest.empty()) {
        const size_t n = rest.size() < piece ? rest.size() : piece;
        buffer.append(rest.substr(0, n));
        rest.remove_prefix(n);
        // A head that keeps coming is consumed one request at a time, as on a kept connection.
        for (size_t head; (head = request_head_length(buffer)) != 0;) {
            if (head > buffer.size()) __builtin_trap();
            auto req = parse_request(std::string_view(buffer).substr(0, head));
            if (req && req->path.size() > head) __builtin_trap();
            buffer.erase(0, head);
        }
    }
    return 0;
}
