#pragma once

#include "platform/posix/graph/BaseFilter.h"

namespace tw::posix {

// Transform filter: one input pin, one output pin; each input sample is transformed on the
// upstream thread into a buffer of the output's allocator and delivered downstream. End of
// stream, flushes and new segments pass downstream. The output's types come from the input's.
class TransformFilter : public BaseFilter<> {
public:
    class In;
    class Out;

protected:
    TransformFilter(const CLSID &clsid, const WCHAR *input_name = OLESTR("Input"),
                    const WCHAR *output_name = OLESTR("Output"));

    // S_OK when the filter can take mt as input.
    virtual HRESULT CheckInputType(const AM_MEDIA_TYPE &mt) = 0;
    // The output types for the connected input type `in`, index from 0; VFW_S_NO_MORE_ITEMS.
    virtual HRESULT GetOutputType(const AM_MEDIA_TYPE &in, int index, MediaType *out) = 0;
    // S_OK when mt is an output the filter can make from `in`. Default: one of GetOutputType's.
    virtual HRESULT CheckOutputType(const AM_MEDIA_TYPE &in, const AM_MEDIA_TYPE &out);
    // Output buffers (see OutputPin::DecideBufferSize). Default: the output pin's default.
    virtual void DecideBufferSize(const AM_MEDIA_TYPE &out, ALLOCATOR_PROPERTIES *props);
    // Fills `out` from `in` (times, flags and length included). S_FALSE drops the sample.
    virtual HRESULT Transform(IMediaSample *in, IMediaSample *out) = 0;
    // Receive: the default gets one output buffer, copies the times and flags of `in`, calls
    // Transform and delivers. Filters that make several outputs per input override it.
    virtual HRESULT Receive(IMediaSample *in);
    // End of stream on the input: the default passes it on (decoders flush delayed data first).
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    InputPin *input() const;
    OutputPin *output() const;

private:
    In *in_;
    Out *out_;
};

}  // namespace tw::posix
