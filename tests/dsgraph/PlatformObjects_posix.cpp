#include "PlatformObjects.h"

#include "platform/posix/object.h"

long PlatformObjects() { return tw::posix::live_objects(); }
