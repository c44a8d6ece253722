#include "view/StoreLoad.h"

#include "model/Clock.h"
#include "view/LoadSteps.h"

namespace kv {

namespace {

void MakeRoom(std::vector<ScheduleItem>& list, int64_t rows) {
  if (rows <= 0 || static_cast<uint64_t>(rows) <= list.capacity()) return;
  try {
    list.reserve(static_cast<size_t>(rows));
  } catch (...) {
    // Without the room the rows still arrive one by one.
  }
}

}  // namespace

int LoadVisibleItems(ViewState& state, ItemStore& store) {
  // Only the rows the store's indexes point at are read: those near the
  // window, the repeating and the alarmed ones. Both lists come out in
  // table order before sorting, as from the walk.
  const std::optional<DateTime> selected = load::SelectedIndex(state);
  const load::Window window = load::WindowOf(state);
  const DateTime horizon = load::AlarmHorizon(Now());
  // Straight into the lists, whose room stays from one load to the next.
  state.VisibleItems.clear();
  state.AlarmCandidates.clear();
  // Room for every row at once: growing by steps would move each large
  // item several times and touch twice the memory (most of the first load).
  MakeRoom(state.VisibleItems, store.CountRowsNear(window.start, window.end));
  if (horizon.IsValid()) MakeRoom(state.AlarmCandidates, store.CountAlarmedRows());
  const bool read =
      store.ReadRowsNear(window.start, window.end,
                         [&](ScheduleItem& row) {
                           if (load::Visible(row, window)) state.VisibleItems.push_back(std::move(row));
                         }) &&
      (!horizon.IsValid() || store.ReadAlarmedRows([&](ScheduleItem& row) {
        if (load::AlarmDue(row, horizon)) state.AlarmCandidates.push_back(std::move(row));
      }));
  if (!read) {
    // A window the indexes cannot answer (before 1900) or a failed read:
    // the whole table, row by row.
    StoreItemRows rows(store);
    return load::FromRows(state, rows, selected);
  }
  load::Finish(state, selected);
  return 1;
}

}  // namespace kv
