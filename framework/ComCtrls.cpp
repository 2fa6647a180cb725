#include "framework/ComCtrls.h"

#include "framework/Reader.h"

#include <algorithm>

TTrackBar::TTrackBar(TComponent *AOwner) : TControl(AOwner) { SetBounds(0, 0, 150, 45); }

int32_t TTrackBar::Position() const { return peer_ ? peer_->Position() : position_; }

void TTrackBar::SetMin(int32_t Value) {
    min_ = Value;
    if (max_ < min_) max_ = min_;
    position_ = std::clamp(Position(), min_, max_);
    if (peer_) {
        peer_->SetRange(min_, max_);
        peer_->SetPosition(position_);
    }
}

void TTrackBar::SetMax(int32_t Value) {
    max_ = Value;
    if (min_ > max_) min_ = max_;
    position_ = std::clamp(Position(), min_, max_);
    if (peer_) {
        peer_->SetRange(min_, max_);
        peer_->SetPosition(position_);
    }
}

void TTrackBar::SetPosition(int32_t Value) {
    position_ = std::clamp(Value, min_, max_);
    if (peer_) peer_->SetPosition(position_);
}

void TTrackBar::InitPeer(tw::ui::ControlPeer &Peer) {
    Peer.SetRange(min_, max_);
    Peer.SetPosition(position_);
}

void TTrackBar::Change() {
    position_ = Position();
    if (OnChange) OnChange(this);
}

bool TTrackBar::ReadProperty(TReader &Reader, const std::string &Name) {
    if (Name == "Min") {
        SetMin(Reader.ReadInteger());
    } else if (Name == "Max") {
        SetMax(Reader.ReadInteger());
    } else if (Name == "Position") {
        SetPosition(Reader.ReadInteger());
    } else if (Name == "OnChange") {
        OnChange = Reader.ReadMethod<TNotifyEvent>();
    } else {
        return TControl::ReadProperty(Reader, Name);
    }
    return true;
}
