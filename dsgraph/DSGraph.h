// The DirectShow component set: the filter graph component and the components attached to it.
#pragma once

#include "dsgraph/GraphInterfaces.h"
#include "dsgraph/FilterGraph.h"
