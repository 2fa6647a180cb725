// IMediaSeeking in media time (100 ns units), the platform layer's only time format.
//
// MediaTimeSeeking writes once what every implementer answers alike: the time-format calls,
// the capability check, rate and preroll, and the argument rules of SetPositions (modes,
// null pointers, relative and incremental times resolved to absolute ones, negative times
// refused, AM_SEEKING_ReturnTime). An implementer says what it can do
// (SeekingCapabilities), where it stands (GetDuration, GetStopPosition, GetCurrentPosition,
// GetAvailable) and moves when asked (ApplyPositions).
//
// PassThroughSeeking is a renderer's: its own position, everything else asked of the filter
// upstream of it.
//
// Threads: any; the implementer's hooks guard their own state.
#pragma once

#include "platform/comptr.h"
#include "platform/directshow.h"

namespace tw::posix {

class MediaTimeSeeking : public IMediaSeeking {
public:
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD *pCapabilities) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD *pCapabilities) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID *pFormat) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID *pFormat) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID *pFormat) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID *pFormat) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID *pFormat) override;
    // Only media time to media time; any other format is E_INVALIDARG.
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG *pTarget, const GUID *pTargetFormat, LONGLONG Source,
                                                const GUID *pSourceFormat) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop,
                                           DWORD dwStopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG *pCurrent, LONGLONG *pStop) override;
    // Normal speed only: 1.0 is accepted, a rate of 0 or less is E_INVALIDARG, others E_NOTIMPL.
    HRESULT STDMETHODCALLTYPE SetRate(double dRate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double *pdRate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG *pllPreroll) override;  // 0

protected:
    virtual DWORD SeekingCapabilities() = 0;
    // False when the current position cannot be set at all (a live source): SetPositions then
    // answers E_NOTIMPL for a request that sets it.
    virtual bool CanSetCurrent() { return true; }
    // Moves to the resolved absolute times; a null pointer leaves that position as it is.
    // The flags are the caller's (their modifier bits: key frame, segment, no flush).
    virtual HRESULT ApplyPositions(const LONGLONG *Current, DWORD CurrentFlags, const LONGLONG *Stop,
                                   DWORD StopFlags) = 0;
};

class PassThroughSeeking : public MediaTimeSeeking {
public:
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG *pDuration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG *pStop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG *pCurrent) override;  // Position()
    // Passed upstream unchanged: the source is what moves.
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop,
                                           DWORD dwStopFlags) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double dRate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double *pdRate) override;

protected:
    // The seeking interface of the filter upstream, or null when none answers.
    virtual ComPtr<IMediaSeeking> Upstream() const = 0;
    // This filter's own position (media time).
    virtual LONGLONG Position() const = 0;

    DWORD SeekingCapabilities() override;  // upstream's, and the current position
    HRESULT ApplyPositions(const LONGLONG *, DWORD, const LONGLONG *, DWORD) override { return E_NOTIMPL; }
};

}  // namespace tw::posix
