// Windows Media Format: the writer, sink and buffer interfaces the recorder uses, the WM ASF
// Writer filter's configuration interfaces, the Windows Media 8 system profile GUIDs and the
// NS_E_/ASF_E_ codes, under their SDK names.
//
// On Windows these are the layouts of wmvcore.dll and qasf.dll (MinGW has no dshowasf.h and
// no import library for wmvcore.dll); on Linux platform/posix implements them. The same rules
// as directshow.h hold: SDK slot order, single inheritance, no virtual destructors.
#pragma once

#include "platform/com.h"
#include "platform/directshow.h"

// ---------------------------------------------------------------------------------------------
// Types

#if defined(_WIN32)
typedef ULONGLONG QWORD;  // wmsdkidl.h's; <windows.h> has none
#endif

enum WMT_NET_PROTOCOL { WMT_PROTOCOL_HTTP = 0 };

enum WMT_ATTR_DATATYPE {
    WMT_TYPE_DWORD = 0,
    WMT_TYPE_STRING = 1,
    WMT_TYPE_BINARY = 2,
    WMT_TYPE_BOOL = 3,
    WMT_TYPE_QWORD = 4,
    WMT_TYPE_WORD = 5,
    WMT_TYPE_GUID = 6,
};

enum WMT_STATUS {
    WMT_ERROR = 0,
    WMT_OPENED = 1,
    WMT_BUFFERING_START = 2,
    WMT_BUFFERING_STOP = 3,
    WMT_EOF = 4,
    WMT_END_OF_FILE = 4,
    WMT_END_OF_SEGMENT = 5,
    WMT_END_OF_STREAMING = 6,
    WMT_LOCATING = 7,
    WMT_CONNECTING = 8,
    WMT_NO_RIGHTS = 9,
    WMT_MISSING_CODEC = 10,
    WMT_STARTED = 11,
    WMT_STOPPED = 12,
    WMT_CLOSED = 13,
    WMT_STRIDING = 14,
    WMT_TIMER = 15,
    WMT_INDEX_PROGRESS = 16,
    WMT_SAVEAS_START = 17,
    WMT_SAVEAS_STOP = 18,
    WMT_NEW_SOURCEFLAGS = 19,
    WMT_NEW_METADATA = 20,
    WMT_BACKUPRESTORE_BEGIN = 21,
    WMT_SOURCE_SWITCH = 22,
    WMT_ACQUIRE_LICENSE = 23,
    WMT_INDIVIDUALIZE = 24,
    WMT_NEEDS_INDIVIDUALIZATION = 25,
    WMT_NO_RIGHTS_EX = 26,
    WMT_BACKUPRESTORE_END = 27,
    WMT_BACKUPRESTORE_CONNECTING = 28,
    WMT_BACKUPRESTORE_DISCONNECTING = 29,
    WMT_ERROR_WITHURL = 30,
    WMT_RESTRICTED_LICENSE = 31,
    WMT_CLIENT_CONNECT = 32,
    WMT_CLIENT_DISCONNECT = 33,
    WMT_NATIVE_OUTPUT_PROPS_CHANGED = 34,
    WMT_RECONNECT_START = 35,
    WMT_RECONNECT_END = 36,
    WMT_CLIENT_CONNECT_EX = 37,
    WMT_CLIENT_DISCONNECT_EX = 38,
    WMT_SET_FEC_SPAN = 39,
    WMT_PREROLL_READY = 40,
    WMT_PREROLL_COMPLETE = 41,
    WMT_CLIENT_PROPERTIES = 42,
    WMT_LICENSEURL_SIGNATURE_STATE = 43,
};

// A connected client of a network sink (IWMClientConnections). The address is in network
// byte order, as the SDK hands it out.
struct WM_CLIENT_PROPERTIES {
    DWORD dwIPAddress;
    DWORD dwPort;
};

