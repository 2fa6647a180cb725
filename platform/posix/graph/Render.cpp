#include "platform/posix/graph/Render.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace tw::posix {

namespace {

// Run-time registrations, newest first (a test's own opener goes in front of everything).
struct Registry {
    std::mutex mutex;  // guards the lists and the cookie counter
    DWORD next = 1;
    std::vector<std::pair<DWORD, SourceOpener>> openers;
    std::vector<std::pair<DWORD, TransformCandidate>> transforms;
};

Registry &registry() {
    static Registry r;
    return r;
}

template <class T>
DWORD add(std::vector<std::pair<DWORD, T>> &list, const T &item) {
    Registry &r = registry();
    std::lock_guard<std::mutex> g(r.mutex);
    DWORD cookie = r.next++;
    list.insert(list.begin(), {cookie, item});
    return cookie;
}

template <class T>
void remove(std::vector<std::pair<DWORD, T>> &list, DWORD cookie) {
    Registry &r = registry();
    std::lock_guard<std::mutex> g(r.mutex);
    list.erase(std::remove_if(list.begin(), list.end(), [&](const auto &e) { return e.first == cookie; }),
               list.end());
}

}  // namespace

DWORD register_source_opener(const SourceOpener &opener) { return add(registry().openers, opener); }
void revoke_source_opener(DWORD cookie) { remove(registry().openers, cookie); }
DWORD register_transform(const TransformCandidate &candidate) { return add(registry().transforms, candidate); }
void revoke_transform(DWORD cookie) { remove(registry().transforms, cookie); }

std::vector<SourceOpener> current_source_openers() {
    std::vector<SourceOpener> v;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> g(r.mutex);
        for (auto &e : r.openers) v.push_back(e.second);
    }
    size_t n = 0;
    const SourceOpener *b = builtin_source_openers(&n);
    v.insert(v.end(), b, b + n);
    return v;
}

std::vector<TransformCandidate> current_transforms() {
    std::vector<TransformCandidate> v;
    {
        Registry &r = registry();
        std::lock_guard<std::mutex> g(r.mutex);
        for (auto &e : r.transforms) v.push_back(e.second);
    }
    size_t n = 0;
    const TransformCandidate *b = builtin_transforms(&n);
    v.insert(v.end(), b, b + n);
    return v;
}

}  // namespace tw::posix
