#include <gtest/gtest.h>

#include "model/Text.h"
#include "tests/view/ViewTestSupport.h"
#include "view/Layouts.h"

namespace kv {
namespace {

using test::D;
using test::J;
using test::Timed;

// h = 16, w = 8; seven columns of 100; the grid below the two text lines.
constexpr TextMetrics kM{16, 8};
constexpr Rect kArea{0, 0, 700, 632};

ViewState MonthState(int y, int m, DateTime selected) {
  ViewState st;
  st.DrawEnabled = 1;
  st.ViewMode = MonthMode;
  st.AnchorDate = D(y, m, 15);
  st.SelectedDate = selected;
  return st;
}

struct GridCase {
  const char* name;
  int y, m;
  int rows;
  DateTime first, last;
  int grey_cells;
};

class MonthGrid : public ::testing::TestWithParam<GridCase> {};

TEST_P(MonthGrid, CellsDatesAndGreyNeighbours) {
  const GridCase& c = GetParam();
  ViewState st = MonthState(c.y, c.m, D(c.y, c.m, 10));
  for (auto& cell : st.CellTable) cell.rect = Rect{5, 5, 9, 9};  // a previous drawing
  RecordingSurface s(kM);
  DrawMonthLayout(st, s, kArea, kM);

  const int rh = (632 - 32) / c.rows;
  // Dates walk from the Sunday on or before the 1st, one day per cell.
  const DateTime first_of_month = D(c.y, c.m, 1);
  const DateTime grid_start = first_of_month.AddDays(-(first_of_month.DayOfWeek() - 1));
  EXPECT_EQ(grid_start, c.first);
  int grey = 0;
  for (int r = 0; r < c.rows; ++r) {
    for (int col = 0; col < 7; ++col) {
      const DayCell& cell = st.CellTable[r * 7 + col];
      const Rect want{100 * col + 1, 32 + rh * r + 1, 100 * (col + 1), 32 + rh * (r + 1)};
      EXPECT_EQ(cell.rect, want) << r << "," << col;
      EXPECT_EQ(cell.date, grid_start.AddDays(r * 7 + col));
      const bool outside = cell.date.Month() != c.m;
      EXPECT_EQ(s.FindAt(SurfaceOp::Fill, want).size(), outside ? 1u : 0u) << r << "," << col;
      if (outside) {
        EXPECT_EQ(s.FindAt(SurfaceOp::Fill, want)[0].color, kGrey);
        ++grey;
      }
      // The day number sits at the cell's top left in black.
      bool number_found = false;
      for (const auto& t : s.FindAt(SurfaceOp::Text, want))
        number_found |= t.text == std::to_string(cell.date.Day()) && t.color == kBlack &&
                        t.align == TextAlign::Left;
      EXPECT_TRUE(number_found) << r << "," << col;
    }
  }
  EXPECT_EQ(grey, c.grey_cells);
  EXPECT_EQ(st.CellTable[c.rows * 7 - 1].date, c.last);
  // Entries past the grid were not written by this layout.
  for (int i = c.rows * 7; i < 44; ++i) EXPECT_EQ(st.CellTable[i].rect, (Rect{5, 5, 9, 9}));
}

INSTANTIATE_TEST_SUITE_P(
    Month, MonthGrid,
    ::testing::Values(GridCase{"february_2009_four_rows", 2009, 2, 4, D(2009, 2, 1), D(2009, 2, 28), 0},
                      GridCase{"march_2005_five_rows", 2005, 3, 5, D(2005, 2, 27), D(2005, 4, 2), 4},
                      GridCase{"january_2005_six_rows", 2005, 1, 6, D(2004, 12, 26), D(2005, 2, 5),
                               11}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MonthLayout, TitleHeaderAndSelectionFrame) {
  ViewState st = MonthState(2005, 3, D(2005, 3, 10));
  RecordingSurface s(kM);
  DrawMonthLayout(st, s, kArea, kM);

  const Rect title{0, 1, 700, 16};
  auto texts = s.FindAt(SurfaceOp::Text, title);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].text, J("2005年3月"));
  EXPECT_EQ(texts[0].color, kBlue);
  auto frames = s.FindAt(SurfaceOp::Frame, title);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].color, kWhite);
  EXPECT_EQ(frames[0].color2, kBlack);

  const char* names[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  for (int c = 0; c < 7; ++c) {
    const Rect r{100 * c + 1, 16, 100 * (c + 1), 32};
    ASSERT_EQ(s.FindAt(SurfaceOp::Fill, r).size(), 1u);
    EXPECT_EQ(s.FindAt(SurfaceOp::Fill, r)[0].color, kBlue);
    auto t = s.FindAt(SurfaceOp::Text, r);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].text, names[c]);
    EXPECT_EQ(t[0].color, kWhite);
    EXPECT_EQ(t[0].align, TextAlign::Center);
  }

  // 10 March 2005 is the Thursday of the second row: the only red frame.
  int red = 0;
  for (const auto& f : s.Find(SurfaceOp::Frame))
    if (f.color == kRed) {
      ++red;
      EXPECT_EQ(f.rect, st.CellTable[7 + 4].rect);
      EXPECT_EQ(f.color2, kRed);
    }
  EXPECT_EQ(red, 1);
  EXPECT_EQ(st.CellTable[11].date, D(2005, 3, 10));

  // Printing: the same cell gets the ordinary frame.
  RecordingSurface paper(kM, true);
  DrawMonthLayout(st, paper, kArea, kM);
  for (const auto& f : paper.Find(SurfaceOp::Frame)) EXPECT_NE(f.color, kRed);
  auto sel = paper.FindAt(SurfaceOp::Frame, st.CellTable[11].rect);
  ASSERT_EQ(sel.size(), 1u);
  EXPECT_EQ(sel[0].color, kWhite);
  EXPECT_EQ(sel[0].color2, kBlack);
}

