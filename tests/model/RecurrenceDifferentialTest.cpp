// The fast occurrence test against the literal walk from RepStart, on
// random rules and windows. Any disagreement is a fault in the fast path.
#include <gtest/gtest.h>

#include <random>

#include "model/Recurrence.h"
#include "tests/support/RuleGen.h"
#include "tests/support/TestSupport.h"

using namespace kv;
using kv::test::D;

namespace {

using Gen = test::RuleGen;

TEST(RecurrenceDifferentialTest, FastAgreesWithWalk) {
  Gen g(20041115);
  int trues = 0, checked = 0;
  int per_type[7] = {};
  for (int i = 0; i < 40000; ++i) {
    const ScheduleItem it = g.Item();
    for (int w = 0; w < 8; ++w) {
      const auto [from, to] = g.Window(it);
      const bool fast = Occurs(it, from, to);
      const bool slow = reference::Occurs(it, from, to);
      ASSERT_EQ(fast, slow) << "type " << it.RepType << " x " << it.RepX << " y " << it.RepY
                            << " z " << it.RepZ << " range " << it.RepStart.ToString() << " - "
                            << it.RepEnd.ToString() << " times " << it.Start.ToString() << " - "
                            << it.End.ToString() << " window " << from.ToString() << " - "
                            << to.ToString();
      ++checked;
      if (fast) {
        ++trues;
        if (it.RepType >= 0 && it.RepType <= 6) ++per_type[it.RepType];
      }
    }
  }
  // The generator must reach both answers for every rule kind, or the
  // comparison proves little.
  EXPECT_GT(trues, checked / 20);
  for (int t = 0; t <= 6; ++t) EXPECT_GT(per_type[t], 100) << "type " << t;
}

// The prepared test of one item against Occurs itself, for the whole day
// and for each of its 48 half-hour windows, on random rules and days near
// them (the last days a date can split, and one past, included); and its
// page filter, which may only leave out pages where nothing occurs.
TEST(RecurrenceDifferentialTest, PreparedDayTestAgreesWithOccurs) {
  Gen g(19990401);
  int day_trues = 0, slot_trues = 0, partial_days = 0, checked = 0, skipped = 0;
  int per_type[7] = {};
  for (int i = 0; i < 30000; ++i) {
    ScheduleItem it = g.Item();
    if (g.Chance(2)) {
      // Rules that run into the last representable days.
      it.RepStart = D(9999, 12, 1).AddSeconds(g.TimeOfDay());
      it.RepEnd = D(9999, 12, 31, 23, 59, 59).AddDays(g.Int(0, 2));
      it.Start = D(9999, 12, g.Int(1, 31)).AddSeconds(g.TimeOfDay());
      it.End = it.Start.AddSeconds(g.Int(0, 2) * 86400 + g.Int(0, 7200));
    }
    const OccurrenceTest prepared(it);
    for (int w = 0; w < 4; ++w) {
      DateTime day = g.Window(it).first.DateOnly();
      if (it.RepStart.IsValid() && it.RepStart.Year() == 9999) day = D(9999, 12, 28).AddDays(g.Int(0, 5));
      const CalendarDay cd = CalendarDay::Of(day);
      const bool whole = Occurs(it, day, day.AddDays(1));
      ASSERT_EQ(prepared.OnDay(cd), whole)
          << "type " << it.RepType << " x " << it.RepX << " y " << it.RepY << " z " << it.RepZ
          << " range " << it.RepStart.ToString() << " - " << it.RepEnd.ToString() << " times "
          << it.Start.ToString() << " - " << it.End.ToString() << " day " << day.ToString();
      const uint64_t bits = prepared.HalfHours(cd);
      int set = 0;
      for (int s = 0; s < 48; ++s) {
        const DateTime from = day.AddSeconds(1800 * s);
        const bool want = Occurs(it, from, from.AddSeconds(1799));
        ASSERT_EQ(((bits >> s) & 1) != 0, want)
            << "slot " << s << " type " << it.RepType << " x " << it.RepX << " y " << it.RepY
            << " z " << it.RepZ << " range " << it.RepStart.ToString() << " - "
            << it.RepEnd.ToString() << " times " << it.Start.ToString() << " - "
            << it.End.ToString() << " day " << day.ToString();
        set += want;
      }
      EXPECT_EQ(bits >> 48, 0u);
      // The page filter may say no only for pages with nothing on them.
      const DateTime first = day.AddDays(-g.Int(0, 3)), end = day.AddDays(g.Int(1, 4));
      if (!prepared.MayOccurOnDays(first, end)) {
        ++skipped;
        ASSERT_FALSE(whole) << "type " << it.RepType << " day " << day.ToString() << " page "
                            << first.ToString() << " - " << end.ToString() << " times "
                            << it.Start.ToString() << " - " << it.End.ToString() << " range "
                            << it.RepStart.ToString() << " - " << it.RepEnd.ToString();
        ASSERT_EQ(bits, 0u) << "type " << it.RepType << " day " << day.ToString();
      }
      ++checked;
      day_trues += whole;
      slot_trues += set > 0;
      partial_days += set > 0 && set < 48;
      if (whole && it.RepType >= 0 && it.RepType <= 6) ++per_type[it.RepType];
    }
  }
  // Both answers, and days met only in part, for every rule kind.
  EXPECT_GT(day_trues, checked / 20);
  EXPECT_GT(slot_trues, checked / 40);
  EXPECT_GT(partial_days, checked / 40);
  EXPECT_GT(skipped, checked / 10);
  for (int t = 0; t <= 6; ++t) EXPECT_GT(per_type[t], 20) << "type " << t;
}

// Every day of a rule's whole range, both ways, for long daily and weekly
// rules whose windows lie decades after RepStart.
TEST(RecurrenceDifferentialTest, DecadesOfDaysAgree) {
  Gen g(77);
  for (int i = 0; i < 60; ++i) {
    ScheduleItem it = g.Item();
    it.SyncFlag = SyncClean;
    it.RepType = 1 + i % 2;
    it.RepX = 1 + g.Int(0, 4);
    it.RepStart = D(1976, 2, 29);
    it.RepEnd = D(2006, 3, 1, 23, 59, 0);
    for (DateTime d = D(2005, 1, 1); d <= D(2006, 3, 5); d = d.AddDays(1))
      ASSERT_EQ(Occurs(it, d, d.AddDays(1)), reference::Occurs(it, d, d.AddDays(1)))
          << d.ToString() << " type " << it.RepType << " x " << it.RepX;
  }
}

// NextAlarmTime begins its search at the rule's first day; a literal
// day-by-day search from today must find the same instant.
TEST(RecurrenceDifferentialTest, NextAlarmMatchesLiteralSearch) {
  Gen g(4242);
  auto literal = [](const ScheduleItem& it, DateTime now_in) {
    const DateTime now = now_in.AddSeconds(-now_in.Second());
    DateTime day = now.DateOnly();
    for (int guard = 0; guard < 30000; ++guard) {
      const DateTime next = day.AddDays(1);
      if (reference::Occurs(it, day, next)) {
        const DateTime c = DateTime::FromParts(day.Year(), day.Month(), day.Day(),
                                               it.Start.Hour(), it.Start.Minute(), 0)
                               .AddSeconds(-int64_t{it.Alarm});
        if (c > now) return c;
      }
      day = next;
      if (it.RepType != 0 ? it.RepEnd < day : it.Start < day) return NoAlarmMarker();
    }
    return DateTime::Invalid();  // would not have ended
  };
  int found = 0;
  for (int i = 0; i < 3000; ++i) {
    ScheduleItem it = g.Item();
    if (!it.RepEnd.IsValid() || !it.Start.IsValid()) continue;
    it.RepEnd = std::min(it.RepEnd, it.RepStart.AddDays(3 * 365), [](auto a, auto b) {
      return a < b;
    });
    it.Alarm = g.Chance(50) ? 0 : 60 * g.Int(0, 3000);
    const DateTime now = it.RepStart.IsValid() ? it.RepStart.AddDays(g.Int(-40, 400)).AddSeconds(g.Int(0, 86399))
                                               : D(2004, 3, 1, 12, 0, 0);
    const DateTime expect = literal(it, now);
    if (!expect.IsValid()) continue;
    ASSERT_EQ(NextAlarmTime(it, now), expect) << "type " << it.RepType;
    if (expect != NoAlarmMarker()) ++found;
  }
  EXPECT_GT(found, 200);
}

}  // namespace

// A record from anyone can carry any interval: seven times a huge weekly
// interval does not fit 32 bits, and must still mean "once only".
TEST(RecurrenceDifferentialTest, HugeIntervalsAgreeWithTheWalk) {
  int occurrences = 0;
  for (int32_t x : {INT32_MAX, INT32_MAX / 7 + 1, 400000000, 1 << 30, 306783378}) {
    for (int type : {1, 2}) {
      ScheduleItem it = test::MakeRule(type, x, 0x7F, 0, D(2004, 8, 1), D(2030, 12, 31, 23, 59, 0),
                                       D(2004, 8, 1, 10), D(2004, 8, 1, 11));
      for (DateTime d = D(2004, 7, 25); d <= D(2005, 3, 1); d = d.AddDays(1)) {
        const bool fast = Occurs(it, d, d.AddDays(1));
        ASSERT_EQ(fast, reference::Occurs(it, d, d.AddDays(1)))
            << "type " << type << " x " << x << " on " << d.ToString();
        occurrences += fast ? 1 : 0;
      }
    }
  }
  // Each rule occurs in its first interval only: the daily rule once, the
  // weekly one on every day of RepStart's week (it starts on a Sunday).
  EXPECT_EQ(occurrences, 5 * (1 + 7));
}

