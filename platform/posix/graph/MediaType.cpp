#include "platform/posix/graph/MediaType.h"

#include <cstdio>

namespace tw::posix {

std::string guid_text(const GUID &g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

namespace {

struct Named {
    const GUID *guid;
    const char *name;
};

const Named kMajor[] = {
    {&MEDIATYPE_Video, "Video"}, {&MEDIATYPE_Audio, "Audio"},   {&MEDIATYPE_Text, "Text"},
    {&MEDIATYPE_Midi, "Midi"},   {&MEDIATYPE_Stream, "Stream"}, {&MEDIATYPE_Interleaved, "Interleaved"},
};

const Named kSub[] = {
    {&MEDIASUBTYPE_RGB24, "RGB24"},   {&MEDIASUBTYPE_RGB32, "RGB32"},         {&MEDIASUBTYPE_RGB565, "RGB565"},
    {&MEDIASUBTYPE_RGB555, "RGB555"}, {&MEDIASUBTYPE_RGB8, "RGB8"},           {&MEDIASUBTYPE_ARGB32, "ARGB32"},
    {&MEDIASUBTYPE_PCM, "PCM"},       {&MEDIASUBTYPE_IEEE_FLOAT, "IEEE_FLOAT"}, {&MEDIASUBTYPE_None, "None"},
};

// Subtypes made from a FOURCC or a wave format tag share the base {XXXXXXXX-0000-0010-8000-00AA00389B71}.
bool fourcc_based(const GUID &g) {
    static const uint8_t tail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (g.Data2 != 0x0000 || g.Data3 != 0x0010) return false;
    for (int i = 0; i < 8; ++i)
        if (g.Data4[i] != tail[i]) return false;
    return true;
}

std::string name_of(const GUID &g, const Named *table, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (*table[i].guid == g) return table[i].name;
    if (g == kGuidNull) return "*";
    if (fourcc_based(g)) {
        char buf[16];
        if (g.Data1 < 0x10000) {
            std::snprintf(buf, sizeof buf, "tag 0x%04X", g.Data1);
            return buf;
        }
        std::string s;
        for (int i = 0; i < 4; ++i) {
            char c = static_cast<char>((g.Data1 >> (8 * i)) & 0xFF);
            s.push_back(c >= 32 && c < 127 ? c : '?');
        }
        return s;
    }
    return guid_text(g);
}

}  // namespace

std::string media_type_text(const AM_MEDIA_TYPE &mt) {
    std::string s = name_of(mt.majortype, kMajor, sizeof kMajor / sizeof kMajor[0]) + "/" +
                     name_of(mt.subtype, kSub, sizeof kSub / sizeof kSub[0]);
    char buf[96];
    if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        auto *v = reinterpret_cast<const VIDEOINFOHEADER *>(mt.pbFormat);
        std::snprintf(buf, sizeof buf, " %dx%d %u bit", static_cast<int>(v->bmiHeader.biWidth),
                      static_cast<int>(v->bmiHeader.biHeight), static_cast<unsigned>(v->bmiHeader.biBitCount));
        s += buf;
        if (v->AvgTimePerFrame > 0) {
            std::snprintf(buf, sizeof buf, " %.3f fps", 1e7 / static_cast<double>(v->AvgTimePerFrame));
            s += buf;
        }
    } else if (mt.formattype == FORMAT_WaveFormatEx && mt.pbFormat && mt.cbFormat >= sizeof(WAVEFORMATEX)) {
        auto *w = reinterpret_cast<const WAVEFORMATEX *>(mt.pbFormat);
        std::snprintf(buf, sizeof buf, " %u Hz %u ch %u bit", static_cast<unsigned>(w->nSamplesPerSec),
                      static_cast<unsigned>(w->nChannels), static_cast<unsigned>(w->wBitsPerSample));
        s += buf;
    } else if (mt.formattype != kGuidNull && mt.formattype != FORMAT_None) {
        std::snprintf(buf, sizeof buf, " format %s, %u bytes", guid_text(mt.formattype).c_str(),
                      static_cast<unsigned>(mt.cbFormat));
        s += buf;
    }
    return s;
}

}  // namespace tw::posix
