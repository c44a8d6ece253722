#pragma once
// The steps of LoadVisibleItems, shared by the walk over any rows and the
// store's load that reads only the rows it can use: both must give the
// same lists.
#include <optional>

#include "view/ViewState.h"

namespace kv::load {

// The load window around AnchorDate's month: the 20th of the month before
// to the 10th of the month after.
struct Window {
  DateTime start, end;
};
Window WindowOf(const ViewState& state);

// A row goes into VisibleItems.
bool Visible(const ItemShape& row, const Window& w);
// A row goes into AlarmCandidates: an alarm due before `horizon`.
bool AlarmDue(const ItemShape& row, const DateTime& horizon);
// now + 2 hours; invalid when the clock cannot be read (no candidates).
DateTime AlarmHorizon(const DateTime& now);

// The Index of the selected own item, to find it again after the reload.
std::optional<DateTime> SelectedIndex(const ViewState& state);
// Sorts both lists for the view mode and puts the selection back on its item.
void Finish(ViewState& state, const std::optional<DateTime>& selected);
// LoadVisibleItems over every row, with the selection taken beforehand.
int FromRows(ViewState& state, ItemRows& rows, const std::optional<DateTime>& selected);

}  // namespace kv::load
