// HRESULT checks for the media tests that print the code's name with its value.
#pragma once

#include "platform/directshow.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace media_checks {

inline std::string hr_text(HRESULT hr) {
    struct Name {
        HRESULT hr;
        const char *name;
    };
    static const Name names[] = {
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_FAIL, "E_FAIL"},
        {E_ABORT, "E_ABORT"},
        {E_NOTIMPL, "E_NOTIMPL"},
        {E_POINTER, "E_POINTER"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {E_ACCESSDENIED, "E_ACCESSDENIED"},
        {E_UNEXPECTED, "E_UNEXPECTED"},
        {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"},
        {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)"},
        {HRESULT_FROM_WIN32(ERROR_INVALID_NAME), "HRESULT_FROM_WIN32(ERROR_INVALID_NAME)"},
        {HRESULT_FROM_WIN32(10054), "HRESULT_FROM_WIN32(WSAECONNRESET)"},
        {HRESULT_FROM_WIN32(10060), "HRESULT_FROM_WIN32(WSAETIMEDOUT)"},
        {HRESULT_FROM_WIN32(10061), "HRESULT_FROM_WIN32(WSAECONNREFUSED)"},
        {HRESULT_FROM_WIN32(11001), "HRESULT_FROM_WIN32(WSAHOST_NOT_FOUND)"},
        {VFW_E_UNKNOWN_FILE_TYPE, "VFW_E_UNKNOWN_FILE_TYPE"},
        {VFW_E_INVALID_FILE_FORMAT, "VFW_E_INVALID_FILE_FORMAT"},
        {VFW_E_UNSUPPORTED_STREAM, "VFW_E_UNSUPPORTED_STREAM"},
        {VFW_E_CANNOT_RENDER, "VFW_E_CANNOT_RENDER"},
        {VFW_E_CANNOT_CONNECT, "VFW_E_CANNOT_CONNECT"},
        {VFW_E_NOT_CONNECTED, "VFW_E_NOT_CONNECTED"},
        {VFW_E_NOT_COMMITTED, "VFW_E_NOT_COMMITTED"},
        {VFW_E_TYPE_NOT_ACCEPTED, "VFW_E_TYPE_NOT_ACCEPTED"},
        {VFW_E_WRONG_STATE, "VFW_E_WRONG_STATE"},
        {VFW_S_PARTIAL_RENDER, "VFW_S_PARTIAL_RENDER"},
        {VFW_S_AUDIO_NOT_RENDERED, "VFW_S_AUDIO_NOT_RENDERED"},
        {VFW_S_VIDEO_NOT_RENDERED, "VFW_S_VIDEO_NOT_RENDERED"},
        {VFW_S_NO_MORE_ITEMS, "VFW_S_NO_MORE_ITEMS"},
    };
    char hex[16];
    snprintf(hex, sizeof hex, "0x%08X", (unsigned)hr);
    for (const Name &n : names)
        if (n.hr == hr) return std::string(n.name) + " (" + hex + ")";
    return hex;
}

}  // namespace media_checks

namespace media_checks {
inline ::testing::AssertionResult hr_equal(const char *e_expr, const char *a_expr, HRESULT e, HRESULT a) {
    if (e == a) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a_expr << " gave " << hr_text(a) << ", expected " << hr_text(e);
}
}  // namespace media_checks

#define EXPECT_HR(expected, actual) EXPECT_PRED_FORMAT2(media_checks::hr_equal, expected, actual)
#define ASSERT_HR(expected, actual) ASSERT_PRED_FORMAT2(media_checks::hr_equal, expected, actual)
