// Colours, fonts, mouse buttons and shift states of the window framework.
//
// A TColor is either an RGB value (0x00BBGGRR, as the platform's COLORREF) or a system colour:
// the high byte 0xFF and the platform's colour index (COLOR_BTNFACE, ...) in the low byte. The
// peer resolves system colours when it draws (ColorToRGB).
#pragma once

#include "platform/win32.h"

#include <cstdint>
#include <string>

using TColor = int32_t;

constexpr TColor RGBColor(int r, int g, int b) { return TColor(uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16); }
constexpr bool IsSystemColor(TColor c) { return (uint32_t(c) & 0xFF000000u) == 0xFF000000u; }
constexpr int SystemColorIndex(TColor c) { return int(uint32_t(c) & 0xFF); }
constexpr int RedOf(TColor c) { return int(uint32_t(c) & 0xFF); }
constexpr int GreenOf(TColor c) { return int((uint32_t(c) >> 8) & 0xFF); }
constexpr int BlueOf(TColor c) { return int((uint32_t(c) >> 16) & 0xFF); }

// System colours by the platform's colour index.
constexpr TColor clActiveCaption = TColor(0xFF000000u | COLOR_ACTIVECAPTION);
constexpr TColor clWindow = TColor(0xFF000000u | COLOR_WINDOW);
constexpr TColor clWindowText = TColor(0xFF000000u | COLOR_WINDOWTEXT);
constexpr TColor clBtnFace = TColor(0xFF000000u | COLOR_BTNFACE);
constexpr TColor clBtnText = TColor(0xFF000000u | COLOR_BTNTEXT);
// Plain colours.
constexpr TColor clBlack = RGBColor(0, 0, 0);
constexpr TColor clWhite = RGBColor(255, 255, 255);
constexpr TColor clRed = RGBColor(255, 0, 0);
constexpr TColor clSkyBlue = RGBColor(166, 202, 240);
constexpr TColor clNone = TColor(0x1FFFFFFF);
// What a control's colour is before one is set: the peer's own (the platform's default for
// that kind of control).
constexpr TColor clDefault = TColor(0x20000000);

// The platform's font character sets (ANSI_CHARSET, DEFAULT_CHARSET, GB2312_CHARSET, ...).
using TFontCharset = uint8_t;

struct TFont {
    std::string Name = "MS Sans Serif";
    // As the platform's LOGFONT height: negative is the character height in pixels (the
    // usual way), positive the cell height.
    int Height = -11;
    TFontCharset Charset = DEFAULT_CHARSET;
    TColor Color = clWindowText;

    // The character height in pixels.
    int PixelHeight() const { return Height < 0 ? -Height : Height; }
    bool operator==(const TFont &) const = default;
};

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// Shift state: keys and buttons held at the time of a mouse event.
using TShiftState = unsigned;
constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64;

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TRect &) const = default;
};

// The name of a colour or character set as the stored description writes it (clBtnFace,
// GB2312_CHARSET), and back. Unknown names give false.
bool IdentToColor(const std::string &Ident, TColor &Color);
bool IdentToCharset(const std::string &Ident, TFontCharset &Charset);
