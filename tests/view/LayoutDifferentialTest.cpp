// The month and time-grid layouts against their rules transcribed
// literally: every day and every half-hour slot asked of every item with
// Occurs. Random rules of all kinds, pages and drawing areas; the surface's
// calls, the day cells, FirstHour and every item's rectangles must agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "model/Recurrence.h"
#include "tests/support/RuleGen.h"
#include "tests/view/ViewTestSupport.h"
#include "view/Layouts.h"
#include "view/Texts.h"

namespace kv {
namespace {

using test::D;

// ---- the oracles ----

void OracleMonth(ViewState& state, Surface& s, const Rect& area, const TextMetrics& tm) {
  const int L = area.left, T = area.top, R = area.right, B = area.bottom;
  const int h = tm.h;
  for (auto& it : state.VisibleItems) it.ClearCellRects();
  if (!state.AnchorDate.IsValid()) return;
  const int Y = state.AnchorDate.Year(), M = state.AnchorDate.Month();
  const int cw = (R - L) / 7;
  const int rows = WeekRowsInMonth(Y, M);
  const int rh = (B - T - 2 * h) / rows;
  const Rect title{L, T + 1, R, T + h};
  s.SetTextColor(kBlue);
  s.Frame3D(title, kWhite, kBlack);
  s.DrawText(YearMonthText(Y, M), title, TextAlign::Left);
  s.SetTextColor(kWhite);
  for (int c = 0; c < 7; ++c) {
    const Rect r{L + cw * c + 1, T + h, L + cw * (c + 1), T + 2 * h};
    s.FillRect(r, kBlue);
    s.DrawText(WeekdayName(c), r, TextAlign::Center);
  }
  int d = 1 - DayOfWeekOf(Y, M, 1);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < 7; ++c, ++d) {
      const DateTime day = GridDayToDate(Y, M, d), next = GridDayToDate(Y, M, d + 1);
      const Rect cell{L + cw * c + 1, T + 2 * h + rh * r + 1, L + cw * (c + 1), T + 2 * h + rh * (r + 1)};
      if (d < 1 || d > DaysInMonth(Y, M)) s.FillRect(cell, kGrey);
      if (day == state.SelectedDate && !s.IsPrinting())
        s.Frame3D(cell, kRed, kRed);
      else
        s.Frame3D(cell, kWhite, kBlack);
      state.CellTable[r * 7 + c] = DayCell{cell, day};
      s.SetTextColor(kBlack);
      s.DrawText(std::to_string(day.Day()), cell, TextAlign::Left);
      int k = 1;
      for (auto& item : state.VisibleItems) {
        if (!Occurs(item, day, next)) continue;
        const Rect text{cell.left + 2, cell.top + h * k, cell.right - 2, cell.top + h * (k + 1)};
        if (text.bottom > cell.bottom - 6) {
          s.FillRect(Rect{cell.left + 1, cell.bottom - 6, cell.right - 1, cell.bottom - 1}, kYellow);
          break;
        }
        s.SetTextColor(item.Color);
        s.DrawText(ItemLabel(item, item.Subject, day), text, TextAlign::Left);
        item.AddCellRect(text);
        ++k;
      }
    }
  }
}

