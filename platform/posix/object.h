// The COM objects of our platform layer: ComObject<Primary, Others...> is the platform's
// CountedObject (platform/comobject.h) counted in the live-object counter, so tests can check
// that nothing outlives a graph.
#pragma once

#include "platform/comobject.h"
#include "platform/enumerator.h"

#include <atomic>

namespace tw::posix {

// Number of platform COM objects currently alive (all threads).
long live_objects();

class LiveObject {
public:
    LiveObject();
    LiveObject(const LiveObject &);
    ~LiveObject();
};

// The platform layer's objects count themselves among the live objects.
template <class Primary, class... Others>
using ComObject = CountedObject<LiveObject, Primary, Others...>;

template <class Enum, class Item, class Held = Item *, Item *(*HandOut)(const Held &) = hand_out_reference<Item>>
using Enumerator = SnapshotEnumerator<LiveObject, Enum, Item, Held, HandOut>;

}  // namespace tw::posix
