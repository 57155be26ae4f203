// Builds a control tree from parsed skin markup (grammar: toolkit/README.md).
#pragma once

#include "toolkit/control.h"
#include "toolkit/markup.h"

namespace skin {

class PaintManager;

// Creates a control of a built-in class (name compared ignoring case), or null.
Control* CreateBuiltinControl(std::wstring_view className);

// Applies the root element's window attributes and fonts to `manager` and
// returns the root control (not yet attached), or null when the skin holds
// no control. Unknown elements are skipped with their subtree, unknown
// attributes are ignored; `factory` (may be null) is asked for classes the
// toolkit does not know.
Control* BuildControls(const MarkupNode& window, PaintManager& manager, IControlFactory* factory);

}  // namespace skin
