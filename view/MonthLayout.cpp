#include <string>
#include <vector>

#include "model/Recurrence.h"
#include "view/DayMarks.h"
#include "view/Layouts.h"
#include "view/Texts.h"

namespace kv {

namespace {

std::string YearMonthTitle(int y, int m, const char* between) {
  static const std::string nen = Cp932("年");
  static const std::string tsuki = Cp932("月");
  return std::to_string(y) + nen + between + std::to_string(m) + tsuki;
}

}  // namespace

std::string YearMonthText(int y, int m) { return YearMonthTitle(y, m, ""); }
std::string YearMonthTwoLines(int y, int m) { return YearMonthTitle(y, m, "\n"); }

void DrawMonthLayout(ViewState& state, Surface& s, const Rect& area, const TextMetrics& tm) {
  const int L = area.left, T = area.top, R = area.right, B = area.bottom;
  const int h = tm.h;
  // First of all: no rectangle of an earlier drawing stays selectable.
  for (auto& it : state.VisibleItems) it.ClearCellRects();
  if (!state.AnchorDate.IsValid()) return;  // no month to show
  const int Y = state.AnchorDate.Year();
  const int M = state.AnchorDate.Month();

  const int cw = (R - L) / 7;
  const int rows = WeekRowsInMonth(Y, M);
  const int rh = rows > 0 ? (B - T - 2 * h) / rows : 0;

  const Rect title{L, T + 1, R, T + h};
  s.SetTextColor(kBlue);
  s.Frame3D(title, kWhite, kBlack);
  s.DrawText(YearMonthText(Y, M), title, TextAlign::Left);
  s.SetTextColor(kWhite);

  for (int c = 0; c < 7; ++c) {
    const Rect r{L + cw * c + 1, T + h, L + cw * (c + 1), T + 2 * h};
    const HeaderColors colors = HeaderColorsOf(state, DateTime::Invalid(), c);
    s.FillRect(r, colors.fill);
    if (state.ShowHolidays) s.SetTextColor(colors.text);
    s.DrawText(WeekdayName(c), r, TextAlign::Center);
  }

  const bool printing = s.IsPrinting();
  const int month_len = DaysInMonth(Y, M);
  int d = 1 - DayOfWeekOf(Y, M, 1);

  // Each rule is read once per paint, and a cell asks only the items that
  // can occur somewhere on the page, in array order.
  auto& items = state.VisibleItems;
  std::vector<OccurrenceTest> tests;
  tests.reserve(items.size());
  std::vector<int> shown;
  const DateTime page_first = GridDayToDate(Y, M, d);
  const DateTime page_end = GridDayToDate(Y, M, d + 7 * rows);
  for (size_t j = 0; j < items.size(); ++j) {
    tests.emplace_back(items[j]);
    if (tests.back().MayOccurOnDays(page_first, page_end))
      shown.push_back(static_cast<int>(j));
  }

  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < 7; ++c, ++d) {
      const DateTime D = GridDayToDate(Y, M, d);
      const DateTime N = GridDayToDate(Y, M, d + 1);
      const Rect cell{L + cw * c + 1, T + 2 * h + rh * r + 1, L + cw * (c + 1),
                      T + 2 * h + rh * (r + 1)};
      if (d < 1 || d > month_len) s.FillRect(cell, kGrey);
      if (D == state.SelectedDate && !printing)
        s.Frame3D(cell, kRed, kRed);
      else
        s.Frame3D(cell, kWhite, kBlack);
      state.CellTable[r * 7 + c] = DayCell{cell, D};

      DrawDayNumber(state, s, r * 7 + c, cell, D, c, tm);

      // A day whose next day cannot be formed keeps the plain test.
      const bool whole_day = N == D.AddDays(1);
      const CalendarDay day = CalendarDay::Of(D);
      int k = 1;
      for (int j : shown) {
        ViewItem& item = items[j];
        if (!(whole_day ? tests[j].OnDay(day) : Occurs(item, D, N))) continue;
        const Rect text{cell.left + 2, cell.top + h * k, cell.right - 2, cell.top + h * (k + 1)};
        if (text.bottom > cell.bottom - 6) {
          s.FillRect(Rect{cell.left + 1, cell.bottom - 6, cell.right - 1, cell.bottom - 1}, kYellow);
          break;
        }
        s.SetTextColor(item.Color);
        s.DrawText(ItemLabel(item, item.Subject, D), text, TextAlign::Left);
        item.AddCellRect(text);
        ++k;
      }
    }
  }
}

}  // namespace kv
