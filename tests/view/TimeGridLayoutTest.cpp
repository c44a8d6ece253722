#include <gtest/gtest.h>

#include <random>

#include "model/Recurrence.h"
#include "tests/view/ViewTestSupport.h"
#include "view/Layouts.h"

namespace kv {
namespace {

using test::D;
using test::J;
using test::Timed;

// h = 16, w = 8: hour column 48, day columns of 100, 16 for the arrows.
constexpr TextMetrics kM{16, 8};
constexpr int kR = 764;
// With one all-day lane, B = 288 gives 16 half-hour rows.
constexpr Rect kArea{0, 0, kR, 288};

ViewState WeekState(DateTime selected, int first_hour = 9) {
  ViewState st;
  st.DrawEnabled = 1;
  st.ViewMode = WeekMode;
  st.SelectedDate = selected;
  st.AnchorDate = selected;
  st.FirstHour = first_hour;
  return st;
}

int ColLeft(int i) { return 48 + 100 * i; }

TEST(TimeGrid, OverlappingItemsShareTheColumnLongestFirst) {
  // Wednesday 9 March 2005 is column 3.
  ViewState st = WeekState(D(2005, 3, 9));
  st.VisibleItems = {Timed("long", D(2005, 3, 9, 10), D(2005, 3, 9, 12)),
                     Timed("short", D(2005, 3, 9, 11), D(2005, 3, 9, 11, 30)),
                     Timed("alone", D(2005, 3, 9, 14), D(2005, 3, 9, 15))};
  RecordingSurface s(kM);
  DrawTimeGridLayout(st, s, kArea, kM);

  const int left = ColLeft(3);
  // Grid top 32; 10:00 is two rows under 09:00; unit (100 - 4) / 2 = 48.
  EXPECT_EQ(st.VisibleItems[0].CellRects[0], (Rect{left + 2, 64, left + 50, 128}));
  EXPECT_EQ(st.VisibleItems[1].CellRects[0], (Rect{left + 50, 96, left + 98, 112}));
  // 14:00-15:00 meets slots 28 and 29 only: two rows, full width.
  EXPECT_EQ(st.VisibleItems[2].CellRects[0], (Rect{left + 2, 192, left + 98, 224}));
  for (const auto& it : st.VisibleItems) EXPECT_EQ(test::UsedSlots(it), 1) << it.Subject;

  const Rect box = st.VisibleItems[0].CellRects[0];
  ASSERT_EQ(s.FindAt(SurfaceOp::Fill, box).size(), 1u);
  EXPECT_EQ(s.FindAt(SurfaceOp::Fill, box)[0].color, kWhite);
  auto frame = s.FindAt(SurfaceOp::Frame, box);
  ASSERT_EQ(frame.size(), 1u);
  EXPECT_EQ(frame[0].color, kBlack);
  EXPECT_EQ(frame[0].color2, kBlack);
  ASSERT_EQ(s.FindAt(SurfaceOp::Text, box).size(), 1u);
  EXPECT_EQ(s.FindAt(SurfaceOp::Text, box)[0].text, "long");
}

TEST(TimeGrid, ThreeWayOverlapMovesLaterItemsRight) {
  ViewState st = WeekState(D(2005, 3, 9), 8);
  st.VisibleItems = {Timed("a", D(2005, 3, 9, 9), D(2005, 3, 9, 12)),
                     Timed("b", D(2005, 3, 9, 9), D(2005, 3, 9, 11)),
                     Timed("c", D(2005, 3, 9, 10), D(2005, 3, 9, 11)),
                     Timed("d", D(2005, 3, 9, 11), D(2005, 3, 9, 12))};
  RecordingSurface s(kM);
  DrawTimeGridLayout(st, s, kArea, kM);
  const int left = ColLeft(3);
  const int unit = 96 / 3;  // slots 20 and 21 hold a, b and c
  EXPECT_EQ(st.VisibleItems[0].CellRects[0], (Rect{left + 2, 64, left + 2 + unit, 160}));
  EXPECT_EQ(st.VisibleItems[1].CellRects[0], (Rect{left + 2 + unit, 64, left + 2 + 2 * unit, 128}));
  EXPECT_EQ(st.VisibleItems[2].CellRects[0],
            (Rect{left + 2 + 2 * unit, 96, left + 2 + 3 * unit, 128}));
  // d shares slots 22 and 23 with a only: width 2, lane 2.
  EXPECT_EQ(st.VisibleItems[3].CellRects[0], (Rect{left + 2 + 48, 128, left + 2 + 96, 160}));
}

TEST(TimeGrid, ItemsAroundFirstHourAndTheGridFoot) {
  ViewState st = WeekState(D(2005, 3, 9));
  st.VisibleItems = {Timed("cut", D(2005, 3, 9, 14), D(2005, 3, 9, 20)),
                     Timed("from before", D(2005, 3, 9, 8), D(2005, 3, 9, 10)),
                     Timed("before", D(2005, 3, 9, 7), D(2005, 3, 9, 8, 59, 59)),
                     Timed("below", D(2005, 3, 9, 17), D(2005, 3, 9, 18))};
  RecordingSurface s(kM);
  DrawTimeGridLayout(st, s, kArea, kM);
  const int left = ColLeft(3);
  // 16 rows: 09:00 .. 16:59; the foot of the grid is 32 + 16 * 16 = 288.
  // The hidden 17:00 item still shares slots with it, so it is half wide.
  EXPECT_EQ(st.VisibleItems[0].CellRects[0], (Rect{left + 2, 192, left + 50, 288}));
  EXPECT_EQ(st.VisibleItems[1].CellRects[0], (Rect{left + 2, 32, left + 98, 64}));
  EXPECT_EQ(test::UsedSlots(st.VisibleItems[2]), 0);
  EXPECT_EQ(test::UsedSlots(st.VisibleItems[3]), 0);
  EXPECT_TRUE(s.FindText("below").empty());
  EXPECT_TRUE(s.FindText("before").empty());
}

TEST(TimeGrid, HourRangeCorrection) {
  struct Case {
    const char* name;
    int bottom, first_hour;
    int want_first, want_rows;
  } cases[] = {
      {"odd rows rounded down", 288 + 16, 9, 9, 16},
      {"late first hour pulled back", 288, 20, 16, 16},
      {"exactly to hour 23", 288, 16, 16, 16},
      {"taller than a day", 32 + 16 * 60, 9, 0, 48},
      {"exactly a day", 32 + 16 * 48, 5, 0, 48},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ViewState st = WeekState(D(2005, 3, 9), c.first_hour);
    RecordingSurface s(kM);
    DrawTimeGridLayout(st, s, Rect{0, 0, kR, c.bottom}, kM);
    EXPECT_EQ(st.FirstHour, c.want_first);
    EXPECT_EQ(st.CellTable[0].rect, (Rect{48, 0, 148, 32 + 16 * c.want_rows}));
    // Hour labels: one per shown hour that exists, white and centred.
    int labels = 0;
    for (int k = 0; k < c.want_rows / 2 && k + c.want_first <= 23; ++k) {
      const Rect r{0, 32 + 32 * k, 48, 64 + 32 * k};
      auto t = s.FindAt(SurfaceOp::Text, r);
      ASSERT_EQ(t.size(), 1u) << k;
      EXPECT_EQ(t[0].text, std::to_string(k + c.want_first));
      EXPECT_EQ(t[0].color, kWhite);
      EXPECT_EQ(t[0].align, TextAlign::Center);
      ++labels;
    }
    EXPECT_EQ(labels, std::min(c.want_rows / 2, 24 - c.want_first));
    EXPECT_EQ(static_cast<int>(s.FindAt(SurfaceOp::Text, Rect{0, 32 + 32 * labels, 48,
                                                                64 + 32 * labels}).size()),
              0);
    // Ivory grid rows per column.
    int ivory = 0;
    for (const auto& f : s.Find(SurfaceOp::Fill)) ivory += f.color == kIvory;
    EXPECT_EQ(ivory, 7 * c.want_rows);
    // The down arrow sits on the last row, measured from the client top.
    EXPECT_EQ(st.CellTable[kDownArrowCell].rect,
              (Rect{kR - 16, (1 + c.want_rows) * 16, kR, (1 + c.want_rows) * 16 + 16}));
  }
  // Too small for a row: an empty grid, no crash.
  ViewState st = WeekState(D(2005, 3, 9));
  st.VisibleItems = {Timed("x", D(2005, 3, 9, 9), D(2005, 3, 9, 10))};
  RecordingSurface s(kM);
  DrawTimeGridLayout(st, s, Rect{0, 0, kR, 20}, kM);
  EXPECT_EQ(test::UsedSlots(st.VisibleItems[0]), 0);
}

TEST(TimeGrid, WeekAcrossTheYearEndWithAllDayLanes) {
  ViewState st = WeekState(D(2004, 12, 29));
  st.VisibleItems = {test::AllDay("eve", D(2004, 12, 31), D(2005, 1, 1)),
                     test::AllDay(J("元日"), D(2005, 1, 1), D(2005, 1, 1)),
                     test::AllDay("sun", D(2004, 12, 26), D(2004, 12, 26)),
                     Timed("t", D(2005, 1, 1, 10), D(2005, 1, 1, 11))};
  RecordingSurface s(kM);
  // Two lanes: the grid starts at 48; B = 304 keeps 16 rows.
  DrawTimeGridLayout(st, s, Rect{0, 0, kR, 304}, kM);

  const DateTime want_dates[] = {D(2004, 12, 26), D(2004, 12, 27), D(2004, 12, 28), D(2004, 12, 29),
                                 D(2004, 12, 30), D(2004, 12, 31), D(2005, 1, 1)};
  const char* heads[] = {"26 Sun", "27 Mon", "28 Tue", "29 Wed", "30 Thu", "31 Fri", "1 Sat"};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(st.CellTable[i].date, want_dates[i]);
    EXPECT_EQ(st.CellTable[i].rect, (Rect{ColLeft(i), 0, ColLeft(i) + 100, 48 + 16 * 16}));
    auto t = s.FindAt(SurfaceOp::Text, Rect{ColLeft(i), 0, ColLeft(i) + 100, 16});
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].text, heads[i]);
    // The all-day band spans both lanes.
    EXPECT_EQ(s.FindAt(SurfaceOp::Frame, Rect{ColLeft(i), 16, ColLeft(i) + 100, 48}).size(), 1u);
  }
  auto corner = s.FindAt(SurfaceOp::Text, Rect{0, 0, 48, 48});
  ASSERT_EQ(corner.size(), 1u);
  EXPECT_EQ(corner[0].text, J("2004年\n12月"));
  EXPECT_EQ(corner[0].color, kBlue);

  const int l6 = ColLeft(6);
  EXPECT_EQ(st.VisibleItems[0].CellRects[0], (Rect{ColLeft(5) + 1, 16, ColLeft(5) + 99, 32}));
  EXPECT_EQ(st.VisibleItems[0].CellRects[1], (Rect{l6 + 1, 16, l6 + 99, 32}));
  EXPECT_EQ(st.VisibleItems[1].CellRects[0], (Rect{l6 + 1, 32, l6 + 99, 48}));
  EXPECT_EQ(st.VisibleItems[2].CellRects[0], (Rect{ColLeft(0) + 1, 16, ColLeft(0) + 99, 32}));
  // 10:00 is two rows below 09:00 under the taller band.
  EXPECT_EQ(st.VisibleItems[3].CellRects[0], (Rect{l6 + 2, 80, l6 + 98, 112}));

  // The selected Wednesday's column is framed red, once.
  int red = 0;
  for (const auto& f : s.Find(SurfaceOp::Frame))
    if (f.color == kRed) {
      ++red;
      EXPECT_EQ(f.rect, st.CellTable[3].rect);
    }
  EXPECT_EQ(red, 1);
}

