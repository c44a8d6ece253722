#include "view/ViewState.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "model/Clock.h"
#include "view/LoadSteps.h"

namespace kv {

ViewState ViewState::Initial() {
  ViewState s;
  const DateTime today = Now().DateOnly();
  s.SelectedDate = today;
  s.AnchorDate = today;
  return s;
}

ViewItem* ViewState::SelectedOwnItem() {
  if (OwnSelection < 0 || OwnSelection >= static_cast<int>(VisibleItems.size())) return nullptr;
  return &VisibleItems[OwnSelection];
}
const ViewItem* ViewState::SelectedOwnItem() const {
  return const_cast<ViewState*>(this)->SelectedOwnItem();
}
const ViewItem* ViewState::SelectedReferenceItem() const {
  if (ReferenceSelection < 0 || ReferenceSelection >= static_cast<int>(ReferenceItems.size()))
    return nullptr;
  return &ReferenceItems[ReferenceSelection];
}

int CompareItems(const ItemShape& a, const ItemShape& b, int view_mode) {
  if (view_mode == MonthMode) {
    if (a.Start < b.Start) return -1;
    if (a.Start > b.Start) return 1;
    return 0;
  }
  // A span of an invalid date would be computed from its raw count.
  if (!a.Start.IsValid() || !a.End.IsValid() || !b.Start.IsValid() || !b.End.IsValid()) return 0;
  const DateSpan da = a.End - a.Start;
  const DateSpan db = b.End - b.Start;
  if (da > db) return -1;
  if (db > da) return 1;
  return 0;
}

namespace {

// The key CompareItems orders by, when it can be formed.
std::optional<int64_t> SortKey(const ItemShape& it, int view_mode) {
  if (view_mode == MonthMode) {
    if (!it.Start.IsValid()) return std::nullopt;
    return it.Start.LinearSeconds();
  }
  if (!it.Start.IsValid() || !it.End.IsValid()) return std::nullopt;
  return -(it.End.LinearSeconds() - it.Start.LinearSeconds());
}

template <class Item>
void SortBy(std::vector<Item>& items, int view_mode) {
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
  // order[n] is the old place of the item that goes to place n. Applied
  // in place, cycle by cycle: a second list of large items would cost as
  // much as the load itself.
  std::vector<size_t> order;
  order.reserve(items.size());
  for (const auto& [k, i] : keyed) order.push_back(i);
  order.insert(order.end(), unkeyed.begin(), unkeyed.end());
  for (size_t start = 0; start < order.size(); ++start) {
    if (order[start] == start) continue;
    Item held = std::move(items[start]);
    size_t to = start;
    while (order[to] != start) {
      const size_t from = order[to];
      items[to] = std::move(items[from]);
      order[to] = to;
      to = from;
    }
    items[to] = std::move(held);
    order[to] = to;
  }
}

}  // namespace

void SortItems(std::vector<ScheduleItem>& items, int view_mode) { SortBy(items, view_mode); }
void SortItems(std::vector<ViewItem>& items, int view_mode) { SortBy(items, view_mode); }

namespace load {

Window WindowOf(const ViewState& state) {
  const int y = state.AnchorDate.Year();
  const int m = state.AnchorDate.Month();
  return {PrevMonthAnchor(y, m), NextMonthAnchor(y, m)};
}

bool Visible(const ItemShape& row, const Window& w) {
  return row.RepType != 0 || (row.Start < w.end && row.End >= w.start);
}

DateTime AlarmHorizon(const DateTime& now) {
  return now.IsValid() ? now.AddSeconds(2 * 3600) : DateTime::Invalid();
}

bool AlarmDue(const ItemShape& row, const DateTime& horizon) {
  // Shifting an invalid Start would give a valid 1899 date: no alarm.
  return horizon.IsValid() && row.Alarm >= 0 && row.Start.IsValid() &&
         row.Start.AddSeconds(-int64_t{row.Alarm}) < horizon;
}

std::optional<DateTime> SelectedIndex(const ViewState& state) {
  if (const ViewItem* it = state.SelectedOwnItem()) return it->Index;
  return std::nullopt;
}

void Finish(ViewState& state, const std::optional<DateTime>& selected) {
  SortItems(state.VisibleItems, state.ViewMode);
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
}

}  // namespace load

int load::FromRows(ViewState& state, ItemRows& rows, const std::optional<DateTime>& selected) {
  const load::Window window = load::WindowOf(state);
  state.VisibleItems.clear();
  ScheduleItem row;
  for (int ok = rows.ReadFirstItem(row); ok; ok = rows.ReadNextItem(row)) {
    if (load::Visible(row, window)) state.VisibleItems.emplace_back(row);
  }
  state.AlarmCandidates.clear();
  const DateTime horizon = load::AlarmHorizon(Now());
  for (int ok = rows.ReadFirstItem(row); ok && horizon.IsValid(); ok = rows.ReadNextItem(row)) {
    if (load::AlarmDue(row, horizon)) state.AlarmCandidates.emplace_back(row);
  }
  load::Finish(state, selected);
  return 1;
}

int LoadVisibleItems(ViewState& state, ItemRows& rows) {
  return load::FromRows(state, rows, load::SelectedIndex(state));
}

}  // namespace kv
