// DirectShow: interfaces, structures, GUIDs and constants, under their SDK names.
//
// One set of declarations for both targets. On Windows they sit on top of <windows.h> and
// <objbase.h> (through com.h) and replace <dshow.h>, which is never included: the interface
// layouts, IIDs and values below are the SDK's, so they talk to quartz.dll's objects as they
// are. On Linux our platform layer (platform/posix) implements them.
//
// Rules for this file: exact SDK slot order, single inheritance, no virtual destructors,
// STDMETHODCALLTYPE on every method, LONG (32 bits) wherever the SDK says `long`, structures
// laid out as the SDK lays them out on i686 (the sizes are checked below for that target).
// One file, though long, as <dshow.h> is one header: callers include it and nothing else.
#pragma once

#include "platform/com.h"

#include <cstring>

// ---------------------------------------------------------------------------------------------
// Basic types

typedef LONGLONG REFERENCE_TIME;  // 100-nanosecond units
typedef double REFTIME;           // seconds (IMediaPosition)
typedef LONG_PTR OAHWND;          // a window handle passed through automation interfaces
typedef LONG_PTR OAEVENT;         // an event handle passed through automation interfaces
typedef LONG OAFilterState;       // FILTER_STATE as a LONG
typedef DWORD_PTR HEVENT;         // IReferenceClock::AdviseTime
typedef DWORD_PTR HSEMAPHORE;     // IReferenceClock::AdvisePeriodic
#if !defined(_WIN32)
typedef ULONGLONG DWORDLONG;
typedef void *PVOID;
#endif

#define MAX_FILTER_NAME 128
#define MAX_PIN_NAME 128
#define MAX_ERROR_TEXT_LEN 160

// Media time units.
#define UNITS 10000000
#define MILLISECONDS (UNITS / 1000)

// ---------------------------------------------------------------------------------------------
// Bitmap and wave formats. Windows declares them in wingdi.h / mmreg.h (or mmsystem.h); we use
// the system's where <windows.h> brought them in, and the same layout elsewhere.

#if !defined(_WIN32)
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
typedef BITMAPINFOHEADER *PBITMAPINFOHEADER, *LPBITMAPINFOHEADER;
#define BI_RGB 0
#define BI_BITFIELDS 3
#endif

#ifndef _WAVEFORMATEX_
#define _WAVEFORMATEX_
#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;  // bytes of format data after this structure
} WAVEFORMATEX, *PWAVEFORMATEX, *LPWAVEFORMATEX;
#pragma pack(pop)
#endif

#ifndef _WAVEFORMATEXTENSIBLE_
#define _WAVEFORMATEXTENSIBLE_
#pragma pack(push, 1)
typedef struct {
    WAVEFORMATEX Format;
    union {
        WORD wValidBitsPerSample;
        WORD wSamplesPerBlock;
        WORD wReserved;
    } Samples;
    DWORD dwChannelMask;
    GUID SubFormat;
} WAVEFORMATEXTENSIBLE, *PWAVEFORMATEXTENSIBLE;
#pragma pack(pop)
#endif

#ifndef WAVE_FORMAT_PCM
#define WAVE_FORMAT_PCM 0x0001
#endif
#ifndef WAVE_FORMAT_IEEE_FLOAT
#define WAVE_FORMAT_IEEE_FLOAT 0x0003
#endif
#ifndef WAVE_FORMAT_MPEGLAYER3
#define WAVE_FORMAT_MPEGLAYER3 0x0055
#endif
#ifndef WAVE_FORMAT_MSAUDIO1
#define WAVE_FORMAT_MSAUDIO1 0x0160
#endif
#ifndef WAVE_FORMAT_WMAUDIO2
#define WAVE_FORMAT_WMAUDIO2 0x0161
#endif
#ifndef WAVE_FORMAT_WMAUDIO3
#define WAVE_FORMAT_WMAUDIO3 0x0162
#endif
#ifndef WAVE_FORMAT_EXTENSIBLE
#define WAVE_FORMAT_EXTENSIBLE 0xFFFE
#endif

// ---------------------------------------------------------------------------------------------
// Media types

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown *pUnk;  // counted; released with the format block
    ULONG cbFormat;
    BYTE *pbFormat;  // CoTaskMemAlloc'd, cbFormat bytes
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};

struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    DWORD dwInterlaceFlags;
    DWORD dwCopyProtectFlags;
    DWORD dwPictAspectRatioX;
    DWORD dwPictAspectRatioY;
    union {
        DWORD dwControlFlags;
        DWORD dwReserved1;
    };
    DWORD dwReserved2;
    BITMAPINFOHEADER bmiHeader;
};

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct IBaseFilter;
struct IFilterGraph;

struct PIN_INFO {
    IBaseFilter *pFilter;  // counted: the caller releases it
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};

struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph *pGraph;  // counted (may be null): the caller releases it
};

struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

// IMediaSample2 properties.
struct AM_SAMPLE2_PROPERTIES {
    DWORD cbData;
    DWORD dwTypeSpecificFlags;
    DWORD dwSampleFlags;
    LONG lActual;
    REFERENCE_TIME tStart;
    REFERENCE_TIME tStop;
    DWORD dwStreamId;
    AM_MEDIA_TYPE *pMediaType;
    BYTE *pbBuffer;
    LONG cbBuffer;
};
#define AM_SAMPLE_SPLICEPOINT 0x01
#define AM_SAMPLE_PREROLL 0x02
#define AM_SAMPLE_DATADISCONTINUITY 0x04
#define AM_SAMPLE_TYPECHANGED 0x08
#define AM_SAMPLE_TIMEVALID 0x10
#define AM_SAMPLE_TIMEDISCONTINUITY 0x40
#define AM_SAMPLE_FLUSH_ON_PAUSE 0x80
#define AM_SAMPLE_STOPVALID 0x100
#define AM_SAMPLE_ENDOFSTREAM 0x200
#define AM_STREAM_MEDIA 0
#define AM_STREAM_CONTROL 1

// IMemAllocator::GetBuffer flags.
#define AM_GBF_PREVFRAMESKIPPED 1
#define AM_GBF_NOTASYNCPOINT 2
#define AM_GBF_NOWAIT 4
#define AM_GBF_NODDSURFACELOCK 8

// IFilterGraph2::RenderEx flags.
#define AM_RENDEREX_RENDERTOEXISTINGRENDERERS 0x01

// IAMFilterMiscFlags::GetMiscFlags.
#define AM_FILTER_MISC_FLAGS_IS_RENDERER 0x1
#define AM_FILTER_MISC_FLAGS_IS_SOURCE 0x2

// IFileSinkFilter2 modes.
enum AM_FILESINK_FLAGS { AM_FILE_OVERWRITE = 0x1 };

// IMediaEventEx::SetNotifyFlags.
#define AM_MEDIAEVENT_NONOTIFY 0x01

// IMediaSeeking positioning flags (SetPositions).
enum AM_SEEKING_SEEKING_FLAGS {
    AM_SEEKING_NoPositioning = 0x0,
    AM_SEEKING_AbsolutePositioning = 0x1,
    AM_SEEKING_RelativePositioning = 0x2,
    AM_SEEKING_IncrementalPositioning = 0x3,
    AM_SEEKING_PositioningBitsMask = 0x3,
    AM_SEEKING_SeekToKeyFrame = 0x4,
    AM_SEEKING_ReturnTime = 0x8,
    AM_SEEKING_Segment = 0x10,
    AM_SEEKING_NoFlush = 0x20,
};
// IMediaSeeking capabilities (GetCapabilities / CheckCapabilities).
enum AM_SEEKING_SEEKING_CAPABILITIES {
    AM_SEEKING_CanSeekAbsolute = 0x1,
    AM_SEEKING_CanSeekForwards = 0x2,
    AM_SEEKING_CanSeekBackwards = 0x4,
    AM_SEEKING_CanGetCurrentPos = 0x8,
    AM_SEEKING_CanGetStopPos = 0x10,
    AM_SEEKING_CanGetDuration = 0x20,
    AM_SEEKING_CanPlayBackwards = 0x40,
    AM_SEEKING_CanDoSegments = 0x80,
    AM_SEEKING_Source = 0x100,
};

// Quality messages (IQualityControl).
enum QualityMessageType { Famine = 0, Flood = 1 };
struct Quality {
    QualityMessageType Type;
    LONG Proportion;
    REFERENCE_TIME Late;
    REFERENCE_TIME TimeStamp;
};

// ---------------------------------------------------------------------------------------------
// DVD types (IDvdGraphBuilder, IDvdInfo2, IDvdControl2). Structures that the project never
// reads are declared only; the interfaces pass them by pointer.

