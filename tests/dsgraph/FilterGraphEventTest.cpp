// HandleGraphEvent: every event code's typed handler and its decoded arguments, table-driven,
// with every handler assigned at once so that a row also shows that no other handler fires.
#include "tests/support/FilterGraphFakes.h"

#include "dsgraph/FilterGraph.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace fakes;
using Calls = std::vector<std::string>;

namespace {

template <class... A>
std::string Args(const char *name, const A &...a) {
    std::ostringstream s;
    s << name << "(";
    int i = 0;
    ((s << (i++ ? "," : "") << a), ...);
    s << ")";
    return s.str();
}
std::string P(const void *p) { return "p" + std::to_string(reinterpret_cast<uintptr_t>(p)); }
const char *B(bool b) { return b ? "true" : "false"; }

// Assigns all 70 typed handlers (and OnDSEvent) so that each appends its name and arguments.
void BindAll(TFilterGraph &g, Calls &out) {
    g.OnDSEvent = [&](TComponent *s, LONG e, LONG_PTR, LONG_PTR) { out.push_back(Args("DS", Hex(uint32_t(e)))); };
    auto n = [&](TNotifyEvent &e, const char *name) {
        e = [&out, name](TObject *) { out.push_back(Args(name)); };
    };
    g.OnGraphBufferingData = [&](TObject *, bool b) { out.push_back(Args("BufferingData", B(b))); };
    n(g.OnGraphClockChanged, "ClockChanged");
    g.OnGraphComplete = [&](TObject *, HRESULT r, IBaseFilter *f) { out.push_back(Args("Complete", r, P(f))); };
    g.OnGraphDeviceLost = [&](TObject *, IUnknown *d, bool r) { out.push_back(Args("DeviceLost", P(d), B(r))); };
    g.OnGraphEndOfSegment = [&](TObject *, REFERENCE_TIME t, DWORD n) { out.push_back(Args("EndOfSegment", t, n)); };
    g.OnGraphErrorStillPlaying = [&](TObject *, HRESULT r) { out.push_back(Args("ErrorStillPlaying", r)); };
    g.OnGraphErrorAbort = [&](TObject *, HRESULT r) { out.push_back(Args("ErrorAbort", r)); };
    g.OnGraphFullscreenLost = [&](TObject *, IBaseFilter *f) { out.push_back(Args("FullscreenLost", P(f))); };
    n(g.OnGraphChanged, "GraphChanged");
    g.OnGraphOleEvent = [&](TObject *, const tw::wstring &a, const tw::wstring &b) {
        out.push_back(Args("OleEvent", tw::to_utf8(a), tw::to_utf8(b)));
    };
    g.OnGraphOpeningFile = [&](TObject *, bool b) { out.push_back(Args("OpeningFile", B(b))); };
    n(g.OnGraphPaletteChanged, "PaletteChanged");
    g.OnGraphPaused = [&](TObject *, HRESULT r) { out.push_back(Args("Paused", r)); };
    n(g.OnGraphQualityChange, "QualityChange");
    g.OnGraphSNDDevInError = [&](TObject *, DWORD w, DWORD c) { out.push_back(Args("SNDDevInError", w, c)); };
    g.OnGraphSNDDevOutError = [&](TObject *, DWORD w, DWORD c) { out.push_back(Args("SNDDevOutError", w, c)); };
    n(g.OnGraphStepComplete, "StepComplete");
    g.OnGraphStreamControlStarted = [&](TObject *, IPin *p, DWORD c) {
        out.push_back(Args("StreamControlStarted", P(p), c));
    };
    g.OnGraphStreamControlStopped = [&](TObject *, IPin *p, DWORD c) {
        out.push_back(Args("StreamControlStopped", P(p), c));
    };
    g.OnGraphStreamErrorStillPlaying = [&](TObject *, HRESULT o, DWORD v) {
        out.push_back(Args("StreamErrorStillPlaying", o, v));
    };
    g.OnGraphStreamErrorStopped = [&](TObject *, HRESULT o, DWORD v) {
        out.push_back(Args("StreamErrorStopped", o, v));
    };
    n(g.OnGraphUserAbort, "UserAbort");
    g.OnGraphVideoSizeChanged = [&](TObject *, WORD w, WORD h) { out.push_back(Args("VideoSizeChanged", w, h)); };
    g.OnGraphTimeCodeAvailable = [&](TObject *, IBaseFilter *f, DWORD d) {
        out.push_back(Args("TimeCodeAvailable", P(f), d));
    };
    g.OnGraphEXTDeviceModeChange = [&](TObject *, DWORD m, DWORD d) {
        out.push_back(Args("EXTDeviceModeChange", m, d));
    };
    n(g.OnGraphClockUnset, "ClockUnset");
    g.OnGraphVMRRenderDevice = [&](TObject *, int32_t d) { out.push_back(Args("VMRRenderDevice", d)); };
    g.OnDVDAudioStreamChange = [&](TObject *, int32_t s, int32_t l, const std::string &lang) {
        out.push_back(Args("DVDAudioStreamChange", s, l, lang));
    };
    g.OnDVDCurrentTime = [&](TObject *, int32_t h, int32_t m, int32_t s, int32_t f, int32_t r) {
        out.push_back(Args("DVDCurrentTime", h, m, s, f, r));
    };
    g.OnDVDTitleChange = [&](TObject *, int32_t t) { out.push_back(Args("DVDTitleChange", t)); };
    g.OnDVDChapterStart = [&](TObject *, int32_t c) { out.push_back(Args("DVDChapterStart", c)); };
    g.OnDVDAngleChange = [&](TObject *, int32_t t, int32_t c) { out.push_back(Args("DVDAngleChange", t, c)); };
    g.OnDVDValidUOPSChange = [&](TObject *, int32_t u) { out.push_back(Args("DVDValidUOPSChange", u)); };
    g.OnDVDButtonChange = [&](TObject *, int32_t t, int32_t c) { out.push_back(Args("DVDButtonChange", t, c)); };
    n(g.OnDVDChapterAutoStop, "DVDChapterAutoStop");
    g.OnDVDStillOn = [&](TObject *, bool b, int32_t s) { out.push_back(Args("DVDStillOn", B(b), s)); };
    n(g.OnDVDStillOff, "DVDStillOff");
    g.OnDVDSubpictureStreamChange = [&](TObject *, int32_t s, int32_t l, const std::string &lang) {
        out.push_back(Args("DVDSubpictureStreamChange", s, l, lang));
    };
    n(g.OnDVDNoFP_PGC, "DVDNoFP_PGC");
    g.OnDVDPlaybackRateChange = [&](TObject *, float r) { out.push_back(Args("DVDPlaybackRateChange", r)); };
    g.OnDVDParentalLevelChange = [&](TObject *, int32_t l) { out.push_back(Args("DVDParentalLevelChange", l)); };
    n(g.OnDVDPlaybackStopped, "DVDPlaybackStopped");
    g.OnDVDAnglesAvailable = [&](TObject *, bool b) { out.push_back(Args("DVDAnglesAvailable", B(b))); };
    n(g.OnDVDPlayPeriodAutoStop, "DVDPlayPeriodAutoStop");
    g.OnDVDButtonAutoActivated = [&](TObject *, DWORD b) { out.push_back(Args("DVDButtonAutoActivated", b)); };
    g.OnDVDCMDStart = [&](TObject *, DWORD c) { out.push_back(Args("DVDCMDStart", c)); };
    g.OnDVDCMDEnd = [&](TObject *, DWORD c) { out.push_back(Args("DVDCMDEnd", c)); };
    n(g.OnDVDDiscEjected, "DVDDiscEjected");
    n(g.OnDVDDiscInserted, "DVDDiscInserted");
    g.OnDVDCurrentHMSFTime = [&](TObject *, DVD_HMSF_TIMECODE h, tagDVD_TIMECODE &t) {
        out.push_back(Args("DVDCurrentHMSFTime", int(h.bHours), int(h.bMinutes), int(h.bSeconds), int(h.bFrames),
                           int(t.Hours1), int(t.Hours10), int(t.Minutes1), int(t.Minutes10), int(t.Seconds1),
                           int(t.Seconds10), int(t.Frames1), int(t.Frames10), int(t.FrameRateCode)));
    };
    g.OnDVDKaraokeMode = [&](TObject *, bool p) { out.push_back(Args("DVDKaraokeMode", B(p))); };
    n(g.OnDVDDomainFirstPlay, "DVDDomainFirstPlay");
    n(g.OnDVDDomainVideoManagerMenu, "DVDDomainVideoManagerMenu");
    n(g.OnDVDDomainVideoTitleSetMenu, "DVDDomainVideoTitleSetMenu");
    n(g.OnDVDDomainTitle, "DVDDomainTitle");
    n(g.OnDVDDomainStop, "DVDDomainStop");
    n(g.OnDVDErrorUnexpected, "DVDErrorUnexpected");
    n(g.OnDVDErrorCopyProtectFail, "DVDErrorCopyProtectFail");
    n(g.OnDVDErrorInvalidDVD1_0Disc, "DVDErrorInvalidDVD1_0Disc");
    n(g.OnDVDErrorInvalidDiscRegion, "DVDErrorInvalidDiscRegion");
    n(g.OnDVDErrorLowParentalLevel, "DVDErrorLowParentalLevel");
    n(g.OnDVDErrorMacrovisionFail, "DVDErrorMacrovisionFail");
    n(g.OnDVDErrorIncompatibleSystemAndDecoderRegions, "DVDErrorIncompatibleSystemAndDecoderRegions");
    n(g.OnDVDErrorIncompatibleDiscAndDecoderRegions, "DVDErrorIncompatibleDiscAndDecoderRegions");
    n(g.OnDVDWarningInvalidDVD1_0Disc, "DVDWarningInvalidDVD1_0Disc");
    n(g.OnDVDWarningFormatNotSupported, "DVDWarningFormatNotSupported");
    n(g.OnDVDWarningIllegalNavCommand, "DVDWarningIllegalNavCommand");
    n(g.OnDVDWarningOpen, "DVDWarningOpen");
    n(g.OnDVDWarningSeek, "DVDWarningSeek");
    n(g.OnDVDWarningRead, "DVDWarningRead");
}

struct Row {
    LONG code;
    LONG_PTR p1, p2;
    std::string typed;  // empty: no typed handler
};

}  // namespace

