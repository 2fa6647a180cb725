// TFilterGraph: the component that stands for one DirectShow filter graph.
//
// While Active it owns a filter graph manager and, by Mode, a capture graph builder or a DVD
// graph builder; while inactive it owns no DirectShow object at all. It answers interface
// queries for its graph objects, registers the graph in the running object table (GraphEdit),
// logs the graph manager's work to a file (LogFile), puts its members' filters into every new
// graph, tells its listeners what it does, and turns the graph's events into calls of its event
// properties.
//
// Threads: the component lives on the thread that creates it (the user-interface thread),
// which must have initialised COM. The graph manager's streaming threads only post
// WM_GRAPHEVENT to NotifyWindow; every event is read and handled on the component's thread.
// Every public call below is made on that thread; none takes a lock of the component's own (it
// has none), so handlers may call back into it. Calls that block say so.
#pragma once

#include "dsgraph/GraphInterfaces.h"
#include "dsutil/DSUtil.h"
#include "framework/Component.h"
#include "platform/comptr.h"
#include "platform/directshow.h"
#include "platform/win32.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum TGraphMode : int32_t { gmNormal = 0, gmCapture = 1, gmDVD = 2 };

// Posted by the graph manager to NotifyWindow while events are queued (WM_APP + 1).
constexpr UINT WM_GRAPHEVENT = 0x8001;

// ---- Event handler types. `Sender` is the graph component. Interface references are handed
// on as the event carried them, valid for the call only (a handler that keeps one AddRefs it).
using TOnDSEvent = std::function<void(TComponent *Sender, LONG Event, LONG_PTR Param1, LONG_PTR Param2)>;
using TOnGraphBufferingData = std::function<void(TObject *Sender, bool Buffering)>;
using TOnGraphComplete = std::function<void(TObject *Sender, HRESULT Result, IBaseFilter *Renderer)>;
using TOnGraphDeviceLost = std::function<void(TObject *Sender, IUnknown *Device, bool Removed)>;
using TOnGraphEndOfSegment = std::function<void(TObject *Sender, REFERENCE_TIME StreamTime, DWORD NumSegment)>;
using TOnDSResult = std::function<void(TObject *Sender, HRESULT Result)>;
using TOnGraphFullscreenLost = std::function<void(TObject *Sender, IBaseFilter *Renderer)>;
using TOnGraphOleEvent = std::function<void(TObject *Sender, const tw::wstring &String1, const tw::wstring &String2)>;
using TOnGraphOpeningFile = std::function<void(TObject *Sender, bool opening)>;
// OccurWhen: the platform's sound-device error kind (_tagSND_DEVICE_ERROR: SNDDEV_ERROR_Open = 1,
// ... SNDDEV_ERROR_Query = 11), passed on unchanged.
using TOnGraphSNDDevError = std::function<void(TObject *Sender, DWORD OccurWhen, DWORD ErrorCode)>;
using TOnGraphStreamControl = std::function<void(TObject *Sender, IPin *PinSender, DWORD Cookie)>;
using TOnGraphStreamError = std::function<void(TObject *Sender, HRESULT Operation, DWORD Value)>;
using TOnGraphVideoSizeChanged = std::function<void(TObject *Sender, WORD Width, WORD height)>;
using TOnGraphTimeCodeAvailable = std::function<void(TObject *Sender, IBaseFilter *From, DWORD DeviceID)>;
using TOnGraphEXTDeviceModeChange = std::function<void(TObject *Sender, DWORD NewMode, DWORD DeviceID)>;
using TOnGraphVMRRenderDevice = std::function<void(TObject *Sender, int32_t RenderDevice)>;
using TOnDVDAudioStreamChange =
    std::function<void(TObject *Sender, int32_t stream, int32_t lcid, const std::string &Lang)>;
using TOnDVDCurrentTime = std::function<void(TObject *Sender, int32_t Hours, int32_t minutes, int32_t seconds,
                                             int32_t frames, int32_t frate)>;
using TOnDVDTitleChange = std::function<void(TObject *Sender, int32_t title)>;
using TOnDVDChapterStart = std::function<void(TObject *Sender, int32_t chapter)>;
using TOnDVDValidUOPSChange = std::function<void(TObject *Sender, int32_t UOPS)>;
using TOnDVDChange = std::function<void(TObject *Sender, int32_t total, int32_t current)>;
using TOnDVDStillOn = std::function<void(TObject *Sender, bool NoButtonAvailable, int32_t seconds)>;
using TOnDVDSubpictureStreamChange =
    std::function<void(TObject *Sender, int32_t SubNum, int32_t lcid, const std::string &Lang)>;
using TOnDVDPlaybackRateChange = std::function<void(TObject *Sender, float rate)>;
using TOnDVDParentalLevelChange = std::function<void(TObject *Sender, int32_t level)>;
using TOnDVDAnglesAvailable = std::function<void(TObject *Sender, bool available)>;
using TOnDVDButtonAutoActivated = std::function<void(TObject *Sender, DWORD Button)>;
using TOnDVDCMD = std::function<void(TObject *Sender, DWORD CmdID)>;
// HMSFTimeCode is the platform's tagDVD_HMSF_TIMECODE record; TimeCode is valid only during the call.
using TOnDVDCurrentHMSFTime =
    std::function<void(TObject *Sender, DVD_HMSF_TIMECODE HMSFTimeCode, tagDVD_TIMECODE &TimeCode)>;