enum DVD_DOMAIN {
    DVD_DOMAIN_FirstPlay = 1,
    DVD_DOMAIN_VideoManagerMenu = 2,
    DVD_DOMAIN_VideoTitleSetMenu = 3,
    DVD_DOMAIN_Title = 4,
    DVD_DOMAIN_Stop = 5,
};
enum DVD_MENU_ID {
    DVD_MENU_Title = 2,
    DVD_MENU_Root = 3,
    DVD_MENU_Subpicture = 4,
    DVD_MENU_Audio = 5,
    DVD_MENU_Angle = 6,
    DVD_MENU_Chapter = 7,
};
enum DVD_RELATIVE_BUTTON {
    DVD_Relative_Upper = 1,
    DVD_Relative_Lower = 2,
    DVD_Relative_Left = 3,
    DVD_Relative_Right = 4,
};
enum DVD_OPTION_FLAG {
    DVD_ResetOnStop = 1,
    DVD_NotifyParentalLevelChange = 2,
    DVD_HMSF_TimeCodeEvents = 3,
    DVD_AudioDuringFFwdRew = 4,
};
enum DVD_AUDIO_LANG_EXT {
    DVD_AUD_EXT_NotSpecified = 0,
    DVD_AUD_EXT_Captions = 1,
    DVD_AUD_EXT_VisuallyImpaired = 2,
    DVD_AUD_EXT_DirectorComments1 = 3,
    DVD_AUD_EXT_DirectorComments2 = 4,
};
enum DVD_SUBPICTURE_LANG_EXT {
    DVD_SP_EXT_NotSpecified = 0,
    DVD_SP_EXT_Caption_Normal = 1,
    DVD_SP_EXT_Caption_Big = 2,
    DVD_SP_EXT_Caption_Children = 3,
    DVD_SP_EXT_CC_Normal = 5,
    DVD_SP_EXT_CC_Big = 6,
    DVD_SP_EXT_CC_Children = 7,
    DVD_SP_EXT_Forced = 9,
    DVD_SP_EXT_DirectorComments_Normal = 13,
    DVD_SP_EXT_DirectorComments_Big = 14,
    DVD_SP_EXT_DirectorComments_Children = 15,
};
enum DVD_DISC_SIDE { DVD_SIDE_A = 1, DVD_SIDE_B = 2 };
enum DVD_TextCharSet {
    DVD_CharSet_Unicode = 0,
    DVD_CharSet_ISO646 = 1,
    DVD_CharSet_JIS_Roman_Kanji = 2,
    DVD_CharSet_ISO8859_1 = 3,
    DVD_CharSet_ShiftJIS_Kanji_Roman_Katakana = 4,
};
enum DVD_TextStringType {
    DVD_Struct_Volume = 0x01,
    DVD_Struct_Title = 0x02,
    DVD_Struct_ParentalID = 0x03,
    DVD_Struct_PartOfTitle = 0x04,
    DVD_Struct_Cell = 0x05,
    DVD_Stream_Audio = 0x10,
    DVD_Stream_Subpicture = 0x11,
    DVD_Stream_Angle = 0x12,
    DVD_Channel_Audio = 0x20,
    DVD_General_Name = 0x30,
    DVD_General_Comments = 0x31,
    DVD_Title_Series = 0x38,
    DVD_Title_Movie = 0x39,
    DVD_Title_Video = 0x3A,
    DVD_Title_Album = 0x3B,
    DVD_Title_Song = 0x3C,
    DVD_Title_Other = 0x3F,
    DVD_Title_Sub_Series = 0x40,
    DVD_Title_Sub_Movie = 0x41,
    DVD_Title_Sub_Video = 0x42,
    DVD_Title_Sub_Album = 0x43,
    DVD_Title_Sub_Song = 0x44,
    DVD_Title_Sub_Other = 0x47,
    DVD_Title_Orig_Series = 0x48,
    DVD_Title_Orig_Movie = 0x49,
    DVD_Title_Orig_Video = 0x4A,
    DVD_Title_Orig_Album = 0x4B,
    DVD_Title_Orig_Song = 0x4C,
    DVD_Title_Orig_Other = 0x4F,
    DVD_Other_Scene = 0x50,
    DVD_Other_Cut = 0x51,
    DVD_Other_Take = 0x52,
};
// Parameter 1 of EC_DVD_ERROR, EC_DVD_WARNING and EC_DVD_PLAYBACK_STOPPED.
enum DVD_ERROR {
    DVD_ERROR_Unexpected = 1,
    DVD_ERROR_CopyProtectFail = 2,
    DVD_ERROR_InvalidDVD1_0Disc = 3,
    DVD_ERROR_InvalidDiscRegion = 4,
    DVD_ERROR_LowParentalLevel = 5,
    DVD_ERROR_MacrovisionFail = 6,
    DVD_ERROR_IncompatibleSystemAndDecoderRegions = 7,
    DVD_ERROR_IncompatibleDiscAndDecoderRegions = 8,
};
enum DVD_WARNING {
    DVD_WARNING_InvalidDVD1_0Disc = 1,
    DVD_WARNING_FormatNotSupported = 2,
    DVD_WARNING_IllegalNavCommand = 3,
    DVD_WARNING_Open = 4,
    DVD_WARNING_Seek = 5,
    DVD_WARNING_Read = 6,
};
enum DVD_PB_STOPPED {
    DVD_PB_STOPPED_Other = 0,
    DVD_PB_STOPPED_NoBranch = 1,
    DVD_PB_STOPPED_NoFirstPlayDomain = 2,
    DVD_PB_STOPPED_StopCommand = 3,
    DVD_PB_STOPPED_Reset = 4,
    DVD_PB_STOPPED_DiscEjected = 5,
    DVD_PB_STOPPED_IllegalNavCommand = 6,
    DVD_PB_STOPPED_PlayPeriodAutoStop = 7,
    DVD_PB_STOPPED_PlayChapterAutoStop = 8,
    DVD_PB_STOPPED_ParentalFailure = 9,
    DVD_PB_STOPPED_RegionFailure = 10,
    DVD_PB_STOPPED_MacrovisionFailure = 11,
    DVD_PB_STOPPED_DiscReadError = 12,
    DVD_PB_STOPPED_CopyProtectFailure = 13,
};
enum DVD_TIMECODE_FLAGS {
    DVD_TC_FLAG_25fps = 0x1,
    DVD_TC_FLAG_30fps = 0x2,
    DVD_TC_FLAG_DropFrame = 0x4,
    DVD_TC_FLAG_Interpolated = 0x8,
};
enum DVD_CMD_FLAGS {
    DVD_CMD_FLAG_None = 0,
    DVD_CMD_FLAG_Flush = 0x1,
    DVD_CMD_FLAG_SendEvents = 0x2,
    DVD_CMD_FLAG_Block = 0x4,
    DVD_CMD_FLAG_StartWhenRendered = 0x8,
    DVD_CMD_FLAG_EndAfterRendered = 0x10,
};
enum AM_DVD_GRAPH_FLAGS {
    AM_DVD_HWDEC_PREFER = 0x1,
    AM_DVD_HWDEC_ONLY = 0x2,
    AM_DVD_SWDEC_PREFER = 0x4,
    AM_DVD_SWDEC_ONLY = 0x8,
    AM_DVD_NOVPE = 0x100,
    AM_DVD_VMR9_ONLY = 0x800,
};
enum AM_DVD_STREAM_FLAGS { AM_DVD_STREAM_VIDEO = 0x1, AM_DVD_STREAM_AUDIO = 0x2, AM_DVD_STREAM_SUBPIC = 0x4 };

struct DVD_HMSF_TIMECODE {
    BYTE bHours;
    BYTE bMinutes;
    BYTE bSeconds;
    BYTE bFrames;
};
struct DVD_PLAYBACK_LOCATION2 {
    ULONG TitleNum;
    ULONG ChapterNum;
    DVD_HMSF_TIMECODE TimeCode;
    ULONG TimeCodeFlags;
};
struct DVD_DECODER_CAPS {
    DWORD dwSize;
    DWORD dwAudioCaps;
    double dFwdMaxRateVideo;
    double dFwdMaxRateAudio;
    double dFwdMaxRateSP;
    double dBwdMaxRateVideo;
    double dBwdMaxRateAudio;
    double dBwdMaxRateSP;
    DWORD dwRes1;
    DWORD dwRes2;
    DWORD dwRes3;
    DWORD dwRes4;
};
struct AM_DVD_RENDERSTATUS {
    HRESULT hrVPEStatus;
    BOOL bDvdVolInvalid;
    BOOL bDvdVolUnknown;
    BOOL bNoLine21In;
    BOOL bNoLine21Out;
    int iNumStreams;
    int iNumStreamsFailed;
    DWORD dwFailedStreamsFlag;
};
typedef WORD DVD_REGISTER;
typedef DVD_REGISTER SPRMARRAY[24];
typedef DVD_REGISTER GPRMARRAY[16];
// Attribute records, never read by the project: declared, not defined.
struct DVD_MenuAttributes;
struct DVD_TitleAttributes;
struct DVD_VideoAttributes;
struct DVD_AudioAttributes;
struct DVD_KaraokeAttributes;
struct DVD_SubpictureAttributes;

