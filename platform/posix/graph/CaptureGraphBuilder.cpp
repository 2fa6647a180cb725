// The capture graph builder, for the graph it is given (or makes on demand). Our pins carry no
// pin categories (there is no capture hardware behind them), so the category arguments do not
// select pins; LOOK_UPSTREAM_ONLY / LOOK_DOWNSTREAM_ONLY do steer FindInterface.
#include "platform/posix/graph/Graph.h"
#include "platform/posix/graph/MediaType.h"
#include "platform/posix/object.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <vector>

namespace tw::posix {

namespace {

std::vector<ComPtr<IPin>> pins_of(IBaseFilter *f) {
    std::vector<ComPtr<IPin>> v;
    ComPtr<IEnumPins> e;
    if (FAILED(f->EnumPins(e.out())) || !e) return v;
    ComPtr<IPin> p;
    while (e->Next(1, p.out(), nullptr) == S_OK) v.push_back(p);
    return v;
}

bool pin_has_major(IPin *p, const GUID &major) {
    ComPtr<IEnumMediaTypes> e;
    if (FAILED(p->EnumMediaTypes(e.out())) || !e) return false;
    AM_MEDIA_TYPE *mt = nullptr;
    ULONG got = 0;
    bool found = false;
    while (!found && e->Next(1, &mt, &got) == S_OK && got == 1) {
        found = mt->majortype == major;
        DeleteMediaType(mt);
        mt = nullptr;
    }
    if (!found) {
        MediaType c;
        if (SUCCEEDED(p->ConnectionMediaType(c.ptr()))) found = c.majortype() == major;
    }
    return found;
}

bool is_connected(IPin *p) {
    ComPtr<IPin> peer;
    return SUCCEEDED(p->ConnectedTo(peer.out())) && peer;
}

ComPtr<IPin> find_pin(IBaseFilter *f, PIN_DIRECTION dir, const GUID *type, bool unconnected, int num) {
    for (auto &p : pins_of(f)) {
        PIN_DIRECTION d;
        if (FAILED(p->QueryDirection(&d)) || d != dir) continue;
        if (unconnected && is_connected(p.get())) continue;
        if (type && !pin_has_major(p.get(), *type)) continue;
        if (num-- == 0) return p;
    }
    return {};
}

class CaptureGraphBuilder final : public ComObject<ICaptureGraphBuilder2> {
public:
    HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder *pfg) override {
        if (!pfg) return E_POINTER;
        std::lock_guard<std::mutex> g(mutex_);
        if (graph_) return E_UNEXPECTED;  // a builder works on one graph
        graph_ = ComPtr<IGraphBuilder>::addref(pfg);
        return S_OK;
    }

