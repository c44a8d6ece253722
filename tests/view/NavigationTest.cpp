#include <gtest/gtest.h>

#include "model/Text.h"
#include "tests/view/ViewTestSupport.h"
#include "view/HitTest.h"
#include "view/Layouts.h"
#include "view/Navigation.h"

namespace kv {
namespace {

using test::D;

struct Nav {
  ViewState st;
  test::FakeHost host;
  int reloads = 0;
  ViewCommands cmd{st, host, [this] { return ++reloads; }};

  Nav(int mode, DateTime selected, DateTime anchor) {
    st.ViewMode = mode;
    st.SelectedDate = selected;
    st.AnchorDate = anchor;
    st.RefreshReferences = 0;
    st.OwnSelection = 3;
  }
  void ExpectReloadedAndCleared() {
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(host.repaints, 1);
    EXPECT_EQ(st.OwnSelection, -1);
  }
};

struct StepCase {
  const char* name;
  int mode;
  DateTime selected, anchor;
  bool forward;
  DateTime want;  // SelectedDate and AnchorDate afterwards
  int want_refresh;
};

class StepTest : public ::testing::TestWithParam<StepCase> {};

TEST_P(StepTest, MovesBothDates) {
  const StepCase& c = GetParam();
  Nav n(c.mode, c.selected, c.anchor);
  c.forward ? n.cmd.Next() : n.cmd.Previous();
  EXPECT_EQ(n.st.SelectedDate, c.want) << n.st.SelectedDate.ToString();
  EXPECT_EQ(n.st.AnchorDate, c.want) << n.st.AnchorDate.ToString();
  EXPECT_EQ(n.st.RefreshReferences, c.want_refresh);
  n.ExpectReloadedAndCleared();
}

INSTANTIATE_TEST_SUITE_P(
    Navigation, StepTest,
    ::testing::Values(
        StepCase{"month_back_from_31_march_leap", MonthMode, D(2004, 3, 31), D(2004, 3, 31), false,
                 D(2004, 2, 29), 0},
        StepCase{"month_back_from_31_march_common", MonthMode, D(2005, 3, 31), D(2005, 3, 31),
                 false, D(2005, 2, 28), 0},
        StepCase{"month_back_over_year_end", MonthMode, D(2005, 1, 15), D(2005, 1, 15), false,
                 D(2004, 12, 15), 0},
        StepCase{"month_forward_over_year_end", MonthMode, D(2004, 12, 31), D(2004, 12, 31), true,
                 D(2005, 1, 31), 0},
        StepCase{"month_forward_limits_day", MonthMode, D(2005, 1, 31), D(2005, 1, 31), true,
                 D(2005, 2, 28), 0},
        // The month comes from the anchor, the day from the selection.
        StepCase{"month_uses_anchor_month_selected_day", MonthMode, D(2005, 2, 27),
                 D(2005, 3, 1), true, D(2005, 4, 27), 0},
        StepCase{"week_forward_over_year_end", WeekMode, D(2005, 12, 29), D(2005, 12, 29), true,
                 D(2006, 1, 5), 1},
        StepCase{"week_back_over_year_end", WeekMode, D(2006, 1, 3), D(2006, 1, 3), false,
                 D(2005, 12, 27), 1},
        StepCase{"other_users_week_back", OtherUsersMode, D(2004, 3, 4), D(2004, 3, 4), false,
                 D(2004, 2, 26), 1},
        StepCase{"day_back_into_leap_day", DayMode, D(2004, 3, 1), D(2004, 3, 1), false,
                 D(2004, 2, 29), 0},
        StepCase{"day_forward_over_year_end", DayMode, D(2004, 12, 31), D(2004, 12, 31), true,
                 D(2005, 1, 1), 0},
        StepCase{"day_forward_from_leap_day", DayMode, D(2004, 2, 29), D(2004, 2, 29), true,
                 D(2004, 3, 1), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Navigation, TodayClearsAnOutOfRangeSelectionAndRefreshesOnlyOtherUsers) {
  test::ScopedClock clock(D(2006, 7, 8, 15, 30, 0));
  for (int mode : {MonthMode, WeekMode, DayMode, OtherUsersMode}) {
    Nav n(mode, D(2001, 1, 1), D(2001, 1, 1));
    n.st.OwnSelection = 99;
    n.cmd.Today();
    EXPECT_EQ(n.st.SelectedDate, D(2006, 7, 8));
    EXPECT_EQ(n.st.AnchorDate, D(2006, 7, 8));
    EXPECT_EQ(n.st.RefreshReferences, mode == OtherUsersMode ? 1 : 0);
    n.ExpectReloadedAndCleared();
  }
  // A clock that cannot be read leaves the calendar where it is.
  clock.Set(DateTime::Invalid());
  Nav n(WeekMode, D(2001, 1, 1), D(2001, 1, 1));
  n.cmd.Today();
  EXPECT_EQ(n.st.SelectedDate, D(2001, 1, 1));
  EXPECT_EQ(n.st.AnchorDate, D(2001, 1, 1));
}

TEST(Navigation, MoveIgnoresYearsBefore1970AndDropsTheTime) {
  Nav n(OtherUsersMode, D(2005, 3, 1), D(2005, 3, 1));
  EXPECT_FALSE(n.cmd.MoveTo(D(1969, 12, 31, 23, 0, 0)));
  EXPECT_FALSE(n.cmd.MoveTo(DateTime::Invalid()));
  EXPECT_EQ(n.st.SelectedDate, D(2005, 3, 1));
  EXPECT_EQ(n.reloads, 0);
  EXPECT_EQ(n.host.repaints, 0);
  EXPECT_EQ(n.st.OwnSelection, 3);

  EXPECT_TRUE(n.cmd.MoveTo(D(1970, 1, 1, 13, 14, 15)));
  EXPECT_EQ(n.st.SelectedDate, D(1970, 1, 1));
  EXPECT_EQ(n.st.AnchorDate, D(1970, 1, 1));
  EXPECT_EQ(n.st.RefreshReferences, 1);
  n.ExpectReloadedAndCleared();
}

TEST(Navigation, ModeSwitches) {
  {
    Nav n(MonthMode, D(2005, 3, 9), D(2005, 1, 20));
    n.cmd.DayUnit();
    EXPECT_EQ(n.st.ViewMode, DayMode);
    EXPECT_EQ(n.st.AnchorDate, D(2005, 1, 20));  // left alone
    EXPECT_EQ(n.st.OwnSelection, 3);             // the day unit keeps the item
    EXPECT_EQ(n.reloads, 1);
    EXPECT_EQ(n.host.repaints, 1);
    n.cmd.WeekUnit();
    EXPECT_EQ(n.st.ViewMode, WeekMode);
    EXPECT_EQ(n.st.OwnSelection, -1);
    n.st.OwnSelection = 3;
    n.cmd.MonthUnit();
    EXPECT_EQ(n.st.ViewMode, MonthMode);
    EXPECT_EQ(n.st.AnchorDate, D(2005, 3, 9));  // the month of the selection
    EXPECT_EQ(n.st.OwnSelection, -1);
    EXPECT_EQ(n.reloads, 3);
  }
  {
    Nav n(WeekMode, D(2005, 3, 9), D(2005, 3, 9));
    n.cmd.OtherUsers();
    EXPECT_EQ(n.st.ViewMode, WeekMode);
    ASSERT_EQ(n.host.messages.size(), 1u);
    EXPECT_EQ(text::ToUtf8(n.host.messages[0]).value(), "サーバーと接続されていません。");
    EXPECT_EQ(n.reloads, 0);
    EXPECT_EQ(n.host.repaints, 0);
    EXPECT_EQ(n.st.OwnSelection, 3);  // a refused switch changes nothing
    n.st.Online = 1;
    n.cmd.OtherUsers();
    EXPECT_EQ(n.st.ViewMode, OtherUsersMode);
    EXPECT_EQ(n.st.OwnSelection, -1);
    EXPECT_EQ(n.st.RefreshReferences, 1);
    EXPECT_EQ(n.reloads, 1);
    EXPECT_EQ(n.host.messages.size(), 1u);
  }
}

// Navigation with the real loader: the load window follows the new anchor.
TEST(Navigation, NextMonthLoadsTheNewWindow) {
  test::ScopedClock clock(D(2005, 1, 1));
  test::VectorRows rows;
  rows.rows = {test::Timed("april", D(2005, 4, 5, 9), D(2005, 4, 5, 10)),
               test::Timed("january", D(2005, 1, 5, 9), D(2005, 1, 5, 10))};
  ViewState st = ViewState::Initial();
  st.AnchorDate = st.SelectedDate = D(2005, 2, 10);
  test::FakeHost host;
  ViewCommands cmd(st, host, [&] { return LoadVisibleItems(st, rows); });
  cmd.Today();
  ASSERT_EQ(st.VisibleItems.size(), 1u);
  EXPECT_EQ(st.VisibleItems[0].Subject, "january");
  cmd.Next();
  cmd.Next();
  EXPECT_EQ(st.AnchorDate, D(2005, 3, 1));
  ASSERT_EQ(st.VisibleItems.size(), 1u);
  EXPECT_EQ(st.VisibleItems[0].Subject, "april");
}

// The keys over a real load and paint, as the window drives them: each
// asked-for repaint paints again before the next key.
struct Keys {
  test::VectorRows rows;
  ViewState st;
  test::FakeHost host;
  test::FakeOps ops;
  RecordingSurface screen{{16, 8}};
  RecordingSurface feedback{{16, 8}};
  int reloads = 0;
  ViewCommands nav{st, host, [this] {
                     ++reloads;
                     return LoadVisibleItems(st, rows);
                   }};

  Keys(int mode, DateTime day) {
    rows.rows = {test::Timed("b", D(2005, 3, 31, 13), D(2005, 3, 31, 14)),
                 test::Timed("apr", D(2005, 4, 1, 11), D(2005, 4, 1, 12)),
                 test::Timed("a", D(2005, 3, 31, 9), D(2005, 3, 31, 10, 30)),
                 test::Timed("c", D(2005, 3, 30, 10), D(2005, 3, 30, 11))};
    st.DrawEnabled = 1;
    st.ViewMode = mode;
    st.SelectedDate = st.AnchorDate = day;
    LoadVisibleItems(st, rows);
    Paint();
  }
  void Paint() {
    screen.Clear();
    PaintView(st, screen, Rect{0, 0, 700, 400}, host);  // 9 to 20 o'clock in a week
  }
  bool Key(ViewKey k) {
    const int before = host.repaints;
    feedback.Clear();
    const bool used = OnKey(st, feedback, host, ops, nav, k);
    if (host.repaints != before) Paint();
    return used;
  }
  int Index(const std::string& subject) const {
    for (size_t i = 0; i < st.VisibleItems.size(); ++i)
      if (st.VisibleItems[i].Subject == subject) return static_cast<int>(i);
    return -1;
  }
  // The selection is `subject`, shown as a press would show it.
  void ExpectSelected(const std::string& subject) {
    const int i = Index(subject);
    ASSERT_GE(i, 0) << subject;
    EXPECT_EQ(st.OwnSelection, i) << subject;
    EXPECT_EQ(host.pane[0], subject);
    const Rect line = st.VisibleItems[i].CellRects[0];
    EXPECT_EQ(st.InvertedRect, line) << subject;
    const auto inverted = feedback.FindAt(SurfaceOp::Invert, line);
    EXPECT_EQ(inverted.size(), 1u) << subject;
  }
};

TEST(Keys, ArrowsMoveTheDayAndTurnPagesEnterAndTabActOnTheDay) {
  test::ScopedClock clock(D(2005, 3, 1));
  {
    Keys k(MonthMode, D(2005, 3, 30));
    k.st.OwnSelection = k.Index("c");
    k.reloads = 0;
    // Inside the month only the day moves.
    EXPECT_TRUE(k.Key(ViewKey::Right));
    EXPECT_EQ(k.st.SelectedDate, D(2005, 3, 31));
    EXPECT_EQ(k.st.AnchorDate, D(2005, 3, 30));
    EXPECT_EQ(k.st.OwnSelection, -1);
    EXPECT_EQ(k.reloads, 0);
    // Tab walks the day's lines top down and round; BackTab walks back.
    EXPECT_TRUE(k.Key(ViewKey::Tab));
    k.ExpectSelected("a");
    k.Key(ViewKey::Tab);
    k.ExpectSelected("b");
    k.Key(ViewKey::Tab);
    k.ExpectSelected("a");
    k.Key(ViewKey::BackTab);
    k.ExpectSelected("b");
    EXPECT_TRUE(k.Key(ViewKey::Enter));
    ASSERT_EQ(k.ops.calls.size(), 1u);
    EXPECT_EQ(k.ops.calls[0].what, "edit");
    EXPECT_EQ(k.ops.calls[0].index, k.Index("b"));
    // Off the month's last day: April is shown, loaded, nothing selected.
    k.Key(ViewKey::Right);
    EXPECT_EQ(k.st.SelectedDate, D(2005, 4, 1));
    EXPECT_EQ(k.st.AnchorDate, D(2005, 4, 1));
    EXPECT_EQ(k.reloads, 1);
    EXPECT_EQ(k.st.OwnSelection, -1);
    EXPECT_EQ(k.host.pane[0], "");
    EXPECT_EQ(k.st.CellTable[5].date, D(2005, 4, 1)) << "April's page, Friday the first";
    // A week up is March again, a week down April.
    k.Key(ViewKey::Up);
    EXPECT_EQ(k.st.SelectedDate, D(2005, 3, 25));
    EXPECT_EQ(k.st.AnchorDate, D(2005, 3, 25));
    k.Key(ViewKey::Down);
    EXPECT_EQ(k.st.SelectedDate, D(2005, 4, 1));
    EXPECT_EQ(k.reloads, 3);
    // Enter with nothing selected adds on the selected day.
    k.Key(ViewKey::Enter);
    ASSERT_EQ(k.ops.calls.size(), 2u);
    EXPECT_EQ(k.ops.calls[1].what, "add");
    EXPECT_EQ(k.ops.calls[1].day, D(2005, 4, 1));
    // Tab on a day without items selects nothing.
    k.Key(ViewKey::Left);
    k.Key(ViewKey::Left);
    EXPECT_EQ(k.st.SelectedDate, D(2005, 3, 30));
    k.Key(ViewKey::Left);
    k.Key(ViewKey::Tab);
    EXPECT_EQ(k.st.OwnSelection, -1);
    EXPECT_TRUE(k.feedback.Find(SurfaceOp::Invert).empty());
    // A holiday reached by the keys says its name; the day after it, nothing.
    k.st.ShowHolidays = true;
    k.Key(ViewKey::Up);
    k.Key(ViewKey::Left);
    EXPECT_EQ(k.st.SelectedDate, D(2005, 3, 21));
    EXPECT_EQ(k.host.pane[0], test::J("振替休日"));
    k.Key(ViewKey::Left);
    EXPECT_EQ(k.host.pane[0], test::J("春分の日"));
    k.Key(ViewKey::Right);
    k.Key(ViewKey::Right);
    EXPECT_EQ(k.host.pane[0], "");
  }
  {
    // Thursday 31 March: the week of 27 March to 2 April.
    Keys k(WeekMode, D(2005, 3, 31));
    k.reloads = 0;
    k.Key(ViewKey::Left);
    EXPECT_EQ(k.st.SelectedDate, D(2005, 3, 30));
    EXPECT_EQ(k.reloads, 0);
    k.Key(ViewKey::Tab);
    k.ExpectSelected("c");
    k.Key(ViewKey::Right);
    k.Key(ViewKey::Tab);
    k.ExpectSelected("a");
    k.Key(ViewKey::Tab);
    k.ExpectSelected("b");
    for (int i = 0; i < 2; ++i) k.Key(ViewKey::Right);
    EXPECT_EQ(k.st.SelectedDate, D(2005, 4, 2));
    EXPECT_EQ(k.reloads, 0);
    EXPECT_EQ(k.st.CellTable[0].date, D(2005, 3, 27));
    // Past Saturday: the next week.
    k.Key(ViewKey::Right);
    EXPECT_EQ(k.st.SelectedDate, D(2005, 4, 3));
    EXPECT_EQ(k.reloads, 1);
    EXPECT_EQ(k.st.CellTable[0].date, D(2005, 4, 3));
    k.Key(ViewKey::Left);
    EXPECT_EQ(k.st.CellTable[0].date, D(2005, 3, 27));
    EXPECT_EQ(k.reloads, 2);
    // Up and down scroll the hours and leave the day.
    const int first = k.st.FirstHour;
    ASSERT_GT(first, 0);
    k.Key(ViewKey::Up);
    EXPECT_EQ(k.st.FirstHour, first - 1);
    k.Key(ViewKey::Down);
    k.Key(ViewKey::Down);
    EXPECT_EQ(k.st.FirstHour, first + 1);
    EXPECT_EQ(k.st.SelectedDate, D(2005, 4, 2));
    EXPECT_EQ(k.reloads, 2);
  }
  {
    Keys k(DayMode, D(2005, 3, 31));
    k.Key(ViewKey::BackTab);
    k.ExpectSelected("b");
    k.Key(ViewKey::Right);
    EXPECT_EQ(k.st.SelectedDate, D(2005, 4, 1));
    EXPECT_EQ(k.st.AnchorDate, D(2005, 4, 1));
    k.Key(ViewKey::Tab);
    k.ExpectSelected("apr");
  }
  {
    Keys k(OtherUsersMode, D(2005, 3, 31));
    EXPECT_FALSE(k.Key(ViewKey::Right));
    EXPECT_EQ(k.st.SelectedDate, D(2005, 3, 31));
  }
}

}  // namespace
}  // namespace kv