struct WM_WRITER_STATISTICS {
    QWORD qwSampleCount;
    QWORD qwByteCount;
    QWORD qwDroppedSampleCount;
    QWORD qwDroppedByteCount;
    DWORD dwCurrentBitrate;
    DWORD dwAverageBitrate;
    DWORD dwExpectedBitrate;
    DWORD dwCurrentSampleRate;
    DWORD dwAverageSampleRate;
    DWORD dwExpectedSampleRate;
};

// Parameter 1 of EC_WMT_EVENT points at one of these.
struct AM_WMT_EVENT_DATA {
    HRESULT hrStatus;
    void *pData;
};

// IConfigAsfWriter2::SetParam / GetParam identifiers (an untagged enum in the SDK, passed as
// a DWORD).
enum {
    AM_CONFIGASFWRITER_PARAM_AUTOINDEX = 1,
    AM_CONFIGASFWRITER_PARAM_MULTIPASS = 2,
    AM_CONFIGASFWRITER_PARAM_DONTCOMPRESS = 3,
};

// ---------------------------------------------------------------------------------------------
// Interfaces

struct IWMProfile;   // opaque: the project hands profiles on, never reads them
struct INSSBuffer3;  // opaque: only IAMWMBufferPassCallback names it
TW_DECLARE_IID(IWMProfile, 0x96406BDB, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);

