// TXPManifest: stands in a form's description for the manifest the program carries (the
// common controls of version 6, drawn in the system's visual style). The manifest itself is a
// resource linked into the Windows program; the component does nothing at run time.
#pragma once

#include "framework/Component.h"

class TXPManifest : public TComponent {
public:
    using TComponent::TComponent;
};
