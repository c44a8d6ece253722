#include <gtest/gtest.h>

#include <random>

#include "model/DateTime.h"
#include "tests/support/TestSupport.h"

using namespace kv;
using kv::test::D;

namespace {

struct PartsRow {
  const char* name;
  int y, mo, d, h, mi, s;
  bool valid;
  double ole;  // expected OLE day count when valid
  int ey, emo, ed;  // expected components after rollover
};

class FromPartsTest : public ::testing::TestWithParam<PartsRow> {};

TEST_P(FromPartsTest, FormsOrRefuses) {
  const auto& r = GetParam();
  DateTime t = DateTime::FromParts(r.y, r.mo, r.d, r.h, r.mi, r.s);
  ASSERT_EQ(t.IsValid(), r.valid);
  if (!r.valid) {
    EXPECT_EQ(t.Year(), -1);
    EXPECT_EQ(t.Month(), -1);
    EXPECT_EQ(t.Day(), -1);
    EXPECT_EQ(t.Hour(), -1);
    EXPECT_EQ(t.DayOfWeek(), -1);
    return;
  }
  EXPECT_NEAR(t.OleValue(), r.ole, 1e-9);
  EXPECT_EQ(t.Year(), r.ey);
  EXPECT_EQ(t.Month(), r.emo);
  EXPECT_EQ(t.Day(), r.ed);
  EXPECT_EQ(t.Hour(), r.h);
  EXPECT_EQ(t.Minute(), r.mi);
  EXPECT_EQ(t.Second(), r.s);
  // Round trip through the stored form.
  EXPECT_EQ(DateTime::FromOle(t.OleValue()), t);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FromPartsTest,
    ::testing::Values(
        PartsRow{"epoch", 1899, 12, 30, 0, 0, 0, true, 0.0, 1899, 12, 30},
        PartsRow{"noon after epoch", 1899, 12, 31, 12, 0, 0, true, 1.5, 1899, 12, 31},
        PartsRow{"day before epoch at six", 1899, 12, 29, 6, 0, 0, true, -1.25, 1899, 12, 29},
        PartsRow{"day before epoch at eighteen", 1899, 12, 29, 18, 0, 0, true, -1.75, 1899, 12, 29},
        PartsRow{"century common 1900 feb 28", 1900, 2, 28, 0, 0, 0, true, 60.0, 1900, 2, 28},
        PartsRow{"century common 1900 feb 29 rolls", 1900, 2, 29, 0, 0, 0, true, 61.0, 1900, 3, 1},
        PartsRow{"year 2000 start", 2000, 1, 1, 0, 0, 0, true, 36526.0, 2000, 1, 1},
        PartsRow{"century leap 2000 feb 29", 2000, 2, 29, 0, 0, 0, true, 36585.0, 2000, 2, 29},
        PartsRow{"april 31 rolls", 2004, 4, 31, 0, 0, 0, true, 38108.0, 2004, 5, 1},
        PartsRow{"feb 31 common rolls three", 2005, 2, 31, 0, 0, 0, true, 38414.0, 2005, 3, 3},
        PartsRow{"no alarm marker", 2004, 8, 15, 0, 0, 0, true, 38214.0, 2004, 8, 15},
        PartsRow{"last second", 9999, 12, 31, 23, 59, 59, true, 2958465.0 + 86399.0 / 86400.0,
                 9999, 12, 31},
        PartsRow{"first year", 100, 1, 1, 0, 0, 0, true, -657434.0, 100, 1, 1},
        PartsRow{"month 13", 2004, 13, 1, 0, 0, 0, false, 0, 0, 0, 0},
        PartsRow{"month 0", 2004, 0, 1, 0, 0, 0, false, 0, 0, 0, 0},
        PartsRow{"day 32", 2004, 1, 32, 0, 0, 0, false, 0, 0, 0, 0},
        PartsRow{"day 0", 2004, 1, 0, 0, 0, 0, false, 0, 0, 0, 0},
        PartsRow{"hour 24", 2004, 1, 1, 24, 0, 0, false, 0, 0, 0, 0},
        PartsRow{"minute 60", 2004, 1, 1, 0, 60, 0, false, 0, 0, 0, 0},
        PartsRow{"year 10000", 10000, 1, 1, 0, 0, 0, false, 0, 0, 0, 0}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (auto& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return n;
    });

TEST(DateTimeTest, ComparisonsFollowStatus) {
  const DateTime a = D(2004, 3, 1), b = D(2004, 3, 2);
  const DateTime inv = DateTime::Invalid(), nul = DateTime::Null();
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(b > a);
  EXPECT_TRUE(a <= a);
  EXPECT_TRUE(a >= a);
  EXPECT_TRUE(a == D(2004, 3, 1));
  for (const DateTime& bad : {inv, nul}) {
    EXPECT_FALSE(bad < a);
    EXPECT_FALSE(a < bad);
    EXPECT_FALSE(bad > a);
    EXPECT_FALSE(a > bad);
    EXPECT_FALSE(bad <= a);
    EXPECT_FALSE(a <= bad);
    EXPECT_FALSE(bad >= a);
    EXPECT_FALSE(a >= bad);
    EXPECT_FALSE(bad == a);
    EXPECT_FALSE(a == bad);
  }
  EXPECT_FALSE(inv == DateTime::Invalid());
  EXPECT_TRUE(nul == DateTime::Null());
  EXPECT_FALSE(nul <= DateTime::Null());
  EXPECT_FALSE(inv == nul);
}

TEST(DateTimeTest, ArithmeticAndSpans) {
  const DateSpan s = DateSpan::FromParts(1, 0, 30, 0);
  EXPECT_TRUE(s.IsValid());
  EXPECT_NEAR(s.TotalDays(), 1.0208333333, 1e-9);
  EXPECT_FALSE(DateSpan::FromParts(3615898, 0, 0, 0).IsValid());
  EXPECT_TRUE(DateSpan::FromParts(3615897, 0, 0, 0).IsValid());
  EXPECT_FALSE(DateSpan::FromParts(-3615898, 0, 0, 0).IsValid());
  EXPECT_EQ(D(2004, 2, 28, 23, 0, 0) + s, D(2004, 2, 29, 23, 30, 0));
  EXPECT_EQ(D(2003, 2, 28, 23, 0, 0) + s, D(2003, 3, 1, 23, 30, 0));
  EXPECT_EQ(D(2004, 3, 1) - DateSpan::Days(1), D(2004, 2, 29));
  EXPECT_NEAR((D(2004, 3, 1) - D(2004, 2, 1)).TotalDays(), 29.0, 1e-12);
  // Arithmetic runs on the linear line across the epoch.
  EXPECT_EQ(D(1899, 12, 30, 3, 0, 0) - DateSpan::FromParts(0, 6, 0, 0), D(1899, 12, 29, 21, 0, 0));
  EXPECT_NEAR(D(1899, 12, 29, 21, 0, 0).OleValue(), -1.875, 1e-12);
  // Arithmetic on an invalid date gives a valid result.
  EXPECT_TRUE((DateTime::Invalid() + DateSpan::Days(1)).IsValid());
  DateSpan big = DateSpan::Days(5);
  EXPECT_TRUE(big > DateSpan::Days(4));
  EXPECT_FALSE(DateSpan(1, DateSpan::invalid) > DateSpan::Days(0));
}

// A clock that cannot be read must not turn into 1899-12-30 on its way to
// being today.
TEST(DateTimeTest, DateOnlyKeepsTheStatus) {
  EXPECT_EQ(D(2004, 8, 15, 23, 59, 59).DateOnly(), D(2004, 8, 15));
  EXPECT_EQ(D(1899, 12, 29, 6, 0, 0).DateOnly(), D(1899, 12, 29));
  EXPECT_EQ(DateTime::Invalid().DateOnly().GetStatus(), DateTime::invalid);
  EXPECT_EQ(DateTime::Null().DateOnly().GetStatus(), DateTime::null);
}

TEST(DateTimeTest, OleValuesOutsideRangeAreInvalid) {
  EXPECT_FALSE(DateTime::FromOle(1e12).IsValid());
  EXPECT_FALSE(DateTime::FromOle(-1e12).IsValid());
  EXPECT_FALSE(DateTime::FromOle(std::nan("")).IsValid());
  EXPECT_EQ(DateTime::FromOle(-0.5), D(1899, 12, 30, 12, 0, 0));
  EXPECT_EQ(DateTime::FromOle(38000.5000001), DateTime::FromOle(38000.5));
}

// Property: components, day counts and weekdays agree with an independent
// day-by-day walk over four centuries either side of 2000.
TEST(DateTimeTest, WalkAgreesWithComponents) {
  int y = 1800, m = 1, d = 1;
  int dow = 3;  // 1 January 1800 was a Wednesday
  DateTime t = D(1800, 1, 1);
  for (int i = 0; i < 400 * 366; ++i) {
    ASSERT_EQ(t.Year(), y);
    ASSERT_EQ(t.Month(), m);
    ASSERT_EQ(t.Day(), d);
    ASSERT_EQ(t.DayOfWeek(), dow + 1);
    ASSERT_EQ(DayOfWeekOf(y, m, d), dow);
    ASSERT_EQ(D(y, m, d), t);
    ASSERT_EQ(DateTime::FromOle(t.OleValue()), t);
    t = t.AddDays(1);
    dow = (dow + 1) % 7;
    if (++d > DaysInMonth(y, m)) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
}

TEST(CalendarTest, FunctionsOnKnownDates) {
  EXPECT_EQ(DayOfWeekOf(2000, 1, 1), 6);
  EXPECT_EQ(DayOfWeekOf(2004, 2, 29), 0);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(2004, 2), 29);
  EXPECT_EQ(DaysInMonth(2003, 2), 28);
  EXPECT_EQ(WeekRowsInMonth(2004, 2), 5);
  EXPECT_EQ(WeekRowsInMonth(2003, 2), 5);
  EXPECT_EQ(WeekRowsInMonth(2015, 2), 4);   // common February starting on Sunday
  EXPECT_EQ(WeekRowsInMonth(2004, 5), 6);   // 31 days from a Saturday
  EXPECT_EQ(WeekRowsInMonth(2020, 8), 6);   // 31 days from a Saturday
  EXPECT_EQ(WeekRowsInMonth(2017, 9), 5);   // 30 days from a Friday
  EXPECT_EQ(WeekRowsInMonth(2018, 9), 6);   // 30 days from a Saturday
  EXPECT_EQ(GridDayToDate(2004, 1, 0), D(2003, 12, 31));
  EXPECT_EQ(GridDayToDate(2004, 1, 32), D(2004, 2, 1));
  EXPECT_EQ(GridDayToDate(2004, 3, -1), D(2004, 2, 28));
  EXPECT_EQ(GridDayToDate(2004, 12, 33), D(2005, 1, 2));
  EXPECT_EQ(OffsetDayToDate(2004, 2, 1, -1), D(2004, 1, 31));
  EXPECT_EQ(OffsetDayToDate(2004, 2, 28, 2), D(2004, 3, 1));
  EXPECT_EQ(PrevMonthAnchor(2004, 1), D(2003, 12, 20));
  EXPECT_EQ(PrevMonthAnchor(2004, 5), D(2004, 4, 20));
  EXPECT_EQ(NextMonthAnchor(2004, 12), D(2005, 1, 10));
  EXPECT_EQ(NextMonthAnchor(2004, 5), D(2004, 6, 10));
  EXPECT_EQ(NthWeekdayInMonth(2004, 2, 5, 0), 29);
  EXPECT_EQ(NthWeekdayInMonth(2004, 2, 4, 0), 22);
  EXPECT_EQ(NthWeekdayInMonth(2004, 2, 0, 0), -1);
  EXPECT_EQ(NthWeekdayInMonth(2004, 2, 6, 0), -1);
  EXPECT_EQ(NthWeekdayInMonth(2004, 11, 4, 4), 25);
}

// Property: every month's grid covers exactly its week rows.
TEST(CalendarTest, WeekRowsMatchGrid) {
  for (int y = 1990; y <= 2040; ++y)
    for (int m = 1; m <= 12; ++m) {
      const int first = DayOfWeekOf(y, m, 1);
      const int len = DaysInMonth(y, m);
      const int rows = WeekRowsInMonth(y, m);
      ASSERT_GE(rows, 4);
      ASSERT_LE(rows, 6);
      ASSERT_EQ(rows, (first + len + 6) / 7) << y << "/" << m;
      // The grid's first cell is the Sunday on or before day 1.
      ASSERT_EQ(GridDayToDate(y, m, 1 - first).DayOfWeek(), 1);
    }
}

}  // namespace
