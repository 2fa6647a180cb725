#include "platform/posix/graph/TransformFilter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tw::posix {

// =============================================================================================
// TransformFilter

class TransformFilter::In final : public InputPin {
public:
    In(TransformFilter *f, const WCHAR *name) : InputPin(f, name), f_(f) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE &mt) override { return f_->CheckInputType(mt); }
    HRESULT OnReceive(IMediaSample *s) override { return f_->Receive(s); }
    HRESULT OnEndOfStream() override { return f_->EndOfStream(); }
    HRESULT OnBeginFlush() override { return f_->BeginFlush(); }
    HRESULT OnEndFlush() override { return f_->EndFlush(); }
    HRESULT OnNewSegment(REFERENCE_TIME a, REFERENCE_TIME b, double r) override { return f_->NewSegment(a, b, r); }

private:
    TransformFilter *f_;  // not counted: owns this pin
};

class TransformFilter::Out final : public OutputPin {
public:
    Out(TransformFilter *f, const WCHAR *name) : OutputPin(f, name), f_(f) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE &mt) override {
        if (!f_->in_->is_connected()) return VFW_E_NOT_CONNECTED;
        return f_->CheckOutputType(f_->in_->connection_type().get(), mt);
    }
    HRESULT GetMediaType(int index, MediaType *mt) override {
        if (!f_->in_->is_connected()) return VFW_S_NO_MORE_ITEMS;
        return f_->GetOutputType(f_->in_->connection_type().get(), index, mt);
    }
    void DecideBufferSize(const AM_MEDIA_TYPE &mt, ALLOCATOR_PROPERTIES *props) override {
        f_->DecideBufferSize(mt, props);
    }
    void base_decide(const AM_MEDIA_TYPE &mt, ALLOCATOR_PROPERTIES *props) { OutputPin::DecideBufferSize(mt, props); }

private:
    TransformFilter *f_;  // not counted: owns this pin
};

TransformFilter::TransformFilter(const CLSID &clsid, const WCHAR *input_name, const WCHAR *output_name)
    : BaseFilter<>(clsid) {
    in_ = add_pin(std::make_unique<In>(this, input_name));
    out_ = add_pin(std::make_unique<Out>(this, output_name));
}

InputPin *TransformFilter::input() const { return in_; }
OutputPin *TransformFilter::output() const { return out_; }

HRESULT TransformFilter::CheckOutputType(const AM_MEDIA_TYPE &in, const AM_MEDIA_TYPE &out) {
    for (int i = 0;; ++i) {
        MediaType mt;
        if (GetOutputType(in, i, &mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        if (matches_partial(out, mt.get()) && (mt.get().cbFormat == 0 || equal_types(out, mt.get()))) return S_OK;
    }
}

void TransformFilter::DecideBufferSize(const AM_MEDIA_TYPE &out, ALLOCATOR_PROPERTIES *props) {
    out_->base_decide(out, props);
}

HRESULT TransformFilter::Receive(IMediaSample *in) {
    ComPtr<IMediaSample> out;
    HRESULT hr = out_->GetDeliveryBuffer(out.out());
    if (FAILED(hr)) return hr;
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT th = in->GetTime(&start, &stop);
    if (th == S_OK)
        out->SetTime(&start, &stop);
    else if (th == VFW_S_NO_STOP_TIME)
        out->SetTime(&start, nullptr);
    out->SetSyncPoint(in->IsSyncPoint() == S_OK);
    out->SetDiscontinuity(in->IsDiscontinuity() == S_OK);
    out->SetPreroll(in->IsPreroll() == S_OK);
    hr = Transform(in, out.get());
    if (hr == S_FALSE) return S_OK;
    if (FAILED(hr)) return hr;
    return out_->Deliver(out.get());
}

HRESULT TransformFilter::EndOfStream() { return out_->DeliverEndOfStream(); }
HRESULT TransformFilter::BeginFlush() { return out_->DeliverBeginFlush(); }
HRESULT TransformFilter::EndFlush() { return out_->DeliverEndFlush(); }
HRESULT TransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return out_->DeliverNewSegment(start, stop, rate);
}

}  // namespace tw::posix