void OracleTimeGrid(ViewState& state, Surface& s, const Rect& area, const TextMetrics& tm) {
  const int L = area.left, T = area.top, R = area.right, B = area.bottom;
  const int h = tm.h;
  const bool week = state.ViewMode != DayMode;
  const int n = week ? 7 : 1;
  auto& items = state.VisibleItems;
  for (auto& it : items) it.ClearCellRects();
  const DateTime S = state.SelectedDate;
  if (!S.IsValid()) return;
  const int dow = DayOfWeekOf(S.Year(), S.Month(), S.Day());
  std::vector<DateTime> date(n);
  for (int i = 0; i < n; ++i)
    date[i] = week ? OffsetDayToDate(S.Year(), S.Month(), S.Day(), i - dow) : S.DateOnly();
  auto slot = [&](const ScheduleItem& it, const DateTime& day, int sl) {
    const DateTime from = day.AddSeconds(sl * 1800);
    return it.Type == 0 && Occurs(it, from, from.AddSeconds(1799));
  };

  int lanes = 1;
  for (int i = 0; i < n; ++i) {
    int all_day = 0;
    for (const auto& it : items) all_day += it.Type == 1 && Occurs(it, date[i], date[i].AddDays(1));
    lanes = std::max(lanes, all_day);
  }
  const int tw = 6 * tm.w;
  const int cw = (R - L - tw - 16) / n;
  int rows = (B - T - (lanes + 1) * h) / h;
  const Rect corner{L, T, tw, T + (lanes + 1) * h};
  s.Frame3D(corner, kWhite, kBlack);
  s.SetTextColor(kBlue);
  s.DrawText(YearMonthTwoLines(date[0].Year(), date[0].Month()), corner, TextAlign::Left);
  rows = (rows / 2) * 2;
  if (rows / 2 + state.FirstHour >= 24) {
    state.FirstHour = 24 - rows / 2;
    if (state.FirstHour < 0) {
      state.FirstHour = 0;
      rows = 48;
    }
  }
  const int fh = state.FirstHour;
  s.SetTextColor(kWhite);
  int y = T + (lanes + 1) * h;
  for (int k = 0; k < rows / 2 && k + fh <= 23; ++k) {
    const Rect r{L, y, L + tw, y + 2 * h};
    s.FillRect(r, kBlue);
    s.Frame3D(r, kWhite, kBlack);
    s.DrawText(std::to_string(k + fh), r, TextAlign::Center);
    y += 2 * h;
  }
  if (!s.IsPrinting()) {
    const int up = (lanes + 1) * h, down = (lanes + rows) * h;
    s.DrawBitmap(kUpArrowBitmap, R - 16, up, 16, 16);
    state.CellTable[kUpArrowCell].rect = Rect{R - 16, up, R, up + 16};
    s.DrawBitmap(kDownArrowBitmap, R - 16, down, 16, 16);
    state.CellTable[kDownArrowCell].rect = Rect{R - 16, down, R, down + 16};
  }
  const int grid_top = T + h + lanes * h;
  for (int i = 0; i < n; ++i) {
    const int left = L + tw + cw * i, right = left + cw;
    const Rect header{left, T, right, T + h};
    s.FillRect(header, kBlue);
    s.SetTextColor(kWhite);
    s.DrawText(std::to_string(date[i].Day()) + " " + WeekdayName(week ? i : dow), header,
               TextAlign::Center);
    s.Frame3D(header, kWhite, kBlack);
    s.Frame3D(Rect{left, T + h, right, T + h + lanes * h}, kWhite, kBlack);
    for (int r = 0; r < rows; ++r) {
      const Rect cell{left, grid_top + h * r, right, grid_top + h * (r + 1)};
      s.FillRect(cell, kIvory);
      s.Frame3D(cell, kWhite, kBlack);
    }
    state.CellTable[i] = DayCell{Rect{left, T, right, grid_top + h * rows}, date[i]};
    int j = 0;
    for (auto& it : items) {
      if (it.Type != 1 || !Occurs(it, date[i], date[i].AddDays(1))) continue;
      const Rect r{left + 1, T + h + h * j, right - 1, T + h + h * (j + 1)};
      s.SetTextColor(it.Color);
      s.DrawText(it.Subject, r, TextAlign::Left);
      it.AddCellRect(r);
      ++j;
    }
    int max[48] = {}, start[48] = {};
    for (const auto& it : items)
      for (int sl = 0; sl < 48; ++sl) max[sl] += slot(it, date[i], sl);
    for (auto& it : items) {
      int count = 0, width = 0, first = 48, lane = 0;
      for (int sl = 2 * fh; sl <= 47; ++sl) {
        if (!slot(it, date[i], sl)) continue;
        width = std::max(width, max[sl]);
        ++start[sl];
        lane = std::max(lane, start[sl]);
        ++count;
        first = std::min(first, sl);
      }
      if (width == 0) continue;
      const int rel = first - 2 * fh;
      if (rel >= rows) continue;
      const int unit = (right - left - 4) / width;
      const int bl = left + 2 + unit * (lane - 1);
      const int top = grid_top + h * rel;
      const int bottom = rel + count <= rows ? top + h * count : top + h * (rows - rel);
      const Rect box{bl, top, bl + unit, bottom};
      s.FillRect(box, kWhite);
      s.SetTextColor(it.Color);
      s.DrawText(it.Subject, box, TextAlign::Left);
      s.Frame3D(box, kBlack, kBlack);
      it.AddCellRect(box);
    }
  }
  if (week && !s.IsPrinting()) s.Frame3D(state.CellTable[dow].rect, kRed, kRed);
}

