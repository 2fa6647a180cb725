#include "framework/Graphics.h"

#include <map>

bool IdentToColor(const std::string &Ident, TColor &Color) {
    static const std::map<std::string, TColor> names = {
        {"clActiveCaption", clActiveCaption}, {"clWindow", clWindow},   {"clWindowText", clWindowText},
        {"clBtnFace", clBtnFace},             {"clBtnText", clBtnText}, {"clBlack", clBlack},
        {"clWhite", clWhite},                 {"clRed", clRed},         {"clSkyBlue", clSkyBlue},
        {"clNone", clNone},                   {"clDefault", clDefault},
    };
    auto it = names.find(Ident);
    if (it == names.end()) return false;
    Color = it->second;
    return true;
}

bool IdentToCharset(const std::string &Ident, TFontCharset &Charset) {
    static const std::map<std::string, TFontCharset> names = {
        {"ANSI_CHARSET", ANSI_CHARSET},
        {"DEFAULT_CHARSET", DEFAULT_CHARSET},
        {"SYMBOL_CHARSET", SYMBOL_CHARSET},
        {"GB2312_CHARSET", GB2312_CHARSET},
    };
    auto it = names.find(Ident);
    if (it == names.end()) return false;
    Charset = it->second;
    return true;
}