// The text rectangle of line k in a March 2005 cell (rows of 120).
Rect Line(const ViewState& st, DateTime day, int k) {
  for (int i = 0; i < 42; ++i) {
    if (st.CellTable[i].date == day && !st.CellTable[i].rect.IsEmpty()) {
      const Rect& c = st.CellTable[i].rect;
      return Rect{c.left + 2, c.top + 16 * k, c.right - 2, c.top + 16 * (k + 1)};
    }
  }
  ADD_FAILURE() << "no cell for " << day.ToString();
  return Rect{};
}

TEST(MonthLayout, LabelsForFirstDaysContinuationsAndRules) {
  ViewState st = MonthState(2005, 3, D(2005, 3, 1));
  ScheduleItem across = Timed(J("会議"), D(2005, 3, 30, 10, 5), D(2005, 4, 1, 12), 0x0000FF);
  ScheduleItem month_long = Timed("long", D(2005, 3, 5, 8, 0), D(2005, 4, 5, 9, 0));
  ScheduleItem all_day = test::AllDay("trip", D(2005, 3, 13), D(2005, 3, 14));
  ScheduleItem weekly = test::MakeRule(2, 1, 1 << 3, 0, D(2005, 1, 1), D(2005, 12, 31, 23, 59),
                                       D(2004, 7, 1, 7, 30), D(2004, 7, 1, 8, 0));
  weekly.Subject = "wed";
  ScheduleItem yearly = test::MakeRule(5, 3, 21, 0, D(2000, 1, 1), D(2009, 12, 31, 23, 59),
                                       D(2000, 1, 1), D(2000, 1, 1, 23, 59, 59));
  yearly.Type = 1;
  yearly.Subject = "spring";
  st.VisibleItems = {month_long, all_day, weekly, yearly, across};
  RecordingSurface s(kM);
  DrawMonthLayout(st, s, kArea, kM);

  auto text_at = [&](const Rect& r) {
    auto t = s.FindAt(SurfaceOp::Text, r);
    return t.size() == 1 ? t[0].text : std::string("<none>");
  };
  // The long item is line 1 on every day from 5 March to 2 April.
  EXPECT_EQ(text_at(Line(st, D(2005, 3, 5), 1)), "08:00 long");
  EXPECT_EQ(text_at(Line(st, D(2005, 3, 6), 1)), "+ long");
  EXPECT_EQ(text_at(Line(st, D(2005, 3, 13), 2)), "trip");
  EXPECT_EQ(text_at(Line(st, D(2005, 3, 14), 2)), "+ trip");
  EXPECT_EQ(text_at(Line(st, D(2005, 3, 9), 2)), "07:30 wed");
  EXPECT_EQ(text_at(Line(st, D(2005, 3, 21), 2)), "spring");
  EXPECT_EQ(text_at(Line(st, D(2005, 3, 30), 3)), "10:05 " + J("会議"));
  EXPECT_EQ(text_at(Line(st, D(2005, 3, 31), 2)), "+ " + J("会議"));
  EXPECT_EQ(text_at(Line(st, D(2005, 4, 1), 2)), "+ " + J("会議"));
  EXPECT_EQ(s.FindAt(SurfaceOp::Text, Line(st, D(2005, 3, 30), 3))[0].color, 0x0000FFu);

  // One rectangle per cell drawn in, in drawing order.
  const ViewItem& a = st.VisibleItems[4];
  EXPECT_EQ(test::UsedSlots(a), 3);
  EXPECT_EQ(a.CellRects[0], Line(st, D(2005, 3, 30), 3));
  EXPECT_EQ(a.CellRects[1], Line(st, D(2005, 3, 31), 2));
  EXPECT_EQ(a.CellRects[2], Line(st, D(2005, 4, 1), 2));
  EXPECT_EQ(test::UsedSlots(st.VisibleItems[0]), 29);  // 5 March .. 2 April
  EXPECT_EQ(test::UsedSlots(st.VisibleItems[2]), 5);   // the five Wednesdays of the grid
}