    // Without SetFiltergraph the builder makes a filter graph manager of its own, as the
    // platform does when a graph is first needed.
    HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder **ppfg) override {
        if (!ppfg) return E_POINTER;
        *ppfg = nullptr;
        ComPtr<IGraphBuilder> g;
        HRESULT hr = graph(&g, true);
        if (FAILED(hr)) return hr;
        *ppfg = g.detach();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID *, LPCOLESTR, IBaseFilter **, IFileSinkFilter **) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE FindInterface(const GUID *pCategory, const GUID *pType, IBaseFilter *pf, REFIID riid,
                                            void **ppint) override {
        if (!ppint) return E_POINTER;
        *ppint = nullptr;
        if (!pf) return E_POINTER;
        bool up_only = pCategory && *pCategory == LOOK_UPSTREAM_ONLY;
        bool down_only = pCategory && *pCategory == LOOK_DOWNSTREAM_ONLY;
        if (!up_only && !down_only) {
            // The filter, then its pins (of the type asked for, if any).
            if (SUCCEEDED(pf->QueryInterface(riid, ppint)) && *ppint) return S_OK;
            for (auto &p : pins_of(pf)) {
                if (pType && !pin_has_major(p.get(), *pType)) continue;
                if (SUCCEEDED(p->QueryInterface(riid, ppint)) && *ppint) return S_OK;
            }
        }
        if (!up_only && search(pf, PINDIR_OUTPUT, riid, ppint)) return S_OK;
        if (!down_only && search(pf, PINDIR_INPUT, riid, ppint)) return S_OK;
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE RenderStream(const GUID *, const GUID *pType, IUnknown *pSource,
                                           IBaseFilter *pfCompressor, IBaseFilter *pfRenderer) override {
        if (!pSource) return E_POINTER;
        ComPtr<IGraphBuilder> g;
        HRESULT hr = graph(&g, false);
        if (FAILED(hr)) return hr;
        ComPtr<IPin> out;
        ComPtr<IBaseFilter> src;
        if (FAILED(pSource->QueryInterface(IID_IPin, out.out_void())) || !out) {
            if (FAILED(pSource->QueryInterface(IID_IBaseFilter, src.out_void())) || !src) return E_INVALIDARG;
            out = find_pin(src.get(), PINDIR_OUTPUT, pType, true, 0);
            if (!out) return E_FAIL;
        }
        if (pfCompressor) {
            hr = connect_to(g.get(), out.get(), pfCompressor);
            if (FAILED(hr)) return hr;
            out = find_pin(pfCompressor, PINDIR_OUTPUT, nullptr, true, 0);
            if (!out) return pfRenderer ? E_FAIL : S_OK;
        }
        if (pfRenderer) return connect_to(g.get(), out.get(), pfRenderer);
        return g->Render(out.get());
    }

    HRESULT STDMETHODCALLTYPE ControlStream(const GUID *, const GUID *, IBaseFilter *, REFERENCE_TIME *,
                                            REFERENCE_TIME *, WORD, WORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress *) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE FindPin(IUnknown *pSource, PIN_DIRECTION pindir, const GUID *, const GUID *pType,
                                      BOOL fUnconnected, int num, IPin **ppPin) override {
        if (!pSource || !ppPin) return E_POINTER;
        *ppPin = nullptr;
        ComPtr<IBaseFilter> f;
        if (FAILED(pSource->QueryInterface(IID_IBaseFilter, f.out_void())) || !f) return E_INVALIDARG;
        ComPtr<IPin> p = find_pin(f.get(), pindir, pType, fUnconnected != FALSE, num);
        if (!p) return E_FAIL;
        *ppPin = p.detach();
        return S_OK;
    }

protected:
    void *GetInterface(REFIID riid) override { return answer<ICaptureGraphBuilder2>(riid); }

private:
    HRESULT graph(ComPtr<IGraphBuilder> *out, bool create) {
        std::lock_guard<std::mutex> g(mutex_);
        if (!graph_) {
            if (!create) return E_UNEXPECTED;
            HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                          graph_.out_void());
            if (FAILED(hr)) return hr;
        }
        *out = graph_;
        return S_OK;
    }

    // Connects `out` to the first free input pin of `to` that takes it (intelligent connect).
    static HRESULT connect_to(IGraphBuilder *g, IPin *out, IBaseFilter *to) {
        HRESULT last = VFW_E_CANNOT_CONNECT;
        for (auto &in : pins_of(to)) {
            PIN_DIRECTION d;
            if (FAILED(in->QueryDirection(&d)) || d != PINDIR_INPUT || is_connected(in.get())) continue;
            last = g->Connect(out, in.get());
            if (SUCCEEDED(last)) return last;
        }
        return last;
    }

    // Breadth first along the connections in one direction, the start filter excluded.
    static bool search(IBaseFilter *start, PIN_DIRECTION dir, REFIID riid, void **ppint) {
        std::deque<ComPtr<IBaseFilter>> todo{ComPtr<IBaseFilter>::addref(start)};
        std::vector<ComPtr<IUnknown>> seen;
        while (!todo.empty()) {
            ComPtr<IBaseFilter> f = todo.front();
            todo.pop_front();
            ComPtr<IUnknown> id = f.query<IUnknown>();
            if (std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
            seen.push_back(id);
            if (f.get() != start) {
                if (SUCCEEDED(f->QueryInterface(riid, ppint)) && *ppint) return true;
            }
            for (auto &p : pins_of(f.get())) {
                PIN_DIRECTION d;
                if (FAILED(p->QueryDirection(&d)) || d != dir) continue;
                ComPtr<IPin> peer;
                if (FAILED(p->ConnectedTo(peer.out())) || !peer) continue;
                if (SUCCEEDED(peer->QueryInterface(riid, ppint)) && *ppint) return true;
                PIN_INFO info{};
                if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter)
                    todo.push_back(ComPtr<IBaseFilter>::adopt(info.pFilter));
            }
        }
        return false;
    }

    std::mutex mutex_;  // guards graph_
    ComPtr<IGraphBuilder> graph_;
};

}  // namespace

HRESULT create_capture_graph_builder(IUnknown *outer, REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto *b = new CaptureGraphBuilder();
    HRESULT hr = b->QueryInterface(riid, ppv);
    b->Release();
    return hr;
}

}  // namespace tw::posix
