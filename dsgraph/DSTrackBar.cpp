#include "dsgraph/DSTrackBar.h"

#include "dsutil/DSUtil.h"
#include "framework/Application.h"
#include "framework/MessageWindow.h"
#include "framework/Reader.h"

namespace {

constexpr UINT_PTR kPollTimer = 1;
constexpr LONG kClockChanged = 0x0D;  // EC_CLOCK_CHANGED

// Graph time (100 ns) to milliseconds, of which the low 32 bits are kept.
uint32_t Milliseconds(REFERENCE_TIME t) { return static_cast<uint32_t>(RefTimeToMilliseconds(t)); }

}  // namespace

TDSTrackBar::TDSTrackBar(TComponent *AOwner) : TTrackBar(AOwner) {
    pollWindow_ = tw::AllocateHWnd([this](UINT Msg, WPARAM wParam, LPARAM lParam) {
        return PollWindowProc(Msg, wParam, lParam);
    });
}

TDSTrackBar::~TDSTrackBar() {
    BeginDestruction();
    pollEnabled_ = false;
    RestartPollTimer();  // only kills the timer
    SetFilterGraph(nullptr);
    tw::DeallocateHWnd(pollWindow_);
    pollWindow_ = nullptr;
    seeking_ = nullptr;
}

// ---- Properties

void TDSTrackBar::SetFilterGraph(TFilterGraph *Value) {
    if (Value == graph_) return;
    if (graph_) {
        TFilterGraph *previous = graph_;
        graph_ = nullptr;
        graphComponent_ = nullptr;
        previous->RemoveFreeNotification(this);
        previous->RemoveListener(this);
    }
    if (Value) {
        // However the graph is owned, its destruction reaches Notification.
        Value->FreeNotification(this);
        Value->AddListener(this);
    }
    graph_ = Value;
    graphComponent_ = Value;
}

void TDSTrackBar::SetTimerInterval(uint32_t Value) {
    if (Value == interval_) return;
    interval_ = Value;
    RestartPollTimer();
}

void TDSTrackBar::SetOnTimer(TTimerEvent Value) {
    onTimer_ = std::move(Value);
    RestartPollTimer();
}

void TDSTrackBar::SetPollEnabled(bool Value) {
    if (Value == pollEnabled_) return;
    pollEnabled_ = Value;
    RestartPollTimer();
}

void TDSTrackBar::RestartPollTimer() {
    KillTimer(pollWindow_, kPollTimer);
    if (interval_ != 0 && pollEnabled_ && SetTimer(pollWindow_, kPollTimer, interval_, nullptr) == 0)
        throw EOutOfResources("Not enough timers available");
}

// ---- Polling

LRESULT TDSTrackBar::PollWindowProc(UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (Msg != WM_TIMER) return DefWindowProcA(pollWindow_, Msg, wParam, lParam);
    try {
        PollPosition();
    } catch (...) {
        Application->HandleException(this);  // the timer goes on
    }
    return 0;
}

void TDSTrackBar::PollPosition() {
    if (!seeking_ || draggingThumb_) return;
    REFERENCE_TIME duration = 0, current = 0;
    if (FAILED(seeking_->GetDuration(&duration))) return;
    if (FAILED(seeking_->GetCurrentPosition(&current))) return;
    const uint32_t currentMs = Milliseconds(current);
    const uint32_t durationMs = Milliseconds(duration);
    SetMin(0);
    SetMax(static_cast<int32_t>(durationMs / interval_));
    SetPosition(static_cast<int32_t>(currentMs / interval_));
    if (onTimer_) onTimer_(this, currentMs, durationMs);
}

// ---- The user's mouse

void TDSTrackBar::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TTrackBar::MouseDown(Button, Shift, X, Y);
    if (Button == mbLeft) draggingThumb_ = true;
}

void TDSTrackBar::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TTrackBar::MouseUp(Button, Shift, X, Y);
    // With Max 0 the thumb stands nowhere on the media: nothing is sought.
    if (Button == mbLeft && seeking_ && Max() != 0) {
        REFERENCE_TIME stop = 0;
        seeking_->GetStopPosition(&stop);
        REFERENCE_TIME target = stop * static_cast<int64_t>(Position()) / static_cast<int64_t>(Max());
        seeking_->SetPositions(&target, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_NoPositioning);
    }
    draggingThumb_ = false;
}

// ---- IGraphListener

HRESULT STDMETHODCALLTYPE TDSTrackBar::QueryInterface(REFIID iid, void **obj) {
    if (!obj) return E_POINTER;
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, tw::iid_of<IGraphListener>())) {
        *obj = static_cast<IGraphListener *>(this);
        return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE TDSTrackBar::NotifyEvent(LONG Event, LONG_PTR, LONG_PTR) {
    if (Event == kClockChanged && seeking_) {
        // The graph's clock was changed: rewind to the start.
        REFERENCE_TIME duration = 0;
        seeking_->GetDuration(&duration);
        REFERENCE_TIME start = 0;
        seeking_->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &duration, AM_SEEKING_NoPositioning);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TDSTrackBar::NotifyAction(TGraphAction Action, LONG Param) {
    switch (Action) {
    case gaRun: SetPollEnabled(Enabled()); break;
    case gaPause:
    case gaStop: SetPollEnabled(false); break;
    case gaActivation:
        if (Param == 1) {
            seeking_ = nullptr;
            // Not examined: without the interface the track bar neither polls nor seeks.
            if (graph_) graph_->QueryInterface(tw::iid_of<IMediaSeeking>(), seeking_.out_void());
        } else if (Param == 0) {
            seeking_ = nullptr;
        }
        break;
    default: break;
    }
    return S_OK;
}

// ---- TComponent

void TDSTrackBar::Notification(TComponent *AComponent, TOperation Operation) {
    TTrackBar::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent && AComponent == graphComponent_) {
        seeking_ = nullptr;
        graph_ = nullptr;
        graphComponent_ = nullptr;
    }
}

bool TDSTrackBar::ReadProperty(TReader &Reader, const std::string &Name) {
    if (Name == "FilterGraph") {
        Reader.ReadReference([this, &Reader](TComponent *Target) {
            auto *graph = dynamic_cast<TFilterGraph *>(Target);
            if (!graph) throw Reader.Error("Invalid property value: " + Target->Name() + " is no filter graph");
            SetFilterGraph(graph);
        });
    } else if (Name == "TimerInterval") {
        SetTimerInterval(static_cast<uint32_t>(Reader.ReadInteger()));
    } else if (Name == "OnTimer") {
        SetOnTimer(Reader.ReadMethod<TTimerEvent>());
    } else {
        return TTrackBar::ReadProperty(Reader, Name);
    }
    return true;
}
