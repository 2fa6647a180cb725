#include "PlatformObjects.h"

// The system's objects are not counted.
long PlatformObjects() { return -1; }