// ---- random pages ----

std::string Describe(const SurfaceOp& op) {
  std::ostringstream o;
  o << "kind " << op.kind << " rect " << op.rect.left << "," << op.rect.top << "," << op.rect.right
    << "," << op.rect.bottom << " colours " << op.color << "/" << op.color2 << " text '" << op.text
    << "' align " << static_cast<int>(op.align) << " id " << op.id;
  return o.str();
}

void ExpectSameDrawing(const RecordingSurface& want, const RecordingSurface& got,
                       const ViewState& ws, const ViewState& gs, const std::string& where) {
  ASSERT_EQ(got.ops().size(), want.ops().size()) << where;
  for (size_t i = 0; i < want.ops().size(); ++i)
    ASSERT_EQ(Describe(got.ops()[i]), Describe(want.ops()[i])) << where << " op " << i;
  for (int c = 0; c < kCellTableSize; ++c) {
    ASSERT_EQ(gs.CellTable[c].rect, ws.CellTable[c].rect) << where << " cell " << c;
    // Invalid dates never compare equal: status and instant.
    ASSERT_EQ(gs.CellTable[c].date.GetStatus(), ws.CellTable[c].date.GetStatus()) << where << " cell " << c;
    ASSERT_EQ(gs.CellTable[c].date.LinearSeconds(), ws.CellTable[c].date.LinearSeconds())
        << where << " cell " << c;
  }
  ASSERT_EQ(gs.FirstHour, ws.FirstHour) << where;
  ASSERT_EQ(gs.VisibleItems.size(), ws.VisibleItems.size());
  for (size_t j = 0; j < ws.VisibleItems.size(); ++j)
    ASSERT_EQ(gs.VisibleItems[j].CellRects, ws.VisibleItems[j].CellRects) << where << " item " << j;
}

