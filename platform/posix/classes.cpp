#include "platform/posix/classes.h"

namespace tw::posix {

// Each area of the platform layer adds its classes here.
static const BuiltinClass kClasses[] = {
    {nullptr, nullptr, nullptr},  // end marker, keeps the array non-empty
};

const BuiltinClass *builtin_classes(size_t *count) {
    *count = sizeof(kClasses) / sizeof(kClasses[0]) - 1;
    return kClasses;
}

}  // namespace tw::posix