#define DVD_STREAM_DATA_CURRENT 0x800
#define DVD_STREAM_DATA_VMGM 0x400
#define DVD_STREAM_DATA_VTSM 0x401
#define DVD_DEFAULT_AUDIO_STREAM 0x0F

// ---------------------------------------------------------------------------------------------
// Interfaces

struct IPin;
struct IEnumPins;
struct IEnumMediaTypes;
struct IEnumFilters;
struct IReferenceClock;
struct IMediaSample;
struct IMemAllocator;
struct IGraphBuilder;
struct IFileSinkFilter;
struct IDvdCmd;
struct IDvdState;

// Declared for their identifiers only; the project calls none of their methods.
struct IMediaPosition;
struct IBasicAudio;
struct IVideoWindow;
struct IGraphConfig;
TW_DECLARE_IID(IMediaPosition, 0x56A868B2, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DECLARE_IID(IBasicAudio, 0x56A868B3, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DECLARE_IID(IVideoWindow, 0x56A868B4, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DECLARE_IID(IGraphConfig, 0x03A1EB8E, 0x32BF, 0x4245, 0x85, 0x02, 0x11, 0x4D, 0x08, 0xA9, 0xCB, 0x88);

struct IReferenceClock : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME *pTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                                                 DWORD_PTR *pdwAdviseCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                                     HSEMAPHORE hSemaphore, DWORD_PTR *pdwAdviseCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR dwAdviseCookie) = 0;
};
TW_DECLARE_IID(IReferenceClock, 0x56A86897, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IMediaFilter : public IPersist {
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetState(DWORD dwMilliSecsTimeout, FILTER_STATE *State) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *pClock) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **pClock) = 0;
};
TW_DECLARE_IID(IMediaFilter, 0x56A86899, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IBaseFilter : public IMediaFilter {
    virtual HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR Id, IPin **ppPin) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *pInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *pGraph, LPCWSTR pName) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *pVendorInfo) = 0;
};
TW_DECLARE_IID(IBaseFilter, 0x56A86895, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IPin : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Connect(IPin *pReceivePin, const AM_MEDIA_TYPE *pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *pConnector, const AM_MEDIA_TYPE *pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **pPin) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *pInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *pPinDir) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *Id) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **apPin, ULONG *nPin) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndOfStream() = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginFlush() = 0;
    virtual HRESULT STDMETHODCALLTYPE EndFlush() = 0;
    virtual HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) = 0;
};
TW_DECLARE_IID(IPin, 0x56A86891, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IEnumPins : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cPins, IPin **ppPins, ULONG *pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cPins) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumPins **ppEnum) = 0;
};
TW_DECLARE_IID(IEnumPins, 0x56A86892, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IEnumMediaTypes : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cMediaTypes, AM_MEDIA_TYPE **ppMediaTypes, ULONG *pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cMediaTypes) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes **ppEnum) = 0;
};
TW_DECLARE_IID(IEnumMediaTypes, 0x89C31040, 0x846B, 0x11CE, 0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);

struct IEnumFilters : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cFilters, IBaseFilter **ppFilter, ULONG *pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cFilters) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumFilters **ppEnum) = 0;
};
TW_DECLARE_IID(IEnumFilters, 0x56A86893, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IMediaSample : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPointer(BYTE **ppBuffer) = 0;
    virtual LONG STDMETHODCALLTYPE GetSize() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME *pTimeStart, REFERENCE_TIME *pTimeEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME *pTimeStart, REFERENCE_TIME *pTimeEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsSyncPoint() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL bIsSyncPoint) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPreroll() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPreroll(BOOL bIsPreroll) = 0;
    virtual LONG STDMETHODCALLTYPE GetActualDataLength() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE **ppMediaType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE *pMediaType) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsDiscontinuity() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL bDiscontinuity) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG *pTimeStart, LONGLONG *pTimeEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG *pTimeStart, LONGLONG *pTimeEnd) = 0;
};
TW_DECLARE_IID(IMediaSample, 0x56A8689A, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IMediaSample2 : public IMediaSample {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(DWORD cbProperties, BYTE *pbProperties) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperties(DWORD cbProperties, const BYTE *pbProperties) = 0;
};
TW_DECLARE_IID(IMediaSample2, 0x36B73884, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);

struct IMemAllocator : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES *pRequest, ALLOCATOR_PROPERTIES *pActual) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES *pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE Commit() = 0;
    virtual HRESULT STDMETHODCALLTYPE Decommit() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample **ppBuffer, REFERENCE_TIME *pStartTime,
                                                REFERENCE_TIME *pEndTime, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample *pBuffer) = 0;
};
TW_DECLARE_IID(IMemAllocator, 0x56A8689C, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IMemInputPin : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator **ppAllocator) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator *pAllocator, BOOL bReadOnly) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES *pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE Receive(IMediaSample *pSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample **pSamples, LONG nSamples,
                                                      LONG *nSamplesProcessed) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReceiveCanBlock() = 0;
};
TW_DECLARE_IID(IMemInputPin, 0x56A8689D, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IFilterGraph : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *pFilter, LPCWSTR pName) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter *pFilter) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters **ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR pName, IBaseFilter **ppFilter) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectDirect(IPin *ppinOut, IPin *ppinIn, const AM_MEDIA_TYPE *pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reconnect(IPin *ppin) = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect(IPin *ppin) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() = 0;
};
TW_DECLARE_IID(IFilterGraph, 0x56A8689F, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IGraphBuilder : public IFilterGraph {
    virtual HRESULT STDMETHODCALLTYPE Connect(IPin *ppinOut, IPin *ppinIn) = 0;
    virtual HRESULT STDMETHODCALLTYPE Render(IPin *ppinOut) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName,
                                                      IBaseFilter **ppFilter) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR hFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE Abort() = 0;
    virtual HRESULT STDMETHODCALLTYPE ShouldOperationContinue() = 0;
};
TW_DECLARE_IID(IGraphBuilder, 0x56A868A9, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IFilterGraph2 : public IGraphBuilder {
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilterForMoniker(IMoniker *pMoniker, IBindCtx *pCtx,
                                                                LPCWSTR lpcwstrFilterName,
                                                                IBaseFilter **ppFilter) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReconnectEx(IPin *ppin, const AM_MEDIA_TYPE *pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderEx(IPin *pPinOut, DWORD dwFlags, DWORD *pvContext) = 0;
};
TW_DECLARE_IID(IFilterGraph2, 0x36B73882, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);

struct IMediaControl : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Run() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState *pfs) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderFile(BSTR strFilename) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR strFilename, IDispatch **ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch **ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch **ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE StopWhenReady() = 0;
};
TW_DECLARE_IID(IMediaControl, 0x56A868B1, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IMediaEvent : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT *hEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEvent(LONG *lEventCode, LONG_PTR *lParam1, LONG_PTR *lParam2,
                                               LONG msTimeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG msTimeout, LONG *pEvCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG lEvCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG lEvCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) = 0;
};
TW_DECLARE_IID(IMediaEvent, 0x56A868B6, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IMediaEventEx : public IMediaEvent {
    virtual HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG lNoNotifyFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG *lplNoNotifyFlags) = 0;
};
TW_DECLARE_IID(IMediaEventEx, 0x56A868C0, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IMediaEventSink : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) = 0;
};
TW_DECLARE_IID(IMediaEventSink, 0x56A868A2, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IMediaSeeking : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD *pCapabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD *pCapabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID *pFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID *pFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID *pFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID *pFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID *pFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG *pDuration) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG *pStop) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG *pCurrent) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG *pTarget, const GUID *pTargetFormat, LONGLONG Source,
                                                        const GUID *pSourceFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop,
                                                   DWORD dwStopFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG *pCurrent, LONGLONG *pStop) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRate(double dRate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRate(double *pdRate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG *pllPreroll) = 0;
};
TW_DECLARE_IID(IMediaSeeking, 0x36B73880, 0xC2C8, 0x11CF, 0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60);

struct IQualityControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Notify(IBaseFilter *pSelf, Quality q) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSink(IQualityControl *piqc) = 0;
};
TW_DECLARE_IID(IQualityControl, 0x56A868A5, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

struct IAMFilterMiscFlags : public IUnknown {
    virtual ULONG STDMETHODCALLTYPE GetMiscFlags() = 0;
};
TW_DECLARE_IID(IAMFilterMiscFlags, 0x2DD74950, 0xA890, 0x11D1, 0xAB, 0xE8, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75);

struct IFileSinkFilter : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE *pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR *ppszFileName, AM_MEDIA_TYPE *pmt) = 0;
};
TW_DECLARE_IID(IFileSinkFilter, 0xA2104830, 0x7C70, 0x11CF, 0x8B, 0xCE, 0x00, 0xAA, 0x00, 0xA3, 0xF1, 0xA6);