TEST(TimeGrid, DayModeOneColumnOwnWeekdayNoRedFrame) {
  ViewState st = WeekState(D(2005, 3, 9));
  st.ViewMode = DayMode;
  st.VisibleItems = {Timed("a", D(2005, 3, 9, 10), D(2005, 3, 9, 11))};
  RecordingSurface s(kM);
  DrawTimeGridLayout(st, s, kArea, kM);
  // cw = 764 - 48 - 16 = 700.
  EXPECT_EQ(st.CellTable[0].rect, (Rect{48, 0, 748, 288}));
  EXPECT_EQ(st.CellTable[0].date, D(2005, 3, 9));
  auto head = s.FindAt(SurfaceOp::Text, Rect{48, 0, 748, 16});
  ASSERT_EQ(head.size(), 1u);
  EXPECT_EQ(head[0].text, "9 Wed");
  auto corner = s.FindAt(SurfaceOp::Text, Rect{0, 0, 48, 32});
  ASSERT_EQ(corner.size(), 1u);
  EXPECT_EQ(corner[0].text, J("2005年\n3月"));
  EXPECT_EQ(st.VisibleItems[0].CellRects[0], (Rect{50, 64, 50 + 696, 96}));
  for (const auto& f : s.Find(SurfaceOp::Frame)) EXPECT_NE(f.color, kRed);
}

