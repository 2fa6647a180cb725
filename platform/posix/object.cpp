#include "platform/posix/object.h"

namespace tw::posix {

static std::atomic<long> g_live{0};

long live_objects() { return g_live.load(); }

LiveObject::LiveObject() { ++g_live; }
LiveObject::LiveObject(const LiveObject &) { ++g_live; }
LiveObject::~LiveObject() { --g_live; }

}  // namespace tw::posix