TEST(MonthLayout, TimeLabelReturnsWhenOnlyTheDayOfMonthMatches) {
  ViewState st = MonthState(2005, 4, D(2005, 4, 1));
  st.VisibleItems = {Timed("x", D(2005, 3, 5, 9, 0), D(2005, 4, 5, 10, 0))};
  RecordingSurface s(kM);
  DrawMonthLayout(st, s, Rect{0, 0, 700, 632}, kM);
  // April 2005 has 5 rows of 120; 5 April is the Tuesday of row 1.
  const Rect& c = st.CellTable[9].rect;
  ASSERT_EQ(st.CellTable[9].date, D(2005, 4, 5));
  auto t = s.FindAt(SurfaceOp::Text, Rect{c.left + 2, c.top + 16, c.right - 2, c.top + 32});
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].text, "09:00 x");
}

TEST(MonthLayout, OverflowBarReplacesTheFirstItemThatDoesNotFit) {
  // Rows of 100: lines 1..4 fit (16 * 5 <= 93), the fifth gives the bar.
  ViewState st = MonthState(2005, 1, D(2005, 1, 3));
  for (int i = 0; i < 6; ++i)
    st.VisibleItems.push_back(Timed("i" + std::to_string(i), D(2005, 1, 12, 8 + i), D(2005, 1, 12, 9 + i)));
  st.VisibleItems.push_back(Timed("other day", D(2005, 1, 13, 8), D(2005, 1, 13, 9)));
  RecordingSurface s(kM);
  DrawMonthLayout(st, s, kArea, kM);

  const Rect& cell = st.CellTable[7 * 2 + 3].rect;  // Wednesday 12 January
  ASSERT_EQ(st.CellTable[17].date, D(2005, 1, 12));
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(test::UsedSlots(st.VisibleItems[i]), 1) << i;
    EXPECT_EQ(st.VisibleItems[i].CellRects[0],
              (Rect{cell.left + 2, cell.top + 16 * (i + 1), cell.right - 2, cell.top + 16 * (i + 2)}));
  }
  EXPECT_EQ(test::UsedSlots(st.VisibleItems[4]), 0);
  EXPECT_EQ(test::UsedSlots(st.VisibleItems[5]), 0);
  EXPECT_EQ(test::UsedSlots(st.VisibleItems[6]), 1);
  int bars = 0;
  for (const auto& f : s.Find(SurfaceOp::Fill))
    if (f.color == kYellow) {
      ++bars;
      EXPECT_EQ(f.rect, (Rect{cell.left + 1, cell.bottom - 6, cell.right - 1, cell.bottom - 1}));
    }
  EXPECT_EQ(bars, 1);
  EXPECT_TRUE(s.FindText("i4").empty());

  // Exactly four items fit: no bar.
  st.VisibleItems.resize(4);
  RecordingSurface s2(kM);
  DrawMonthLayout(st, s2, kArea, kM);
  for (const auto& f : s2.Find(SurfaceOp::Fill)) EXPECT_NE(f.color, kYellow);
}

TEST(MonthLayout, DeletedItemsAndStaleRectanglesLeaveNoTrace) {
  ViewState st = MonthState(2005, 3, D(2005, 3, 1));
  ViewItem gone = Timed("gone", D(2005, 3, 8, 9), D(2005, 3, 8, 10));
  gone.SyncFlag = SyncDeleted;
  gone.CellRects[3] = Rect{1, 1, 2, 2};
  st.VisibleItems = {gone};
  RecordingSurface s(kM);
  DrawMonthLayout(st, s, kArea, kM);
  EXPECT_EQ(test::UsedSlots(st.VisibleItems[0]), 0);
  EXPECT_TRUE(s.FindText("09:00 gone").empty());
}

}  // namespace
}  // namespace kv