TEST(TimeGrid, PrintingDrawsNoArrowsAndKeepsTheirCells) {
  ViewState st = WeekState(D(2005, 3, 9));
  RecordingSurface screen(kM);
  DrawTimeGridLayout(st, screen, kArea, kM);
  auto bitmaps = screen.Find(SurfaceOp::Bitmap);
  ASSERT_EQ(bitmaps.size(), 2u);
  EXPECT_EQ(bitmaps[0].id, 142);
  EXPECT_EQ(bitmaps[0].rect, (Rect{kR - 16, 32, kR, 48}));
  EXPECT_EQ(bitmaps[1].id, 143);
  EXPECT_EQ(bitmaps[1].rect, (Rect{kR - 16, 272, kR, 288}));
  EXPECT_EQ(st.CellTable[kUpArrowCell].rect, bitmaps[0].rect);
  EXPECT_EQ(st.CellTable[kDownArrowCell].rect, bitmaps[1].rect);

  // A page in another place: the arrows' cells keep the screen rectangles.
  RecordingSurface paper(kM, true);
  DrawTimeGridLayout(st, paper, Rect{0, 0, 1500, 2000}, kM);
  EXPECT_TRUE(paper.Find(SurfaceOp::Bitmap).empty());
  EXPECT_EQ(st.CellTable[kUpArrowCell].rect, bitmaps[0].rect);
  EXPECT_EQ(st.CellTable[kDownArrowCell].rect, bitmaps[1].rect);
  for (const auto& f : paper.Find(SurfaceOp::Frame)) EXPECT_NE(f.color, kRed);
}

