// Conversions shared by the Qt peer's files: texts, colours and fonts.
//
// Threads: the user-interface thread only.
#pragma once

#include "framework/Peer.h"

#include <QColor>
#include <QFont>
#include <QString>

namespace tw::ui::qt {

inline QString ToQ(const std::string &Text) { return QString::fromUtf8(Text.data(), qsizetype(Text.size())); }
inline std::string FromQ(const QString &Text) { return Text.toUtf8().toStdString(); }

// The colour as Qt draws it; system colours resolved through ColorToRGB.
QColor ToQColor(TColor Color);
// The face (with its substitutions, and the CJK face as a fallback for Chinese character
// sets), the pixel height, and nothing of the colour: that goes to the widget's palette.
QFont ToQFont(const TFont &Font);

// The face Chinese texts are drawn in.
inline const char kCjkFamily[] = "WenQuanYi Micro Hei";

}  // namespace tw::ui::qt