TEST(FilterGraphEvents, EveryCodeReachesListenersThenOnDSEventThenAtMostOneTypedHandler) {
    int filterObj = 0, pinObj = 0, deviceObj = 0;  // stand-ins: handlers only pass the addresses on
    const void *filter = &filterObj, *pin = &pinObj, *device = &deviceObj;
    const auto F = reinterpret_cast<LONG_PTR>(filter), PIN = reinterpret_cast<LONG_PTR>(pin),
               DEV = reinterpret_cast<LONG_PTR>(device);
    static const OLECHAR s1[] = OLESTR("first"), s2[] = OLESTR("second");
    REFERENCE_TIME segment = 123456789012345LL;
    const LONG_PTR time = 0x10325427;  // nibbles 1,0,3,2,5,4,2; frames tens 01; rate code 11

    const Row rows[] = {
        {EC_COMPLETE, E_FAIL, F, Args("Complete", E_FAIL, P(filter))},
        {EC_COMPLETE, S_OK, 0, Args("Complete", 0, P(nullptr))},
        {EC_USERABORT, 0, 0, Args("UserAbort")},
        {EC_ERRORABORT, E_OUTOFMEMORY, 0, Args("ErrorAbort", E_OUTOFMEMORY)},
        {EC_STREAM_ERROR_STOPPED, E_FAIL, 7, Args("StreamErrorStopped", E_FAIL, 7)},
        {EC_STREAM_ERROR_STILLPLAYING, E_FAIL, 8, Args("StreamErrorStillPlaying", E_FAIL, 8)},
        {EC_ERROR_STILLPLAYING, E_ABORT, 0, Args("ErrorStillPlaying", E_ABORT)},
        {EC_PALETTE_CHANGED, 0, 0, Args("PaletteChanged")},
        {EC_VIDEO_SIZE_CHANGED, (480 << 16) | 640, 0, Args("VideoSizeChanged", 640, 480)},
        {EC_QUALITY_CHANGE, 0, 0, Args("QualityChange")},
        {EC_CLOCK_CHANGED, 0, 0, Args("ClockChanged")},
        {EC_PAUSED, S_OK, 0, Args("Paused", 0)},
        {EC_OPENING_FILE, 1, 0, Args("OpeningFile", "true")},
        {EC_OPENING_FILE, 2, 0, Args("OpeningFile", "false")},
        {EC_BUFFERING_DATA, 1, 0, Args("BufferingData", "true")},
        {EC_BUFFERING_DATA, 0, 0, Args("BufferingData", "false")},
        {EC_FULLSCREEN_LOST, 99, F, Args("FullscreenLost", P(filter))},
        {EC_OLE_EVENT, reinterpret_cast<LONG_PTR>(s1), reinterpret_cast<LONG_PTR>(s2),
         Args("OleEvent", "first", "second")},
        {EC_OLE_EVENT, 0, 0, Args("OleEvent", "", "")},
        {EC_STREAM_CONTROL_STOPPED, PIN, 42, Args("StreamControlStopped", P(pin), 42)},
        {EC_STREAM_CONTROL_STARTED, PIN, 43, Args("StreamControlStarted", P(pin), 43)},
        {EC_END_OF_SEGMENT, reinterpret_cast<LONG_PTR>(&segment), 3, Args("EndOfSegment", segment, 3)},
        {EC_END_OF_SEGMENT, 0, 4, Args("EndOfSegment", 0, 4)},  // no time given: 0, not a fault
        {EC_DEVICE_LOST, DEV, 0, Args("DeviceLost", P(device), "true")},
        {EC_DEVICE_LOST, DEV, 1, Args("DeviceLost", P(device), "false")},
        {EC_STEP_COMPLETE, 0, 0, Args("StepComplete")},
        {EC_TIMECODE_AVAILABLE, F, 5, Args("TimeCodeAvailable", P(filter), 5)},
        {EC_EXTDEVICE_MODE_CHANGE, 2, 6, Args("EXTDeviceModeChange", 2, 6)},
        {EC_GRAPH_CHANGED, 0, 0, Args("GraphChanged")},
        {EC_CLOCK_UNSET, 0, 0, Args("ClockUnset")},
        {EC_VMR_RENDERDEVICE_SET, 2, 0, Args("VMRRenderDevice", 2)},
        {EC_DVD_TITLE_CHANGE, 3, 0, Args("DVDTitleChange", 3)},
        {EC_DVD_CHAPTER_START, 4, 0, Args("DVDChapterStart", 4)},
        // No graph that offers IDvdInfo2: the language events are not called.
        {EC_DVD_AUDIO_STREAM_CHANGE, 1, 0, ""},
        {EC_DVD_SUBPICTURE_STREAM_CHANGE, 1, 0, ""},
        {EC_DVD_ANGLE_CHANGE, 4, 2, Args("DVDAngleChange", 4, 2)},
        {EC_DVD_BUTTON_CHANGE, 9, 3, Args("DVDButtonChange", 9, 3)},
        {EC_DVD_VALID_UOPS_CHANGE, 0x1F, 0, Args("DVDValidUOPSChange", 31)},
        {EC_DVD_STILL_ON, 1, 5, Args("DVDStillOn", "true", 5)},
        {EC_DVD_STILL_ON, 2, -1, Args("DVDStillOn", "false", -1)},
        {EC_DVD_STILL_OFF, 0, 0, Args("DVDStillOff")},
        {EC_DVD_CURRENT_TIME, time, 0, Args("DVDCurrentTime", 1, 23, 45, 12, 30)},
        {EC_DVD_CURRENT_TIME, (time & ~3) | 1, 0, Args("DVDCurrentTime", 1, 23, 45, 12, 25)},
        {EC_DVD_CURRENT_TIME, (time & ~3) | 0, 0, Args("DVDCurrentTime", 1, 23, 45, 12, 0)},
        {EC_DVD_CURRENT_TIME, (time & ~3) | 2, 0, Args("DVDCurrentTime", 1, 23, 45, 12, 0)},
        {EC_DVD_CURRENT_TIME, static_cast<LONG_PTR>(-1), 0, Args("DVDCurrentTime", 165, 165, 165, 45, 30)},  // no bounds
        {EC_DVD_CHAPTER_AUTOSTOP, 0, 0, Args("DVDChapterAutoStop")},
        {EC_DVD_NO_FP_PGC, 0, 0, Args("DVDNoFP_PGC")},
        {EC_DVD_PLAYBACK_RATE_CHANGE, 10000, 0, Args("DVDPlaybackRateChange", 1.0f)},
        {EC_DVD_PLAYBACK_RATE_CHANGE, -20000, 0, Args("DVDPlaybackRateChange", -2.0f)},
        {EC_DVD_PARENTAL_LEVEL_CHANGE, 8, 0, Args("DVDParentalLevelChange", 8)},
        {EC_DVD_PLAYBACK_STOPPED, 0, 0, Args("DVDPlaybackStopped")},
        {EC_DVD_ANGLES_AVAILABLE, 1, 0, Args("DVDAnglesAvailable", "true")},
        {EC_DVD_ANGLES_AVAILABLE, 2, 0, Args("DVDAnglesAvailable", "false")},
        {EC_DVD_PLAYPERIOD_AUTOSTOP, 0, 0, Args("DVDPlayPeriodAutoStop")},
        {EC_DVD_BUTTON_AUTO_ACTIVATED, 6, 0, Args("DVDButtonAutoActivated", 6)},
        {EC_DVD_CMD_START, 11, 0, Args("DVDCMDStart", 11)},
        {EC_DVD_CMD_END, 12, 77, Args("DVDCMDEnd", 12)},
        {EC_DVD_DISC_EJECTED, 0, 0, Args("DVDDiscEjected")},
        {EC_DVD_DISC_INSERTED, 0, 0, Args("DVDDiscInserted")},
        {EC_DVD_CURRENT_HMSF_TIME, 0x04030201, 0x12345678,
         Args("DVDCurrentHMSFTime", 1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 2, 0)},
        {EC_DVD_KARAOKE_MODE, 2, 0, Args("DVDKaraokeMode", "true")},
        {EC_DVD_KARAOKE_MODE, 0, 0, Args("DVDKaraokeMode", "false")},
        {EC_SNDDEV_IN_ERROR, 3, static_cast<LONG_PTR>(0x80004005u), Args("SNDDevInError", 3, 2147500037u)},
        {EC_SNDDEV_OUT_ERROR, 4, 9, Args("SNDDevOutError", 4, 9)},
        // The three splits by Param1.
        {EC_DVD_DOMAIN_CHANGE, 0, 0, ""},
        {EC_DVD_DOMAIN_CHANGE, 1, 0, Args("DVDDomainFirstPlay")},
        {EC_DVD_DOMAIN_CHANGE, 2, 0, Args("DVDDomainVideoManagerMenu")},
        {EC_DVD_DOMAIN_CHANGE, 3, 0, Args("DVDDomainVideoTitleSetMenu")},
        {EC_DVD_DOMAIN_CHANGE, 4, 0, Args("DVDDomainTitle")},
        {EC_DVD_DOMAIN_CHANGE, 5, 0, Args("DVDDomainStop")},
        {EC_DVD_DOMAIN_CHANGE, 6, 0, ""},
        {EC_DVD_ERROR, 0, 0, ""},
        {EC_DVD_ERROR, 1, 0, Args("DVDErrorUnexpected")},
        {EC_DVD_ERROR, 2, 0, Args("DVDErrorCopyProtectFail")},
        {EC_DVD_ERROR, 3, 0, Args("DVDErrorInvalidDVD1_0Disc")},
        {EC_DVD_ERROR, 4, 0, Args("DVDErrorInvalidDiscRegion")},
        {EC_DVD_ERROR, 5, 0, Args("DVDErrorLowParentalLevel")},
        {EC_DVD_ERROR, 6, 0, Args("DVDErrorMacrovisionFail")},
        {EC_DVD_ERROR, 7, 0, Args("DVDErrorIncompatibleSystemAndDecoderRegions")},
        {EC_DVD_ERROR, 8, 0, Args("DVDErrorIncompatibleDiscAndDecoderRegions")},
        {EC_DVD_ERROR, 9, 0, ""},
        {EC_DVD_WARNING, 1, 0, Args("DVDWarningInvalidDVD1_0Disc")},
        {EC_DVD_WARNING, 2, 0, Args("DVDWarningFormatNotSupported")},
        {EC_DVD_WARNING, 3, 0, Args("DVDWarningIllegalNavCommand")},
        {EC_DVD_WARNING, 4, 0, Args("DVDWarningOpen")},
        {EC_DVD_WARNING, 5, 0, Args("DVDWarningSeek")},
        {EC_DVD_WARNING, 6, 0, Args("DVDWarningRead")},
        {EC_DVD_WARNING, 7, 0, ""},
        // Codes without a row.
        {0x04, 1, 2, ""}, {0x05, 0, 0, ""}, {0x0C, 0, 0, ""}, {0x0F, 0, 0, ""}, {0x13, 0, 0, ""},
        {0x17, 0, 0, ""}, {0x19, 0, 0, ""}, {0x1D, 0, 0, ""}, {0x1E, 0, 0, ""}, {0x20, 0, 0, ""},
        {0x23, 0, 0, ""}, {0x32, 0, 0, ""}, {0x52, 0, 0, ""}, {0x100, 0, 0, ""}, {0x202, 0, 0, ""},
        {0x300, 0, 0, ""},
    };

    FakeListener l("L");
    TFilterGraph fg(nullptr);
    fg.AddListener(&l);
    Calls out;
    BindAll(fg, out);
    TakeLog();
    for (const Row &r : rows) {
        out.clear();
        fg.HandleGraphEvent(r.code, r.p1, r.p2);
        Calls want{Args("DS", Hex(uint32_t(r.code)))};
        if (!r.typed.empty()) want.push_back(r.typed);
        EXPECT_EQ(out, want) << "code " << Hex(uint32_t(r.code)) << " p1 " << r.p1 << " p2 " << r.p2;
        EXPECT_EQ(TakeLog(), Calls{"L.NotifyEvent(" + Hex(uint32_t(r.code)) + "," + std::to_string(r.p1) + "," +
                                   std::to_string(r.p2) + ")"});
    }
}

