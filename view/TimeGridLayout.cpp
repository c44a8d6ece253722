#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "model/Recurrence.h"
#include "view/DayMarks.h"
#include "view/Layouts.h"

namespace kv {

namespace {

constexpr int kSlots = 48;

// Whether an item that does not occur on a whole day can be skipped for
// the half-hour slots of that day. It can for every rule except the
// monthly and yearly ones whose RepStart carries a time of day: those
// compare the window start with RepStart, and a slot start may pass where
// the day start does not.
bool DayTestCoversSlots(const ItemShape& it) {
  if (it.RepType < 3 || it.RepType > 6) return true;
  return !it.RepStart.IsValid() || it.RepStart.SecondsOfDay() == 0;
}

struct Column {
  DateTime date;
  CalendarDay day;
  // The slots' windows are counted from the date's instant even when the
  // date itself cannot be formed (a week reaching below year 100).
  CalendarDay slot_day;
  std::vector<int> on_day;  // items occurring on the day, array order
};

}  // namespace

void DrawTimeGridLayout(ViewState& state, Surface& s, const Rect& area, const TextMetrics& tm) {
  const int L = area.left, T = area.top, R = area.right, B = area.bottom;
  const int h = tm.h;
  const bool week = state.ViewMode != DayMode;
  const int n = week ? 7 : 1;
  auto& items = state.VisibleItems;
  const int count_items = static_cast<int>(items.size());
  // First of all: no rectangle of an earlier drawing stays selectable.
  for (auto& it : items) it.ClearCellRects();
  const DateTime S = state.SelectedDate;
  if (!S.IsValid()) return;  // no week to build around
  const int dow = DayOfWeekOf(S.Year(), S.Month(), S.Day());

  std::vector<Column> cols(n);
  for (int i = 0; i < n; ++i) {
    cols[i].date = week ? OffsetDayToDate(S.Year(), S.Month(), S.Day(), i - dow) : S.DateOnly();
    cols[i].day = CalendarDay::Of(cols[i].date);
    cols[i].slot_day = CalendarDay::Of(DateTime::FromLinearSeconds(cols[i].date.LinearSeconds()));
  }

  // Each item's rule is read once per paint; the day test is needed for
  // the all-day lanes and again for the slots, and is taken once per column.
  // Only the items that can meet some window of the shown days are asked
  // about each day, in array order.
  std::vector<OccurrenceTest> tests;
  tests.reserve(items.size());
  std::vector<int> shown;
  const bool dated =
      std::all_of(cols.begin(), cols.end(), [](const Column& c) { return c.date.IsValid(); });
  const DateTime first_day = cols.front().date, end_day = cols.back().date.AddDays(1);
  for (int j = 0; j < count_items; ++j) {
    tests.emplace_back(items[j]);
    if (!dated || tests.back().MayOccurOnDays(first_day, end_day)) shown.push_back(j);
  }
  // Timed items whose slots must be asked even on a day they miss.
  std::vector<int> off_day_slots;
  for (int j : shown)
    if (items[j].Type == 0 && !DayTestCoversSlots(items[j])) off_day_slots.push_back(j);
  int lanes = 1;
  for (auto& col : cols) {
    int all_day = 0;
    for (int j : shown) {
      if (!tests[j].OnDay(col.day)) continue;
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

  const int grid_top = T + h + lanes * h;
  state.SlotTop = grid_top;
  state.SlotHeight = h;
  state.SlotRows = rows;
  state.FirstSlot = 2 * first_hour;
  std::vector<int> slot_items;
  std::vector<uint64_t> slot_bits;
  for (int i = 0; i < n; ++i) {
    const Column& col = cols[i];
    const int left = L + tw + cw * i;
    const int right = left + cw;

    const Rect header{left, T, right, T + h};
    const int col_dow = week ? i : dow;
    const HeaderColors colors = HeaderColorsOf(state, col.date, col_dow);
    bool name_cut = false;
    s.FillRect(header, colors.fill);
    s.SetTextColor(colors.text);
    s.DrawText(HeaderLabel(state, s, col.date, col_dow, right - left, &name_cut), header,
               TextAlign::Center);
    s.Frame3D(header, kWhite, kBlack);
    state.Headings[i] = DayHeading{header, name_cut};

    s.Frame3D(Rect{left, T + h, right, T + h + lanes * h}, kWhite, kBlack);

    for (int r = 0; r < rows; ++r) {
      const Rect cell{left, grid_top + h * r, right, grid_top + h * (r + 1)};
      s.FillRect(cell, kIvory);
      s.Frame3D(cell, kWhite, kBlack);
    }

    state.CellTable[i] = DayCell{Rect{left, T, right, grid_top + h * rows}, col.date};

    int lane_j = 0;
    for (int j : col.on_day) {
      ViewItem& it = items[j];
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
      auto a = col.on_day.begin();
      auto b = off_day_slots.begin();
      while (a != col.on_day.end() || b != off_day_slots.end()) {
        int j;
        if (b == off_day_slots.end() || (a != col.on_day.end() && *a <= *b)) {
          j = *a++;
          if (b != off_day_slots.end() && *b == j) ++b;
          if (items[j].Type != 0) continue;
        } else {
          j = *b++;
        }
        slot_items.push_back(j);
      }
    }

    // Half-hour slots met by each of them; the counts and lanes only ever
    // look at the slots from FirstHour on.
    const int first_slot = 2 * first_hour;
    slot_bits.clear();
    std::array<int, kSlots> max_in{}, placed{};
    for (int j : slot_items) {
      const uint64_t bits = tests[j].HalfHours(col.slot_day, first_slot);
      slot_bits.push_back(bits);
      for (uint64_t b = bits; b; b &= b - 1) ++max_in[std::countr_zero(b)];
    }

    for (size_t q = 0; q < slot_items.size(); ++q) {
      ViewItem& it = items[slot_items[q]];
      const uint64_t bits = slot_bits[q];
      if (bits == 0) continue;
      int width = 0, lane = 0;
      for (uint64_t b = bits; b; b &= b - 1) {
        const int sl = std::countr_zero(b);
        width = std::max(width, max_in[sl]);
        lane = std::max(lane, ++placed[sl]);
      }
      const int count = std::popcount(bits);
      const int first = std::countr_zero(bits);
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