// The lane and box rules transcribed slot by slot, without the day test
// that the layout uses to skip items: the oracle for the placement.
std::vector<std::vector<Rect>> OracleBoxes(const std::vector<ScheduleItem>& items,
                                          const std::vector<DateTime>& cols, int first_hour,
                                          int rows, int lanes) {
  std::vector<std::vector<Rect>> out(items.size());
  for (size_t i = 0; i < cols.size(); ++i) {
    const int left = 48 + 100 * static_cast<int>(i), right = left + 100;
    int max[48] = {}, start[48] = {};
    auto occ = [&](const ScheduleItem& it, int sl) {
      const DateTime from = DateTime::FromParts(cols[i].Year(), cols[i].Month(), cols[i].Day(),
                                                sl / 2, 30 * (sl % 2), 0);
      const DateTime to = DateTime::FromParts(cols[i].Year(), cols[i].Month(), cols[i].Day(),
                                              sl / 2, 30 * (sl % 2) + 29, 59);
      return it.Type == 0 && Occurs(it, from, to);
    };
    for (const auto& it : items)
      for (int sl = 0; sl < 48; ++sl)
        if (occ(it, sl)) ++max[sl];
    for (size_t j = 0; j < items.size(); ++j) {
      int count = 0, width = 0, first = 48, lane = 0;
      for (int sl = 2 * first_hour; sl <= 47; ++sl) {
        if (!occ(items[j], sl)) continue;
        width = std::max(width, max[sl]);
        ++start[sl];
        lane = std::max(lane, start[sl]);
        ++count;
        first = std::min(first, sl);
      }
      if (width == 0) continue;
      const int rel = first - 2 * first_hour;
      if (rel >= rows) continue;
      const int unit = (right - left - 4) / width;
      const int bl = left + 2 + unit * (lane - 1);
      const int top = 16 + 16 * lanes + 16 * rel;
      const int bottom = rel + count <= rows ? top + 16 * count : top + 16 * (rows - rel);
      out[j].push_back(Rect{bl, top, bl + unit, bottom});
    }
  }
  return out;
}

