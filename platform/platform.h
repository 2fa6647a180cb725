// Everything platform/ declares: COM, the reference-counting pointer, text conversion, the
// Win32 subset, DirectShow and Windows Media Format.
#pragma once

#include "platform/com.h"
#include "platform/comptr.h"
#include "platform/text.h"
#if __has_include("platform/win32.h")
#include "platform/win32.h"
#endif
#include "platform/directshow.h"
#include "platform/wmf.h"
