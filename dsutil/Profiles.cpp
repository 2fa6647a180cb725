// The Windows Media 8 system profiles: GUIDs and names, in TWMPofiles8 order.
#include "dsutil/DSUtil.h"

#include "platform/wmf.h"

// Row i is the runtime's system profile WMProfile_V80_<the suffix of member i>.
const GUID ProfileGUIDs[27] = {
    WMProfile_V80_255VideoPDA,
    WMProfile_V80_150VideoPDA,
    WMProfile_V80_28856VideoMBR,
    WMProfile_V80_100768VideoMBR,
    WMProfile_V80_288100VideoMBR,
    WMProfile_V80_288Video,
    WMProfile_V80_56Video,
    WMProfile_V80_100Video,
    WMProfile_V80_256Video,
    WMProfile_V80_384Video,
    WMProfile_V80_768Video,
    WMProfile_V80_700NTSCVideo,
    WMProfile_V80_1400NTSCVideo,
    WMProfile_V80_384PALVideo,
    WMProfile_V80_700PALVideo,
    WMProfile_V80_288MonoAudio,
    WMProfile_V80_288StereoAudio,
    WMProfile_V80_32StereoAudio,
    WMProfile_V80_48StereoAudio,
    WMProfile_V80_64StereoAudio,
    WMProfile_V80_96StereoAudio,
    WMProfile_V80_128StereoAudio,
    WMProfile_V80_288VideoOnly,
    WMProfile_V80_56VideoOnly,
    WMProfile_V80_FAIRVBRVideo,
    WMProfile_V80_HIGHVBRVideo,
    WMProfile_V80_BESTVBRVideo,
};

TWMPofiles8 ProfileFromGuid(REFGUID Guid) {
    for (int i = 0; i < 27; ++i)
        if (IsEqualGUID(Guid, ProfileGUIDs[i])) return static_cast<TWMPofiles8>(i);
    return static_cast<TWMPofiles8>(255);
}

namespace tw {
const char *const ProfileNames[27] = {
    "wmp_V80_255VideoPDA",
    "wmp_V80_150VideoPDA",
    "wmp_V80_28856VideoMBR",
    "wmp_V80_100768VideoMBR",
    "wmp_V80_288100VideoMBR",
    "wmp_V80_288Video",
    "wmp_V80_56Video",
    "wmp_V80_100Video",
    "wmp_V80_256Video",
    "wmp_V80_384Video",
    "wmp_V80_768Video",
    "wmp_V80_700NTSCVideo",
    "wmp_V80_1400NTSCVideo",
    "wmp_V80_384PALVideo",
    "wmp_V80_700PALVideo",
    "wmp_V80_288MonoAudio",
    "wmp_V80_288StereoAudio",
    "wmp_V80_32StereoAudio",
    "wmp_V80_48StereoAudio",
    "wmp_V80_64StereoAudio",
    "wmp_V80_96StereoAudio",
    "wmp_V80_128StereoAudio",
    "wmp_V80_288VideoOnly",
    "wmp_V80_56VideoOnly",
    "wmp_V80_FAIRVBRVideo",
    "wmp_V80_HIGHVBRVideo",
    "wmp_V80_BESTVBRVideo",
};
}  // namespace tw