TEST(FilterGraphEvents, NoHandlerAssignedListenersStillHearEverything) {
    FakeListener l("L");
    TFilterGraph fg(nullptr);
    fg.AddListener(&l);
    TakeLog();
    for (LONG code : {EC_COMPLETE, EC_DVD_AUDIO_STREAM_CHANGE, EC_DVD_DOMAIN_CHANGE, 0x04})
        fg.HandleGraphEvent(code, 1, 0);
    EXPECT_EQ(TakeLog(), (Calls{"L.NotifyEvent(0x1,1,0)", "L.NotifyEvent(0x104,1,0)", "L.NotifyEvent(0x101,1,0)",
                                "L.NotifyEvent(0x4,1,0)"}));
}

TEST(FilterGraphEvents, ExceptionFromAListenerStopsTheEventThere) {
    FakeListener l1("L1"), l2("L2");
    l1.onEvent = [](LONG) { throw std::runtime_error("listener"); };
    TFilterGraph fg(nullptr);
    fg.AddListener(&l1);
    fg.AddListener(&l2);
    Calls out;
    BindAll(fg, out);
    TakeLog();
    EXPECT_THROW(fg.HandleGraphEvent(EC_COMPLETE, 0, 0), std::runtime_error);
    EXPECT_EQ(TakeLog(), Calls{"L1.NotifyEvent(0x1,0,0)"});
    EXPECT_TRUE(out.empty());  // neither OnDSEvent nor the typed event ran
}

TEST(FilterGraphEvents, ParametersWiderThan32BitsReachListenersWhole) {
    // On a 64-bit platform, interface pointers and addresses travel in the parameters.
    FakeListener l("L");
    TFilterGraph fg(nullptr);
    fg.AddListener(&l);
    LONG_PTR seen = 0;
    fg.OnDSEvent = [&](TComponent *, LONG, LONG_PTR p1, LONG_PTR) { seen = p1; };
    int object = 0;
    const LONG_PTR p = reinterpret_cast<LONG_PTR>(&object);
    TakeLog();
    fg.HandleGraphEvent(EC_COMPLETE, p, p);
    EXPECT_EQ(seen, p);
    EXPECT_EQ(TakeLog(), Calls{"L.NotifyEvent(0x1," + std::to_string(p) + "," + std::to_string(p) + ")"});
}