struct IFileSinkFilter2 : public IFileSinkFilter {
    virtual HRESULT STDMETHODCALLTYPE SetMode(DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMode(DWORD *pdwFlags) = 0;
};
TW_DECLARE_IID(IFileSinkFilter2, 0x00855B90, 0xCE1B, 0x11D0, 0xBD, 0x4F, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);

struct IAMCopyCaptureFileProgress : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Progress(int iProgress) = 0;
};
TW_DECLARE_IID(IAMCopyCaptureFileProgress, 0x670D1D20, 0xA068, 0x11D0, 0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61,
               0xC5);

struct ICaptureGraphBuilder2 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder *pfg) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder **ppfg) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID *pType, LPCOLESTR lpstrFile, IBaseFilter **ppf,
                                                        IFileSinkFilter **ppSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindInterface(const GUID *pCategory, const GUID *pType, IBaseFilter *pf,
                                                    REFIID riid, void **ppint) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderStream(const GUID *pCategory, const GUID *pType, IUnknown *pSource,
                                                   IBaseFilter *pfCompressor, IBaseFilter *pfRenderer) = 0;
    virtual HRESULT STDMETHODCALLTYPE ControlStream(const GUID *pCategory, const GUID *pType, IBaseFilter *pFilter,
                                                    REFERENCE_TIME *pstart, REFERENCE_TIME *pstop, WORD wStartCookie,
                                                    WORD wStopCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR lpstr, DWORDLONG dwlSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR lpwstrOld, LPOLESTR lpwstrNew, int fAllowEscAbort,
                                                      IAMCopyCaptureFileProgress *pCallback) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPin(IUnknown *pSource, PIN_DIRECTION pindir, const GUID *pCategory,
                                              const GUID *pType, BOOL fUnconnected, int num, IPin **ppPin) = 0;
};
TW_DECLARE_IID(ICaptureGraphBuilder2, 0x93E5A4E0, 0x2D50, 0x11D2, 0xAB, 0xFA, 0x00, 0xA0, 0xC9, 0xC6, 0xE3, 0x8D);

struct IDvdGraphBuilder : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder **ppGB) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDvdInterface(REFIID riid, void **ppvIF) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderDvdVideoVolume(LPCWSTR lpcwszPathName, DWORD dwFlags,
                                                           AM_DVD_RENDERSTATUS *pStatus) = 0;
};
TW_DECLARE_IID(IDvdGraphBuilder, 0xFCC152B6, 0xF372, 0x11D0, 0x8E, 0x00, 0x00, 0xC0, 0x4F, 0xD7, 0xC0, 0x8B);

struct IDvdCmd : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE WaitForStart() = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForEnd() = 0;
};
TW_DECLARE_IID(IDvdCmd, 0x5A4A97E4, 0x94EE, 0x4A55, 0x97, 0x51, 0x74, 0xB5, 0x64, 0x3A, 0xA2, 0x7D);

struct IDvdState : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetDiscID(ULONGLONG *pullUniqueID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParentalLevel(ULONG *pulParentalLevel) = 0;
};
TW_DECLARE_IID(IDvdState, 0x86303D6D, 0x1C4A, 0x4087, 0xAB, 0x42, 0xF7, 0x11, 0x16, 0x70, 0x48, 0xEF);

