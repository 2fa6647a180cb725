// The result codes the media filters report: DirectShow's (platform/directshow.h) and the
// Winsock errors by which Windows names network failures.
#pragma once

#include "platform/directshow.h"

namespace tw::posix::media {

// Winsock error numbers; HRESULT_FROM_WIN32 of each has a system text.
inline constexpr uint32_t kWsaConnReset = 10054;
inline constexpr uint32_t kWsaTimedOut = 10060;
inline constexpr uint32_t kWsaConnRefused = 10061;
inline constexpr uint32_t kWsaHostNotFound = 11001;

}  // namespace tw::posix::media
