#include "view/Layouts.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <tuple>
#include <vector>

#include "model/Clock.h"
#include "view/DayMarks.h"
#include "view/Texts.h"

namespace kv {

const char* WeekdayName(int dow) {
  static const char* const kNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  return (dow >= 0 && dow < 7) ? kNames[dow] : "";
}

std::string ItemLabel(const ItemShape& item, const std::string& shown_text,
                      const DateTime& day) {
  const bool first_day = item.Start.Day() == day.Day();
  if (item.RepType == 0 && !first_day) return "+ " + shown_text;
  if (item.Type != 0) return shown_text;
  char hm[16];
  std::snprintf(hm, sizeof hm, "%02d:%02d ", item.Start.Hour(), item.Start.Minute());
  return hm + shown_text;
}

namespace {

// Today's day number on a tinted band in the month view, today's column
// header in orange in the week and day views. Drawn over the layout from
// its day cells, so no rectangle of a cell or an item moves.
void MarkToday(ViewState& state, Surface& s, const TextMetrics& m) {
  const DateTime today = Now().DateOnly();
  if (!today.IsValid()) return;
  const bool month = state.ViewMode == MonthMode;
  const int cells = month ? kDayCells : state.ViewMode == WeekMode ? 7 : 1;
  for (int i = 0; i < cells; ++i) {
    const DayCell& c = state.CellTable[i];
    if (c.rect.IsEmpty() || c.date != today) continue;
    const Rect& r = c.rect;
    const int dow = DayOfWeekOf(today.Year(), today.Month(), today.Day());
    if (month) {
      // The day's own colour and holiday name stay readable on the band.
      const Rect band{r.left + 1, r.top + 1, r.right - 1, std::min(r.top + m.h, r.bottom - 1)};
      s.FillRect(band, kTodayTint);
      DrawDayNumber(state, s, i, r, today, dow, m);
    } else {
      // White on orange, the holiday name included: red would not read there.
      const Rect header{r.left, r.top, r.right, r.top + m.h};
      s.FillRect(Rect{header.left + 1, header.top + 1, header.right - 1, header.bottom - 1},
                 kTodayHeader);
      s.SetTextColor(kWhite);
      s.DrawText(HeaderLabel(state, s, today, dow, header.right - header.left), header,
                 TextAlign::Center);
    }
  }
}

// On paper the frame's white top and left edges vanish: the page's outer
// lines are drawn in black around the title, the headers and every cell.
void FramePage(const ViewState& state, Surface& s, const Rect& area) {
  const int cells = state.ViewMode == MonthMode ? kDayCells : state.ViewMode == WeekMode ? 7 : 1;
  int right = area.left, bottom = area.top;
  for (int i = 0; i < cells; ++i) {
    const Rect& r = state.CellTable[i].rect;
    if (r.IsEmpty()) continue;
    right = std::max<int>(right, r.right);
    bottom = std::max<int>(bottom, r.bottom);
  }
  if (right == area.left || bottom == area.top) return;
  const int top = state.ViewMode == MonthMode ? area.top + 1 : area.top;
  s.Frame3D(Rect{area.left, top, right, bottom}, kBlack, kBlack);
}

}  // namespace

void PaintView(ViewState& state, Surface& s, const Rect& area_given, ViewHost& host,
               OtherUsersLayout* other_users) {
  if (state.DrawEnabled == 0) return;
  const bool printing = s.IsPrinting();
  Rect area = area_given;
  // A month page as wide as its seven columns: the title's frame then
  // ends where the grid does.
  if (printing && state.ViewMode == MonthMode)
    area.right = area.left + (area.right - area.left) / 7 * 7;
  const TextMetrics m = s.Metrics();
  s.SetTransparentBackground();
  for (int i = 0; i < kDayCells; ++i) state.CellTable[i].rect = Rect{};
  state.Headings = {};
  state.InvertedRect = Rect{};
  state.SlotRows = 0;
  // Rectangles describe this drawing only: an item drawn in another mode,
  // or before a layout gave up on an invalid date, must not stay selectable.
  // The month and time-grid layouts clear the own items first thing
  // themselves; twice would cost a second pass over every item.
  const bool clears_own = state.ViewMode == MonthMode || state.ViewMode == WeekMode ||
                          state.ViewMode == DayMode;
  if (!clears_own)
    for (auto& it : state.VisibleItems) it.ClearCellRects();
  for (auto& it : state.ReferenceItems) it.ClearCellRects();

  switch (state.ViewMode) {
    case MonthMode:
      DrawMonthLayout(state, s, area, m);
      break;
    case WeekMode:
    case DayMode:
      DrawTimeGridLayout(state, s, area, m);
      break;
    case OtherUsersMode:
      if (other_users)
        other_users->Draw(state, s, area, m);
      else
        DrawOtherUsersLayout(state, s, area, m);
      break;
    default:
      break;
  }
  if (state.ViewMode != OtherUsersMode) MarkToday(state, s, m);
  if (printing && state.ViewMode != OtherUsersMode) FramePage(state, s, area);

  if (!printing) {
    if (const ViewItem* sel = state.SelectedOwnItem()) {
      const Rect& first = sel->CellRects[0];
      if (!first.IsEmpty()) {
        s.InvertRect(first);
        state.InvertedRect = first;
      }
    }
  }
  host.SetStatusText(1, state.Online == 1 ? "Online" : "Offline");
}

namespace {

using Rects = CellRectList;

std::vector<Rects> SaveRects(const std::vector<ViewItem>& items) {
  std::vector<Rects> out;
  out.reserve(items.size());
  for (const auto& it : items) out.push_back(it.CellRects);
  return out;
}

bool RestoreRects(std::vector<ViewItem>& items, const std::vector<Rects>& saved) {
  if (items.size() != saved.size()) return false;
  for (size_t i = 0; i < items.size(); ++i) items[i].CellRects = saved[i];
  return true;
}

}  // namespace

void PrintView(ViewState& state, Surface& page, const Rect& area, ViewHost& host,
               OtherUsersLayout* other_users) {
  const auto cells = state.CellTable;
  const auto headings = state.Headings;
  const Rect inverted = state.InvertedRect;
  const int first_hour = state.FirstHour;
  const int slot_top = state.SlotTop, slot_height = state.SlotHeight, slot_rows = state.SlotRows,
            first_slot = state.FirstSlot;
  const auto own = SaveRects(state.VisibleItems);
  const auto refs = SaveRects(state.ReferenceItems);
  std::vector<std::pair<int32_t, int32_t>> rows;
  for (const auto& u : state.ReferenceUsers) rows.emplace_back(u.RowTop, u.RowBottom);

  PaintView(state, page, area, host, other_users);

  state.CellTable = cells;
  state.Headings = headings;
  state.InvertedRect = inverted;
  state.FirstHour = first_hour;
  state.SlotTop = slot_top;
  state.SlotHeight = slot_height;
  state.SlotRows = slot_rows;
  state.FirstSlot = first_slot;
  bool same = RestoreRects(state.VisibleItems, own) && RestoreRects(state.ReferenceItems, refs);
  if (state.ReferenceUsers.size() == rows.size()) {
    for (size_t i = 0; i < rows.size(); ++i)
      std::tie(state.ReferenceUsers[i].RowTop, state.ReferenceUsers[i].RowBottom) = rows[i];
  } else {
    same = false;
  }
  if (!same) host.RequestRepaint(true);
}

}  // namespace kv
