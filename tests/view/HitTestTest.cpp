#include <gtest/gtest.h>

#include "model/Recurrence.h"
#include "model/Text.h"
#include "tests/view/ViewTestSupport.h"
#include "view/HitTest.h"
#include "view/Layouts.h"

namespace kv {
namespace {

using test::D;
using test::J;
using test::Timed;

constexpr TextMetrics kM{16, 8};

struct Fixture {
  ViewState st;
  test::FakeHost host;
  RecordingSurface screen{kM};   // the paint
  RecordingSurface feedback{kM}; // the press's immediate drawing
  test::FakeOps ops;

  void Paint(const Rect& area) {
    screen.Clear();
    PaintView(st, screen, area, host);
  }
};

// March 2005 in a 700 x 632 area: rows of 120, columns of 100.
Fixture MonthFixture() {
  Fixture f;
  f.st.DrawEnabled = 1;
  f.st.ViewMode = MonthMode;
  f.st.AnchorDate = f.st.SelectedDate = D(2005, 3, 1);
  f.st.VisibleItems = {Timed(J("歯医者"), D(2005, 3, 10, 9), D(2005, 3, 10, 10)),
                       Timed("lunch", D(2005, 3, 10, 12), D(2005, 3, 10, 13))};
  f.Paint(Rect{0, 0, 700, 632});
  return f;
}

TEST(Press, MonthItemLineSelectsDayAndItemThenDayNumberClearsTheItem) {
  Fixture f = MonthFixture();
  const Rect line = f.st.VisibleItems[1].CellRects[0];  // "lunch", line 2 of 10 March
  OnPress(f.st, f.feedback, f.host, line.left + 3, line.top + 1);

  EXPECT_EQ(f.st.SelectedDate, D(2005, 3, 10));
  EXPECT_EQ(f.st.AnchorDate, D(2005, 3, 1));
  EXPECT_EQ(f.st.OwnSelection, 1);
  EXPECT_EQ(f.st.InvertedRect, line);
  EXPECT_EQ(f.host.pane[0], "lunch");
  EXPECT_EQ(f.host.repaints, 0);
  // The old selected cell (1 March, index 2) loses its red frame, the new
  // one gets it, then the line is inverted.
  const auto& ops = f.feedback.ops();
  ASSERT_EQ(ops.size(), 4u);
  EXPECT_EQ(ops[0].kind, SurfaceOp::Frame);
  EXPECT_EQ(ops[0].rect, f.st.CellTable[2].rect);
  EXPECT_EQ(ops[0].color, kWhite);
  EXPECT_EQ(ops[0].color2, kWhite);
  EXPECT_EQ(ops[1].rect, f.st.CellTable[2].rect);
  EXPECT_EQ(ops[1].color2, kBlack);
  EXPECT_EQ(ops[2].rect, f.st.CellTable[11].rect);
  EXPECT_EQ(ops[2].color, kRed);
  EXPECT_EQ(ops[3].kind, SurfaceOp::Invert);
  EXPECT_EQ(ops[3].rect, line);

  // The day number line of the same cell: day stays, the item goes.
  f.feedback.Clear();
  const Rect cell = f.st.CellTable[11].rect;
  OnPress(f.st, f.feedback, f.host, cell.left + 1, cell.top + 2);
  EXPECT_EQ(f.st.OwnSelection, -1);
  EXPECT_TRUE(f.st.InvertedRect.IsEmpty());
  EXPECT_EQ(f.host.pane[0], "");
  auto inverts = f.feedback.Find(SurfaceOp::Invert);
  ASSERT_EQ(inverts.size(), 1u);
  EXPECT_EQ(inverts[0].rect, line);  // the old inversion removed

  // A repaint re-inverts the selected item's first rectangle; printing not.
  OnPress(f.st, f.feedback, f.host, line.left + 3, line.top + 1);
  f.Paint(Rect{0, 0, 700, 632});
  auto again = f.screen.Find(SurfaceOp::Invert);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].rect, line);
  EXPECT_EQ(f.st.InvertedRect, line);
  RecordingSurface paper(kM, true);
  PaintView(f.st, paper, Rect{0, 0, 700, 632}, f.host);
  EXPECT_TRUE(paper.Find(SurfaceOp::Invert).empty());
  EXPECT_TRUE(f.st.InvertedRect.IsEmpty());
}

