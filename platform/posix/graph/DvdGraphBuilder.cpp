// The DVD graph builder. It makes and keeps a filter graph manager; there is no DVD navigator
// on our platform, so no disc can be rendered and the navigator's interfaces (IDvdControl2,
// IDvdInfo2, ...) are never available.
#include "platform/posix/graph/Graph.h"
#include "platform/posix/object.h"

#include <cstring>
#include <mutex>

namespace tw::posix {

namespace {

class DvdGraphBuilder final : public ComObject<IDvdGraphBuilder> {
public:
    HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder **ppGB) override {
        if (!ppGB) return E_POINTER;
        *ppGB = nullptr;
        std::lock_guard<std::mutex> g(mutex_);
        if (!graph_) {
            HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                          graph_.out_void());
            if (FAILED(hr)) return hr;
        }
        *ppGB = ComPtr<IGraphBuilder>(graph_).detach();
        return S_OK;
    }

    // The interfaces handed out here belong to the filters a rendered disc brings (navigator,
    // decoders, renderers); without a rendered disc there are none.
    HRESULT STDMETHODCALLTYPE GetDvdInterface(REFIID, void **ppvIF) override {
        if (!ppvIF) return E_POINTER;
        *ppvIF = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE RenderDvdVideoVolume(LPCWSTR, DWORD, AM_DVD_RENDERSTATUS *pStatus) override {
        if (pStatus) std::memset(pStatus, 0, sizeof(*pStatus));
        return E_NOTIMPL;  // no DVD navigator on this platform
    }

protected:
    void *GetInterface(REFIID riid) override { return answer<IDvdGraphBuilder>(riid); }

private:
    std::mutex mutex_;  // guards graph_
    ComPtr<IGraphBuilder> graph_;
};

}  // namespace

HRESULT create_dvd_graph_builder(IUnknown *outer, REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto *b = new DvdGraphBuilder();
    HRESULT hr = b->QueryInterface(riid, ppv);
    b->Release();
    return hr;
}

}  // namespace tw::posix
