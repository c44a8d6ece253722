// A printed page draws what a plain printing paint draws, and leaves the
// screen's hit-testing state as the screen paint left it.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/view/ViewTestSupport.h"
#include "view/HitTest.h"
#include "view/Layouts.h"

namespace kv {
namespace {

using test::D;

ViewState Scene(int mode) {
  ViewState st;
  st.DrawEnabled = 1;
  st.ViewMode = mode;
  st.SelectedDate = st.AnchorDate = D(2005, 3, 9);
  st.FirstHour = 9;
  st.VisibleItems = {test::Timed("long", D(2005, 3, 9, 10), D(2005, 3, 9, 12)),
                     test::Timed("short", D(2005, 3, 9, 11), D(2005, 3, 9, 11, 30)),
                     test::Timed("other day", D(2005, 3, 11, 14), D(2005, 3, 11, 15)),
                     test::AllDay("holiday", D(2005, 3, 10), D(2005, 3, 10))};
  SortItems(st.VisibleItems, mode);
  return st;
}

// Users' rows as the other users' layout would write them; the page's
// paint writes different ones.
class RowWriter final : public OtherUsersLayout {
 public:
  int height = 0;
  bool grow = false;
  void Draw(ViewState& st, Surface& s, const Rect& area, const TextMetrics& m) override {
    for (size_t i = 0; i < st.ReferenceUsers.size(); ++i) {
      st.ReferenceUsers[i].RowTop = area.top + static_cast<int>(i) * (area.bottom / 4);
      st.ReferenceUsers[i].RowBottom = st.ReferenceUsers[i].RowTop + area.bottom / 4;
    }
    for (auto& it : st.ReferenceItems) {
      it.ClearCellRects();
      it.AddCellRect(Rect{area.left, area.top, area.right / 2, area.top + m.h});
    }
    s.FillRect(Rect{0, 0, 10, 10}, kBlue);
    if (grow) st.ReferenceItems.push_back(ScheduleItem{});
  }
};

struct Snapshot {
  std::array<DayCell, kCellTableSize> cells;
  std::vector<CellRectList> own, refs;
  std::vector<std::pair<int, int>> rows;
  Rect inverted;
  int first_hour;
  explicit Snapshot(const ViewState& st) : cells(st.CellTable), inverted(st.InvertedRect), first_hour(st.FirstHour) {
    for (const auto& it : st.VisibleItems) own.push_back(it.CellRects);
    for (const auto& it : st.ReferenceItems) refs.push_back(it.CellRects);
    for (const auto& u : st.ReferenceUsers) rows.emplace_back(u.RowTop, u.RowBottom);
  }
  void ExpectSame(const ViewState& st) const {
    for (int i = 0; i < kCellTableSize; ++i) {
      EXPECT_EQ(st.CellTable[i].rect, cells[i].rect) << "cell " << i;
      EXPECT_EQ(st.CellTable[i].date, cells[i].date) << "cell " << i;
    }
    ASSERT_EQ(st.VisibleItems.size(), own.size());
    for (size_t i = 0; i < own.size(); ++i) EXPECT_EQ(st.VisibleItems[i].CellRects, own[i]) << i;
    for (size_t i = 0; i < refs.size(); ++i) EXPECT_EQ(st.ReferenceItems[i].CellRects, refs[i]) << i;
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(st.ReferenceUsers[i].RowTop, rows[i].first);
      EXPECT_EQ(st.ReferenceUsers[i].RowBottom, rows[i].second);
    }
    EXPECT_EQ(st.InvertedRect, inverted);
    EXPECT_EQ(st.FirstHour, first_hour);
  }
};

TEST(PrintView, ThePageDrawsTheLayoutAndTheScreenKeepsItsRectangles) {
  for (int mode : {MonthMode, WeekMode, DayMode}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    ViewState st = Scene(mode);
    test::FakeHost host;
    RecordingSurface screen({16, 8});
    const Rect window{0, 0, 640, 300};  // 9 o'clock stays the first hour
    PaintView(st, screen, window, host);
    // Select the long item through the hit testing, as a click would.
    const Rect hit = st.VisibleItems[0].Subject == "long" ? st.VisibleItems[0].CellRects[0]
                                                          : st.VisibleItems[1].CellRects[0];
    ASSERT_FALSE(hit.IsEmpty());
    OnPress(st, screen, host, hit.left + 1, hit.top + 1);
    ASSERT_GE(st.OwnSelection, 0);
    ASSERT_EQ(st.FirstHour, 9);
    const Snapshot before(st);

    // A tall page: the time grid shows all 24 hours, cells are larger.
    RecordingSurface page({16, 8}, true);
    const Rect paper{0, 0, 1100, 1600};
    PrintView(st, page, paper, host);
    before.ExpectSame(st);

    // The page holds what a plain printing paint of the same state gives.
    ViewState plain = st;
    RecordingSurface expected({16, 8}, true);
    PaintView(plain, expected, paper, host);
    EXPECT_GT(expected.ops().size(), 20u);
    ASSERT_EQ(page.ops().size(), expected.ops().size());
    for (size_t i = 0; i < page.ops().size(); ++i) {
      EXPECT_EQ(page.ops()[i].kind, expected.ops()[i].kind) << i;
      EXPECT_EQ(page.ops()[i].rect, expected.ops()[i].rect) << i;
      EXPECT_EQ(page.ops()[i].text, expected.ops()[i].text) << i;
    }
    EXPECT_TRUE(page.Find(SurfaceOp::Invert).empty());
    if (mode != MonthMode) {
      EXPECT_EQ(plain.FirstHour, 0);  // what the unguarded paint would have left
    }

    // A click after printing still meets the item where the screen shows it.
    const int selected = st.OwnSelection;
    st.OwnSelection = -1;
    OnPress(st, screen, host, hit.left + 1, hit.top + 1);
    EXPECT_EQ(st.OwnSelection, selected);
    EXPECT_EQ(host.repaints, 0);
  }
}

TEST(PrintView, OtherUsersRowsComeBackAndAChangedListRepaintsTheScreen) {
  ViewState st = Scene(OtherUsersMode);
  st.ReferenceUsers.resize(2);
  st.ReferenceItems.resize(3);
  RowWriter layout;
  test::FakeHost host;
  RecordingSurface screen({16, 8});
  PaintView(st, screen, Rect{0, 0, 640, 400}, host, &layout);
  const Snapshot before(st);
  RecordingSurface page({16, 8}, true);
  PrintView(st, page, Rect{0, 0, 1000, 1400}, host, &layout);
  before.ExpectSame(st);
  EXPECT_EQ(host.repaints, 0);

  layout.grow = true;  // the page's paint fetched a different list
  PrintView(st, page, Rect{0, 0, 1000, 1400}, host, &layout);
  EXPECT_EQ(host.repaints, 1);
}

// Today's marker: fills of the today colour, each followed by today's
// label drawn over it.
struct Marker {
  std::vector<Rect> fills;
  std::vector<std::string> labels;
};
Marker TodayMarker(const RecordingSurface& s, Color c) {
  Marker m;
  const auto& ops = s.ops();
  for (size_t i = 0; i < ops.size(); ++i) {
    if (ops[i].kind != SurfaceOp::Fill || ops[i].color != c) continue;
    m.fills.push_back(ops[i].rect);
    for (size_t j = i + 1; j < ops.size(); ++j)
      if (ops[j].kind == SurfaceOp::Text) {
        m.labels.push_back(ops[j].text);
        break;
      }
  }
  return m;
}

bool Inside(const Rect& inner, const Rect& outer) {
  return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
         inner.bottom <= outer.bottom;
}

TEST(PaintView, TodayIsMarkedOnScreenAndPaperWithoutMovingARectangle) {
  for (int mode : {MonthMode, WeekMode, DayMode}) {
    for (bool printing : {false, true}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + (printing ? " on paper" : " on screen"));
      const Color colour = mode == MonthMode ? kTodayTint : kTodayHeader;
      test::FakeHost host;
      // Today is Thursday 10 March, beside the selected 9th.
      ViewState today_shown = Scene(mode);
      if (mode == DayMode) today_shown.SelectedDate = today_shown.AnchorDate = D(2005, 3, 10);
      RecordingSurface with({16, 8}, printing);
      {
        test::ScopedClock clock(D(2005, 3, 10, 8, 30, 0));
        PaintView(today_shown, with, Rect{0, 0, 700, 600}, host);
      }
      const Marker m = TodayMarker(with, colour);
      ASSERT_EQ(m.fills.size(), 1u);
      ASSERT_EQ(m.labels.size(), 1u);
      EXPECT_EQ(m.labels[0], mode == MonthMode ? "10" : "10 Thu");
      const DayCell* cell = nullptr;
      for (const DayCell& c : today_shown.CellTable)
        if (!c.rect.IsEmpty() && c.date == D(2005, 3, 10)) cell = &c;
      ASSERT_NE(cell, nullptr);
      EXPECT_TRUE(Inside(m.fills[0], cell->rect));
      // Clear of the cell's frame, so the selection's red frame stays whole.
      EXPECT_GT(m.fills[0].left, cell->rect.left);
      EXPECT_GT(m.fills[0].top, cell->rect.top);
      EXPECT_LT(m.fills[0].right, cell->rect.right);

      // The same page on another day: no marker, and every cell and item
      // where it was.
      ViewState other = Scene(mode);
      if (mode == DayMode) other.SelectedDate = other.AnchorDate = D(2005, 3, 10);
      RecordingSurface without({16, 8}, printing);
      {
        test::ScopedClock clock(D(2005, 5, 20, 8, 30, 0));
        PaintView(other, without, Rect{0, 0, 700, 600}, host);
      }
      EXPECT_TRUE(TodayMarker(without, colour).fills.empty());
      EXPECT_TRUE(TodayMarker(without, mode == MonthMode ? kTodayHeader : kTodayTint).fills.empty());
      for (int i = 0; i < kCellTableSize; ++i)
        EXPECT_EQ(other.CellTable[i].rect, today_shown.CellTable[i].rect) << i;
      for (size_t i = 0; i < other.VisibleItems.size(); ++i)
        EXPECT_EQ(other.VisibleItems[i].CellRects, today_shown.VisibleItems[i].CellRects) << i;
    }
  }
}

