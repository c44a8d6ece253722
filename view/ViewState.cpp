#include "view/ViewState.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "model/Clock.h"

namespace kv {

ViewState ViewState::Initial() {
  ViewState s;
  const DateTime today = Now().DateOnly();
  s.SelectedDate = today;
  s.AnchorDate = today;
  return s;
}

ScheduleItem* ViewState::SelectedOwnItem() {
  if (OwnSelection < 0 || OwnSelection >= static_cast<int>(VisibleItems.size())) return nullptr;
  return &VisibleItems[OwnSelection];
}
const ScheduleItem* ViewState::SelectedOwnItem() const {
  return const_cast<ViewState*>(this)->SelectedOwnItem();
}
const ScheduleItem* ViewState::SelectedReferenceItem() const {
  if (ReferenceSelection < 0 || ReferenceSelection >= static_cast<int>(ReferenceItems.size()))
    return nullptr;
  return &ReferenceItems[ReferenceSelection];
}

int CompareItems(const ScheduleItem& a, const ScheduleItem& b, int view_mode) {
  if (view_mode == MonthMode) {
    if (a.Start < b.Start) return -1;
    if (a.Start > b.Start) return 1;
    return 0;
  }
  const DateSpan da = a.End - a.Start;
  const DateSpan db = b.End - b.Start;
  if (da > db) return -1;
  if (db > da) return 1;
  return 0;
}

namespace {

// The key CompareItems orders by, when it can be formed.
std::optional<int64_t> SortKey(const ScheduleItem& it, int view_mode) {
  if (view_mode == MonthMode) {
    if (!it.Start.IsValid()) return std::nullopt;
    return it.Start.LinearSeconds();
  }
  if (!it.Start.IsValid() || !it.End.IsValid()) return std::nullopt;
  return -(it.End.LinearSeconds() - it.Start.LinearSeconds());
}

}  // namespace

void SortItems(std::vector<ScheduleItem>& items, int view_mode) {
  std::vector<std::pair<int64_t, size_t>> keyed;
  std::vector<size_t> unkeyed;
  keyed.reserve(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    if (auto k = SortKey(items[i], view_mode))
      keyed.emplace_back(*k, i);
    else
      unkeyed.push_back(i);
  }
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ScheduleItem> out;
  out.reserve(items.size());
  for (const auto& [k, i] : keyed) out.push_back(std::move(items[i]));
  for (size_t i : unkeyed) out.push_back(std::move(items[i]));
  items = std::move(out);
}

int LoadVisibleItems(ViewState& state, ItemRows& rows) {
  std::optional<DateTime> selected;
  if (const ScheduleItem* it = state.SelectedOwnItem()) selected = it->Index;

  state.VisibleItems.clear();
  const int y = state.AnchorDate.Year();
  const int m = state.AnchorDate.Month();
  const DateTime window_start = PrevMonthAnchor(y, m);
  const DateTime window_end = NextMonthAnchor(y, m);

  ScheduleItem row;
  for (int ok = rows.ReadFirstItem(row); ok; ok = rows.ReadNextItem(row)) {
    row.ClearCellRects();
    if (row.RepType != 0 || (row.Start < window_end && row.End >= window_start))
      state.VisibleItems.push_back(row);
  }
  SortItems(state.VisibleItems, state.ViewMode);

  state.AlarmCandidates.clear();
  const DateTime now = Now();
  const DateTime horizon = now.AddSeconds(2 * 3600);
  for (int ok = rows.ReadFirstItem(row); ok && now.IsValid(); ok = rows.ReadNextItem(row)) {
    // Shifting an invalid Start would give a valid 1899 date: no alarm.
    if (row.Alarm >= 0 && row.Start.IsValid() &&
        row.Start.AddSeconds(-int64_t{row.Alarm}) < horizon) {
      row.ClearCellRects();
      state.AlarmCandidates.push_back(row);
    }
  }
  SortItems(state.AlarmCandidates, state.ViewMode);

  if (selected) {
    state.OwnSelection = -1;
    for (size_t i = 0; i < state.VisibleItems.size(); ++i) {
      if (state.VisibleItems[i].Index == *selected) {
        state.OwnSelection = static_cast<int>(i);
        break;
      }
    }
  }
  return 1;
}

}  // namespace kv
