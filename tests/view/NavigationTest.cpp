#include <gtest/gtest.h>

#include "model/Text.h"
#include "tests/view/ViewTestSupport.h"
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

}  // namespace
}  // namespace kv