using TOnDVDKaraokeMode = std::function<void(TObject *Sender, bool Played)>;

class TFilterGraph : public TComponent {
public:
    // Creates NotifyWindow; every other field starts zero, empty or false.
    explicit TFilterGraph(TComponent *AOwner);
    // Deactivates (exactly as SetActive(false)), destroys NotifyWindow, then the framework's
    // destruction runs. The member and listener lists go with the component.
    ~TFilterGraph() override;

    // ---- Properties.
    const std::string &LogFile() const { return logFile_; }
    // Active: closes the previous log and creates the file anew (read/write, not shared,
    // truncated), handing its handle to the graph manager. A file that cannot be created keeps
    // the previous name and leaves no log; nothing is reported.
    void SetLogFile(const std::string &Value);
    bool Active() const { return active_; }
    // true activates, false deactivates; the current value does nothing. Activation raises
    // EDirectShowException when a graph object of the mode cannot be created, and then stays
    // inactive holding nothing.
    void SetActive(bool Value);
    bool AutoCreate() const { return autoCreate_; }
    void SetAutoCreate(bool Value) { autoCreate_ = Value; }
    TGraphMode Mode() const { return mode_; }
    // A new mode on an active graph rebuilds it: full deactivation, then full activation.
    void SetMode(TGraphMode Value);
    bool GraphEdit() const { return graphEdit_; }
    // Registers / revokes the graph in the running object table at once when active.
    void SetGraphEdit(bool Value);

    // ---- Events.
    TNotifyEvent OnActivate;  // end of every activation
    TOnDSEvent OnDSEvent;     // every event, raw
    TOnGraphBufferingData OnGraphBufferingData;
    TNotifyEvent OnGraphClockChanged;
    TOnGraphComplete OnGraphComplete;
    TOnGraphDeviceLost OnGraphDeviceLost;
    TOnGraphEndOfSegment OnGraphEndOfSegment;
    TOnDSResult OnGraphErrorStillPlaying;
    TOnDSResult OnGraphErrorAbort;
    TOnGraphFullscreenLost OnGraphFullscreenLost;
    TNotifyEvent OnGraphChanged;
    TOnGraphOleEvent OnGraphOleEvent;
    TOnGraphOpeningFile OnGraphOpeningFile;
    TNotifyEvent OnGraphPaletteChanged;
    TOnDSResult OnGraphPaused;
    TNotifyEvent OnGraphQualityChange;
    TOnGraphSNDDevError OnGraphSNDDevInError;
    TOnGraphSNDDevError OnGraphSNDDevOutError;
    TNotifyEvent OnGraphStepComplete;
    TOnGraphStreamControl OnGraphStreamControlStarted;
    TOnGraphStreamControl OnGraphStreamControlStopped;
    TOnGraphStreamError OnGraphStreamErrorStillPlaying;
    TOnGraphStreamError OnGraphStreamErrorStopped;
    TNotifyEvent OnGraphUserAbort;
    TOnGraphVideoSizeChanged OnGraphVideoSizeChanged;
    TOnGraphTimeCodeAvailable OnGraphTimeCodeAvailable;
    TOnGraphEXTDeviceModeChange OnGraphEXTDeviceModeChange;
    TNotifyEvent OnGraphClockUnset;
    TOnGraphVMRRenderDevice OnGraphVMRRenderDevice;
    TOnDVDAudioStreamChange OnDVDAudioStreamChange;
    TOnDVDCurrentTime OnDVDCurrentTime;
    TOnDVDTitleChange OnDVDTitleChange;
    TOnDVDChapterStart OnDVDChapterStart;
    TOnDVDChange OnDVDAngleChange;
    TOnDVDValidUOPSChange OnDVDValidUOPSChange;
    TOnDVDChange OnDVDButtonChange;
    TNotifyEvent OnDVDChapterAutoStop;
    TOnDVDStillOn OnDVDStillOn;
    TNotifyEvent OnDVDStillOff;
    TOnDVDSubpictureStreamChange OnDVDSubpictureStreamChange;
    TNotifyEvent OnDVDNoFP_PGC;
    TOnDVDPlaybackRateChange OnDVDPlaybackRateChange;
    TOnDVDParentalLevelChange OnDVDParentalLevelChange;
    TNotifyEvent OnDVDPlaybackStopped;
    TOnDVDAnglesAvailable OnDVDAnglesAvailable;
    TNotifyEvent OnDVDPlayPeriodAutoStop;
    TOnDVDButtonAutoActivated OnDVDButtonAutoActivated;
    TOnDVDCMD OnDVDCMDStart;
    TOnDVDCMD OnDVDCMDEnd;
    TNotifyEvent OnDVDDiscEjected;
    TNotifyEvent OnDVDDiscInserted;
    TOnDVDCurrentHMSFTime OnDVDCurrentHMSFTime;
    TOnDVDKaraokeMode OnDVDKaraokeMode;
    TNotifyEvent OnDVDDomainFirstPlay;
    TNotifyEvent OnDVDDomainVideoManagerMenu;
    TNotifyEvent OnDVDDomainVideoTitleSetMenu;
    TNotifyEvent OnDVDDomainTitle;
    TNotifyEvent OnDVDDomainStop;
    TNotifyEvent OnDVDErrorUnexpected;
    TNotifyEvent OnDVDErrorCopyProtectFail;
    TNotifyEvent OnDVDErrorInvalidDVD1_0Disc;
    TNotifyEvent OnDVDErrorInvalidDiscRegion;
    TNotifyEvent OnDVDErrorLowParentalLevel;
    TNotifyEvent OnDVDErrorMacrovisionFail;
    TNotifyEvent OnDVDErrorIncompatibleSystemAndDecoderRegions;
    TNotifyEvent OnDVDErrorIncompatibleDiscAndDecoderRegions;
    TNotifyEvent OnDVDWarningInvalidDVD1_0Disc;
    TNotifyEvent OnDVDWarningFormatNotSupported;
    TNotifyEvent OnDVDWarningIllegalNavCommand;
    TNotifyEvent OnDVDWarningOpen;
    TNotifyEvent OnDVDWarningSeek;
    TNotifyEvent OnDVDWarningRead;

