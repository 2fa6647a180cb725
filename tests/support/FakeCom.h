// Counted COM objects for tests, usable on both targets: Fake<Primary, Others...> is the
// platform's CountedObject (platform/comobject.h) counted in live_fakes(), so a test can check
// that nothing it made outlives it.
#pragma once

#include "platform/comobject.h"

#include <atomic>

namespace tw::test {

inline std::atomic<int> &live_fakes() {
    static std::atomic<int> count{0};
    return count;
}

struct LiveFake {
    LiveFake() { ++live_fakes(); }
    LiveFake(const LiveFake &) { ++live_fakes(); }
    ~LiveFake() { --live_fakes(); }
};

template <class Primary, class... Others>
using Fake = CountedObject<LiveFake, Primary, Others...>;

}  // namespace tw::test