struct IDvdControl2 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE PlayTitle(ULONG ulTitle, DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlayChapterInTitle(ULONG ulTitle, ULONG ulChapter, DWORD dwFlags,
                                                         IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlayAtTimeInTitle(ULONG ulTitle, DVD_HMSF_TIMECODE *pStartTime, DWORD dwFlags,
                                                        IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE ReturnFromSubmenu(DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlayAtTime(DVD_HMSF_TIMECODE *pTime, DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlayChapter(ULONG ulChapter, DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlayPrevChapter(DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReplayChapter(DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlayNextChapter(DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlayForwards(double dSpeed, DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlayBackwards(double dSpeed, DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE ShowMenu(DVD_MENU_ID MenuID, DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE Resume(DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectRelativeButton(DVD_RELATIVE_BUTTON buttonDir) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateButton() = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectButton(ULONG ulButton) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectAndActivateButton(ULONG ulButton) = 0;
    virtual HRESULT STDMETHODCALLTYPE StillOff() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause(BOOL bState) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectAudioStream(ULONG ulAudio, DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectSubpictureStream(ULONG ulSubPicture, DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSubpictureState(BOOL bState, DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectAngle(ULONG ulAngle, DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectParentalLevel(ULONG ulParentalLevel) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectParentalCountry(BYTE bCountry[2]) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectKaraokeAudioPresentationMode(ULONG ulMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectVideoModePreference(ULONG ulPreferredDisplayMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDVDDirectory(LPCWSTR pszwPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE ActivateAtPosition(POINT point) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectAtPosition(POINT point) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlayChaptersAutoStop(ULONG ulTitle, ULONG ulChapter, ULONG ulChaptersToPlay,
                                                           DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE AcceptParentalLevelChange(BOOL bAccept) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOption(DVD_OPTION_FLAG flag, BOOL fState) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetState(IDvdState *pState, DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE PlayPeriodInTitleAutoStop(ULONG ulTitle, DVD_HMSF_TIMECODE *pStartTime,
                                                                DVD_HMSF_TIMECODE *pEndTime, DWORD dwFlags,
                                                                IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetGPRM(ULONG ulIndex, WORD wValue, DWORD dwFlags, IDvdCmd **ppCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectDefaultMenuLanguage(LCID Language) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectDefaultAudioLanguage(LCID Language, DVD_AUDIO_LANG_EXT audioExtension) = 0;
    virtual HRESULT STDMETHODCALLTYPE SelectDefaultSubpictureLanguage(LCID Language,
                                                                      DVD_SUBPICTURE_LANG_EXT subpictureExtension) = 0;
};
TW_DECLARE_IID(IDvdControl2, 0x33BC7430, 0xEEC0, 0x11D2, 0x82, 0x01, 0x00, 0xA0, 0xC9, 0xD7, 0x48, 0x42);

// SDK method names (strmif.h); MinGW's dvdif.h spells slots 17, 21 and 38 differently, with
// the same layout.
struct IDvdInfo2 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCurrentDomain(DVD_DOMAIN *pDomain) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentLocation(DVD_PLAYBACK_LOCATION2 *pLocation) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTotalTitleTime(DVD_HMSF_TIMECODE *pTotalTime, ULONG *ulTimeCodeFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentButton(ULONG *pulButtonsAvailable, ULONG *pulCurrentButton) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentAngle(ULONG *pulAnglesAvailable, ULONG *pulCurrentAngle) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentAudio(ULONG *pulStreamsAvailable, ULONG *pulCurrentStream) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentSubpicture(ULONG *pulStreamsAvailable, ULONG *pulCurrentStream,
                                                           BOOL *pbIsDisabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentUOPS(ULONG *pulUOPs) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllSPRMs(SPRMARRAY *pRegisterArray) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllGPRMs(GPRMARRAY *pRegisterArray) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAudioLanguage(ULONG ulStream, LCID *pLanguage) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubpictureLanguage(ULONG ulStream, LCID *pLanguage) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTitleAttributes(ULONG ulTitle, DVD_MenuAttributes *pMenu,
                                                         DVD_TitleAttributes *pTitle) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVMGAttributes(DVD_MenuAttributes *pATR) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentVideoAttributes(DVD_VideoAttributes *pATR) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAudioAttributes(ULONG ulStream, DVD_AudioAttributes *pATR) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetKaraokeAttributes(ULONG ulStream, DVD_KaraokeAttributes *pAttributes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubpictureAttributes(ULONG ulStream, DVD_SubpictureAttributes *pATR) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDVDVolumeInfo(ULONG *pulNumOfVolumes, ULONG *pulVolume, DVD_DISC_SIDE *pSide,
                                                       ULONG *pulNumOfTitles) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDVDTextNumberOfLanguages(ULONG *pulNumOfLangs) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDVDTextLanguageInfo(ULONG ulLangIndex, ULONG *pulNumOfStrings,
                                                             LCID *pLangCode, DVD_TextCharSet *pbCharacterSet) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDVDTextStringAsNative(ULONG ulLangIndex, ULONG ulStringIndex, BYTE *pbBuffer,
                                                               ULONG ulMaxBufferSize, ULONG *pulActualSize,
                                                               DVD_TextStringType *pType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDVDTextStringAsUnicode(ULONG ulLangIndex, ULONG ulStringIndex,
                                                                WCHAR *pchwBuffer, ULONG ulMaxBufferSize,
                                                                ULONG *pulActualSize, DVD_TextStringType *pType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPlayerParentalLevel(ULONG *pulParentalLevel, BYTE pbCountryCode[2]) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfChapters(ULONG ulTitle, ULONG *pulNumOfChapters) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTitleParentalLevels(ULONG ulTitle, ULONG *pulParentalLevels) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDVDDirectory(LPWSTR pszwPath, ULONG ulMaxSize, ULONG *pulActualSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsAudioStreamEnabled(ULONG ulStreamNum, BOOL *pbEnabled) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDiscID(LPCWSTR pszwPath, ULONGLONG *pullDiscID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetState(IDvdState **pStateData) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMenuLanguages(LCID *pLanguages, ULONG ulMaxLanguages,
                                                       ULONG *pulActualLanguages) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetButtonAtPosition(POINT point, ULONG *pulButtonIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCmdFromEvent(LONG_PTR lParam1, IDvdCmd **pCmdObj) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefaultMenuLanguage(LCID *pLanguage) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefaultAudioLanguage(LCID *pLanguage, DVD_AUDIO_LANG_EXT *pAudioExtension) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefaultSubpictureLanguage(LCID *pLanguage,
                                                                   DVD_SUBPICTURE_LANG_EXT *pSubpictureExtension) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDecoderCaps(DVD_DECODER_CAPS *pCaps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetButtonRect(ULONG ulButton, RECT *pRect) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsSubpictureStreamEnabled(ULONG ulStreamNum, BOOL *pbEnabled) = 0;
};
TW_DECLARE_IID(IDvdInfo2, 0x34151510, 0xEEC0, 0x11D2, 0x82, 0x01, 0x00, 0xA0, 0xC9, 0xD7, 0x48, 0x42);

// ---------------------------------------------------------------------------------------------
// Class identifiers

TW_DEFINE_GUID(CLSID_FilterGraph, 0xE436EBB3, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(CLSID_FilterGraphNoThread, 0xE436EBB8, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
               0x70);
TW_DEFINE_GUID(CLSID_CaptureGraphBuilder2, 0xBF87B6E1, 0x8C27, 0x11D0, 0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61,
               0xC5);
TW_DEFINE_GUID(CLSID_DvdGraphBuilder, 0xFCC152B7, 0xF372, 0x11D0, 0x8E, 0x00, 0x00, 0xC0, 0x4F, 0xD7, 0xC0, 0x8B);
TW_DEFINE_GUID(CLSID_WMAsfWriter, 0x7C23220E, 0x55BB, 0x11D3, 0x8B, 0x16, 0x00, 0xC0, 0x4F, 0xB6, 0xBD, 0x3D);
TW_DEFINE_GUID(CLSID_WMAsfReader, 0x187463A0, 0x5BB7, 0x11D3, 0xAC, 0xBE, 0x00, 0x80, 0xC7, 0x5E, 0x24, 0x6E);
TW_DEFINE_GUID(CLSID_SystemClock, 0xE436EBB1, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(CLSID_AsyncReader, 0xE436EBB5, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(CLSID_URLReader, 0xE436EBB6, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(CLSID_MemoryAllocator, 0x1E651CC0, 0xB199, 0x11D0, 0x82, 0x12, 0x00, 0xC0, 0x4F, 0xC3, 0x2C, 0x45);
TW_DEFINE_GUID(CLSID_AviSplitter, 0x1B544C20, 0xFD0B, 0x11CE, 0x8C, 0x63, 0x00, 0xAA, 0x00, 0x44, 0xB5, 0x1E);
TW_DEFINE_GUID(CLSID_VideoRenderer, 0x70E102B0, 0x5556, 0x11CE, 0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
TW_DEFINE_GUID(CLSID_VideoRendererDefault, 0x6BC1CFFA, 0x8FC1, 0x4261, 0xAC, 0x22, 0xCF, 0xB4, 0xCC, 0x38, 0xDB,
               0x50);
TW_DEFINE_GUID(CLSID_DSoundRender, 0x79376820, 0x07D0, 0x11CF, 0xA2, 0x4D, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67);
TW_DEFINE_GUID(CLSID_AudioRender, 0xE30629D1, 0x27E5, 0x11CE, 0x87, 0x5D, 0x00, 0x60, 0x8C, 0xB7, 0x80, 0x66);
TW_DEFINE_GUID(CLSID_InfTee, 0xF8388A40, 0xD5BB, 0x11D0, 0xBE, 0x5A, 0x00, 0x80, 0xC7, 0x06, 0x56, 0x8E);
TW_DEFINE_GUID(CLSID_FileWriter, 0x8596E5F0, 0x0DA5, 0x11D0, 0xBD, 0x21, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);

// ---------------------------------------------------------------------------------------------
// Media types, subtypes and format types

// Subtypes built from a FOURCC or a wave format tag share this base:
// {XXXXXXXX-0000-0010-8000-00AA00389B71}.
#define TW_FOURCC_GUID(name, code) \
    TW_DEFINE_GUID(name, code, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71)

TW_FOURCC_GUID(MEDIATYPE_Video, 0x73646976);        // 'vids'
TW_FOURCC_GUID(MEDIATYPE_Audio, 0x73647561);        // 'auds'
TW_FOURCC_GUID(MEDIATYPE_Text, 0x73747874);         // 'txts'
TW_FOURCC_GUID(MEDIATYPE_Midi, 0x7364696D);         // 'mids'
TW_FOURCC_GUID(MEDIATYPE_Interleaved, 0x73766169);  // 'iavs'
TW_FOURCC_GUID(MEDIATYPE_File, 0x656C6966);         // 'file'
TW_FOURCC_GUID(MEDIATYPE_ScriptCommand, 0x73636D64);
TW_DEFINE_GUID(MEDIATYPE_Stream, 0xE436EB83, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIATYPE_AnalogVideo, 0x0482DDE1, 0x7817, 0x11CF, 0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65);
TW_DEFINE_GUID(MEDIATYPE_AnalogAudio, 0x0482DEE1, 0x7817, 0x11CF, 0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65);
TW_DEFINE_GUID(MEDIATYPE_Timecode, 0x0482DEE3, 0x7817, 0x11CF, 0x8A, 0x03, 0x00, 0xAA, 0x00, 0x6E, 0xCB, 0x65);

TW_DEFINE_GUID(MEDIASUBTYPE_RGB8, 0xE436EB7A, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_RGB565, 0xE436EB7B, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_RGB555, 0xE436EB7C, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_RGB24, 0xE436EB7D, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_RGB32, 0xE436EB7E, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_ARGB32, 0x773C9AC0, 0x3274, 0x11D0, 0xB7, 0x24, 0x00, 0xAA, 0x00, 0x6C, 0x1A, 0x01);
TW_FOURCC_GUID(MEDIASUBTYPE_YV12, 0x32315659);  // 'YV12'
TW_FOURCC_GUID(MEDIASUBTYPE_I420, 0x30323449);  // 'I420'
TW_FOURCC_GUID(MEDIASUBTYPE_IYUV, 0x56555949);  // 'IYUV'
TW_FOURCC_GUID(MEDIASUBTYPE_YUY2, 0x32595559);  // 'YUY2'
TW_FOURCC_GUID(MEDIASUBTYPE_UYVY, 0x59565955);  // 'UYVY'
TW_FOURCC_GUID(MEDIASUBTYPE_NV12, 0x3231564E);  // 'NV12'
TW_FOURCC_GUID(MEDIASUBTYPE_WMV1, 0x31564D57);  // 'WMV1'
TW_FOURCC_GUID(MEDIASUBTYPE_WMV2, 0x32564D57);  // 'WMV2'
TW_FOURCC_GUID(MEDIASUBTYPE_WMV3, 0x33564D57);  // 'WMV3'
TW_FOURCC_GUID(MEDIASUBTYPE_MP43, 0x3334504D);  // 'MP43'
TW_FOURCC_GUID(MEDIASUBTYPE_MP4S, 0x5334504D);  // 'MP4S'
TW_FOURCC_GUID(MEDIASUBTYPE_PCM, WAVE_FORMAT_PCM);
TW_FOURCC_GUID(MEDIASUBTYPE_IEEE_FLOAT, WAVE_FORMAT_IEEE_FLOAT);
TW_FOURCC_GUID(MEDIASUBTYPE_MP3, WAVE_FORMAT_MPEGLAYER3);
TW_FOURCC_GUID(MEDIASUBTYPE_MSAUDIO1, WAVE_FORMAT_MSAUDIO1);
TW_FOURCC_GUID(MEDIASUBTYPE_WMAUDIO2, WAVE_FORMAT_WMAUDIO2);
TW_FOURCC_GUID(MEDIASUBTYPE_WMAUDIO3, WAVE_FORMAT_WMAUDIO3);
TW_FOURCC_GUID(MEDIASUBTYPE_MPEG1AudioPayload, 0x00000050);
TW_DEFINE_GUID(MEDIASUBTYPE_MPEG1Packet, 0xE436EB80, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_MPEG1Payload, 0xE436EB81, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
               0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_MPEG1System, 0xE436EB84, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_MPEG1Video, 0xE436EB86, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_MPEG1Audio, 0xE436EB87, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_Avi, 0xE436EB88, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_WAVE, 0xE436EB8B, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_None, 0xE436EB8E, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
TW_DEFINE_GUID(MEDIASUBTYPE_Asf, 0x3DB80F90, 0x9412, 0x11D1, 0xAD, 0xED, 0x00, 0x00, 0xF8, 0x75, 0x4B, 0x99);

TW_DEFINE_GUID(FORMAT_None, 0x0F6417D6, 0xC318, 0x11D0, 0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);
TW_DEFINE_GUID(FORMAT_VideoInfo, 0x05589F80, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
TW_DEFINE_GUID(FORMAT_VideoInfo2, 0xF72A76A0, 0xEB0A, 0x11D0, 0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
TW_DEFINE_GUID(FORMAT_WaveFormatEx, 0x05589F81, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
TW_DEFINE_GUID(FORMAT_MPEGVideo, 0x05589F82, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);

// Time formats (IMediaSeeking).
TW_DEFINE_GUID(TIME_FORMAT_NONE, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
TW_DEFINE_GUID(TIME_FORMAT_FRAME, 0x7B785570, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
TW_DEFINE_GUID(TIME_FORMAT_BYTE, 0x7B785571, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
TW_DEFINE_GUID(TIME_FORMAT_SAMPLE, 0x7B785572, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
TW_DEFINE_GUID(TIME_FORMAT_FIELD, 0x7B785573, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
TW_DEFINE_GUID(TIME_FORMAT_MEDIA_TIME, 0x7B785574, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);

// Pin categories and search directions (ICaptureGraphBuilder2).
TW_DEFINE_GUID(PIN_CATEGORY_CAPTURE, 0xFB6C4281, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
TW_DEFINE_GUID(PIN_CATEGORY_PREVIEW, 0xFB6C4282, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
TW_DEFINE_GUID(PIN_CATEGORY_VBI, 0xFB6C4284, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
TW_DEFINE_GUID(PIN_CATEGORY_CC, 0xFB6C4289, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
TW_DEFINE_GUID(LOOK_UPSTREAM_ONLY, 0xAC798BE0, 0x98E3, 0x11D1, 0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);
TW_DEFINE_GUID(LOOK_DOWNSTREAM_ONLY, 0xAC798BE1, 0x98E3, 0x11D1, 0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);

// ---------------------------------------------------------------------------------------------
// Event codes (IMediaEvent::GetEvent)

#define EC_SYSTEMBASE 0x00
#define EC_USER 0x8000
#define EC_COMPLETE 0x01
#define EC_USERABORT 0x02
#define EC_ERRORABORT 0x03
#define EC_TIME 0x04
#define EC_REPAINT 0x05
#define EC_STREAM_ERROR_STOPPED 0x06
#define EC_STREAM_ERROR_STILLPLAYING 0x07
#define EC_ERROR_STILLPLAYING 0x08
#define EC_PALETTE_CHANGED 0x09
#define EC_VIDEO_SIZE_CHANGED 0x0A
#define EC_QUALITY_CHANGE 0x0B
#define EC_SHUTTING_DOWN 0x0C
#define EC_CLOCK_CHANGED 0x0D
#define EC_PAUSED 0x0E
#define EC_OPENING_FILE 0x10
#define EC_BUFFERING_DATA 0x11
#define EC_FULLSCREEN_LOST 0x12
#define EC_ACTIVATE 0x13
#define EC_NEED_RESTART 0x14
#define EC_WINDOW_DESTROYED 0x15
#define EC_DISPLAY_CHANGED 0x16
#define EC_STARVATION 0x17
#define EC_OLE_EVENT 0x18
#define EC_NOTIFY_WINDOW 0x19
#define EC_STREAM_CONTROL_STOPPED 0x1A
#define EC_STREAM_CONTROL_STARTED 0x1B
#define EC_END_OF_SEGMENT 0x1C
#define EC_SEGMENT_STARTED 0x1D
#define EC_LENGTH_CHANGED 0x1E
#define EC_DEVICE_LOST 0x1F
#define EC_SAMPLE_NEEDED 0x20
#define EC_PROCESSING_LATENCY 0x21
#define EC_SAMPLE_LATENCY 0x22
#define EC_SCRUB_TIME 0x23
#define EC_STEP_COMPLETE 0x24
#define EC_TIMECODE_AVAILABLE 0x30
#define EC_EXTDEVICE_MODE_CHANGE 0x31
#define EC_STATE_CHANGE 0x32
#define EC_PLEASE_REOPEN 0x40
#define EC_STATUS 0x41
#define EC_MARKER_HIT 0x42
#define EC_LOADSTATUS 0x43
#define EC_FILE_CLOSED 0x44
#define EC_ERRORABORTEX 0x45
#define EC_EOS_SOON 0x46
#define EC_CONTENTPROPERTY_CHANGED 0x47
#define EC_BANDWIDTHCHANGE 0x48
#define EC_VIDEOFRAMEREADY 0x49
#define EC_GRAPH_CHANGED 0x50
#define EC_CLOCK_UNSET 0x51
#define EC_VMR_RENDERDEVICE_SET 0x53
#define EC_VMR_SURFACE_FLIPPED 0x54
#define EC_VMR_RECONNECTION_FAILED 0x55
#define EC_PREPROCESS_COMPLETE 0x56
#define EC_CODECAPI_EVENT 0x57
#define EC_WMT_EVENT_BASE 0x0251
#define EC_WMT_INDEX_EVENT EC_WMT_EVENT_BASE
#define EC_WMT_EVENT (EC_WMT_EVENT_BASE + 1)
#define EC_BUILT 0x300
#define EC_UNBUILT 0x301

#define EC_DVD_DOMAIN_CHANGE 0x0101
#define EC_DVD_TITLE_CHANGE 0x0102
#define EC_DVD_CHAPTER_START 0x0103
#define EC_DVD_AUDIO_STREAM_CHANGE 0x0104
#define EC_DVD_SUBPICTURE_STREAM_CHANGE 0x0105
#define EC_DVD_ANGLE_CHANGE 0x0106
#define EC_DVD_BUTTON_CHANGE 0x0107
#define EC_DVD_VALID_UOPS_CHANGE 0x0108
#define EC_DVD_STILL_ON 0x0109
#define EC_DVD_STILL_OFF 0x010A
#define EC_DVD_CURRENT_TIME 0x010B
#define EC_DVD_ERROR 0x010C
#define EC_DVD_WARNING 0x010D
#define EC_DVD_CHAPTER_AUTOSTOP 0x010E
#define EC_DVD_NO_FP_PGC 0x010F
#define EC_DVD_PLAYBACK_RATE_CHANGE 0x0110
#define EC_DVD_PARENTAL_LEVEL_CHANGE 0x0111
#define EC_DVD_PLAYBACK_STOPPED 0x0112
#define EC_DVD_ANGLES_AVAILABLE 0x0113
#define EC_DVD_PLAYPERIOD_AUTOSTOP 0x0114
#define EC_DVD_BUTTON_AUTO_ACTIVATED 0x0115
#define EC_DVD_CMD_START 0x0116
#define EC_DVD_CMD_END 0x0117
#define EC_DVD_DISC_EJECTED 0x0118
#define EC_DVD_DISC_INSERTED 0x0119
#define EC_DVD_CURRENT_HMSF_TIME 0x011A
#define EC_DVD_KARAOKE_MODE 0x011B

#define EC_SND_DEVICE_ERROR_BASE 0x0200
#define EC_SNDDEV_IN_ERROR (EC_SND_DEVICE_ERROR_BASE + 0x00)
#define EC_SNDDEV_OUT_ERROR (EC_SND_DEVICE_ERROR_BASE + 0x01)

// ---------------------------------------------------------------------------------------------
// DirectShow HRESULTs (the complete VFW_S_/VFW_E_ set)

#define VFW_S_NO_MORE_ITEMS                          ((HRESULT)0x00040103)
#define VFW_S_DUPLICATE_NAME                         ((HRESULT)0x0004022D)
#define VFW_S_STATE_INTERMEDIATE                     ((HRESULT)0x00040237)
#define VFW_S_PARTIAL_RENDER                         ((HRESULT)0x00040242)
#define VFW_S_SOME_DATA_IGNORED                      ((HRESULT)0x00040245)
#define VFW_S_CONNECTIONS_DEFERRED                   ((HRESULT)0x00040246)
#define VFW_S_RESOURCE_NOT_NEEDED                    ((HRESULT)0x00040250)
#define VFW_S_MEDIA_TYPE_IGNORED                     ((HRESULT)0x00040254)
#define VFW_S_VIDEO_NOT_RENDERED                     ((HRESULT)0x00040257)
#define VFW_S_AUDIO_NOT_RENDERED                     ((HRESULT)0x00040258)
#define VFW_S_RPZA                                   ((HRESULT)0x0004025A)
#define VFW_S_ESTIMATED                              ((HRESULT)0x00040260)
#define VFW_S_RESERVED                               ((HRESULT)0x00040263)
#define VFW_S_STREAM_OFF                             ((HRESULT)0x00040267)
#define VFW_S_CANT_CUE                               ((HRESULT)0x00040268)
#define VFW_S_NO_STOP_TIME                           ((HRESULT)0x00040270)
#define VFW_S_NOPREVIEWPIN                           ((HRESULT)0x0004027E)
#define VFW_S_DVD_NON_ONE_SEQUENTIAL                 ((HRESULT)0x00040280)
#define VFW_S_DVD_CHANNEL_CONTENTS_NOT_AVAILABLE     ((HRESULT)0x0004028C)
#define VFW_S_DVD_NOT_ACCURATE                       ((HRESULT)0x0004028D)
#define VFW_E_INVALIDMEDIATYPE                       ((HRESULT)0x80040200)
#define VFW_E_INVALIDSUBTYPE                         ((HRESULT)0x80040201)
#define VFW_E_NEED_OWNER                             ((HRESULT)0x80040202)
#define VFW_E_ENUM_OUT_OF_SYNC                       ((HRESULT)0x80040203)
#define VFW_E_ALREADY_CONNECTED                      ((HRESULT)0x80040204)
#define VFW_E_FILTER_ACTIVE                          ((HRESULT)0x80040205)
#define VFW_E_NO_TYPES                               ((HRESULT)0x80040206)
#define VFW_E_NO_ACCEPTABLE_TYPES                    ((HRESULT)0x80040207)
#define VFW_E_INVALID_DIRECTION                      ((HRESULT)0x80040208)
#define VFW_E_NOT_CONNECTED                          ((HRESULT)0x80040209)
#define VFW_E_NO_ALLOCATOR                           ((HRESULT)0x8004020A)
#define VFW_E_RUNTIME_ERROR                          ((HRESULT)0x8004020B)
#define VFW_E_BUFFER_NOTSET                          ((HRESULT)0x8004020C)
#define VFW_E_BUFFER_OVERFLOW                        ((HRESULT)0x8004020D)
#define VFW_E_BADALIGN                               ((HRESULT)0x8004020E)
#define VFW_E_ALREADY_COMMITTED                      ((HRESULT)0x8004020F)
#define VFW_E_BUFFERS_OUTSTANDING                    ((HRESULT)0x80040210)
#define VFW_E_NOT_COMMITTED                          ((HRESULT)0x80040211)
#define VFW_E_SIZENOTSET                             ((HRESULT)0x80040212)
#define VFW_E_NO_CLOCK                               ((HRESULT)0x80040213)
#define VFW_E_NO_SINK                                ((HRESULT)0x80040214)
#define VFW_E_NO_INTERFACE                           ((HRESULT)0x80040215)
#define VFW_E_NOT_FOUND                              ((HRESULT)0x80040216)
#define VFW_E_CANNOT_CONNECT                         ((HRESULT)0x80040217)
#define VFW_E_CANNOT_RENDER                          ((HRESULT)0x80040218)
#define VFW_E_CHANGING_FORMAT                        ((HRESULT)0x80040219)
#define VFW_E_NO_COLOR_KEY_SET                       ((HRESULT)0x8004021A)
#define VFW_E_NOT_OVERLAY_CONNECTION                 ((HRESULT)0x8004021B)
#define VFW_E_NOT_SAMPLE_CONNECTION                  ((HRESULT)0x8004021C)
#define VFW_E_PALETTE_SET                            ((HRESULT)0x8004021D)
#define VFW_E_COLOR_KEY_SET                          ((HRESULT)0x8004021E)
#define VFW_E_NO_COLOR_KEY_FOUND                     ((HRESULT)0x8004021F)
#define VFW_E_NO_PALETTE_AVAILABLE                   ((HRESULT)0x80040220)
#define VFW_E_NO_DISPLAY_PALETTE                     ((HRESULT)0x80040221)
#define VFW_E_TOO_MANY_COLORS                        ((HRESULT)0x80040222)
#define VFW_E_STATE_CHANGED                          ((HRESULT)0x80040223)
#define VFW_E_NOT_STOPPED                            ((HRESULT)0x80040224)
#define VFW_E_NOT_PAUSED                             ((HRESULT)0x80040225)
#define VFW_E_NOT_RUNNING                            ((HRESULT)0x80040226)
#define VFW_E_WRONG_STATE                            ((HRESULT)0x80040227)
#define VFW_E_START_TIME_AFTER_END                   ((HRESULT)0x80040228)
#define VFW_E_INVALID_RECT                           ((HRESULT)0x80040229)
#define VFW_E_TYPE_NOT_ACCEPTED                      ((HRESULT)0x8004022A)
#define VFW_E_SAMPLE_REJECTED                        ((HRESULT)0x8004022B)
#define VFW_E_SAMPLE_REJECTED_EOS                    ((HRESULT)0x8004022C)
#define VFW_E_DUPLICATE_NAME                         ((HRESULT)0x8004022D)
#define VFW_E_TIMEOUT                                ((HRESULT)0x8004022E)
#define VFW_E_INVALID_FILE_FORMAT                    ((HRESULT)0x8004022F)
#define VFW_E_ENUM_OUT_OF_RANGE                      ((HRESULT)0x80040230)
#define VFW_E_CIRCULAR_GRAPH                         ((HRESULT)0x80040231)
#define VFW_E_NOT_ALLOWED_TO_SAVE                    ((HRESULT)0x80040232)
#define VFW_E_TIME_ALREADY_PASSED                    ((HRESULT)0x80040233)
#define VFW_E_ALREADY_CANCELLED                      ((HRESULT)0x80040234)
#define VFW_E_CORRUPT_GRAPH_FILE                     ((HRESULT)0x80040235)
#define VFW_E_ADVISE_ALREADY_SET                     ((HRESULT)0x80040236)
#define VFW_E_NO_MODEX_AVAILABLE                     ((HRESULT)0x80040238)
#define VFW_E_NO_ADVISE_SET                          ((HRESULT)0x80040239)
#define VFW_E_NO_FULLSCREEN                          ((HRESULT)0x8004023A)
#define VFW_E_IN_FULLSCREEN_MODE                     ((HRESULT)0x8004023B)
#define VFW_E_UNKNOWN_FILE_TYPE                      ((HRESULT)0x80040240)
#define VFW_E_CANNOT_LOAD_SOURCE_FILTER              ((HRESULT)0x80040241)
#define VFW_E_FILE_TOO_SHORT                         ((HRESULT)0x80040243)
#define VFW_E_INVALID_FILE_VERSION                   ((HRESULT)0x80040244)
#define VFW_E_INVALID_CLSID                          ((HRESULT)0x80040247)
#define VFW_E_INVALID_MEDIA_TYPE                     ((HRESULT)0x80040248)
#define VFW_E_SAMPLE_TIME_NOT_SET                    ((HRESULT)0x80040249)
#define VFW_E_MEDIA_TIME_NOT_SET                     ((HRESULT)0x80040251)
#define VFW_E_NO_TIME_FORMAT_SET                     ((HRESULT)0x80040252)
#define VFW_E_MONO_AUDIO_HW                          ((HRESULT)0x80040253)
#define VFW_E_NO_DECOMPRESSOR                        ((HRESULT)0x80040255)
#define VFW_E_NO_AUDIO_HARDWARE                      ((HRESULT)0x80040256)
#define VFW_E_RPZA                                   ((HRESULT)0x80040259)
#define VFW_E_PROCESSOR_NOT_SUITABLE                 ((HRESULT)0x8004025B)
#define VFW_E_UNSUPPORTED_AUDIO                      ((HRESULT)0x8004025C)
#define VFW_E_UNSUPPORTED_VIDEO                      ((HRESULT)0x8004025D)
#define VFW_E_MPEG_NOT_CONSTRAINED                   ((HRESULT)0x8004025E)
#define VFW_E_NOT_IN_GRAPH                           ((HRESULT)0x8004025F)
#define VFW_E_NO_TIME_FORMAT                         ((HRESULT)0x80040261)
#define VFW_E_READ_ONLY                              ((HRESULT)0x80040262)
#define VFW_E_BUFFER_UNDERFLOW                       ((HRESULT)0x80040264)
#define VFW_E_UNSUPPORTED_STREAM                     ((HRESULT)0x80040265)
#define VFW_E_NO_TRANSPORT                           ((HRESULT)0x80040266)
#define VFW_E_BAD_VIDEOCD                            ((HRESULT)0x80040269)
#define VFW_E_OUT_OF_VIDEO_MEMORY                    ((HRESULT)0x80040271)
#define VFW_E_VP_NEGOTIATION_FAILED                  ((HRESULT)0x80040272)
#define VFW_E_DDRAW_CAPS_NOT_SUITABLE                ((HRESULT)0x80040273)
#define VFW_E_NO_VP_HARDWARE                         ((HRESULT)0x80040274)
#define VFW_E_NO_CAPTURE_HARDWARE                    ((HRESULT)0x80040275)
#define VFW_E_DVD_OPERATION_INHIBITED                ((HRESULT)0x80040276)
#define VFW_E_DVD_INVALIDDOMAIN                      ((HRESULT)0x80040277)
#define VFW_E_DVD_NO_BUTTON                          ((HRESULT)0x80040278)
#define VFW_E_DVD_GRAPHNOTREADY                      ((HRESULT)0x80040279)
#define VFW_E_DVD_RENDERFAIL                         ((HRESULT)0x8004027A)
#define VFW_E_DVD_DECNOTENOUGH                       ((HRESULT)0x8004027B)
#define VFW_E_DDRAW_VERSION_NOT_SUITABLE             ((HRESULT)0x8004027C)
#define VFW_E_COPYPROT_FAILED                        ((HRESULT)0x8004027D)
#define VFW_E_TIME_EXPIRED                           ((HRESULT)0x8004027F)
#define VFW_E_DVD_WRONG_SPEED                        ((HRESULT)0x80040281)
#define VFW_E_DVD_MENU_DOES_NOT_EXIST                ((HRESULT)0x80040282)
#define VFW_E_DVD_CMD_CANCELLED                      ((HRESULT)0x80040283)
#define VFW_E_DVD_STATE_WRONG_VERSION                ((HRESULT)0x80040284)
#define VFW_E_DVD_STATE_CORRUPT                      ((HRESULT)0x80040285)
#define VFW_E_DVD_STATE_WRONG_DISC                   ((HRESULT)0x80040286)
#define VFW_E_DVD_INCOMPATIBLE_REGION                ((HRESULT)0x80040287)
#define VFW_E_DVD_NO_ATTRIBUTES                      ((HRESULT)0x80040288)
#define VFW_E_DVD_NO_GOUP_PGC                        ((HRESULT)0x80040289)
#define VFW_E_DVD_LOW_PARENTAL_LEVEL                 ((HRESULT)0x8004028A)
#define VFW_E_DVD_NOT_IN_KARAOKE_MODE                ((HRESULT)0x8004028B)
#define VFW_E_FRAME_STEP_UNSUPPORTED                 ((HRESULT)0x8004028E)
#define VFW_E_DVD_STREAM_DISABLED                    ((HRESULT)0x8004028F)
#define VFW_E_DVD_TITLE_UNKNOWN                      ((HRESULT)0x80040290)
#define VFW_E_DVD_INVALID_DISC                       ((HRESULT)0x80040291)
#define VFW_E_DVD_NO_RESUME_INFORMATION              ((HRESULT)0x80040292)
#define VFW_E_PIN_ALREADY_BLOCKED_ON_THIS_THREAD     ((HRESULT)0x80040293)
#define VFW_E_PIN_ALREADY_BLOCKED                    ((HRESULT)0x80040294)
#define VFW_E_CERTIFICATION_FAILURE                  ((HRESULT)0x80040295)
#define VFW_E_VMR_NOT_IN_MIXER_MODE                  ((HRESULT)0x80040296)
#define VFW_E_VMR_NO_AP_SUPPLIED                     ((HRESULT)0x80040297)
#define VFW_E_VMR_NO_DEINTERLACE_HW                  ((HRESULT)0x80040298)
#define VFW_E_VMR_NO_PROCAMP_HW                      ((HRESULT)0x80040299)
#define VFW_E_DVD_VMR9_INCOMPATIBLEDEC               ((HRESULT)0x8004029A)
#define VFW_E_NO_COPP_HW                             ((HRESULT)0x8004029B)
#define VFW_E_DVD_NONBLOCKING                        ((HRESULT)0x8004029C)
#define VFW_E_DVD_TOO_MANY_RENDERERS_IN_FILTER_GRAPH ((HRESULT)0x8004029D)
#define VFW_E_DVD_NON_EVR_RENDERER_IN_FILTER_GRAPH   ((HRESULT)0x8004029E)
#define VFW_E_DVD_RESOLUTION_ERROR                   ((HRESULT)0x8004029F)
#define VFW_E_CODECAPI_LINEAR_RANGE                  ((HRESULT)0x80040310)
#define VFW_E_CODECAPI_ENUMERATED                    ((HRESULT)0x80040311)
#define VFW_E_CODECAPI_NO_DEFAULT                    ((HRESULT)0x80040313)
#define VFW_E_CODECAPI_NO_CURRENT_VALUE              ((HRESULT)0x80040314)
#define VFW_E_DVD_CHAPTER_DOES_NOT_EXIST             ((HRESULT)0x80040315)
#define VFW_E_BAD_KEY                                ((HRESULT)0x800403F2)
// ---------------------------------------------------------------------------------------------
// Error texts (quartz.dll on Windows, platform/posix on Linux)

#if defined(_WIN32)
extern "C" {
DWORD WINAPI AMGetErrorTextA(HRESULT hr, LPSTR pbuffer, DWORD MaxLen);
DWORD WINAPI AMGetErrorTextW(HRESULT hr, LPWSTR pbuffer, DWORD MaxLen);
}
#else
// Writes the text of hr and returns the number of characters written, without the NUL. A code
// without a text, no buffer, or a buffer of MaxLen characters too small for the whole text
// and its NUL gives 0 (and an empty buffer where there is one).
DWORD WINAPI AMGetErrorTextA(HRESULT hr, LPSTR pbuffer, DWORD MaxLen);
DWORD WINAPI AMGetErrorTextW(HRESULT hr, LPWSTR pbuffer, DWORD MaxLen);
#endif

// ---------------------------------------------------------------------------------------------
// Media type helpers of our own (the SDK's base classes have similar ones; we do not use them).

namespace tw {

// Releases the format block and pUnk of mt and clears them; the structure itself stays.
inline void FreeMediaType(AM_MEDIA_TYPE &mt) {
    if (mt.cbFormat != 0 || mt.pbFormat) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk) {
        IUnknown *unk = mt.pUnk;
        mt.pUnk = nullptr;
        unk->Release();
    }
}

// Frees a media type allocated with CoTaskMemAlloc (as IEnumMediaTypes::Next and
// IMediaSample::GetMediaType hand them out), format block included.
inline void DeleteMediaType(AM_MEDIA_TYPE *pmt) {
    if (!pmt) return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

// Deep copy: dst gets its own format block and its own reference on pUnk. dst must not hold
// a format block of its own (it is overwritten). E_OUTOFMEMORY leaves dst without a format.
inline HRESULT CopyMediaType(AM_MEDIA_TYPE *dst, const AM_MEDIA_TYPE *src) {
    if (!dst || !src) return E_POINTER;
    *dst = *src;
    if (src->cbFormat != 0 && src->pbFormat) {
        dst->pbFormat = static_cast<BYTE *>(CoTaskMemAlloc(src->cbFormat));
        if (!dst->pbFormat) {
            dst->cbFormat = 0;
            dst->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
    } else {
        dst->cbFormat = 0;
        dst->pbFormat = nullptr;
    }
    if (dst->pUnk) dst->pUnk->AddRef();
    return S_OK;
}

// A CoTaskMemAlloc'd deep copy of src (nullptr when out of memory), for handing out media types
// the way IEnumMediaTypes::Next does.
inline AM_MEDIA_TYPE *CreateMediaType(const AM_MEDIA_TYPE *src) {
    auto *pmt = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!pmt) return nullptr;
    if (FAILED(CopyMediaType(pmt, src))) {
        CoTaskMemFree(pmt);
        return nullptr;
    }
    return pmt;
}

}  // namespace tw

// ---------------------------------------------------------------------------------------------
// Layout checks: the sizes quartz.dll expects on 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(AM_MEDIA_TYPE) == 72, "AM_MEDIA_TYPE layout");
static_assert(sizeof(VIDEOINFOHEADER) == 88, "VIDEOINFOHEADER layout");
static_assert(sizeof(VIDEOINFOHEADER2) == 112, "VIDEOINFOHEADER2 layout");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX layout");
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40, "WAVEFORMATEXTENSIBLE layout");
static_assert(sizeof(PIN_INFO) == 264, "PIN_INFO layout");
static_assert(sizeof(FILTER_INFO) == 260, "FILTER_INFO layout");
static_assert(sizeof(ALLOCATOR_PROPERTIES) == 16, "ALLOCATOR_PROPERTIES layout");
static_assert(sizeof(AM_DVD_RENDERSTATUS) == 32, "AM_DVD_RENDERSTATUS layout");
static_assert(sizeof(DVD_PLAYBACK_LOCATION2) == 16, "DVD_PLAYBACK_LOCATION2 layout");
static_assert(sizeof(DVD_DECODER_CAPS) == 72, "DVD_DECODER_CAPS layout");
static_assert(sizeof(AM_SAMPLE2_PROPERTIES) == 48, "AM_SAMPLE2_PROPERTIES layout");
static_assert(sizeof(Quality) == 24, "Quality layout");
#endif
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER layout");
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is packed to 1");
static_assert(sizeof(DVD_HMSF_TIMECODE) == 4, "DVD_HMSF_TIMECODE layout");
