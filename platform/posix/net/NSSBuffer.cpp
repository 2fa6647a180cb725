#include "platform/posix/net/NSSBuffer.h"

#include "platform/posix/object.h"

#include <memory>
#include <new>

namespace tw::posix {
namespace {

class NSSBuffer final : public ComObject<INSSBuffer> {
public:
    NSSBuffer(std::unique_ptr<BYTE[]> data, DWORD capacity)
        : data_(std::move(data)), capacity_(capacity), length_(capacity) {}

    HRESULT STDMETHODCALLTYPE GetLength(DWORD *pdwLength) override {
        if (!pdwLength) return E_INVALIDARG;
        *pdwLength = length_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetLength(DWORD dwLength) override {
        if (dwLength > capacity_) return E_INVALIDARG;
        length_ = dwLength;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD *pdwLength) override {
        if (!pdwLength) return E_INVALIDARG;
        *pdwLength = capacity_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE **ppdwBuffer) override {
        if (!ppdwBuffer) return E_INVALIDARG;
        *ppdwBuffer = data_.get();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE **ppdwBuffer, DWORD *pdwLength) override {
        if (!ppdwBuffer || !pdwLength) return E_INVALIDARG;
        *ppdwBuffer = data_.get();
        *pdwLength = length_;
        return S_OK;
    }

protected:
    void *GetInterface(REFIID riid) override { return answer<INSSBuffer>(riid); }

private:
    std::unique_ptr<BYTE[]> data_;
    DWORD capacity_;
    DWORD length_;
};

}  // namespace

HRESULT CreateNSSBuffer(DWORD maxLength, INSSBuffer **out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    // A zero-length buffer still gets a valid (one-byte) block, so GetBuffer never yields null.
    std::unique_ptr<BYTE[]> data(new (std::nothrow) BYTE[maxLength ? maxLength : 1]());
    if (!data) return E_OUTOFMEMORY;
    auto *buffer = new (std::nothrow) NSSBuffer(std::move(data), maxLength);
    if (!buffer) return E_OUTOFMEMORY;
    *out = buffer;
    return S_OK;
}

}  // namespace tw::posix
