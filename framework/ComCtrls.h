// TTrackBar: a horizontal slider over an integer range.
//
// Threads: the user-interface thread only.
#pragma once

#include "framework/Controls.h"

#include <cstdint>

class TTrackBar : public TControl {
public:
    explicit TTrackBar(TComponent *AOwner);

    int32_t Min() const { return min_; }
    int32_t Max() const { return max_; }
    // As the native control holds it: after the user moved the thumb, the thumb's place.
    int32_t Position() const;
    void SetMin(int32_t Value);
    void SetMax(int32_t Value);
    // Kept within Min..Max. Raises no OnChange.
    void SetPosition(int32_t Value);

    TNotifyEvent OnChange;  // the user moved the thumb (mouse or keyboard)
    bool ReadProperty(TReader &Reader, const std::string &Name) override;

protected:
    tw::ui::PeerKind Kind() const override { return tw::ui::PeerKind::TrackBar; }
    void InitPeer(tw::ui::ControlPeer &Peer) override;
    void Change() override;

private:
    int32_t min_ = 0, max_ = 10, position_ = 0;
};
