// HRESULT comparisons that print names, not numbers: EXPECT_HR(S_OK, call()).
#pragma once

#include "platform/com.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace tw::test {

inline std::string hr_name(HRESULT hr) {
    struct Name {
        HRESULT hr;
        const char *name;
    };
    static const Name names[] = {
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_UNEXPECTED, "E_UNEXPECTED"},
        {E_NOTIMPL, "E_NOTIMPL"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_POINTER, "E_POINTER"},
        {E_HANDLE, "E_HANDLE"},
        {E_ABORT, "E_ABORT"},
        {E_FAIL, "E_FAIL"},
        {E_ACCESSDENIED, "E_ACCESSDENIED"},
        {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
        {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
        {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
        {CO_E_NOTINITIALIZED, "CO_E_NOTINITIALIZED"},
        {(HRESULT)0x800401FB, "CO_E_OBJNOTREG"},
        {RPC_E_CHANGED_MODE, "RPC_E_CHANGED_MODE"},
        {MK_S_MONIKERALREADYREGISTERED, "MK_S_MONIKERALREADYREGISTERED"},
        {MK_E_UNAVAILABLE, "MK_E_UNAVAILABLE"},
        {MK_E_NOOBJECT, "MK_E_NOOBJECT"},
    };
    for (const Name &n : names)
        if (n.hr == hr) return n.name;
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", unsigned(hr));
    return buf;
}

inline ::testing::AssertionResult hr_equal(const char *expected_expr, const char *actual_expr, HRESULT expected,
                                           HRESULT actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual_expr << " gave " << hr_name(actual) << ", expected "
                                         << hr_name(expected) << " (" << expected_expr << ")";
}

}  // namespace tw::test

#define EXPECT_HR(expected, actual) EXPECT_PRED_FORMAT2(::tw::test::hr_equal, expected, actual)
#define ASSERT_HR(expected, actual) ASSERT_PRED_FORMAT2(::tw::test::hr_equal, expected, actual)