struct INSSBuffer : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLength(DWORD *pdwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLength(DWORD dwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD *pdwLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBuffer(BYTE **ppdwBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE **ppdwBuffer, DWORD *pdwLength) = 0;
};
TW_DECLARE_IID(INSSBuffer, 0xE1CD3524, 0x03D7, 0x11D2, 0x9E, 0xED, 0x00, 0x60, 0x97, 0xD2, 0xD7, 0xCF);

struct IConfigAsfWriter : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfileId(DWORD dwProfileId) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentProfileId(DWORD *pdwProfileId) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfileGuid(REFGUID guidProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentProfileGuid(GUID *pProfileGuid) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConfigureFilterUsingProfile(IWMProfile *pProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentProfile(IWMProfile **ppProfile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIndexMode(BOOL bIndexFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIndexMode(BOOL *pbIndexFile) = 0;
};
TW_DECLARE_IID(IConfigAsfWriter, 0x45086030, 0xF7E4, 0x486A, 0xB5, 0x04, 0x82, 0x6B, 0xB5, 0x79, 0x2A, 0x3B);

struct IConfigAsfWriter2 : public IConfigAsfWriter {
    virtual HRESULT STDMETHODCALLTYPE StreamNumFromPin(IPin *pPin, WORD *pwStreamNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetParam(DWORD dwParam, DWORD dwParam1, DWORD dwParam2) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetParam(DWORD dwParam, DWORD *pdwParam1, DWORD *pdwParam2) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResetMultiPassState() = 0;
};
TW_DECLARE_IID(IConfigAsfWriter2, 0x7989CCAA, 0x53F0, 0x44F0, 0x88, 0x4A, 0xF3, 0xB0, 0x3F, 0x6A, 0xE0, 0x66);

struct IAMWMBufferPassCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Notify(INSSBuffer3 *pNSSBuffer3, IPin *pPin, REFERENCE_TIME *prtStart,
                                             REFERENCE_TIME *prtEnd) = 0;
};
TW_DECLARE_IID(IAMWMBufferPassCallback, 0xB25B8372, 0xD2D2, 0x44B2, 0x86, 0x53, 0x1B, 0x8D, 0xAE, 0x33, 0x24, 0x89);

struct IAMWMBufferPass : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetNotify(IAMWMBufferPassCallback *pCallback) = 0;
};
TW_DECLARE_IID(IAMWMBufferPass, 0x6DD816D7, 0xE740, 0x4123, 0x9E, 0x24, 0x24, 0x44, 0x41, 0x26, 0x44, 0xD8);

struct IWMStatusCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnStatus(WMT_STATUS Status, HRESULT hr, WMT_ATTR_DATATYPE dwType, BYTE *pValue,
                                               void *pvContext) = 0;
};
TW_DECLARE_IID(IWMStatusCallback, 0x6D7CDC70, 0x9888, 0x11D3, 0x8E, 0xDC, 0x00, 0xC0, 0x4F, 0x61, 0x09, 0xCF);

struct IWMRegisterCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Advise(IWMStatusCallback *pCallback, void *pvContext) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(IWMStatusCallback *pCallback, void *pvContext) = 0;
};
TW_DECLARE_IID(IWMRegisterCallback, 0xCF4B1F99, 0x4DE2, 0x4E49, 0xA3, 0x63, 0x25, 0x27, 0x40, 0xD9, 0x9B, 0xC1);

struct IWMWriterSink : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnHeader(INSSBuffer *pHeader) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsRealTime(BOOL *pfRealTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE AllocateDataUnit(DWORD cbDataUnit, INSSBuffer **ppDataUnit) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnDataUnit(INSSBuffer *pDataUnit) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnEndWriting() = 0;
};
TW_DECLARE_IID(IWMWriterSink, 0x96406BE4, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);

struct IWMWriterNetworkSink : public IWMWriterSink {
    virtual HRESULT STDMETHODCALLTYPE SetMaximumClients(DWORD dwMaxClients) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaximumClients(DWORD *pdwMaxClients) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNetworkProtocol(WMT_NET_PROTOCOL protocol) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNetworkProtocol(WMT_NET_PROTOCOL *pProtocol) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHostURL(WCHAR *pwszURL, DWORD *pcchURL) = 0;
    virtual HRESULT STDMETHODCALLTYPE Open(DWORD *pdwPortNum) = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};
TW_DECLARE_IID(IWMWriterNetworkSink, 0x96406BE7, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);

// Not part of Windows Media: our Linux network sink also answers this interface, for the local
// address it listens on. The Windows Media runtime's sink listens on every interface and does
// not answer it, so a caller takes E_NOINTERFACE to mean "only every interface here".
struct ITwNetworkSinkAddress : public IUnknown {
    // Called while the sink is closed: a numeric IPv4 or IPv6 address, or NULL or "" for every
    // interface (the default). E_INVALIDARG for anything else, NS_E_INVALID_REQUEST while open.
    // The next Open listens there and GetHostURL names it.
    virtual HRESULT STDMETHODCALLTYPE SetListenAddress(LPCWSTR address) = 0;
};
TW_DECLARE_IID(ITwNetworkSinkAddress, 0x6338454B, 0xD6F7, 0x4B98, 0xAB, 0x2C, 0xA7, 0xC4, 0xD9, 0x14, 0xDC, 0xC0);

struct IWMClientConnections : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetClientCount(DWORD *pcClients) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClientProperties(DWORD dwClientNum,
                                                          WM_CLIENT_PROPERTIES *pClientProperties) = 0;
};
TW_DECLARE_IID(IWMClientConnections, 0x73C66010, 0xA299, 0x41DF, 0xB1, 0xF0, 0xCC, 0xF0, 0x3B, 0x09, 0xC1, 0xC6);