    // ---- Members and listeners. The lists hold plain, uncounted pointers; each exists only
    // while it has an entry. Duplicates are allowed.
    void AddMember(IGraphMember *Member);      // active: the filter is added at once
    void RemoveMember(IGraphMember *Member);   // active: the filter is removed at once
    void AddListener(IGraphListener *Listener);
    void RemoveListener(IGraphListener *Listener);
    int MemberCount() const { return static_cast<int>(members_.size()); }
    int ListenerCount() const { return static_cast<int>(listeners_.size()); }

    // ---- Graph control. Failed platform results raise EDirectShowException.
    // Run returns once the filters are told to run; streaming goes on in the graph's threads.
    bool RunGraph();   // true when Run succeeded (S_FALSE included); false when inactive
    // Blocks until every streaming thread has stopped (the writer finishes its file in it).
    bool StopGraph();  // true only when Stop returned S_OK; false when inactive
    // Blocks while the source is opened and rendered: a URL or a pipe can take long. Another
    // thread may end the wait through the graph manager's IGraphBuilder::Abort (E_ABORT).
    HRESULT RenderSource(const tw::wstring &Source);  // S_FALSE when inactive
    void DisconnectAll();  // every pin of every filter; the graph should be stopped
    void EmptyGraph();     // stop (blocking, as StopGraph), disconnect, remove every filter but the members'

    // One drained event: listeners first, then OnDSEvent, then at most one typed event. The
    // handlers run on the component's thread and may stop, empty or deactivate the graph.
    virtual void HandleGraphEvent(LONG Event, LONG_PTR Param1, LONG_PTR Param2);

    // The component's own interfaces first; while active, then the graph objects by Mode
    // (gmCapture: capture builder, then graph manager; gmDVD: DVD builder, its GetDvdInterface,
    // then graph manager). References returned are counted by the graph objects.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **obj) override;

    // Activates when AutoCreate is set outside design mode.
    void Loaded() override;
    // Stored properties: Mode, GraphEdit, AutoCreate, LogFile, and the events by handler name.
    bool ReadProperty(TReader &Reader, const std::string &Name) override;

    HWND NotifyWindow() const { return notifyWindow_; }

private:
    class LogStream;

    void Activate();
    void Deactivate();
    void ReleaseGraphObjects();
    void AttachMember(IGraphMember *Member);
    void DetachMember(IGraphMember *Member);
    void AttachMembers();
    void DetachMembers();
    void BroadcastEvent(LONG Event, LONG_PTR Param1, LONG_PTR Param2);
    void BroadcastAction(TGraphAction Action, LONG Param);
    void DrainGraphEvents();
    LRESULT WndProc(UINT Msg, WPARAM wParam, LPARAM lParam);
    bool ControlGraph(TGraphAction Action, bool Run);
    template <class Handler>
    void StreamLanguage(const Handler &handler, LONG_PTR Stream, bool Audio);

    HWND notifyWindow_ = nullptr;
    std::string logFile_;
    bool active_ = false;
    bool autoCreate_ = false;
    TGraphMode mode_ = gmNormal;
    bool graphEdit_ = false;

    tw::ComPtr<IGraphBuilder> graphManager_;
    tw::ComPtr<ICaptureGraphBuilder2> captureBuilder_;
    tw::ComPtr<IDvdGraphBuilder> dvdBuilder_;
    tw::ComPtr<IMediaEventEx> mediaEvent_;
    DWORD rotCookie_ = 0;
    std::unique_ptr<LogStream> logStream_;

    // Uncounted: members and listeners are components whose owner governs their lifetime.
    std::vector<IGraphMember *> members_;
    std::vector<IGraphListener *> listeners_;
};
