#include "view/StoreLoad.h"

#include "model/Clock.h"
#include "view/LoadSteps.h"

namespace kv {

namespace {

void MakeRoom(std::vector<ViewItem>& list, int64_t rows) {
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
  // Room for every row at once: growing by steps would move each item
  // several times and touch twice the memory.
  MakeRoom(state.VisibleItems, store.CountRowsNear(window.start, window.end));
  if (horizon.IsValid()) MakeRoom(state.AlarmCandidates, store.CountAlarmedRows());
  // Shapes only: the texts nobody draws stay in the file.
  const bool read =
      store.ReadShapesNear(window.start, window.end,
                           [&](ItemShape& row, ItemStore::Bookmark at, bool runs) {
                             if (load::Visible(row, window))
                               state.VisibleItems.emplace_back(std::move(row), at, runs);
                           }) &&
      (!horizon.IsValid() ||
       store.ReadAlarmedShapes([&](ItemShape& row, ItemStore::Bookmark at, bool runs) {
         if (load::AlarmDue(row, horizon)) state.AlarmCandidates.emplace_back(std::move(row), at, runs);
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

std::optional<ScheduleItem> WholeItem(const ViewItem& item, ItemStore& store) {
  if (item.Whole) return static_cast<ScheduleItem>(item);
  ScheduleItem whole;
  if (item.Row != 0 && store.ReadItemAt(item.Row, item.Index, whole) == 1) return whole;
  return std::nullopt;
}

}  // namespace kv
