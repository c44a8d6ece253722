#pragma once
// Presses and double-clicks in the calendar, tested against the
// rectangles of the last drawing. Feedback (red day frame, inverted item)
// goes straight onto `feedback`, the view's window surface.
#include "view/Surface.h"
#include "view/ViewHost.h"
#include "view/ViewState.h"

namespace kv {

void OnPress(ViewState& state, Surface& feedback, ViewHost& host, int x, int y);

// Press handling, then the item operation the mode asks for.
void OnDoubleClick(ViewState& state, Surface& feedback, ViewHost& host, ItemOperations& ops,
                   int x, int y);

// "このユーザには予定を追加できません" as CP932.
const std::string& CannotAddForUserText();

}  // namespace kv