// Items around `page` (the first shown day): rules of every kind whose
// range and times fall near it, one-off items crossing days and the first
// hour, all-day items, and many on the same hours so that lanes overlap.
std::vector<ScheduleItem> ItemsNear(test::RuleGen& g, const DateTime& page, int days) {
  std::vector<ScheduleItem> items;
  const int n = g.Chance(15) ? g.Int(0, 3) : g.Int(5, 70);
  for (int k = 0; k < n; ++k) {
    ScheduleItem it = g.Item();
    const int start_day = g.Int(-2, days + 1);
    if (it.RepType == 0 || g.Chance(20)) {
      // A one-off item (or a rule's first day) on or near the page.
      const DateTime from = page.AddDays(start_day).AddSeconds(
          g.Chance(60) ? 1800 * g.Int(0, 47) : g.TimeOfDay());
      it.Start = from;
      it.End = from.AddSeconds(g.Chance(10) ? 0 : (g.Chance(15) ? 86400 * g.Int(1, 3) : 0) +
                                                        (g.Chance(50) ? 1800 * g.Int(1, 8)
                                                                      : g.Int(1, 20000)));
      if (g.Chance(3)) it.End = it.Start.AddSeconds(-g.Int(1, 7200));
    }
    if (it.RepType != 0 && it.RepStart.IsValid()) {
      // The rule runs over the page, began some time before it, perhaps
      // at a time of day, and may end inside it.
      it.RepStart = page.AddDays(-g.Int(0, g.Chance(50) ? 40 : 800));
      if (g.Chance(25)) it.RepStart = it.RepStart.AddSeconds(g.Chance(50) ? 1800 * g.Int(0, 47) : g.TimeOfDay());
      if (g.Chance(10)) it.RepStart = page.AddDays(g.Int(0, days)).AddSeconds(g.TimeOfDay());
      if (it.RepEnd.IsValid()) {
        it.RepEnd = page.AddDays(g.Chance(70) ? days + g.Int(0, 60) : g.Int(-5, days))
                        .AddSeconds(g.Chance(70) ? 23 * 3600 + 59 * 60 : g.TimeOfDay());
      }
      if (it.RepType == 3 || it.RepType == 5) it.RepY = g.Chance(70) ? page.AddDays(g.Int(0, days)).Day() : g.Int(-1, 32);
      if (it.RepType == 5 || it.RepType == 6) it.RepX = g.Chance(80) ? page.AddDays(g.Int(0, days)).Month() : g.Int(-1, 13);
    }
    const int type = g.Int(0, 99);
    it.Type = type < 75 ? 0 : type < 97 ? 1 : 2;
    it.Subject = "s" + std::to_string(k);
    it.Color = static_cast<uint32_t>(g.Int(0, 0xFFFFFF));
    items.push_back(it);
  }
  return items;
}

struct Page {
  ViewState state;
  Rect area;
  TextMetrics metrics;
  bool printing;
};

Page RandomPage(test::RuleGen& g, int mode) {
  Page p;
  p.state.DrawEnabled = 1;
  p.state.ViewMode = mode;
  // Often a week over a month's or a year's end.
  DateTime day = g.Chance(30) ? D(g.Int(1995, 2030), 12, g.Int(24, 31)).AddDays(g.Int(0, 9))
                              : g.Day(1990, 2035).AddDays(g.Int(0, 3));
  p.state.SelectedDate = day;
  p.state.AnchorDate = g.Chance(80) ? day : day.AddDays(g.Int(-40, 40));
  p.state.FirstHour = g.Chance(10) ? g.Int(20, 30) : g.Int(0, 23);
  p.metrics = TextMetrics{g.Int(8, 24), g.Int(4, 12)};
  const int left = g.Int(0, 30), top = g.Int(0, 30);
  p.area = Rect{left, top, left + (g.Chance(10) ? g.Int(10, 200) : g.Int(300, 1600)),
                top + (g.Chance(10) ? g.Int(5, 120) : g.Int(150, 1400))};
  p.printing = g.Chance(20);
  // What an earlier drawing left behind must not survive.
  for (auto& c : p.state.CellTable) c.rect = Rect{1, 2, 3, 4};
  return p;
}

void Prepare(test::RuleGen& g, Page& p, const DateTime& first_shown, int days) {
  p.state.VisibleItems = ItemsNear(g, first_shown, days);
  if (g.Chance(80)) SortItems(p.state.VisibleItems, p.state.ViewMode);
  for (auto& it : p.state.VisibleItems)
    if (g.Chance(30)) it.CellRects[g.Int(0, kCellRectSlots - 1)] = Rect{5, 6, 7, 8};
  if (g.Chance(5) && !p.state.VisibleItems.empty()) p.state.SelectedDate = DateTime::Invalid();
}

// The page drawn by the oracle into `want` and `ws`, and by the layout,
// compared.
void DrawBothWays(const Page& p, const std::string& where, ViewState& want, RecordingSurface& ws) {
  want = p.state;
  ViewState got = p.state;
  RecordingSurface gs(p.metrics, p.printing);
  if (p.state.ViewMode == MonthMode) {
    OracleMonth(want, ws, p.area, p.metrics);
    DrawMonthLayout(got, gs, p.area, p.metrics);
  } else {
    OracleTimeGrid(want, ws, p.area, p.metrics);
    DrawTimeGridLayout(got, gs, p.area, p.metrics);
  }
  ExpectSameDrawing(ws, gs, want, got, where);
}

