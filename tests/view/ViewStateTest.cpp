#include <gtest/gtest.h>

#include <random>

#include "tests/view/ViewTestSupport.h"

namespace kv {
namespace {

using test::D;
using test::Timed;
using test::VectorRows;

std::vector<std::string> Subjects(const ViewItemList& v) {
  std::vector<std::string> out;
  for (const auto& it : v) out.push_back(it.Subject);
  return out;
}

TEST(LoadVisibleItems, WindowIsTwentiethBeforeToTenthAfterAndRulesAlwaysLoad) {
  test::ScopedClock clock(D(2005, 3, 15, 12, 0, 0));
  ViewState st = ViewState::Initial();
  st.AnchorDate = D(2005, 3, 15);
  VectorRows rows;
  rows.rows = {
      Timed("ended 19th", D(2005, 2, 18, 10), D(2005, 2, 19, 23, 59, 59)),
      Timed("ends at window start", D(2005, 2, 19, 10), D(2005, 2, 20)),
      Timed("starts at window end", D(2005, 4, 10), D(2005, 4, 10, 1)),
      Timed("starts just before end", D(2005, 4, 9, 23, 59, 59), D(2005, 4, 10, 2)),
      Timed("spans the window", D(2004, 1, 1), D(2006, 1, 1)),
      test::MakeRule(1, 1, 0, 0, D(1975, 1, 1), D(1975, 1, 2, 23, 59), D(1975, 1, 1, 9),
                     D(1975, 1, 1, 10)),
  };
  rows.rows.back().Subject = "rule long ago";
  ScheduleItem deleted = Timed("deleted", D(2005, 3, 2), D(2005, 3, 3));
  deleted.SyncFlag = SyncDeleted;
  rows.rows.push_back(deleted);

  EXPECT_EQ(LoadVisibleItems(st, rows), 1);
  // Month mode sorts by Start.
  EXPECT_EQ(Subjects(st.VisibleItems),
            (std::vector<std::string>{"rule long ago", "spans the window", "ends at window start",
                                      "deleted", "starts just before end"}));
  for (const auto& it : st.VisibleItems) EXPECT_EQ(test::UsedSlots(it), 0) << it.Subject;
}

TEST(LoadVisibleItems, AlarmCandidatesUseTheTwoHourHorizonStrictly) {
  test::ScopedClock clock(D(2005, 3, 15, 12, 0, 0));
  ViewState st = ViewState::Initial();
  VectorRows rows;
  auto with_alarm = [](std::string s, DateTime start, int alarm) {
    ScheduleItem it = Timed(std::move(s), start, start.AddSeconds(3600));
    it.Alarm = alarm;
    return it;
  };
  rows.rows = {
      with_alarm("exactly two hours", D(2005, 3, 15, 14, 0, 0), 0),
      with_alarm("a second inside", D(2005, 3, 15, 13, 59, 59), 0),
      with_alarm("lead pulls it in", D(2005, 3, 15, 15, 0, 0), 3601),
      with_alarm("lead just short", D(2005, 3, 15, 15, 0, 0), 3600),
      with_alarm("no alarm", D(2005, 3, 15, 12, 30, 0), -1),
      with_alarm("long past", D(2001, 1, 1, 9, 0, 0), 0),
      with_alarm("next year", D(2006, 3, 15, 12, 0, 0), 86400 * 400),
  };
  ScheduleItem broken = with_alarm("invalid start", DateTime::Invalid(), 0);
  rows.rows.push_back(broken);

  LoadVisibleItems(st, rows);
  EXPECT_EQ(Subjects(st.AlarmCandidates),
            (std::vector<std::string>{"long past", "a second inside", "lead pulls it in",
                                      "next year"}));
}

TEST(LoadVisibleItems, EmptyStoreLeavesBothListsEmpty) {
  test::ScopedClock clock(D(2005, 3, 15, 12));
  ViewState st = ViewState::Initial();
  st.VisibleItems.push_back(Timed("old", D(2005, 3, 1), D(2005, 3, 1, 1)));
  st.AlarmCandidates = st.VisibleItems;
  VectorRows rows;
  LoadVisibleItems(st, rows);
  EXPECT_TRUE(st.VisibleItems.empty());
  EXPECT_TRUE(st.AlarmCandidates.empty());
}

TEST(LoadVisibleItems, SelectionFollowsItsItemAcrossAReSort) {
  test::ScopedClock clock(D(2005, 3, 15, 12));
  ViewState st = ViewState::Initial();
  st.AnchorDate = D(2005, 3, 15);
  VectorRows rows;
  rows.rows = {Timed("short early", D(2005, 3, 1, 9), D(2005, 3, 1, 10)),
               Timed("long late", D(2005, 3, 20, 9), D(2005, 3, 22, 10))};
  LoadVisibleItems(st, rows);
  ASSERT_EQ(st.VisibleItems[0].Subject, "short early");
  st.OwnSelection = 0;
  st.ViewMode = WeekMode;  // longest first: the order flips
  LoadVisibleItems(st, rows);
  ASSERT_EQ(st.VisibleItems[0].Subject, "long late");
  EXPECT_EQ(st.OwnSelection, 1);

  rows.rows.erase(rows.rows.begin());  // the selected item is gone
  LoadVisibleItems(st, rows);
  EXPECT_EQ(st.OwnSelection, -1);
}

TEST(CompareItems, MonthByStartOtherModesLongestFirstInvalidEqual) {
  const ScheduleItem a = Timed("a", D(2005, 3, 1, 9), D(2005, 3, 1, 12));  // 3 h
  const ScheduleItem b = Timed("b", D(2005, 3, 1, 10), D(2005, 3, 1, 11));  // 1 h
  ScheduleItem bad = a;
  bad.Start = DateTime::Invalid();
  EXPECT_EQ(CompareItems(a, b, MonthMode), -1);
  EXPECT_EQ(CompareItems(b, a, MonthMode), 1);
  EXPECT_EQ(CompareItems(a, a, MonthMode), 0);
  for (int mode : {WeekMode, DayMode, OtherUsersMode}) {
    EXPECT_EQ(CompareItems(a, b, mode), -1);
    EXPECT_EQ(CompareItems(b, a, mode), 1);
  }
  EXPECT_EQ(CompareItems(bad, b, MonthMode), 0);
  EXPECT_EQ(CompareItems(b, bad, MonthMode), 0);
}

// An item whose span cannot be formed compares equal to everything in
// every mode, whichever raw count its invalid date holds.
TEST(CompareItems, InvalidDatesAreEqualInEveryMode) {
  const ScheduleItem a = Timed("a", D(2005, 3, 1, 9), D(2005, 3, 1, 12));
  ScheduleItem no_start = a, no_end = a, both = a;
  no_start.Start = DateTime::Invalid();
  no_end.End = DateTime::Invalid();
  both.Start = both.End = DateTime::Null();
  for (int mode : {MonthMode, WeekMode, DayMode, OtherUsersMode}) {
    for (const ScheduleItem* bad : {&no_start, &no_end, &both}) {
      if (mode == MonthMode && bad == &no_end) continue;  // the month orders by Start alone
      EXPECT_EQ(CompareItems(*bad, a, mode), 0) << "mode " << mode;
      EXPECT_EQ(CompareItems(a, *bad, mode), 0) << "mode " << mode;
      EXPECT_EQ(CompareItems(*bad, *bad, mode), 0) << "mode " << mode;
    }
  }
}

// Random mixes of valid and invalid dates: the valid items come out in
// CompareItems order, the invalid ones after them in their old order.
TEST(SortItems, OrdersValidItemsAndParksInvalidOnesWithoutRelyingOnWeakOrder) {
  std::mt19937 rng(7);
  for (int mode : {MonthMode, WeekMode}) {
    for (int round = 0; round < 50; ++round) {
      std::vector<ScheduleItem> v;
      const int n = 1 + static_cast<int>(rng() % 60);
      for (int i = 0; i < n; ++i) {
        ScheduleItem it = Timed(std::to_string(i), D(2005, 1, 1).AddSeconds(rng() % 500000),
                                D(2005, 1, 1));
        it.End = it.Start.AddSeconds(rng() % 20000);
        if (rng() % 5 == 0) (rng() % 2 ? it.Start : it.End) = DateTime::Invalid();
        v.push_back(it);
      }
      std::vector<std::string> invalid_before;
      for (const auto& it : v)
        if (!it.Start.IsValid() || (mode != MonthMode && !it.End.IsValid()))
          invalid_before.push_back(it.Subject);
      SortItems(v, mode);
      ASSERT_EQ(static_cast<int>(v.size()), n);
      const size_t valid = n - invalid_before.size();
      for (size_t i = 1; i < valid; ++i) EXPECT_NE(CompareItems(v[i - 1], v[i], mode), 1);
      std::vector<std::string> invalid_after;
      for (size_t i = valid; i < v.size(); ++i) invalid_after.push_back(v[i].Subject);
      EXPECT_EQ(invalid_after, invalid_before);
    }
  }
}

TEST(ViewState, InitialValuesAndSelectionBounds) {
  test::ScopedClock clock(D(2005, 3, 15, 17, 45, 12));
  ViewState st = ViewState::Initial();
  EXPECT_EQ(st.ViewMode, MonthMode);
  EXPECT_EQ(st.SelectedDate, D(2005, 3, 15));
  EXPECT_EQ(st.AnchorDate, D(2005, 3, 15));
  EXPECT_EQ(st.FirstHour, 9);
  EXPECT_EQ(st.DrawEnabled, 0);
  EXPECT_EQ(st.RefreshReferences, 1);
  EXPECT_EQ(st.Online, 0);
  st.VisibleItems.resize(2);
  st.OwnSelection = 2;
  EXPECT_EQ(st.SelectedOwnItem(), nullptr);
  st.OwnSelection = 1;
  EXPECT_EQ(st.SelectedOwnItem(), &st.VisibleItems[1]);
  st.ReferenceSelection = 0;
  EXPECT_EQ(st.SelectedReferenceItem(), nullptr);

  // A clock that cannot be read gives no day at all, not 1899-12-30.
  clock.Set(DateTime::Invalid());
  const ViewState blind = ViewState::Initial();
  EXPECT_EQ(blind.SelectedDate.GetStatus(), DateTime::invalid);
  EXPECT_EQ(blind.AnchorDate.GetStatus(), DateTime::invalid);
}

}  // namespace
}  // namespace kv
