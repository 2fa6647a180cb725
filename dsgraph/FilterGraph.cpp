// TFilterGraph's implementation (see FilterGraph.h). One file, though long: the component's
// activation, its listeners, its members and its event handling all change the same graph
// objects in an order the header's notes describe, and reading them together is how that
// order is checked. The log file and the running-object-table entry are small helpers here.
#include "dsgraph/FilterGraph.h"

#include "framework/Application.h"
#include "framework/MessageWindow.h"
#include "framework/Reader.h"
#include "platform/text.h"

#include <algorithm>

// ---------------------------------------------------------------------------------------------
// The open graph log: one operating-system file handle, closed with the object.

class TFilterGraph::LogStream {
public:
    // Creates the file anew: read/write, not shared, truncated if present, normal attributes.
    // The name is UTF-8; it goes to the wide call so that no character is lost on Windows.
    // Returns null when the file cannot be created.
    static std::unique_ptr<LogStream> Create(const std::string &path) {
        HANDLE h = CreateFileW(tw::to_wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE || h == nullptr) return nullptr;
        return std::unique_ptr<LogStream>(new LogStream(h));
    }
    ~LogStream() { CloseHandle(handle_); }
    LogStream(const LogStream &) = delete;
    LogStream &operator=(const LogStream &) = delete;

    HANDLE Handle() const { return handle_; }

private:
    explicit LogStream(HANDLE h) : handle_(h) {}
    HANDLE handle_;
};

namespace {

// Creates one graph object; a failed creation raises EDirectShowException with its result.
template <class I>
tw::ComPtr<I> CreateGraphObject(REFCLSID clsid) {
    tw::ComPtr<I> obj;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, tw::iid_of<I>(), obj.out_void());
    CheckGraphResult(hr);
    if (!obj) CheckGraphResult(E_POINTER);  // a success without an object is no object
    return obj;
}

