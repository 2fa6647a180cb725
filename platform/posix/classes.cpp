#include "platform/posix/classes.h"
#include "platform/posix/asf/AsfWriterFilter.h"
#include "platform/posix/graph/Graph.h"

namespace tw::posix {

// Each area of the platform layer adds its classes here.
static const BuiltinClass kClasses[] = {
    {&CLSID_FilterGraph, create_filter_graph, "Filter Graph Manager"},
    {&CLSID_FilterGraphNoThread, create_filter_graph, "Filter Graph Manager (no thread)"},
    {&CLSID_CaptureGraphBuilder2, create_capture_graph_builder, "Capture Graph Builder 2"},
    {&CLSID_DvdGraphBuilder, create_dvd_graph_builder, "DVD Graph Builder"},
    {&CLSID_SystemClock, create_system_clock, "System Reference Clock"},
    {&CLSID_WMAsfWriter, asf::create_asf_writer, "WM ASF Writer"},
    {nullptr, nullptr, nullptr},  // end marker, keeps the array non-empty
};

const BuiltinClass *builtin_classes(size_t *count) {
    *count = sizeof(kClasses) / sizeof(kClasses[0]) - 1;
    return kClasses;
}

}  // namespace tw::posix
