// Result comparisons that print names, not numbers: EXPECT_HR(S_OK, call()).
#pragma once

#include "platform/hresult_names.h"

#include <gtest/gtest.h>

#include <string>

namespace tw::test {

// The platform's name of the code, a few COM codes the error table leaves out, or its hex value.
inline std::string hr_name(HRESULT hr) {
    switch (static_cast<uint32_t>(hr)) {
    case 0x80040111u: return "CLASS_E_CLASSNOTAVAILABLE";
    case 0x800401FBu: return "CO_E_OBJNOTREG";
    case 0x000401E7u: return "MK_S_MONIKERALREADYREGISTERED";
    case 0x800401E3u: return "MK_E_UNAVAILABLE";
    case 0x800401E5u: return "MK_E_NOOBJECT";
    default: return hresult_text(hr);
    }
}

inline ::testing::AssertionResult hr_equal(const char *expected_expr, const char *actual_expr, HRESULT expected,
                                           HRESULT actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual_expr << " gave " << hr_name(actual) << ", expected "
                                         << hr_name(expected) << " (" << expected_expr << ")";
}

}  // namespace tw::test

// The call may hold commas of its own (a template argument list, say).
#define EXPECT_HR(expected, ...) EXPECT_PRED_FORMAT2(::tw::test::hr_equal, expected, (__VA_ARGS__))
#define ASSERT_HR(expected, ...) ASSERT_PRED_FORMAT2(::tw::test::hr_equal, expected, (__VA_ARGS__))