TEST(LayoutDifferential, TimeGridMatchesTheSlotBySlotRules) {
  test::RuleGen g(20050309);
  int boxes = 0, lanes_over_one = 0, cut_rule_slots = 0;
  for (int round = 0; round < 1500; ++round) {
    Page p = RandomPage(g, g.Chance(25) ? DayMode : WeekMode);
    const DateTime s = p.state.SelectedDate;
    const int dow = DayOfWeekOf(s.Year(), s.Month(), s.Day());
    const bool week = p.state.ViewMode == WeekMode;
    Prepare(g, p, week ? s.AddDays(-dow) : s, week ? 7 : 1);
    ViewState want;
    RecordingSurface ws(p.metrics, p.printing);
    DrawBothWays(p, "round " + std::to_string(round), want, ws);
    if (HasFatalFailure()) return;
    for (const auto& it : want.VisibleItems) {
      const int drawn = test::UsedSlots(it);
      boxes += drawn;
      // A rule whose range starts at a time of day, drawn from that slot.
      if (drawn && it.Type == 0 && it.RepType >= 3 && it.RepStart.IsValid() &&
          it.RepStart.SecondsOfDay() != 0)
        ++cut_rule_slots;
    }
    for (const auto& op : ws.ops())
      if (op.kind == SurfaceOp::Fill && op.color == kWhite && op.rect.right - op.rect.left < 50 &&
          op.rect.right > op.rect.left)
        ++lanes_over_one;
  }
  // The pages must have drawn plenty, shared columns, and the rules that
  // the day test alone would miss.
  EXPECT_GT(boxes, 5000);
  EXPECT_GT(lanes_over_one, 500);
  EXPECT_GT(cut_rule_slots, 20);
}

TEST(LayoutDifferential, MonthMatchesTheDayByDayRules) {
  test::RuleGen g(20041231);
  int labels = 0, bars = 0;
  for (int round = 0; round < 1500; ++round) {
    Page p = RandomPage(g, MonthMode);
    if (g.Chance(3)) p.state.AnchorDate = DateTime::Invalid();
    const DateTime a = p.state.AnchorDate.IsValid() ? p.state.AnchorDate : D(2005, 3, 1);
    const DateTime first = GridDayToDate(a.Year(), a.Month(), 1 - DayOfWeekOf(a.Year(), a.Month(), 1));
    Prepare(g, p, first, 42);
    ViewState want;
    RecordingSurface ws(p.metrics, p.printing);
    DrawBothWays(p, "round " + std::to_string(round), want, ws);
    if (HasFatalFailure()) return;
    for (const auto& it : want.VisibleItems) labels += test::UsedSlots(it);
    for (const auto& op : ws.Find(SurfaceOp::Fill)) bars += op.color == kYellow;
  }
  // Labels, and cells too full for all of theirs.
  EXPECT_GT(labels, 5000);
  EXPECT_GT(bars, 300);
}

// Through the paint frame, for the dates at the ends of what a date can
// hold, where the next day or the first of the week cannot be formed.
TEST(LayoutDifferential, PagesAtTheEndsOfTheCalendar) {
  test::RuleGen g(9999);
  for (int round = 0; round < 120; ++round) {
    const int mode = round % 3;
    Page p = RandomPage(g, mode);
    const DateTime day = round % 2 ? D(9999, 12, 25).AddDays(g.Int(0, 6)) : D(100, 1, 1).AddDays(g.Int(0, 6));
    p.state.SelectedDate = p.state.AnchorDate = day;
    Prepare(g, p, day.AddDays(-7), 14);
    p.state.SelectedDate = day;
    ViewState want;
    RecordingSurface ws(p.metrics, p.printing);
    DrawBothWays(p, "round " + std::to_string(round), want, ws);
    if (HasFatalFailure()) return;
  }
}

}  // namespace
}  // namespace kv
