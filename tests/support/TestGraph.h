// Test doubles for the writer filter's tests: a graph that records the events its filters
// send, a source filter that pushes generated pictures and sound, and a writer sink that counts.
#pragma once

#include "platform/directshow.h"
#include "platform/posix/graph/BaseFilter.h"
#include "platform/wmf.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace asftest {

// IFilterGraph + IMediaEventSink: only Notify does anything; the rest is not needed by filters
// that only send events.
class EventGraph final : public tw::posix::ComObject<IFilterGraph, IMediaEventSink> {
public:
    struct Event {
        LONG code;
        LONG_PTR p1, p2;
    };
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin *, IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reconnect(IPin *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect(IPin *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Notify(LONG code, LONG_PTR p1, LONG_PTR p2) override {
        std::lock_guard lk(m_);
        events_.push_back({code, p1, p2});
        cv_.notify_all();
        return S_OK;
    }
    // Waits for an event with this code; false after `seconds`.
    bool wait_for(LONG code, double seconds, Event *out = nullptr);
    std::vector<Event> events() const {
        std::lock_guard lk(m_);
        return events_;
    }
    int count(LONG code) const;

protected:
    void *GetInterface(REFIID riid) override {
        if (void *p = answer<IFilterGraph>(riid)) return p;
        return answer<IMediaEventSink>(riid);
    }

private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::vector<Event> events_;
};

struct SourceSpec {
    bool audio = true, video = true;
    GUID video_subtype = MEDIASUBTYPE_I420;  // or MEDIASUBTYPE_RGB32
    int width = 320, height = 240;
    double fps = 25;
    int rate = 44100, channels = 2;
    double seconds = 2;
};

// A source with an "Audio" and/or a "Video" output pin, each streaming on a thread of its own
// from Pause until its end of stream (or Stop).
tw::ComPtr<IBaseFilter> make_test_source(const SourceSpec &clip);
tw::posix::MediaType video_type(const SourceSpec &clip);
tw::posix::MediaType audio_type(const SourceSpec &clip);

// IWMWriterSink that counts what it gets.
class CountingWriterSink final : public tw::posix::ComObject<IWMWriterSink> {
public:
    HRESULT STDMETHODCALLTYPE OnHeader(INSSBuffer *b) override;
    HRESULT STDMETHODCALLTYPE IsRealTime(BOOL *p) override {
        if (!p) return E_POINTER;
        *p = FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AllocateDataUnit(DWORD, INSSBuffer **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnDataUnit(INSSBuffer *b) override;
    HRESULT STDMETHODCALLTYPE OnEndWriting() override {
        std::lock_guard lk(m);
        ++ends;
        return S_OK;
    }
    std::mutex m;
    int headers = 0, ends = 0;
    size_t packets = 0, header_bytes = 0;
    bool packet_before_header = false;

protected:
    void *GetInterface(REFIID riid) override { return answer<IWMWriterSink>(riid); }
};

// A new writer filter (through its factory), the GUID of a profile, a narrow text made wide.
tw::ComPtr<IBaseFilter> make_writer();
const GUID &guid_of(int profile);
tw::wstring wide(const std::string &s);

// A writer and a test source in one event-recording graph, connected pin to pin.
struct Rig {
    tw::ComPtr<EventGraph> graph = tw::ComPtr<EventGraph>::adopt(new EventGraph());
    tw::ComPtr<IBaseFilter> writer = make_writer();
    tw::ComPtr<IBaseFilter> source;
    std::string path;

    // Joins both to the graph, configures the writer and connects the source's pins.
    HRESULT build(int profile, const SourceSpec &clip, const std::string &file);
    // Pause and Run, writer first (downstream before upstream, as a graph does).
    HRESULT run();
    void stop();
    ~Rig();
};

// Finds a pin of `f` by name.
tw::ComPtr<IPin> pin_named(IBaseFilter *f, const WCHAR *name);
// Names of the pins of `f` in enumeration order.
std::vector<tw::wstring> pin_names(IBaseFilter *f);

}  // namespace asftest
