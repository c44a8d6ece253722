// Cutting days out of a repeating item, against the occurrence test itself
// on random rules of every kind: what is left must occur on exactly the
// days the original did, less the days taken out.
#include <gtest/gtest.h>

#include <algorithm>

#include "model/Recurrence.h"
#include "model/SeriesCut.h"
#include "tests/support/RuleGen.h"
#include "tests/support/TestSupport.h"

namespace kv {
namespace {

using test::D;

bool OnDay(const ScheduleItem& it, int64_t day) {
  const DateTime d = DateTime::FromLinearSeconds(day * DateTime::kSecondsPerDay);
  return Occurs(it, d, d.AddDays(1));
}

bool OnDay(const SeriesCut& cut, const ScheduleItem& original, int64_t day) {
  switch (cut.result) {
    case SeriesCut::Result::Unchanged: return OnDay(original, day);
    case SeriesCut::Result::Removed: return false;
    case SeriesCut::Result::Changed: return OnDay(cut.kept, day);
  }
  return false;
}

std::string Describe(const ScheduleItem& it, int64_t day) {
  return "type " + std::to_string(it.RepType) + " x " + std::to_string(it.RepX) + " y " +
         std::to_string(it.RepY) + " z " + std::to_string(it.RepZ) + " range " +
         it.RepStart.ToString() + " - " + it.RepEnd.ToString() + " times " + it.Start.ToString() +
         " - " + it.End.ToString() + " day " +
         DateTime::FromLinearSeconds(day * DateTime::kSecondsPerDay).ToString();
}

TEST(SeriesCut, WhatIsLeftOccursOnTheOriginalDaysLessTheOnesTakenOut) {
  test::RuleGen g(20240611);
  int splits[7] = {}, moved_start[7] = {}, ended[7] = {}, removed = 0, not_on_day = 0;
  for (int i = 0; i < 5000; ++i) {
    ScheduleItem it = g.Item();
    // Every N days counts from RepStart itself; with a time of day there
    // an occurrence can run over midnight and belong to two days, which a
    // per-day comparison cannot attribute.
    if (it.RepType == 1 && it.RepStart.IsValid()) it.RepStart = it.RepStart.DateOnly();
    const int64_t rs = it.RepStart.IsValid() ? it.RepStart.DayNumber() : D(2000, 1, 1).DayNumber();
    const int64_t re = it.RepEnd.IsValid() ? it.RepEnd.DayNumber() : rs + 800;
    const int64_t span = std::clamp<int64_t>(re - rs, 0, 5 * 365);
    int64_t day = rs + g.Int(-5, static_cast<int>(span) + 5);
    if (g.Chance(15)) day = rs - 1;
    if (g.Chance(15)) {
      // The last occurrence, or near it.
      for (int64_t d = re + 1; d > re - 3000; --d)
        if (OnDay(it, d)) {
          day = d;
          break;
        }
    } else if (g.Chance(80)) {
      // Mostly a day the item occurs on, as a click gives.
      for (int64_t d = day; d < day + 3000; ++d)
        if (OnDay(it, d)) {
          day = d;
          break;
        }
    }
    const DateTime when = DateTime::FromLinearSeconds(day * DateTime::kSecondsPerDay)
                              .AddSeconds(g.Chance(20) ? g.TimeOfDay() : 0);
    const SeriesCut one = CutDay(it, when);
    const SeriesCut from = CutFromDay(it, when);
    const std::string what = Describe(it, day);

    if (it.RepType < 1 || it.RepType > 6) {
      EXPECT_EQ(one.result, SeriesCut::Result::Unchanged) << what;
      EXPECT_EQ(from.result, SeriesCut::Result::Unchanged) << what;
      continue;
    }
    const bool occurs = OnDay(it, day);
    if (!occurs) {
      ++not_on_day;
      EXPECT_EQ(one.result, SeriesCut::Result::Unchanged) << what;
    }
    if (one.result == SeriesCut::Result::Removed) ++removed;
    if (one.result == SeriesCut::Result::Changed) {
      EXPECT_EQ(one.kept.Index, it.Index) << what;
      if (one.rest) ++splits[it.RepType];
      else if (one.kept.RepStart != it.RepStart) ++moved_start[it.RepType];
      else ++ended[it.RepType];
    }
    if (one.rest) {
      // The new item's dates are those of its first occurrence, its times
      // of day and length the original's.
      EXPECT_TRUE(OnDay(*one.rest, one.rest->Start.DayNumber())) << what;
      EXPECT_EQ(one.rest->Start.SecondsOfDay(), it.Start.SecondsOfDay()) << what;
      EXPECT_EQ(one.rest->End.SecondsOfDay(), it.End.SecondsOfDay()) << what;
      EXPECT_EQ(one.rest->RepEnd, it.RepEnd) << what;
    }

    const int64_t first = std::max(rs - 2, day - 4 * 365);
    const int64_t last = std::min(re + 2, day + 4 * 365);
    for (int64_t d = first; d <= last; ++d) {
      const bool was = OnDay(it, d);
      const bool kept = OnDay(one, it, d);
      const bool rest = one.rest && OnDay(*one.rest, d);
      ASSERT_EQ(was && d != day, kept || rest) << what << " at " << (d - day) << " days";
      ASSERT_FALSE(kept && rest) << what << " at " << (d - day) << " days: in both items";
      ASSERT_EQ(was && d < day, OnDay(from, it, d))
          << what << " from the day on, at " << (d - day) << " days";
    }
  }
  // Each kind must have been split in two and cut at both ends, or the
  // comparison proves little.
  for (int t = 1; t <= 6; ++t) {
    EXPECT_GT(splits[t], 30) << "type " << t;
    EXPECT_GT(moved_start[t], 3) << "type " << t;
    EXPECT_GT(ended[t], 3) << "type " << t;
  }
  EXPECT_GT(removed, 10);
  EXPECT_GT(not_on_day, 10);
}

// A weekly rule counts every other week from RepStart's week and only
// starts after RepStart; the part after the day keeps both.
TEST(SeriesCut, EveryOtherWeekKeepsItsWeeksAtMidnightAndLater) {
  for (const int hour : {0, 9}) {
    // Mondays and Fridays, every second week, from Wednesday 2024-01-03.
    const ScheduleItem it = test::MakeRule(2, 2, (1 << 1) | (1 << 5), 0, D(2024, 1, 3),
                                           D(2024, 12, 31, 23, 59, 0), D(2024, 1, 3, hour),
                                           D(2024, 1, 3, hour + 1));
    // Friday 2024-01-05 is the first; Monday 15th and Friday 19th follow.
    const SeriesCut cut = CutDay(it, D(2024, 1, 19));
    ASSERT_EQ(cut.result, SeriesCut::Result::Changed);
    ASSERT_TRUE(cut.rest);
    EXPECT_EQ(cut.kept.RepEnd, D(2024, 1, 18, 23, 59, 0));
    EXPECT_EQ(cut.rest->RepStart, hour == 0 ? D(2024, 1, 19) : D(2024, 1, 29));
    EXPECT_EQ(cut.rest->Start, D(2024, 1, 29, hour));
    EXPECT_FALSE(OnDay(*cut.rest, D(2024, 1, 22).DayNumber())) << "an uncounted week";
    EXPECT_TRUE(OnDay(*cut.rest, D(2024, 2, 2).DayNumber()));
  }
}

}  // namespace
}  // namespace kv