struct IWMWriterAdvanced : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSinkCount(DWORD *pcSinks) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSink(DWORD dwSinkNum, IWMWriterSink **ppSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddSink(IWMWriterSink *pSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveSink(IWMWriterSink *pSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD wStreamNum, QWORD cnsSampleTime,
                                                        DWORD msSampleSendTime, QWORD cnsSampleDuration,
                                                        DWORD dwFlags, INSSBuffer *pSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLiveSource(BOOL fIsLiveSource) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsRealTime(BOOL *pfRealTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWriterTime(QWORD *pcnsCurrentTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStatistics(WORD wStreamNum, WM_WRITER_STATISTICS *pStats) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSyncTolerance(DWORD msWindow) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSyncTolerance(DWORD *pmsWindow) = 0;
};
TW_DECLARE_IID(IWMWriterAdvanced, 0x96406BE3, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);

struct IWMWriterAdvanced2 : public IWMWriterAdvanced {
    virtual HRESULT STDMETHODCALLTYPE GetInputSetting(DWORD dwInputNum, LPCWSTR pszName, WMT_ATTR_DATATYPE *pType,
                                                      BYTE *pValue, WORD *pcbLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetInputSetting(DWORD dwInputNum, LPCWSTR pszName, WMT_ATTR_DATATYPE Type,
                                                      const BYTE *pValue, WORD cbLength) = 0;
};
TW_DECLARE_IID(IWMWriterAdvanced2, 0x962DC1EC, 0xC046, 0x4DB8, 0x9C, 0xC7, 0x26, 0xCE, 0xAE, 0x50, 0x08, 0x17);

// ---------------------------------------------------------------------------------------------
// Creating a network sink.
//
// On Windows the function lives in wmvcore.dll, for which MinGW has no import library; it is
// looked up at run time (LoadLibrary + GetProcAddress, export name "WMCreateWriterNetworkSink"),
// so a system without the Windows Media runtime fails cleanly instead of refusing to start.
// On Linux our platform layer provides it (platform/posix/net).
typedef HRESULT(STDMETHODCALLTYPE *PFN_WMCreateWriterNetworkSink)(IWMWriterNetworkSink **ppSink);
#if !defined(_WIN32)
HRESULT STDMETHODCALLTYPE WMCreateWriterNetworkSink(IWMWriterNetworkSink **ppSink);
#endif

// ---------------------------------------------------------------------------------------------
// The Windows Media 8 system profiles (wmsysprf.h).

TW_DEFINE_GUID(WMProfile_V80_255VideoPDA, 0xFEEDBCDF, 0x3FAC, 0x4C93, 0xAC, 0x0D, 0x47, 0x94, 0x1E, 0xC7, 0x2C, 0x0B);
TW_DEFINE_GUID(WMProfile_V80_150VideoPDA, 0xAEE16DFA, 0x2C14, 0x4A2F, 0xAD, 0x3F, 0xA3, 0x03, 0x40, 0x31, 0x78, 0x4F);
TW_DEFINE_GUID(WMProfile_V80_28856VideoMBR, 0xD66920C4, 0xC21F, 0x4EC8, 0xA0, 0xB4, 0x95, 0xCF, 0x2B, 0xD5, 0x7F, 0xC4);
TW_DEFINE_GUID(WMProfile_V80_100768VideoMBR, 0x5BDB5A0E, 0x979E, 0x47D3, 0x95, 0x96, 0x73, 0xB3, 0x86, 0x39, 0x2A, 0x55);
TW_DEFINE_GUID(WMProfile_V80_288100VideoMBR, 0xD8722C69, 0x2419, 0x4B36, 0xB4, 0xE0, 0x6E, 0x17, 0xB6, 0x05, 0x64, 0xE5);
TW_DEFINE_GUID(WMProfile_V80_288Video, 0x3DF678D9, 0x1352, 0x4186, 0xBB, 0xF8, 0x74, 0xF0, 0xC1, 0x9B, 0x6A, 0xE2);
TW_DEFINE_GUID(WMProfile_V80_56Video, 0x254E8A96, 0x2612, 0x405C, 0x80, 0x39, 0xF0, 0xBF, 0x72, 0x5C, 0xED, 0x7D);
TW_DEFINE_GUID(WMProfile_V80_100Video, 0xA2E300B4, 0xC2D4, 0x4FC0, 0xB5, 0xDD, 0xEC, 0xBD, 0x94, 0x8D, 0xC0, 0xDF);
TW_DEFINE_GUID(WMProfile_V80_256Video, 0xBBC75500, 0x33D2, 0x4466, 0xB8, 0x6B, 0x12, 0x2B, 0x20, 0x1C, 0xC9, 0xAE);
TW_DEFINE_GUID(WMProfile_V80_384Video, 0x29B00C2B, 0x09A9, 0x48BD, 0xAD, 0x09, 0xCD, 0xAE, 0x11, 0x7D, 0x1D, 0xA7);
TW_DEFINE_GUID(WMProfile_V80_768Video, 0x74D01102, 0xE71A, 0x4820, 0x8F, 0x0D, 0x13, 0xD2, 0xEC, 0x1E, 0x48, 0x72);
TW_DEFINE_GUID(WMProfile_V80_700NTSCVideo, 0xC8C2985F, 0xE5D9, 0x4538, 0x9E, 0x23, 0x9B, 0x21, 0xBF, 0x78, 0xF7, 0x45);
TW_DEFINE_GUID(WMProfile_V80_1400NTSCVideo, 0x931D1BEE, 0x617A, 0x4BCD, 0x99, 0x05, 0xCC, 0xD0, 0x78, 0x66, 0x83, 0xEE);
TW_DEFINE_GUID(WMProfile_V80_384PALVideo, 0x9227C692, 0xAE62, 0x4F72, 0xA7, 0xEA, 0x73, 0x60, 0x62, 0xD0, 0xE2, 0x1E);
TW_DEFINE_GUID(WMProfile_V80_700PALVideo, 0xEC298949, 0x639B, 0x45E2, 0x96, 0xFD, 0x4A, 0xB3, 0x2D, 0x59, 0x19, 0xC2);
TW_DEFINE_GUID(WMProfile_V80_288MonoAudio, 0x7EA3126D, 0xE1BA, 0x4716, 0x89, 0xAF, 0xF6, 0x5C, 0xEE, 0x0C, 0x0C, 0x67);
TW_DEFINE_GUID(WMProfile_V80_288StereoAudio, 0x7E4CAB5C, 0x35DC, 0x45BB, 0xA7, 0xC0, 0x19, 0xB2, 0x80, 0x70, 0xD0, 0xCC);
TW_DEFINE_GUID(WMProfile_V80_32StereoAudio, 0x60907F9F, 0xB352, 0x47E5, 0xB2, 0x10, 0x0E, 0xF1, 0xF4, 0x7E, 0x9F, 0x9D);
TW_DEFINE_GUID(WMProfile_V80_48StereoAudio, 0x5EE06BE5, 0x492B, 0x480A, 0x8A, 0x8F, 0x12, 0xF3, 0x73, 0xEC, 0xF9, 0xD4);
TW_DEFINE_GUID(WMProfile_V80_64StereoAudio, 0x09BB5BC4, 0x3176, 0x457F, 0x8D, 0xD6, 0x3C, 0xD9, 0x19, 0x12, 0x3E, 0x2D);
TW_DEFINE_GUID(WMProfile_V80_96StereoAudio, 0x1FC81930, 0x61F2, 0x436F, 0x9D, 0x33, 0x34, 0x9F, 0x2A, 0x1C, 0x0F, 0x10);
TW_DEFINE_GUID(WMProfile_V80_128StereoAudio, 0x407B9450, 0x8BDC, 0x4EE5, 0x88, 0xB8, 0x6F, 0x52, 0x7B, 0xD9, 0x41, 0xF2);
TW_DEFINE_GUID(WMProfile_V80_288VideoOnly, 0x8C45B4C7, 0x4AEB, 0x4F78, 0xA5, 0xEC, 0x88, 0x42, 0x0B, 0x9D, 0xAD, 0xEF);
TW_DEFINE_GUID(WMProfile_V80_56VideoOnly, 0x6E2A6955, 0x81DF, 0x4943, 0xBA, 0x50, 0x68, 0xA9, 0x86, 0xA7, 0x08, 0xF6);
TW_DEFINE_GUID(WMProfile_V80_FAIRVBRVideo, 0x3510A862, 0x5850, 0x4886, 0x83, 0x5F, 0xD7, 0x8E, 0xC6, 0xA6, 0x40, 0x42);
TW_DEFINE_GUID(WMProfile_V80_HIGHVBRVideo, 0x0F10D9D3, 0x3B04, 0x4FB0, 0xA3, 0xD3, 0x88, 0xD4, 0xAC, 0x85, 0x4A, 0xCC);
TW_DEFINE_GUID(WMProfile_V80_BESTVBRVideo, 0x048439BA, 0x309C, 0x440E, 0x9C, 0xB4, 0x3D, 0xCC, 0xA3, 0x75, 0x64, 0x23);
// ---------------------------------------------------------------------------------------------
// Windows Media status codes (nserror.h, asferr.h)

#define NS_E_NOCONNECTION ((HRESULT)0xC00D0005)
#define NS_E_NETWORK_BUSY ((HRESULT)0xC00D000E)
#define NS_E_TOO_MANY_SESS ((HRESULT)0xC00D000F)
#define NS_E_ALREADY_CONNECTED ((HRESULT)0xC00D0010)
#define NS_E_PROTOCOL_MISMATCH ((HRESULT)0xC00D0012)
#define NS_E_NET_WRITE ((HRESULT)0xC00D0014)
#define NS_E_FILE_WRITE ((HRESULT)0xC00D0018)
#define NS_E_FILE_NOT_FOUND ((HRESULT)0xC00D001A)
#define NS_E_INVALID_NAME ((HRESULT)0xC00D001C)
#define NS_E_FILE_OPEN_FAILED ((HRESULT)0xC00D001D)
#define NS_E_FILE_INIT_FAILED ((HRESULT)0xC00D001F)
#define NS_E_NETWORK_RESOURCE_FAILURE ((HRESULT)0xC00D0028)
#define NS_E_CONNECTION_FAILURE ((HRESULT)0xC00D0029)
#define NS_E_INVALID_REQUEST ((HRESULT)0xC00D002B)
#define NS_E_INVALID_DATA ((HRESULT)0xC00D002F)
#define NS_E_NO_STREAM ((HRESULT)0xC00D0033)
#define NS_E_SERVER_NOT_FOUND ((HRESULT)0xC00D0035)
#define NS_E_INVALID_PORT ((HRESULT)0xC00D0043)
#define NS_E_MAX_CLIENTS ((HRESULT)0xC00D0049)
#define NS_E_INVALID_INPUT_FORMAT ((HRESULT)0xC00D0BB8)
#define NS_E_INVALID_OUTPUT_FORMAT ((HRESULT)0xC00D0BBB)
#define NS_E_NOT_CONFIGURED ((HRESULT)0xC00D0BBC)
#define NS_E_AUDIO_CODEC_NOT_INSTALLED ((HRESULT)0xC00D0BC2)
#define NS_E_VIDEO_CODEC_NOT_INSTALLED ((HRESULT)0xC00D0BC4)
#define NS_E_INVALIDPROFILE ((HRESULT)0xC00D0BC6)
#define NS_E_NOT_CONNECTED ((HRESULT)0xC00D0BCB)
#define NS_E_UNSUPPORTED_PROPERTY ((HRESULT)0xC00D0BCD)
#define NS_E_NO_MORE_SAMPLES ((HRESULT)0xC00D0BCF)
#define NS_E_INVALID_NUM_PASSES ((HRESULT)0xC00D0BD5)
#define NS_E_PORT_IN_USE ((HRESULT)0xC00D158A)
#define NS_E_PORT_IN_USE_HTTP ((HRESULT)0xC00D158B)
#define NS_E_NETWORK_SINK_WRITE ((HRESULT)0xC00D2EF8)

#define ASF_E_BUFFERTOOSMALL ((HRESULT)0xC00D07D1)
#define ASF_E_INVALIDSTATE ((HRESULT)0xC00D07F5)

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(WM_WRITER_STATISTICS) == 56, "WM_WRITER_STATISTICS layout");
#endif
static_assert(sizeof(WM_CLIENT_PROPERTIES) == 8, "WM_CLIENT_PROPERTIES layout");
