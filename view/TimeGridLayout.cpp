#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "model/Recurrence.h"
#include "view/Layouts.h"

namespace kv {

namespace {

constexpr int kSlots = 48;

// Whether an item that does not occur on a whole day can be skipped for
// the half-hour slots of that day. It can for every rule except the
// monthly and yearly ones whose RepStart carries a time of day: those
// compare the window start with RepStart, and a slot start may pass where
// the day start does not.
bool DayTestCoversSlots(const ScheduleItem& it) {
  if (it.RepType < 3 || it.RepType > 6) return true;
  return !it.RepStart.IsValid() || it.RepStart.SecondsOfDay() == 0;
}

struct Column {
  DateTime date;
  DateTime next;
  std::vector<int> on_day;  // items occurring on the day, array order
};

}  // namespace

void DrawTimeGridLayout(ViewState& state, Surface& s, const Rect& area, const TextMetrics& tm) {
  const int L = area.left, T = area.top, R = area.right, B = area.bottom;
  const int h = tm.h;
  const bool week = state.ViewMode != DayMode;
  const int n = week ? 7 : 1;
  const DateTime S = state.SelectedDate;
  if (!S.IsValid()) return;  // no week to build around
  const int dow = DayOfWeekOf(S.Year(), S.Month(), S.Day());
  auto& items = state.VisibleItems;
  const int count_items = static_cast<int>(items.size());

  std::vector<Column> cols(n);
  for (int i = 0; i < n; ++i) {
    cols[i].date = week ? OffsetDayToDate(S.Year(), S.Month(), S.Day(), i - dow) : S.DateOnly();
    cols[i].next = cols[i].date.AddDays(1);
  }

  // The day test of each item is needed for the all-day lanes and again
  // for the slots; it is taken once per column.
  int lanes = 1;
  for (auto& col : cols) {
    int all_day = 0;
    for (int j = 0; j < count_items; ++j) {
      if (!Occurs(items[j], col.date, col.next)) continue;
      col.on_day.push_back(j);
      if (items[j].Type == 1) ++all_day;
    }
    lanes = std::max(lanes, all_day);
  }

  const int tw = 6 * tm.w;
  const int cw = (R - L - tw - 16) / n;
  int rows = h > 0 ? (B - T - (lanes + 1) * h) / h : 0;

  const Rect corner{L, T, tw, T + (lanes + 1) * h};
  s.Frame3D(corner, kWhite, kBlack);
  s.SetTextColor(kBlue);
  s.DrawText(YearMonthTwoLines(cols[0].date.Year(), cols[0].date.Month()), corner,
             TextAlign::Left);

  rows = (rows / 2) * 2;
  if (rows / 2 + state.FirstHour >= 24) {
    state.FirstHour = 24 - rows / 2;
    if (state.FirstHour < 0) {
      state.FirstHour = 0;
      rows = 48;
    }
  }
  const int first_hour = state.FirstHour;

  s.SetTextColor(kWhite);
  int y = T + (lanes + 1) * h;
  for (int k = 0; k < rows / 2 && k + first_hour <= 23; ++k) {
    const Rect r{L, y, L + tw, y + 2 * h};
    s.FillRect(r, kBlue);
    s.Frame3D(r, kWhite, kBlack);
    s.DrawText(std::to_string(k + first_hour), r, TextAlign::Center);
    y += 2 * h;
  }

  if (!s.IsPrinting()) {
    const int up_y = (lanes + 1) * h;
    const int down_y = (lanes + rows) * h;
    s.DrawBitmap(kUpArrowBitmap, R - kArrowSize, up_y, kArrowSize, kArrowSize);
    state.CellTable[kUpArrowCell].rect = Rect{R - kArrowSize, up_y, R, up_y + kArrowSize};
    s.DrawBitmap(kDownArrowBitmap, R - kArrowSize, down_y, kArrowSize, kArrowSize);
    state.CellTable[kDownArrowCell].rect = Rect{R - kArrowSize, down_y, R, down_y + kArrowSize};
  }

  for (auto& it : items) it.ClearCellRects();

  const int grid_top = T + h + lanes * h;
  std::vector<int> slot_items;
  for (int i = 0; i < n; ++i) {
    const Column& col = cols[i];
    const int left = L + tw + cw * i;
    const int right = left + cw;

    const Rect header{left, T, right, T + h};
    s.FillRect(header, kBlue);
    s.SetTextColor(kWhite);
    s.DrawText(std::to_string(col.date.Day()) + " " + WeekdayName(week ? i : dow), header,
               TextAlign::Center);
    s.Frame3D(header, kWhite, kBlack);

    s.Frame3D(Rect{left, T + h, right, T + h + lanes * h}, kWhite, kBlack);

    for (int r = 0; r < rows; ++r) {
      const Rect cell{left, grid_top + h * r, right, grid_top + h * (r + 1)};
      s.FillRect(cell, kIvory);
      s.Frame3D(cell, kWhite, kBlack);
    }

    state.CellTable[i] = DayCell{Rect{left, T, right, grid_top + h * rows}, col.date};

    int lane_j = 0;
    for (int j : col.on_day) {
      ScheduleItem& it = items[j];
      if (it.Type != 1) continue;
      const Rect r{left + 1, T + h + h * lane_j, right - 1, T + h + h * (lane_j + 1)};
      s.SetTextColor(it.Color);
      s.DrawText(it.Subject, r, TextAlign::Left);
      it.AddCellRect(r);
      ++lane_j;
    }

    // Timed items that can meet a slot of this day, in array order.
    slot_items.clear();
    {
      size_t p = 0;
      for (int j = 0; j < count_items; ++j) {
        const bool on_day = p < col.on_day.size() && col.on_day[p] == j;
        if (on_day) ++p;
        if (items[j].Type != 0) continue;
        if (on_day || !DayTestCoversSlots(items[j])) slot_items.push_back(j);
      }
    }

    // occupied[q * 48 + s]: item slot_items[q] meets slot s.
    std::vector<uint8_t> occupied(slot_items.size() * kSlots, 0);
    std::array<int, kSlots> max_in{}, placed{};
    for (size_t q = 0; q < slot_items.size(); ++q) {
      const ScheduleItem& it = items[slot_items[q]];
      for (int sl = 0; sl < kSlots; ++sl) {
        const DateTime from = col.date.AddSeconds(sl * 1800);
        const DateTime to = from.AddSeconds(1799);
        if (Occurs(it, from, to)) {
          occupied[q * kSlots + sl] = 1;
          ++max_in[sl];
        }
      }
    }

    for (size_t q = 0; q < slot_items.size(); ++q) {
      ScheduleItem& it = items[slot_items[q]];
      int count = 0, width = 0, first = kSlots, lane = 0;
      for (int sl = 2 * first_hour; sl < kSlots; ++sl) {
        if (!occupied[q * kSlots + sl]) continue;
        width = std::max(width, max_in[sl]);
        ++placed[sl];
        lane = std::max(lane, placed[sl]);
        ++count;
        first = std::min(first, sl);
      }
      if (width == 0) continue;
      const int rel = first - 2 * first_hour;
      if (rel >= rows) continue;
      const int unit = (right - left - 4) / width;
      const int box_left = left + 2 + unit * (lane - 1);
      const int box_top = grid_top + h * rel;
      const int box_bottom = rel + count <= rows ? box_top + h * count : box_top + h * (rows - rel);
      const Rect box{box_left, box_top, box_left + unit, box_bottom};
      s.FillRect(box, kWhite);
      s.SetTextColor(it.Color);
      s.DrawText(it.Subject, box, TextAlign::Left);
      s.Frame3D(box, kBlack, kBlack);
      it.AddCellRect(box);
    }
  }

  if (week && !s.IsPrinting()) s.Frame3D(state.CellTable[dow].rect, kRed, kRed);
}

}  // namespace kv