TEST(TimeGrid, PlacementMatchesTheSlotBySlotRuleForRandomItems) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 40; ++round) {
    ViewState st = WeekState(D(2005, 3, 9), static_cast<int>(rng() % 12));
    std::vector<ScheduleItem> items;
    const int n = 5 + static_cast<int>(rng() % 25);
    for (int k = 0; k < n; ++k) {
      const DateTime start = D(2005, 3, 5).AddSeconds(int64_t(rng() % (9 * 86400 / 900)) * 900);
      const DateTime end = start.AddSeconds(int64_t(rng() % 40) * 900 + (rng() % 3 == 0 ? 1 : 0));
      ScheduleItem it = Timed("r" + std::to_string(k), start, end);
      const int type = static_cast<int>(rng() % 7);
      if (type != 0) {
        it.RepType = type;
        it.RepX = type >= 5 ? 3 : 1 + static_cast<int>(rng() % 2);
        it.RepY = type == 2 ? static_cast<int>(rng() % 128) : 1 + static_cast<int>(rng() % 12);
        if (type == 4 || type == 6) it.RepY = 1 + static_cast<int>(rng() % 5);
        it.RepZ = 1 + static_cast<int>(rng() % 10);
        // Ranges that begin inside the shown week, some at a time of day.
        it.RepStart = D(2005, 3, 1 + static_cast<int>(rng() % 14)).AddSeconds(
            rng() % 2 ? int64_t(rng() % 48) * 1800 : 0);
        it.RepEnd = D(2005, 3, 8 + static_cast<int>(rng() % 10), 23, 59);
      }
      if (rng() % 10 == 0) it.Type = 1;
      if (rng() % 15 == 0) it.SyncFlag = SyncDeleted;
      items.push_back(it);
    }
    SortItems(items, WeekMode);
    st.VisibleItems = items;
    RecordingSurface s(kM);
    const int bottom = 200 + static_cast<int>(rng() % 700);
    DrawTimeGridLayout(st, s, Rect{0, 0, kR, bottom}, kM);

    int lanes = 1;
    std::vector<DateTime> cols;
    for (int i = 0; i < 7; ++i) cols.push_back(D(2005, 3, 6 + i));
    for (const auto& c : cols) {
      int all_day = 0;
      for (const auto& it : items) all_day += it.Type == 1 && Occurs(it, c, c.AddDays(1));
      lanes = std::max(lanes, all_day);
    }
    const int rows = (st.CellTable[0].rect.bottom - 16 - 16 * lanes) / 16;
    const auto want = OracleBoxes(items, cols, st.FirstHour, rows, lanes);
    for (size_t j = 0; j < items.size(); ++j) {
      if (items[j].Type != 0) continue;
      std::vector<Rect> got;
      for (const auto& r : st.VisibleItems[j].CellRects)
        if (!r.IsEmpty()) got.push_back(r);
      ASSERT_EQ(got, want[j]) << "round " << round << " item " << j;
    }
  }
}

}  // namespace
}  // namespace kv