TEST(Press, GreyDayOfNextMonthMovesTheFrameButNotTheMonth) {
  Fixture f = MonthFixture();
  const Rect grey = f.st.CellTable[34].rect;  // 2 April
  ASSERT_EQ(f.st.CellTable[34].date, D(2005, 4, 2));
  OnPress(f.st, f.feedback, f.host, grey.right - 1, grey.bottom - 1);
  EXPECT_EQ(f.st.SelectedDate, D(2005, 4, 2));
  EXPECT_EQ(f.st.AnchorDate, D(2005, 3, 1));
  EXPECT_EQ(f.host.repaints, 0);
  // Right and bottom edges are outside: the next cell is not hit.
  f.feedback.Clear();
  OnPress(f.st, f.feedback, f.host, 700, 632);
  EXPECT_EQ(f.st.SelectedDate, D(2005, 4, 2));
  EXPECT_TRUE(f.feedback.Find(SurfaceOp::Frame).empty());
}

TEST(Press, LastMatchingRectangleWinsAndInvertedRectTracksTheScreen) {
  Fixture f;
  f.st.ViewMode = MonthMode;
  f.st.VisibleItems.resize(3);
  const Rect a{10, 10, 50, 30}, b{20, 15, 60, 40}, c{0, 0, 5, 5};
  f.st.VisibleItems[0].Subject = "first";
  f.st.VisibleItems[0].CellRects[0] = c;
  f.st.VisibleItems[0].CellRects[1] = a;
  f.st.VisibleItems[2].Subject = "third";
  f.st.VisibleItems[2].CellRects[0] = b;
  OnPress(f.st, f.feedback, f.host, 25, 20);
  EXPECT_EQ(f.st.OwnSelection, 2);
  EXPECT_EQ(f.st.InvertedRect, b);
  EXPECT_EQ(f.host.pane[0], "third");
  std::vector<Rect> inverted;
  for (const auto& op : f.feedback.Find(SurfaceOp::Invert)) inverted.push_back(op.rect);
  // a shown, a removed, b shown: exactly b stays inverted.
  EXPECT_EQ(inverted, (std::vector<Rect>{a, a, b}));

  // Pressing b again: the inversion is removed and redrawn in place.
  f.feedback.Clear();
  OnPress(f.st, f.feedback, f.host, 55, 35);
  inverted.clear();
  for (const auto& op : f.feedback.Find(SurfaceOp::Invert)) inverted.push_back(op.rect);
  EXPECT_EQ(inverted, (std::vector<Rect>{b, b}));
  EXPECT_EQ(f.st.InvertedRect, b);
}

Fixture WeekFixture(int first_hour) {
  Fixture f;
  f.st.DrawEnabled = 1;
  f.st.ViewMode = WeekMode;
  f.st.AnchorDate = f.st.SelectedDate = D(2005, 3, 9);
  f.st.FirstHour = first_hour;
  f.st.VisibleItems = {Timed("meeting", D(2005, 3, 9, 10), D(2005, 3, 9, 11))};
  f.Paint(Rect{0, 0, 764, 288});
  return f;
}

TEST(Press, HourArrowsScrollAndRepaintWithoutTouchingTheSelection) {
  Fixture f = WeekFixture(0);
  f.st.OwnSelection = 0;
  const Rect up = f.st.CellTable[kUpArrowCell].rect;
  OnPress(f.st, f.feedback, f.host, up.left, up.top);
  EXPECT_EQ(f.st.FirstHour, 0);
  EXPECT_EQ(f.host.repaints, 1);
  EXPECT_EQ(f.st.OwnSelection, 0);

  // Down at the latest hour: the next paint brings FirstHour back.
  f.st.FirstHour = 16;
  f.Paint(Rect{0, 0, 764, 288});
  const Rect down = f.st.CellTable[kDownArrowCell].rect;
  OnPress(f.st, f.feedback, f.host, down.left + 2, down.top + 2);
  EXPECT_EQ(f.st.FirstHour, 17);
  EXPECT_EQ(f.host.repaints, 2);
  f.Paint(Rect{0, 0, 764, 288});
  EXPECT_EQ(f.st.FirstHour, 16);

  f.st.FirstHour = 5;
  OnPress(f.st, f.feedback, f.host, up.left + 1, up.top + 1);
  EXPECT_EQ(f.st.FirstHour, 4);
}

