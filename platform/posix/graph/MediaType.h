// Media types for our filters and pins.
//
// AM_MEDIA_TYPE owns two things by convention: the format block (pbFormat, task memory) and an
// optional counted pUnk. The free functions handle a raw AM_MEDIA_TYPE the way every
// DirectShow interface expects; MediaType is the RAII owner our own code keeps types in.
//
// A media type is "partial" when its major type, subtype or format type is GUID_NULL; a
// partial type matches every type that agrees on the fields it does give.
#pragma once

#include "platform/directshow.h"

#include <cstring>
#include <string>

namespace tw::posix {

inline constexpr GUID kGuidNull = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// FreeMediaType, DeleteMediaType, CopyMediaType and CreateMediaType are tw:: helpers of
// platform/directshow.h; they are found from here unqualified.

inline bool is_partial(const AM_MEDIA_TYPE &mt) {
    return mt.majortype == kGuidNull || mt.subtype == kGuidNull || mt.formattype == kGuidNull;
}

// True when `full` agrees with every field that `pattern` gives (GUID_NULL is a wildcard).
// With a pattern that has a format type and a format block, the blocks must be equal too.
inline bool matches_partial(const AM_MEDIA_TYPE &full, const AM_MEDIA_TYPE &pattern) {
    if (pattern.majortype != kGuidNull && pattern.majortype != full.majortype) return false;
    if (pattern.subtype != kGuidNull && pattern.subtype != full.subtype) return false;
    if (pattern.formattype != kGuidNull) {
        if (pattern.formattype != full.formattype) return false;
        if (pattern.cbFormat) {
            if (pattern.cbFormat != full.cbFormat) return false;
            if (std::memcmp(pattern.pbFormat, full.pbFormat, full.cbFormat) != 0) return false;
        }
    }
    return true;
}

// Equality as pins compare types: the GUIDs and the format block, byte for byte.
inline bool equal_types(const AM_MEDIA_TYPE &a, const AM_MEDIA_TYPE &b) {
    if (a.majortype != b.majortype || a.subtype != b.subtype || a.formattype != b.formattype) return false;
    if (a.cbFormat != b.cbFormat) return false;
    return a.cbFormat == 0 || std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string guid_text(const GUID &g);
// A readable one-line description for logs: "Video/RGB24 640x480", "Audio/PCM 44100 Hz 2 ch 16 bit",
// with GUID text for types it has no name for.
std::string media_type_text(const AM_MEDIA_TYPE &mt);

class MediaType {
public:
    MediaType() { std::memset(&mt_, 0, sizeof(mt_)); }
    MediaType(const GUID &major, const GUID &sub, const GUID &format = kGuidNull) : MediaType() {
        mt_.majortype = major;
        mt_.subtype = sub;
        mt_.formattype = format;
        mt_.bFixedSizeSamples = TRUE;
        mt_.lSampleSize = 1;
    }
    // Deep copy. On out-of-memory the copy has no format block (format_ok() tells).
    explicit MediaType(const AM_MEDIA_TYPE &mt) : MediaType() { assign(mt); }
    MediaType(const MediaType &o) : MediaType() { assign(o.mt_); }
    MediaType(MediaType &&o) noexcept : mt_(o.mt_) { std::memset(&o.mt_, 0, sizeof(o.mt_)); }
    MediaType &operator=(const MediaType &o) {
        if (this != &o) assign(o.mt_);
        return *this;
    }
    MediaType &operator=(MediaType &&o) noexcept {
        if (this != &o) {
            FreeMediaType(mt_);
            mt_ = o.mt_;
            std::memset(&o.mt_, 0, sizeof(o.mt_));
        }
        return *this;
    }
    ~MediaType() { FreeMediaType(mt_); }

    // Replaces the held type with a deep copy of mt.
    HRESULT assign(const AM_MEDIA_TYPE &mt) {
        if (&mt == &mt_) return S_OK;
        FreeMediaType(mt_);
        return CopyMediaType(&mt_, &mt);
    }
    void clear() {
        FreeMediaType(mt_);
        std::memset(&mt_, 0, sizeof(mt_));
    }

    const AM_MEDIA_TYPE &get() const { return mt_; }
    AM_MEDIA_TYPE &get() { return mt_; }
    const AM_MEDIA_TYPE *ptr() const { return &mt_; }
    AM_MEDIA_TYPE *ptr() { return &mt_; }

    const GUID &majortype() const { return mt_.majortype; }
    const GUID &subtype() const { return mt_.subtype; }
    const GUID &formattype() const { return mt_.formattype; }
    bool empty() const { return mt_.majortype == kGuidNull; }
    bool is_partial() const { return tw::posix::is_partial(mt_); }
    bool is_video() const { return mt_.majortype == MEDIATYPE_Video; }
    bool is_audio() const { return mt_.majortype == MEDIATYPE_Audio; }

    // Copies `size` bytes into a new task-memory format block with the given format type.
    HRESULT set_format(const GUID &formattype, const void *data, ULONG size) {
        BYTE *p = nullptr;
        if (size) {
            p = static_cast<BYTE *>(CoTaskMemAlloc(size));
            if (!p) return E_OUTOFMEMORY;
            std::memcpy(p, data, size);
        }
        if (mt_.cbFormat && mt_.pbFormat) CoTaskMemFree(mt_.pbFormat);
        mt_.formattype = formattype;
        mt_.pbFormat = p;
        mt_.cbFormat = size;
        return S_OK;
    }
    // The format block read as T, or nullptr when it is smaller than T.
    template <class T>
    const T *format_as() const {
        return (mt_.pbFormat && mt_.cbFormat >= sizeof(T)) ? reinterpret_cast<const T *>(mt_.pbFormat) : nullptr;
    }
    template <class T>
    T *format_as() {
        return (mt_.pbFormat && mt_.cbFormat >= sizeof(T)) ? reinterpret_cast<T *>(mt_.pbFormat) : nullptr;
    }
    const VIDEOINFOHEADER *video_info() const {
        return mt_.formattype == FORMAT_VideoInfo ? format_as<VIDEOINFOHEADER>() : nullptr;
    }
    const WAVEFORMATEX *wave_format() const {
        return mt_.formattype == FORMAT_WaveFormatEx ? format_as<WAVEFORMATEX>() : nullptr;
    }

    bool matches(const AM_MEDIA_TYPE &pattern) const { return matches_partial(mt_, pattern); }
    bool operator==(const MediaType &o) const { return equal_types(mt_, o.mt_); }
    bool operator!=(const MediaType &o) const { return !(*this == o); }
    bool operator==(const AM_MEDIA_TYPE &o) const { return equal_types(mt_, o); }

    // Fills a caller's AM_MEDIA_TYPE (treated as raw memory) with a deep copy.
    HRESULT copy_to(AM_MEDIA_TYPE *out) const { return CopyMediaType(out, &mt_); }
    // A task-memory copy for IEnumMediaTypes::Next and the like (nullptr when out of memory).
    AM_MEDIA_TYPE *create_copy() const { return CreateMediaType(&mt_); }

    std::string text() const { return media_type_text(mt_); }

    // Uncompressed video described by a VIDEOINFOHEADER: sample size, fixed-size flag and
    // the format block are set from it.
    static MediaType video(const GUID &subtype, const VIDEOINFOHEADER &vih) {
        MediaType t(MEDIATYPE_Video, subtype);
        t.set_format(FORMAT_VideoInfo, &vih, sizeof(vih));
        t.mt_.bFixedSizeSamples = TRUE;
        t.mt_.bTemporalCompression = FALSE;
        t.mt_.lSampleSize = vih.bmiHeader.biSizeImage;
        return t;
    }
    // Audio described by a WAVEFORMATEX (cbSize extra bytes included).
    static MediaType audio(const GUID &subtype, const WAVEFORMATEX &wfx) {
        MediaType t(MEDIATYPE_Audio, subtype);
        t.set_format(FORMAT_WaveFormatEx, &wfx, sizeof(WAVEFORMATEX) + wfx.cbSize);
        t.mt_.bFixedSizeSamples = TRUE;
        t.mt_.bTemporalCompression = FALSE;
        t.mt_.lSampleSize = wfx.nBlockAlign;
        return t;
    }

private:
    AM_MEDIA_TYPE mt_;
};

}  // namespace tw::posix
