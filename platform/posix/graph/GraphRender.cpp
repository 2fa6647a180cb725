// The filter graph manager: intelligent connect and rendering.
#include "platform/posix/graph/FilterGraphManager.h"

namespace tw::posix::graph_manager {

// =============================================================================================
// Intelligent connect and rendering

ComPtr<IBaseFilter> FilterGraph::add_candidate(const TransformCandidate &c) {
    ComPtr<IBaseFilter> f;
    HRESULT hr = c.create(f.out());
    if (FAILED(hr) || !f) {
        log("  create \"" + std::string(c.name) + "\": " + hr_text(FAILED(hr) ? hr : E_FAIL));
        return {};
    }
    if (FAILED(AddFilter(f.get(), to_wide(c.name).c_str()))) return {};
    return f;
}

HRESULT FilterGraph::connect_through(IPin *out, IPin *in, int depth) {
    if (abort_) return E_ABORT;
    if (SUCCEEDED(connect_direct_logged(out, in, nullptr))) return S_OK;
    if (depth >= kMaxRenderDepth) return VFW_E_CANNOT_CONNECT;
    auto types = types_of(out);
    for (const TransformCandidate &c : current_transforms()) {
        bool accepts = std::any_of(types.begin(), types.end(), [&](const MediaType &t) { return c.accepts(t.get()); });
        if (!accepts) continue;
        ComPtr<IBaseFilter> f = add_candidate(c);
        if (!f) continue;
        bool done = false;
        for (auto &ci : pins_of(f.get())) {
            if (direction_of(ci.get()) != PINDIR_INPUT || connected(ci.get())) continue;
            if (FAILED(connect_direct_logged(out, ci.get(), nullptr))) continue;
            for (auto &co : pins_of(f.get())) {
                if (direction_of(co.get()) != PINDIR_OUTPUT || connected(co.get())) continue;
                if (SUCCEEDED(connect_through(co.get(), in, depth + 1))) {
                    done = true;
                    break;
                }
            }
            break;
        }
        if (done) return S_OK;
        RemoveFilter(f.get());
        if (abort_) return E_ABORT;
    }
    return VFW_E_CANNOT_CONNECT;
}

HRESULT FilterGraph::Connect(IPin *ppinOut, IPin *ppinIn) {
    if (!ppinOut || !ppinIn) return E_POINTER;
    ComPtr<IBaseFilter> fo = owner_of(ppinOut), fi = owner_of(ppinIn);
    if (!fo || !fi || !in_graph(fo.get()) || !in_graph(fi.get())) return VFW_E_NOT_IN_GRAPH;
    if (direction_of(ppinOut) != PINDIR_OUTPUT || direction_of(ppinIn) != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    abort_ = false;
    log("Connect " + pin_text(ppinOut) + " -> " + pin_text(ppinIn));
    HRESULT hr = connect_through(ppinOut, ppinIn, 0);
    log("Connect: " + hr_text(hr));
    return hr;
}

HRESULT FilterGraph::render_pin(IPin *pin, int depth) {
    if (abort_) return E_ABORT;
    if (connected(pin)) return S_OK;
    ComPtr<IBaseFilter> self = owner_of(pin);
    ComPtr<IUnknown> self_id = identity_of(self.get());
    // 1. An input pin of a filter already in the graph, directly.
    for (auto &f : snapshot()) {
        if (identity_of(f.get()) == self_id) continue;
        for (auto &in : pins_of(f.get())) {
            if (direction_of(in.get()) != PINDIR_INPUT || connected(in.get())) continue;
            if (SUCCEEDED(connect_direct_logged(pin, in.get(), nullptr))) return S_OK;
            if (abort_) return E_ABORT;
        }
    }
    // 2. Through a transform candidate, whose outputs are rendered in turn.
    if (depth >= kMaxRenderDepth) return VFW_E_CANNOT_RENDER;
    auto types = types_of(pin);
    for (const TransformCandidate &c : current_transforms()) {
        bool accepts = std::any_of(types.begin(), types.end(), [&](const MediaType &t) { return c.accepts(t.get()); });
        if (!accepts) continue;
        ComPtr<IBaseFilter> f = add_candidate(c);
        if (!f) continue;
        bool linked = false, rendered = false;
        for (auto &ci : pins_of(f.get())) {
            if (direction_of(ci.get()) != PINDIR_INPUT) continue;
            if (FAILED(connect_direct_logged(pin, ci.get(), nullptr))) continue;
            linked = true;
            break;
        }
        if (linked) {
            int outputs = 0;
            for (auto &co : pins_of(f.get())) {
                if (direction_of(co.get()) != PINDIR_OUTPUT) continue;
                if (pin_name(co.get()).rfind(OLESTR("~"), 0) == 0) continue;  // '~' pins are not rendered
                ++outputs;
                if (SUCCEEDED(render_pin(co.get(), depth + 1))) rendered = true;
            }
            if (outputs == 0) rendered = true;  // the candidate renders the stream itself
        }
        if (rendered) return S_OK;
        RemoveFilter(f.get());
        if (abort_) return E_ABORT;
    }
    return VFW_E_CANNOT_RENDER;
}

HRESULT FilterGraph::Render(IPin *ppinOut) {
    if (!ppinOut) return E_POINTER;
    ComPtr<IBaseFilter> fo = owner_of(ppinOut);
    if (!fo || !in_graph(fo.get())) return VFW_E_NOT_IN_GRAPH;
    if (direction_of(ppinOut) != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    if (connected(ppinOut)) return VFW_E_ALREADY_CONNECTED;
    abort_ = false;
    log("Render " + pin_text(ppinOut));
    HRESULT hr = render_pin(ppinOut, 0);
    log("Render: " + hr_text(hr));
    return hr;
}

HRESULT FilterGraph::RenderEx(IPin *pPinOut, DWORD dwFlags, DWORD *pvContext) {
    // We never add renderers of our own, so rendering to the existing ones is all there is.
    if (pvContext || (dwFlags & ~static_cast<DWORD>(AM_RENDEREX_RENDERTOEXISTINGRENDERERS))) return E_INVALIDARG;
    return Render(pPinOut);
}

HRESULT FilterGraph::open_source(LPCWSTR url, LPCWSTR name, ComPtr<IBaseFilter> *source) {
    OpenContext ctx(&abort_, [this](const std::string &line) { log("  " + line); });
    HRESULT hr = VFW_E_UNKNOWN_FILE_TYPE;
    ComPtr<IBaseFilter> f;
    for (const SourceOpener &o : current_source_openers()) {
        if (abort_) return E_ABORT;
        HRESULT r = o.open(url, ctx, f.out());
        log(std::string("  source opener \"") + o.name + "\": " + hr_text(r));
        if (FAILED(r)) return r;
        if (r == S_OK && f) {
            hr = S_OK;
            break;
        }
        f = nullptr;
    }
    if (FAILED(hr)) return hr;
    hr = AddFilter(f.get(), name);
    if (FAILED(hr)) return hr;
    *source = std::move(f);
    return hr;
}

HRESULT FilterGraph::AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName, IBaseFilter **ppFilter) {
    if (!ppFilter) return E_POINTER;
    *ppFilter = nullptr;
    if (!lpcwstrFileName) return E_POINTER;
    abort_ = false;
    log("AddSourceFilter \"" + to_utf8(lpcwstrFileName) + "\"");
    ComPtr<IBaseFilter> f;
    HRESULT hr = open_source(lpcwstrFileName, lpcwstrFilterName ? lpcwstrFilterName : lpcwstrFileName, &f);
    log("AddSourceFilter: " + hr_text(hr));
    if (SUCCEEDED(hr)) *ppFilter = f.detach();
    return hr;
}

void FilterGraph::remove_added(const std::vector<ComPtr<IUnknown>> &before) {
    for (auto &f : snapshot()) {
        ComPtr<IUnknown> id = identity_of(f.get());
        if (std::find(before.begin(), before.end(), id) == before.end()) RemoveFilter(f.get());
    }
}

HRESULT FilterGraph::RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) {
    if (!lpcwstrFile) return E_POINTER;
    if (lpcwstrPlayList) return E_INVALIDARG;  // reserved
    abort_ = false;
    std::string url = to_utf8(lpcwstrFile);
    log("RenderFile \"" + url + "\"");
    std::vector<ComPtr<IUnknown>> before;
    for (auto &f : snapshot()) before.push_back(identity_of(f.get()));

    ComPtr<IBaseFilter> source;
    HRESULT hr = open_source(lpcwstrFile, lpcwstrFile, &source);
    if (FAILED(hr)) {
        log("RenderFile \"" + url + "\": " + hr_text(hr));
        return hr;
    }
    int rendered = 0, audio_left = 0, video_left = 0, other_left = 0;
    for (auto &p : pins_of(source.get())) {
        if (direction_of(p.get()) != PINDIR_OUTPUT) continue;
        HRESULT r = render_pin(p.get(), 0);
        if (r == E_ABORT) break;
        if (SUCCEEDED(r)) {
            ++rendered;
            continue;
        }
        auto types = types_of(p.get());
        if (!types.empty() && types.front().is_audio())
            ++audio_left;
        else if (!types.empty() && types.front().is_video())
            ++video_left;
        else
            ++other_left;
    }
    if (abort_) {
        hr = E_ABORT;
        remove_added(before);
    } else if (rendered == 0) {
        // Nothing could be rendered: the graph is left as it was.
        hr = VFW_E_CANNOT_RENDER;
        remove_added(before);
    } else if (audio_left + video_left + other_left == 0) {
        hr = S_OK;
    } else if (other_left == 0 && video_left == 0) {
        hr = VFW_S_AUDIO_NOT_RENDERED;
    } else if (other_left == 0 && audio_left == 0) {
        hr = VFW_S_VIDEO_NOT_RENDERED;
    } else {
        hr = VFW_S_PARTIAL_RENDER;
    }
    log("RenderFile \"" + url + "\": " + hr_text(hr));
    return hr;
}

HRESULT FilterGraph::Abort() {
    abort_ = true;
    return S_OK;
}

HRESULT FilterGraph::ShouldOperationContinue() { return abort_ ? S_FALSE : S_OK; }

}  // namespace tw::posix::graph_manager
