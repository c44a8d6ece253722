#pragma once
// Presses and double-clicks in the calendar, tested against the
// rectangles of the last drawing. Feedback (red day frame, inverted item)
// goes straight onto `feedback`, the view's window surface.
#include "view/Navigation.h"
#include "view/Surface.h"
#include "view/ViewHost.h"
#include "view/ViewState.h"

namespace kv {

void OnPress(ViewState& state, Surface& feedback, ViewHost& host, int x, int y);

// Press handling, then the item operation the mode asks for.
void OnDoubleClick(ViewState& state, Surface& feedback, ViewHost& host, ItemOperations& ops,
                   int x, int y);

// The keys of the calendar view, without a window behind them.
enum class ViewKey { Left, Right, Up, Down, Enter, Tab, BackTab };

// Left and right move the selected day by one, up and down by a week in
// the month view and scroll the hours in the week and day views; a day off
// the page turns it (nav). Enter opens the selected item, or adds one on
// the selected day. Tab and BackTab step through the items drawn in the
// selected day's cell, selecting each as a press would. False for a key
// the current mode does not use.
bool OnKey(ViewState& state, Surface& feedback, ViewHost& host, ItemOperations& ops,
           ViewCommands& nav, ViewKey key);

// "このユーザには予定を追加できません" as CP932.
const std::string& CannotAddForUserText();

}  // namespace kv