TEST(PrintView, ThePageIsFramedAllRoundInsideItsArea) {
  for (int mode : {MonthMode, WeekMode, DayMode}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    ViewState st = Scene(mode);
    test::FakeHost host;
    RecordingSurface page({16, 8}, true);
    const Rect paper{40, 30, 1003, 700};  // a month's width no multiple of 7
    PrintView(st, page, paper, host);
    // The page's cells, as its paint laid them out.
    ViewState laid = st;
    RecordingSurface plain({16, 8}, true);
    PaintView(laid, plain, paper, host);
    int right = 0, bottom = 0;
    for (const DayCell& c : laid.CellTable) {
      if (c.rect.IsEmpty()) continue;
      right = std::max<int>(right, c.rect.right);
      bottom = std::max<int>(bottom, c.rect.bottom);
    }
    ASSERT_GT(right, paper.left);
    // A black frame from the page's left edge (Sunday's left border, the
    // hours' left border) to the last column's right edge.
    const int top = mode == MonthMode ? paper.top + 1 : paper.top;
    const Rect outline{paper.left, top, right, bottom};
    const auto frames = page.FindAt(SurfaceOp::Frame, outline);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].color, kBlack);
    EXPECT_EQ(frames[0].color2, kBlack);
    // Nothing outside the area, and nothing right of the frame: no line
    // standing alone at the top right.
    for (const SurfaceOp& op : page.ops()) {
      if (op.kind == SurfaceOp::Transparent || op.kind == SurfaceOp::TextColor) continue;
      EXPECT_TRUE(Inside(op.rect, Rect{paper.left, paper.top, right, paper.bottom}))
          << "op " << op.kind << " at " << op.rect.left << "," << op.rect.top << " - "
          << op.rect.right << "," << op.rect.bottom;
    }
  }
}

}  // namespace
}  // namespace kv