// Deleting one occurrence of a series takes the selected day for it: a
// press on any drawn occurrence, in every view that draws several days,
// must select the day the pressed item occurs on.
TEST(Press, AnyDrawnOccurrenceSelectsADayThePressedItemOccursOn) {
  const DateTime from = D(2005, 1, 1), to = D(2005, 12, 31, 23, 59, 0);
  std::vector<ScheduleItem> items = {
      test::MakeRule(2, 1, (1 << 1) | (1 << 3) | (1 << 5), 0, from, to, D(2005, 1, 1, 9),
                     D(2005, 1, 1, 10)),                                                // Mon, Wed, Fri
      test::MakeRule(1, 2, 0, 0, from, to, D(2005, 1, 1, 13), D(2005, 1, 1, 14, 30)),  // every 2 days
      test::MakeRule(3, 1, 9, 0, from, to, D(2005, 1, 1), D(2005, 1, 1, 23, 59, 59)),  // the 9th, all day
      test::MakeRule(4, 1, 2, 7, from, to, D(2005, 1, 1, 15), D(2005, 1, 1, 16)),      // 2nd Wednesday
  };
  items[2].Type = 1;
  for (size_t i = 0; i < items.size(); ++i) items[i].Subject = "r" + std::to_string(i);
  for (int mode : {MonthMode, WeekMode, OtherUsersMode}) {
    Fixture f;
    f.st.DrawEnabled = 1;
    f.st.ViewMode = mode;
    f.st.AnchorDate = f.st.SelectedDate = D(2005, 3, 9);
    f.st.FirstHour = 8;
    f.st.VisibleItems = items;
    if (mode == OtherUsersMode) {
      f.st.ReferenceUsers = {UserEntry{7, "hanako", J("花子"), 1}};
      f.st.ReferenceItems = {items[0], items[1]};
      for (ViewItem& it : f.st.ReferenceItems) it.UserID = 7;
    }
    f.Paint(Rect{0, 0, 700, 632});
    int presses = 0;
    for (const auto* list : {&f.st.VisibleItems, &f.st.ReferenceItems}) {
      const ViewItemList drawn = *list;  // a press may reorder nothing, but be sure
      for (const ViewItem& it : drawn) {
        for (const Rect& r : it.CellRects) {
          if (r.IsEmpty()) continue;
          const int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
          if (f.st.CellTable[kUpArrowCell].rect.Contains(x, y) ||
              f.st.CellTable[kDownArrowCell].rect.Contains(x, y))
            continue;
          OnPress(f.st, f.feedback, f.host, x, y);
          const ViewItem* hit = f.st.ReferenceSelection >= 0 ? f.st.SelectedReferenceItem()
                                                                  : f.st.SelectedOwnItem();
          ASSERT_NE(hit, nullptr) << "mode " << mode << " " << it.Subject;
          EXPECT_TRUE(Occurs(*hit, f.st.SelectedDate, f.st.SelectedDate.AddDays(1)))
              << "mode " << mode << " " << hit->Subject << " on " << f.st.SelectedDate.ToString();
          ++presses;
        }
      }
    }
    EXPECT_GT(presses, mode == MonthMode ? 30 : 8) << "mode " << mode;
  }
}

TEST(Press, DayModeNeverChangesTheSelectedDate) {
  Fixture f = WeekFixture(9);
  f.st.ViewMode = DayMode;
  f.st.CellTable[0].date = D(2005, 3, 1);  // a stale cell of another day
  OnPress(f.st, f.feedback, f.host, 60, 200);
  EXPECT_EQ(f.st.SelectedDate, D(2005, 3, 9));
  EXPECT_TRUE(f.feedback.Find(SurfaceOp::Frame).empty());
}

