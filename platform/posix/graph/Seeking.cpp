#include "platform/posix/graph/Seeking.h"

namespace tw::posix {

namespace {
bool media_time(const GUID *format) { return !format || *format == TIME_FORMAT_MEDIA_TIME; }
}  // namespace

// ---- MediaTimeSeeking

HRESULT MediaTimeSeeking::GetCapabilities(DWORD *pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    *pCapabilities = SeekingCapabilities();
    return S_OK;
}

HRESULT MediaTimeSeeking::CheckCapabilities(DWORD *pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    const DWORD asked = *pCapabilities;
    *pCapabilities = asked & SeekingCapabilities();
    if (*pCapabilities == asked) return S_OK;
    return *pCapabilities ? S_FALSE : E_FAIL;
}

HRESULT MediaTimeSeeking::IsFormatSupported(const GUID *pFormat) {
    if (!pFormat) return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT MediaTimeSeeking::QueryPreferredFormat(GUID *pFormat) {
    if (!pFormat) return E_POINTER;
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT MediaTimeSeeking::GetTimeFormat(GUID *pFormat) { return QueryPreferredFormat(pFormat); }

HRESULT MediaTimeSeeking::IsUsingTimeFormat(const GUID *pFormat) { return IsFormatSupported(pFormat); }

HRESULT MediaTimeSeeking::SetTimeFormat(const GUID *pFormat) {
    if (!pFormat) return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT MediaTimeSeeking::ConvertTimeFormat(LONGLONG *pTarget, const GUID *pTargetFormat, LONGLONG Source,
                                            const GUID *pSourceFormat) {
    if (!pTarget) return E_POINTER;
    if (!media_time(pTargetFormat) || !media_time(pSourceFormat)) return E_INVALIDARG;
    *pTarget = Source;
    return S_OK;
}

HRESULT MediaTimeSeeking::SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop, DWORD dwStopFlags) {
    const DWORD cur_mode = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stop_mode = dwStopFlags & AM_SEEKING_PositioningBitsMask;
    if (cur_mode == AM_SEEKING_NoPositioning && stop_mode == AM_SEEKING_NoPositioning) return S_FALSE;
    if (cur_mode == AM_SEEKING_IncrementalPositioning) return E_INVALIDARG;  // stop positions only
    if ((cur_mode != AM_SEEKING_NoPositioning && !pCurrent) || (stop_mode != AM_SEEKING_NoPositioning && !pStop))
        return E_POINTER;
    if (cur_mode != AM_SEEKING_NoPositioning && !CanSetCurrent()) return E_NOTIMPL;

    LONGLONG cur0 = 0, stop0 = 0;
    GetCurrentPosition(&cur0);
    if (FAILED(GetStopPosition(&stop0))) stop0 = 0;
    LONGLONG cur = cur0, stop = stop0;
    if (cur_mode == AM_SEEKING_AbsolutePositioning) cur = *pCurrent;
    if (cur_mode == AM_SEEKING_RelativePositioning) cur = cur0 + *pCurrent;
    if (stop_mode == AM_SEEKING_AbsolutePositioning) stop = *pStop;
    if (stop_mode == AM_SEEKING_RelativePositioning) stop = stop0 + *pStop;
    if (stop_mode == AM_SEEKING_IncrementalPositioning) stop = cur + *pStop;
    if (cur < 0 || (stop_mode != AM_SEEKING_NoPositioning && stop < 0)) return E_INVALIDARG;

    const HRESULT hr = ApplyPositions(cur_mode != AM_SEEKING_NoPositioning ? &cur : nullptr, dwCurrentFlags,
                                      stop_mode != AM_SEEKING_NoPositioning ? &stop : nullptr, dwStopFlags);
    if (FAILED(hr)) return hr;
    if ((dwCurrentFlags & AM_SEEKING_ReturnTime) && pCurrent) *pCurrent = cur;
    if ((dwStopFlags & AM_SEEKING_ReturnTime) && pStop) *pStop = stop;
    return hr;
}

HRESULT MediaTimeSeeking::GetPositions(LONGLONG *pCurrent, LONGLONG *pStop) {
    if (!pCurrent && !pStop) return E_POINTER;
    if (pCurrent) {
        HRESULT hr = GetCurrentPosition(pCurrent);
        if (FAILED(hr)) return hr;
    }
    if (pStop) return GetStopPosition(pStop);
    return S_OK;
}

HRESULT MediaTimeSeeking::SetRate(double dRate) {
    if (dRate == 1.0) return S_OK;
    if (dRate <= 0.0) return E_INVALIDARG;
    return E_NOTIMPL;
}

HRESULT MediaTimeSeeking::GetRate(double *pdRate) {
    if (!pdRate) return E_POINTER;
    *pdRate = 1.0;
    return S_OK;
}

HRESULT MediaTimeSeeking::GetPreroll(LONGLONG *pllPreroll) {
    if (!pllPreroll) return E_POINTER;
    *pllPreroll = 0;
    return S_OK;
}

// ---- PassThroughSeeking

DWORD PassThroughSeeking::SeekingCapabilities() {
    DWORD up = 0;
    if (auto s = Upstream()) s->GetCapabilities(&up);
    return up | AM_SEEKING_CanGetCurrentPos;
}

HRESULT PassThroughSeeking::GetDuration(LONGLONG *pDuration) {
    if (!pDuration) return E_POINTER;
    auto s = Upstream();
    return s ? s->GetDuration(pDuration) : E_NOTIMPL;
}

HRESULT PassThroughSeeking::GetStopPosition(LONGLONG *pStop) {
    if (!pStop) return E_POINTER;
    auto s = Upstream();
    return s ? s->GetStopPosition(pStop) : E_NOTIMPL;
}

HRESULT PassThroughSeeking::GetCurrentPosition(LONGLONG *pCurrent) {
    if (!pCurrent) return E_POINTER;
    *pCurrent = Position();
    return S_OK;
}

HRESULT PassThroughSeeking::SetPositions(LONGLONG *pCurrent, DWORD dwCurrentFlags, LONGLONG *pStop,
                                         DWORD dwStopFlags) {
    auto s = Upstream();
    return s ? s->SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags) : E_NOTIMPL;
}

HRESULT PassThroughSeeking::GetAvailable(LONGLONG *pEarliest, LONGLONG *pLatest) {
    auto s = Upstream();
    return s ? s->GetAvailable(pEarliest, pLatest) : E_NOTIMPL;
}

HRESULT PassThroughSeeking::SetRate(double dRate) {
    auto s = Upstream();
    return s ? s->SetRate(dRate) : E_NOTIMPL;
}

HRESULT PassThroughSeeking::GetRate(double *pdRate) {
    if (!pdRate) return E_POINTER;
    auto s = Upstream();
    return s ? s->GetRate(pdRate) : E_NOTIMPL;
}

}  // namespace tw::posix
