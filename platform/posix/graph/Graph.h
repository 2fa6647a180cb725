// The graph-building classes of our platform layer, as CoCreateInstance creates them
// (platform/posix/registry.cpp), and the system reference clock.
#pragma once

#include "platform/directshow.h"
#include "platform/comptr.h"

namespace tw::posix {

// Class factories' create functions (CreateFn of com/runtime.h). Aggregation is refused.
HRESULT create_filter_graph(IUnknown *outer, REFIID riid, void **ppv);
HRESULT create_capture_graph_builder(IUnknown *outer, REFIID riid, void **ppv);
HRESULT create_dvd_graph_builder(IUnknown *outer, REFIID riid, void **ppv);
HRESULT create_system_clock(IUnknown *outer, REFIID riid, void **ppv);

// A new system clock: GetTime counts 100 ns units of the monotonic clock; AdviseTime signals
// an event handle (CreateEventA) when the time comes.
ComPtr<IReferenceClock> make_system_clock();

}  // namespace tw::posix