// The 32-bit value of an event parameter, as the platform's 32-bit event parameters have it.
inline int32_t Int(LONG_PTR p) { return static_cast<int32_t>(p); }
inline DWORD Card(LONG_PTR p) { return static_cast<DWORD>(p); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and destruction

TFilterGraph::TFilterGraph(TComponent *AOwner) : TComponent(AOwner) {
    notifyWindow_ = tw::AllocateHWnd([this](UINT msg, WPARAM w, LPARAM l) { return WndProc(msg, w, l); });
}

TFilterGraph::~TFilterGraph() {
    BeginDestruction();
    try {
        SetActive(false);
    } catch (...) {
        // A member or listener raised while being told: report it, and still let go of every
        // graph object, since nothing may outlive the component.
        Application->HandleException(this);
        if (active_) ReleaseGraphObjects();
    }
    tw::DeallocateHWnd(notifyWindow_);
    notifyWindow_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Activation and deactivation

void TFilterGraph::SetActive(bool Value) {
    if (Value == active_) return;
    if (Value)
        Activate();
    else
        Deactivate();
}

void TFilterGraph::Activate() {
    // 1. The graph objects of the mode. They are built in locals first: a creation that fails
    // raises, and whatever was already created is released on the way out, so the component
    // stays inactive holding nothing and no call goes through an absent object.
    tw::ComPtr<IGraphBuilder> manager;
    tw::ComPtr<ICaptureGraphBuilder2> capture;
    tw::ComPtr<IDvdGraphBuilder> dvd;
    switch (mode_) {
    case gmNormal:
        manager = tw::ComPtr<IGraphBuilder>::adopt(CreateGraphObject<IFilterGraph2>(CLSID_FilterGraph).detach());
        break;
    case gmCapture:
        capture = CreateGraphObject<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
        manager = tw::ComPtr<IGraphBuilder>::adopt(CreateGraphObject<IFilterGraph2>(CLSID_FilterGraph).detach());
        capture->SetFiltergraph(manager.get());  // result not examined
        break;
    case gmDVD: {
        dvd = CreateGraphObject<IDvdGraphBuilder>(CLSID_DvdGraphBuilder);
        HRESULT hr = dvd->GetFiltergraph(manager.out());
        CheckGraphResult(hr);
        if (!manager) CheckGraphResult(E_POINTER);
        break;
    }
    default:
        CheckGraphResult(E_INVALIDARG);
    }
    graphManager_ = std::move(manager);
    captureBuilder_ = std::move(capture);
    dvdBuilder_ = std::move(dvd);

    // 2. Active before the rest, so that QueryInterface answers for the new objects.
    active_ = true;

    // 3. Event notification to NotifyWindow; the instance data is the event interface itself.
    tw::ComPtr<IMediaEventEx> events;
    if (SUCCEEDED(QueryInterface(tw::iid_of<IMediaEventEx>(), events.out_void())) && events) {
        mediaEvent_ = events;
        events->SetNotifyFlags(0);
        events->SetNotifyWindow(reinterpret_cast<OAHWND>(notifyWindow_), WM_GRAPHEVENT,
                                reinterpret_cast<LONG_PTR>(events.get()));
    }

    SetGraphEdit(graphEdit_);  // 4. running object table
    SetLogFile(logFile_);      // 5. a fresh log file
    AttachMembers();           // 6.
    if (OnActivate) OnActivate(this);  // 7.
    BroadcastAction(gaActivation, 1);  // 8.
}

void TFilterGraph::Deactivate() {
    BroadcastAction(gaActivation, 0);
    DetachMembers();
    ReleaseGraphObjects();
}

// Deactivation from its third step on: nothing here calls out of the platform.
void TFilterGraph::ReleaseGraphObjects() {
    if (mediaEvent_) {
        mediaEvent_->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY);
        mediaEvent_ = nullptr;
    }
    if (rotCookie_ != 0) {
        RotRevokeGraph(rotCookie_);
        rotCookie_ = 0;
    }
    if (graphManager_) graphManager_->SetLogFile(0);
    logStream_.reset();
    graphManager_ = nullptr;
    captureBuilder_ = nullptr;
    dvdBuilder_ = nullptr;
    active_ = false;
}

void TFilterGraph::SetMode(TGraphMode Value) {
    if (Value == mode_) return;
    const bool wasActive = active_;
    SetActive(false);
    mode_ = Value;
    SetActive(wasActive);
}

void TFilterGraph::SetGraphEdit(bool Value) {
    if (!Value) {
        if (rotCookie_ != 0) {
            RotRevokeGraph(rotCookie_);
            rotCookie_ = 0;
        }
    } else if (rotCookie_ == 0 && active_) {
        DWORD cookie = 0;
        if (SUCCEEDED(RotRegisterGraph(graphManager_.get(), cookie))) rotCookie_ = cookie;
    }
    graphEdit_ = Value;
}

void TFilterGraph::SetLogFile(const std::string &Value) {
    if (active_) {
        graphManager_->SetLogFile(0);
        logStream_.reset();
        if (!Value.empty()) {
            std::unique_ptr<LogStream> stream = LogStream::Create(Value);
            if (!stream) {
                // Not reported: the previous name stays and nothing is logged.
                graphManager_->SetLogFile(0);
                return;
            }
            graphManager_->SetLogFile(reinterpret_cast<DWORD_PTR>(stream->Handle()));
            logStream_ = std::move(stream);
        }
    }
    logFile_ = Value;
}

void TFilterGraph::Loaded() {
    if (autoCreate_ && !Designing()) SetActive(true);
    TComponent::Loaded();
}

// ---------------------------------------------------------------------------------------------
// Interface query

HRESULT STDMETHODCALLTYPE TFilterGraph::QueryInterface(REFIID iid, void **obj) {
    HRESULT hr = TComponent::QueryInterface(iid, obj);
    if (SUCCEEDED(hr) || !active_ || !obj) return hr;
    switch (mode_) {
    case gmCapture:
        hr = captureBuilder_->QueryInterface(iid, obj);
        if (SUCCEEDED(hr)) return hr;
        break;
    case gmDVD:
        hr = dvdBuilder_->QueryInterface(iid, obj);
        if (SUCCEEDED(hr)) return hr;
        hr = dvdBuilder_->GetDvdInterface(iid, obj);
        if (SUCCEEDED(hr)) return hr;
        break;
    default:
        break;
    }
    return graphManager_->QueryInterface(iid, obj);
}

// ---------------------------------------------------------------------------------------------
// Members and listeners
//
// The fan-out loops visit the entries listed when they start, in list order (duplicates
// included). A callee may change the list meanwhile (a member removing itself): an entry is
// visited only while it is still listed, so nothing that left the list, and may be gone, is
// called.

namespace {
template <class T>
bool Listed(const std::vector<T *> &list, T *item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}
}  // namespace

void TFilterGraph::AddMember(IGraphMember *Member) {
    if (!Member) return;
    members_.push_back(Member);
    if (active_) AttachMember(Member);
}

void TFilterGraph::RemoveMember(IGraphMember *Member) {
    if (!Member) return;
    auto it = std::find(members_.begin(), members_.end(), Member);
    if (it != members_.end()) members_.erase(it);
    // The filter goes whether or not the member was listed.
    if (active_) DetachMember(Member);
}

void TFilterGraph::AddListener(IGraphListener *Listener) {
    if (!Listener) return;
    listeners_.push_back(Listener);
}

void TFilterGraph::RemoveListener(IGraphListener *Listener) {
    auto it = std::find(listeners_.begin(), listeners_.end(), Listener);
    if (it != listeners_.end()) listeners_.erase(it);
}

void TFilterGraph::AttachMember(IGraphMember *Member) {
    // Held locally: a member may deactivate the graph from inside its notification.
    tw::ComPtr<IGraphBuilder> graph = graphManager_;
    Member->MemberNotify(moBeforeAdd, 0);
    std::string name;
    Member->MemberName(name);
    tw::ComPtr<IBaseFilter> filter;
    Member->MemberFilter(filter.out());
    if (graph) graph->AddFilter(filter.get(), tw::to_wide(name).c_str());  // result not examined
    Member->MemberNotify(moAfterAdd, 0);
}

void TFilterGraph::DetachMember(IGraphMember *Member) {
    tw::ComPtr<IGraphBuilder> graph = graphManager_;
    Member->MemberNotify(moBeforeRemove, 0);
    tw::ComPtr<IBaseFilter> filter;
    Member->MemberFilter(filter.out());
    if (graph) graph->RemoveFilter(filter.get());  // result not examined
    Member->MemberNotify(moAfterRemove, 0);
}

void TFilterGraph::AttachMembers() {
    if (!active_) return;
    const std::vector<IGraphMember *> snapshot = members_;
    for (IGraphMember *m : snapshot)
        if (Listed(members_, m)) AttachMember(m);
}

void TFilterGraph::DetachMembers() {
    if (!active_) return;
    const std::vector<IGraphMember *> snapshot = members_;
    for (IGraphMember *m : snapshot)
        if (Listed(members_, m)) DetachMember(m);
}

void TFilterGraph::BroadcastEvent(LONG Event, LONG_PTR Param1, LONG_PTR Param2) {
    const std::vector<IGraphListener *> snapshot = listeners_;
    for (IGraphListener *l : snapshot)
        if (Listed(listeners_, l)) l->NotifyEvent(Event, Param1, Param2);
}

void TFilterGraph::BroadcastAction(TGraphAction Action, LONG Param) {
    const std::vector<IGraphListener *> snapshot = listeners_;
    for (IGraphListener *l : snapshot)
        if (Listed(listeners_, l)) l->NotifyAction(Action, Param);
}

// ---------------------------------------------------------------------------------------------
// Graph control and rendering

bool TFilterGraph::ControlGraph(TGraphAction Action, bool Run) {
    tw::ComPtr<IMediaControl> control;
    if (FAILED(QueryInterface(tw::iid_of<IMediaControl>(), control.out_void())) || !control) return false;
    BroadcastAction(Action, 0);
    const HRESULT hr = CheckGraphResult(Run ? control->Run() : control->Stop());
    return Run ? SUCCEEDED(hr) : hr == S_OK;
}

bool TFilterGraph::RunGraph() { return ControlGraph(gaRun, true); }

bool TFilterGraph::StopGraph() { return ControlGraph(gaStop, false); }

HRESULT TFilterGraph::RenderSource(const tw::wstring &Source) {
    tw::ComPtr<IGraphBuilder> graph = graphManager_;
    if (!graph) return S_FALSE;
    BroadcastAction(gaRenderFile, 0);
    const HRESULT hr = CheckGraphResult(graph->RenderFile(Source.c_str(), nullptr));
    if (SUCCEEDED(hr)) BroadcastAction(gaFileRendered, 0);
    return hr;
}

void TFilterGraph::DisconnectAll() {
    tw::ComPtr<IGraphBuilder> graph = graphManager_;
    if (!graph) return;
    TFilterList filters(graph.get());
    for (int i = 0; i < filters.Count(); ++i) {
        tw::ComPtr<IBaseFilter> filter = filters.Items(i);
        // The pins in order, one at a time from a fresh enumeration, holding only the pin being
        // disconnected: a filter may remove pins when one is disconnected (a splitter drops its
        // outputs with its input), and some free them even while references to them are held.
        for (ULONG j = 0;; ++j) {
            tw::ComPtr<IEnumPins> pins;
            if (FAILED(filter->EnumPins(pins.out())) || !pins) break;
            if (j > 0 && pins->Skip(j) != S_OK) break;
            tw::ComPtr<IPin> pin;
            ULONG fetched = 0;
            if (pins->Next(1, pin.out(), &fetched) != S_OK || !pin) break;
            pins = nullptr;
            CheckGraphResult(pin->Disconnect());
        }
    }
}

void TFilterGraph::EmptyGraph() {
    tw::ComPtr<IGraphBuilder> graph = graphManager_;
    if (!graph) return;
    StopGraph();
    DisconnectAll();
    TFilterList filters(graph.get());
    const std::vector<IGraphMember *> snapshot = members_;
    for (IGraphMember *m : snapshot) {
        if (!Listed(members_, m)) continue;
        tw::ComPtr<IBaseFilter> filter;
        m->MemberFilter(filter.out());
        if (filter) filters.Remove(filter.get());
    }
    for (int i = 0; i < filters.Count(); ++i) CheckGraphResult(graph->RemoveFilter(filters.Items(i).get()));
}

// ---------------------------------------------------------------------------------------------
// Events

LRESULT TFilterGraph::WndProc(UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (Msg == WM_GRAPHEVENT) {
        try {
            DrainGraphEvents();
        } catch (...) {
            Application->HandleException(this);
        }
        return 0;
    }
    return DefWindowProcA(notifyWindow_, Msg, wParam, lParam);
}

void TFilterGraph::DrainGraphEvents() {
    // Held locally: a handler may deactivate (or rebuild) the graph, and the parameters of the
    // event it was given must still be freed by the queue they came from.
    tw::ComPtr<IMediaEventEx> events = mediaEvent_;
    if (!events) return;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    HRESULT hr = events->GetEvent(&code, &p1, &p2, 0);
    while (hr == S_OK) {
        try {
            HandleGraphEvent(code, p1, p2);
        } catch (...) {
            // The event's parameters are freed before the exception goes on.
            events->FreeEventParams(code, p1, p2);
            throw;
        }
        events->FreeEventParams(code, p1, p2);
        if (mediaEvent_ != events) return;  // the queue this drain read is gone
        hr = events->GetEvent(&code, &p1, &p2, 0);
    }
}

template <class Handler>
void TFilterGraph::StreamLanguage(const Handler &handler, LONG_PTR Stream, bool Audio) {
    tw::ComPtr<IDvdInfo2> info;  // released also when the language query raises
    if (FAILED(QueryInterface(tw::iid_of<IDvdInfo2>(), info.out_void())) || !info) return;
    LCID lcid = 0;
    const ULONG stream = Card(Stream);
    CheckGraphResult(Audio ? info->GetAudioLanguage(stream, &lcid) : info->GetSubpictureLanguage(stream, &lcid));
    // A locale the system cannot name leaves the buffer empty, and Lang with it.
    char name[261] = {};
    GetLocaleInfoA(lcid, LOCALE_SENGLANGUAGE, name, 260);
    name[260] = '\0';
    handler(this, Int(Stream), static_cast<int32_t>(lcid), std::string(name));
}

void TFilterGraph::HandleGraphEvent(LONG Event, LONG_PTR Param1, LONG_PTR Param2) {
    BroadcastEvent(Event, Param1, Param2);
    if (OnDSEvent) OnDSEvent(this, Event, Param1, Param2);

    const LONG_PTR P1 = Param1, P2 = Param2;
    auto notify = [this](const TNotifyEvent &e) {
        if (e) e(this);
    };
    switch (Event) {
    case EC_COMPLETE:
        if (OnGraphComplete) OnGraphComplete(this, Int(P1), reinterpret_cast<IBaseFilter *>(P2));
        break;
    case EC_USERABORT: notify(OnGraphUserAbort); break;
    case EC_ERRORABORT:
        if (OnGraphErrorAbort) OnGraphErrorAbort(this, Int(P1));
        break;
    case EC_STREAM_ERROR_STOPPED:
        if (OnGraphStreamErrorStopped) OnGraphStreamErrorStopped(this, Int(P1), Card(P2));
        break;
    case EC_STREAM_ERROR_STILLPLAYING:
        if (OnGraphStreamErrorStillPlaying) OnGraphStreamErrorStillPlaying(this, Int(P1), Card(P2));
        break;
    case EC_ERROR_STILLPLAYING:
        if (OnGraphErrorStillPlaying) OnGraphErrorStillPlaying(this, Int(P1));
        break;
    case EC_PALETTE_CHANGED: notify(OnGraphPaletteChanged); break;
    case EC_VIDEO_SIZE_CHANGED:
        if (OnGraphVideoSizeChanged)
            OnGraphVideoSizeChanged(this, static_cast<WORD>(Card(P1) & 0xFFFF), static_cast<WORD>(Card(P1) >> 16));
        break;
    case EC_QUALITY_CHANGE: notify(OnGraphQualityChange); break;
    case EC_CLOCK_CHANGED: notify(OnGraphClockChanged); break;
    case EC_PAUSED:
        if (OnGraphPaused) OnGraphPaused(this, Int(P1));
        break;
    case EC_OPENING_FILE:
        if (OnGraphOpeningFile) OnGraphOpeningFile(this, Int(P1) == 1);
        break;
    case EC_BUFFERING_DATA:
        if (OnGraphBufferingData) OnGraphBufferingData(this, Int(P1) == 1);
        break;
    case EC_FULLSCREEN_LOST:
        if (OnGraphFullscreenLost) OnGraphFullscreenLost(this, reinterpret_cast<IBaseFilter *>(P2));
        break;
    case EC_OLE_EVENT:
        if (OnGraphOleEvent) {
            auto text = [](LONG_PTR p) {
                const WCHAR *s = reinterpret_cast<const WCHAR *>(p);
                return s ? tw::wstring(s) : tw::wstring();
            };
            OnGraphOleEvent(this, text(P1), text(P2));
        }
        break;
    case EC_STREAM_CONTROL_STOPPED:
        if (OnGraphStreamControlStopped) OnGraphStreamControlStopped(this, reinterpret_cast<IPin *>(P1), Card(P2));
        break;
    case EC_STREAM_CONTROL_STARTED:
        if (OnGraphStreamControlStarted) OnGraphStreamControlStarted(this, reinterpret_cast<IPin *>(P1), Card(P2));
        break;
    case EC_END_OF_SEGMENT:
        if (OnGraphEndOfSegment) {
            // P1 is the address of the segment's stream time; a null address reads as 0
            // rather than faulting.
            const auto *time = reinterpret_cast<const REFERENCE_TIME *>(P1);
            OnGraphEndOfSegment(this, time ? *time : 0, Card(P2));
        }
        break;
    case EC_DEVICE_LOST:
        if (OnGraphDeviceLost) OnGraphDeviceLost(this, reinterpret_cast<IUnknown *>(P1), Int(P2) == 0);
        break;
    case EC_STEP_COMPLETE: notify(OnGraphStepComplete); break;
    case EC_TIMECODE_AVAILABLE:
        if (OnGraphTimeCodeAvailable) OnGraphTimeCodeAvailable(this, reinterpret_cast<IBaseFilter *>(P1), Card(P2));
        break;
    case EC_EXTDEVICE_MODE_CHANGE:
        if (OnGraphEXTDeviceModeChange) OnGraphEXTDeviceModeChange(this, Card(P1), Card(P2));
        break;
    case EC_GRAPH_CHANGED: notify(OnGraphChanged); break;
    case EC_CLOCK_UNSET: notify(OnGraphClockUnset); break;
    case EC_VMR_RENDERDEVICE_SET:
        if (OnGraphVMRRenderDevice) OnGraphVMRRenderDevice(this, Int(P1));
        break;
    case EC_DVD_DOMAIN_CHANGE:
        switch (Int(P1)) {
        case DVD_DOMAIN_FirstPlay: notify(OnDVDDomainFirstPlay); break;
        case DVD_DOMAIN_VideoManagerMenu: notify(OnDVDDomainVideoManagerMenu); break;
        case DVD_DOMAIN_VideoTitleSetMenu: notify(OnDVDDomainVideoTitleSetMenu); break;
        case DVD_DOMAIN_Title: notify(OnDVDDomainTitle); break;
        case DVD_DOMAIN_Stop: notify(OnDVDDomainStop); break;
        default: break;
        }
        break;
    case EC_DVD_TITLE_CHANGE:
        if (OnDVDTitleChange) OnDVDTitleChange(this, Int(P1));
        break;
    case EC_DVD_CHAPTER_START:
        if (OnDVDChapterStart) OnDVDChapterStart(this, Int(P1));
        break;
    case EC_DVD_AUDIO_STREAM_CHANGE:
        if (OnDVDAudioStreamChange) StreamLanguage(OnDVDAudioStreamChange, P1, true);
        break;
    case EC_DVD_SUBPICTURE_STREAM_CHANGE:
        if (OnDVDSubpictureStreamChange) StreamLanguage(OnDVDSubpictureStreamChange, P1, false);
        break;
    case EC_DVD_ANGLE_CHANGE:
        if (OnDVDAngleChange) OnDVDAngleChange(this, Int(P1), Int(P2));
        break;
    case EC_DVD_BUTTON_CHANGE:
        if (OnDVDButtonChange) OnDVDButtonChange(this, Int(P1), Int(P2));
        break;
    case EC_DVD_VALID_UOPS_CHANGE:
        if (OnDVDValidUOPSChange) OnDVDValidUOPSChange(this, Int(P1));
        break;
    case EC_DVD_STILL_ON:
        if (OnDVDStillOn) OnDVDStillOn(this, Int(P1) == 1, Int(P2));
        break;
    case EC_DVD_STILL_OFF: notify(OnDVDStillOff); break;
    case EC_DVD_CURRENT_TIME:
        if (OnDVDCurrentTime) {
            tagDVD_TIMECODE tc;
            SplitDVDTimeCode(Card(P1), tc);
            const int32_t rate = tc.FrameRateCode == 1 ? 25 : tc.FrameRateCode == 3 ? 30 : 0;
            OnDVDCurrentTime(this, tc.Hours1 + 10 * tc.Hours10, tc.Minutes1 + 10 * tc.Minutes10,
                             tc.Seconds1 + 10 * tc.Seconds10, tc.Frames1 + 10 * tc.Frames10, rate);
        }
        break;
    case EC_DVD_ERROR:
        switch (Int(P1)) {
        case DVD_ERROR_Unexpected: notify(OnDVDErrorUnexpected); break;
        case DVD_ERROR_CopyProtectFail: notify(OnDVDErrorCopyProtectFail); break;
        case DVD_ERROR_InvalidDVD1_0Disc: notify(OnDVDErrorInvalidDVD1_0Disc); break;
        case DVD_ERROR_InvalidDiscRegion: notify(OnDVDErrorInvalidDiscRegion); break;
        case DVD_ERROR_LowParentalLevel: notify(OnDVDErrorLowParentalLevel); break;
        case DVD_ERROR_MacrovisionFail: notify(OnDVDErrorMacrovisionFail); break;
        case DVD_ERROR_IncompatibleSystemAndDecoderRegions: notify(OnDVDErrorIncompatibleSystemAndDecoderRegions); break;
        case DVD_ERROR_IncompatibleDiscAndDecoderRegions: notify(OnDVDErrorIncompatibleDiscAndDecoderRegions); break;
        default: break;
        }
        break;
    case EC_DVD_WARNING:
        switch (Int(P1)) {
        case DVD_WARNING_InvalidDVD1_0Disc: notify(OnDVDWarningInvalidDVD1_0Disc); break;
        case DVD_WARNING_FormatNotSupported: notify(OnDVDWarningFormatNotSupported); break;
        case DVD_WARNING_IllegalNavCommand: notify(OnDVDWarningIllegalNavCommand); break;
        case DVD_WARNING_Open: notify(OnDVDWarningOpen); break;
        case DVD_WARNING_Seek: notify(OnDVDWarningSeek); break;
        case DVD_WARNING_Read: notify(OnDVDWarningRead); break;
        default: break;
        }
        break;
    case EC_DVD_CHAPTER_AUTOSTOP: notify(OnDVDChapterAutoStop); break;
    case EC_DVD_NO_FP_PGC: notify(OnDVDNoFP_PGC); break;
    case EC_DVD_PLAYBACK_RATE_CHANGE:
        if (OnDVDPlaybackRateChange) OnDVDPlaybackRateChange(this, static_cast<float>(Int(P1) / 10000.0));
        break;
    case EC_DVD_PARENTAL_LEVEL_CHANGE:
        if (OnDVDParentalLevelChange) OnDVDParentalLevelChange(this, Int(P1));
        break;
    case EC_DVD_PLAYBACK_STOPPED: notify(OnDVDPlaybackStopped); break;
    case EC_DVD_ANGLES_AVAILABLE:
        if (OnDVDAnglesAvailable) OnDVDAnglesAvailable(this, Int(P1) == 1);
        break;
    case EC_DVD_PLAYPERIOD_AUTOSTOP: notify(OnDVDPlayPeriodAutoStop); break;
    case EC_DVD_BUTTON_AUTO_ACTIVATED:
        if (OnDVDButtonAutoActivated) OnDVDButtonAutoActivated(this, Card(P1));
        break;
    case EC_DVD_CMD_START:
        if (OnDVDCMDStart) OnDVDCMDStart(this, Card(P1));
        break;
    case EC_DVD_CMD_END:
        if (OnDVDCMDEnd) OnDVDCMDEnd(this, Card(P1));
        break;
    case EC_DVD_DISC_EJECTED: notify(OnDVDDiscEjected); break;
    case EC_DVD_DISC_INSERTED: notify(OnDVDDiscInserted); break;
    case EC_DVD_CURRENT_HMSF_TIME:
        if (OnDVDCurrentHMSFTime) {
            // The four bytes of P1, least significant first: hours, minutes, seconds, frames.
            const DWORD v = Card(P1);
            DVD_HMSF_TIMECODE hmsf;
            hmsf.bHours = static_cast<BYTE>(v & 0xFF);
            hmsf.bMinutes = static_cast<BYTE>((v >> 8) & 0xFF);
            hmsf.bSeconds = static_cast<BYTE>((v >> 16) & 0xFF);
            hmsf.bFrames = static_cast<BYTE>((v >> 24) & 0xFF);
            tagDVD_TIMECODE tc;
            SplitDVDTimeCode(Card(P2), tc);
            OnDVDCurrentHMSFTime(this, hmsf, tc);
        }
        break;
    case EC_DVD_KARAOKE_MODE:
        if (OnDVDKaraokeMode) OnDVDKaraokeMode(this, Int(P1) != 0);
        break;
    case EC_SNDDEV_IN_ERROR:
        if (OnGraphSNDDevInError) OnGraphSNDDevInError(this, Card(P1), Card(P2));
        break;
    case EC_SNDDEV_OUT_ERROR:
        if (OnGraphSNDDevOutError) OnGraphSNDDevOutError(this, Card(P1), Card(P2));
        break;
    default:
        break;
    }
}

bool TFilterGraph::ReadProperty(TReader &Reader, const std::string &Name) {
    if (Name == "Mode") {
        const std::string v = Reader.ReadIdent();
        if (v == "gmNormal") SetMode(gmNormal);
        else if (v == "gmCapture") SetMode(gmCapture);
        else if (v == "gmDVD") SetMode(gmDVD);
        else throw Reader.Error("Invalid property value");
    } else if (Name == "GraphEdit") {
        SetGraphEdit(Reader.ReadBool());
    } else if (Name == "AutoCreate") {
        SetAutoCreate(Reader.ReadBool());
    } else if (Name == "LogFile") {
        SetLogFile(Reader.ReadFileName());
    } else if (Name == "OnActivate") {
        OnActivate = Reader.ReadMethod<TNotifyEvent>();
    } else if (Name == "OnDSEvent") {
        OnDSEvent = Reader.ReadMethod<TOnDSEvent>();
    } else {
        return TComponent::ReadProperty(Reader, Name);
    }
    return true;
}
