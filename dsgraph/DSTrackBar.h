// TDSTrackBar: a track bar that shows and sets the playback position of a filter graph.
//
// Attached to a TFilterGraph it listens to the graph: while the graph is active it holds the
// graph's IMediaSeeking; while the graph runs (and the control was enabled when it started)
// it polls duration and position every TimerInterval milliseconds, shows them with one step
// per TimerInterval and reports both through OnTimer. Releasing the left button on it seeks
// the graph to where the thumb stands.
//
// Threads: the user-interface thread only; graph events, graph actions and the poll timer all
// arrive on the thread that created the control.
#pragma once

#include "dsgraph/FilterGraph.h"
#include "dsgraph/GraphInterfaces.h"
#include "framework/ComCtrls.h"
#include "platform/comptr.h"

#include <cstdint>
#include <functional>

using TTimerEvent = std::function<void(TObject *Sender, uint32_t CurrentPos, uint32_t StopPos)>;

class TDSTrackBar : public TTrackBar, public IGraphListener {
public:
    explicit TDSTrackBar(TComponent *AOwner);
    // Stops the timer, leaves the graph's listeners, destroys the poll window.
    ~TDSTrackBar() override;

    TFilterGraph *FilterGraph() const { return graph_; }
    // Leaves the previous graph's listeners and joins the new one's; the same graph again does
    // nothing. The seeking interface is left alone: it comes with the graph's next activation.
    void SetFilterGraph(TFilterGraph *Value);

    // Poll period and size of one step, in milliseconds; 0 stops polling.
    uint32_t TimerInterval() const { return interval_; }
    void SetTimerInterval(uint32_t Value);

    const TTimerEvent &OnTimer() const { return onTimer_; }
    // Restarts the poll timer every time, even for the same handler.
    void SetOnTimer(TTimerEvent Value);

    // One poll: reads duration and position, moves the thumb and calls OnTimer. Nothing while
    // no seeking interface is held or the user drags the thumb.
    virtual void PollPosition();

    bool PollEnabled() const { return pollEnabled_; }
    IMediaSeeking *MediaSeeking() const { return seeking_.get(); }

    // ---- IGraphListener. Not counted: AddRef and Release return -1.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **obj) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(-1); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(-1); }
    HRESULT STDMETHODCALLTYPE NotifyEvent(LONG Event, LONG_PTR Param1, LONG_PTR Param2) override;
    HRESULT STDMETHODCALLTYPE NotifyAction(TGraphAction Action, LONG Param) override;

    // ---- TComponent. A graph that goes away is dropped without RemoveListener.
    void Notification(TComponent *AComponent, TOperation Operation) override;
    // Stored properties of its own: FilterGraph (a reference), TimerInterval, OnTimer.
    bool ReadProperty(TReader &Reader, const std::string &Name) override;

protected:
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;

private:
    void SetPollEnabled(bool Value);
    // Kills the timer and starts it again if polling is enabled and the interval is not 0.
    // Raises EOutOfResources when the system has no timer to give.
    void RestartPollTimer();
    LRESULT PollWindowProc(UINT Msg, WPARAM wParam, LPARAM lParam);

    TFilterGraph *graph_ = nullptr;
    TComponent *graphComponent_ = nullptr;  // the same object, compared while it is destroyed
    tw::ComPtr<IMediaSeeking> seeking_;
    HWND pollWindow_ = nullptr;
    uint32_t interval_ = 1000;
    TTimerEvent onTimer_;
    bool pollEnabled_ = false;
    bool draggingThumb_ = false;
};