TEST(DoubleClick, WeekEmptyColumnAddsOnItsDateItemEditsArrowDoesNothing) {
  Fixture f = WeekFixture(9);
  // Empty part of Friday 11 March (column 5).
  OnDoubleClick(f.st, f.feedback, f.host, f.ops, 48 + 500 + 50, 250);
  ASSERT_EQ(f.ops.calls.size(), 1u);
  EXPECT_EQ(f.ops.calls[0].what, "add");
  EXPECT_EQ(f.ops.calls[0].day, D(2005, 3, 11));
  EXPECT_EQ(f.host.repaints, 1);

  const Rect box = f.st.VisibleItems[0].CellRects[0];
  OnDoubleClick(f.st, f.feedback, f.host, f.ops, box.left + 1, box.top + 1);
  ASSERT_EQ(f.ops.calls.size(), 2u);
  EXPECT_EQ(f.ops.calls[1].what, "edit");
  EXPECT_EQ(f.ops.calls[1].index, 0);
  EXPECT_EQ(f.st.SelectedDate, D(2005, 3, 9));

  const int before = f.host.repaints;
  const Rect down = f.st.CellTable[kDownArrowCell].rect;
  OnDoubleClick(f.st, f.feedback, f.host, f.ops, down.left, down.top);
  EXPECT_EQ(f.ops.calls.size(), 2u);
  EXPECT_EQ(f.host.repaints, before + 1);  // only the press's own repaint
}

TEST(Press, TheHalfHourSlotUnderThePressIsRemembered) {
  Fixture f = WeekFixture(9);
  // The hour label "10" marks where 10:00 is drawn.
  const auto label = f.screen.FindText("10");
  ASSERT_EQ(label.size(), 1u);
  const int y10 = label[0].rect.top;
  const int friday = 48 + 500 + 50;
  OnPress(f.st, f.feedback, f.host, friday, y10 + 16 + 3);
  EXPECT_EQ(f.st.PressedSlot, D(2005, 3, 11, 10, 30, 0));
  OnPress(f.st, f.feedback, f.host, friday, y10 + 15);
  EXPECT_EQ(f.st.PressedSlot, D(2005, 3, 11, 10, 0, 0));
  // The column header and the all-day lane are no slot.
  OnPress(f.st, f.feedback, f.host, friday, 5);
  EXPECT_FALSE(f.st.PressedSlot.IsValid());
  OnPress(f.st, f.feedback, f.host, friday, 20);
  EXPECT_FALSE(f.st.PressedSlot.IsValid());
  // A slot under an item counts too; the day view has its one column.
  const Rect box = f.st.VisibleItems[0].CellRects[0];
  OnPress(f.st, f.feedback, f.host, box.left + 1, box.top + 1);
  EXPECT_EQ(f.st.PressedSlot, D(2005, 3, 9, 10, 0, 0));
  f.st.ViewMode = DayMode;
  f.Paint(Rect{0, 0, 764, 288});
  OnPress(f.st, f.feedback, f.host, 300, y10 - 1);
  EXPECT_EQ(f.st.PressedSlot, D(2005, 3, 9, 9, 30, 0));
  // The month view has none.
  Fixture m = MonthFixture();
  m.st.PressedSlot = D(2005, 3, 9, 9, 30, 0);
  OnPress(m.st, m.feedback, m.host, 350, 300);
  EXPECT_FALSE(m.st.PressedSlot.IsValid());
}

TEST(DoubleClick, MonthAddsOnTheClickedDayOrEditsTheItem) {
  Fixture f = MonthFixture();
  const Rect cell = f.st.CellTable[20].rect;  // 19 March
  OnDoubleClick(f.st, f.feedback, f.host, f.ops, cell.left + 5, cell.top + 50);
  ASSERT_EQ(f.ops.calls.size(), 1u);
  EXPECT_EQ(f.ops.calls[0].what, "add");
  EXPECT_EQ(f.ops.calls[0].day, D(2005, 3, 19));
  const Rect line = f.st.VisibleItems[0].CellRects[0];
  OnDoubleClick(f.st, f.feedback, f.host, f.ops, line.left, line.top);
  ASSERT_EQ(f.ops.calls.size(), 2u);
  EXPECT_EQ(f.ops.calls[1].what, "edit");
  EXPECT_EQ(f.ops.calls[1].index, 0);
  EXPECT_EQ(f.host.repaints, 2);
}

