// The WM8 profile table lives in platform/Wm8Profiles.h; the writer's code names it as its own.
#pragma once

#include "platform/Wm8Profiles.h"

namespace tw::posix::asf {
using namespace tw::wm8;
}  // namespace tw::posix::asf