TEST(DoubleClick, OtherUsersRowsPermissionsAndReferenceItems) {
  Fixture f;
  f.st.ViewMode = OtherUsersMode;
  f.st.SelectedDate = D(2005, 3, 9);
  UserEntry ro, rw;
  ro.UserName = "ro";
  ro.Writable = 0;
  ro.RowTop = 100;
  ro.RowBottom = 200;
  rw.UserName = "rw";
  rw.Writable = 1;
  rw.RowTop = 200;
  rw.RowBottom = 300;
  f.st.ReferenceUsers = {ro, rw};
  ViewItem theirs = Timed(J("非公開※"), D(2005, 3, 9, 9), D(2005, 3, 9, 10));
  theirs.Subject = "secret subject";
  theirs.CellRects[0] = Rect{300, 220, 400, 236};
  f.st.ReferenceItems = {theirs};

  OnDoubleClick(f.st, f.feedback, f.host, f.ops, 50, 150);
  ASSERT_EQ(f.host.messages.size(), 1u);
  EXPECT_EQ(text::ToUtf8(f.host.messages[0]).value(), "このユーザには予定を追加できません");
  EXPECT_TRUE(f.ops.calls.empty());

  OnDoubleClick(f.st, f.feedback, f.host, f.ops, 50, 200);  // on the border line
  ASSERT_EQ(f.ops.calls.size(), 1u);
  EXPECT_EQ(f.ops.calls[0].what, "add");

  OnDoubleClick(f.st, f.feedback, f.host, f.ops, 50, 250);
  ASSERT_EQ(f.ops.calls.size(), 2u);
  EXPECT_EQ(f.ops.calls[1].what, "add_for");
  EXPECT_EQ(f.ops.calls[1].user, "rw");

  OnDoubleClick(f.st, f.feedback, f.host, f.ops, 310, 225);
  ASSERT_EQ(f.ops.calls.size(), 3u);
  EXPECT_EQ(f.ops.calls[2].what, "open");
  EXPECT_EQ(f.st.ReferenceSelection, 0);
  EXPECT_EQ(f.host.pane[0], "secret subject");
  EXPECT_EQ(f.st.InvertedRect, (Rect{300, 220, 400, 236}));
  EXPECT_EQ(f.host.repaints, 4);  // after every double-click, the refused add included
}

TEST(Paint, DisabledDrawsNothingAndPaneOneShowsTheConnection) {
  Fixture f = MonthFixture();
  f.st.DrawEnabled = 0;
  f.st.CellTable[5].rect = Rect{1, 1, 2, 2};
  f.host.pane[1] = "";
  f.Paint(Rect{0, 0, 700, 632});
  EXPECT_TRUE(f.screen.ops().empty());
  EXPECT_EQ(f.st.CellTable[5].rect, (Rect{1, 1, 2, 2}));
  EXPECT_EQ(f.host.pane[1], "");

  f.st.DrawEnabled = 1;
  f.Paint(Rect{0, 0, 700, 632});
  EXPECT_EQ(f.host.pane[1], "Offline");
  EXPECT_EQ(f.screen.ops()[0].kind, SurfaceOp::Transparent);
  f.st.Online = 1;
  f.Paint(Rect{0, 0, 700, 632});
  EXPECT_EQ(f.host.pane[1], "Online");

  // A layout that gives up (no valid date) leaves the day cells cleared
  // and the arrows' cells as they were.
  f.st.ViewMode = OtherUsersMode;
  f.st.SelectedDate = DateTime::Invalid();
  f.st.CellTable[kUpArrowCell].rect = Rect{7, 7, 9, 9};
  f.Paint(Rect{0, 0, 700, 632});
  for (int i = 0; i < kDayCells; ++i) EXPECT_TRUE(f.st.CellTable[i].rect.IsEmpty());
  EXPECT_EQ(f.st.CellTable[kUpArrowCell].rect, (Rect{7, 7, 9, 9}));
}

}  // namespace
}  // namespace kv
