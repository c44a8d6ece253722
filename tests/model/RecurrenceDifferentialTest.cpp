// The fast occurrence test against the literal walk from RepStart, on
// random rules and windows. Any disagreement is a fault in the fast path.
#include <gtest/gtest.h>

#include <random>

#include "model/Recurrence.h"
#include "tests/support/TestSupport.h"

using namespace kv;
using kv::test::D;

namespace {

class Gen {
 public:
  explicit Gen(uint32_t seed) : rng_(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int percent) { return Int(1, 100) <= percent; }

  DateTime Day(int y0, int y1) {
    return DateTime::FromParts(Int(y0, y1), Int(1, 12), Int(1, 28));
  }
  int TimeOfDay() {
    switch (Int(0, 4)) {
      case 0: return 0;
      case 1: return Int(0, 47) * 1800;         // half-hour marks
      case 2: return 86399;                     // 23:59:59
      default: return Int(0, 86399);
    }
  }

  ScheduleItem Item() {
    ScheduleItem it;
    it.SyncFlag = Chance(3) ? SyncDeleted : SyncClean;
    it.RepType = Chance(3) ? Int(-1, 8) : Int(0, 6);
    const bool odd = Chance(5);
    switch (it.RepType) {
      case 1:
      case 2:
      case 3:
      case 4:
        it.RepX = odd ? Int(-2, 0) : (Chance(50) ? 1 : Int(2, 13));
        break;
      default:
        it.RepX = odd ? Int(-1, 14) : Int(1, 12);
    }
    if (it.RepType == 2) it.RepY = Int(0, 127);
    else if (it.RepType == 3 || it.RepType == 5) it.RepY = Chance(90) ? Int(1, 31) : Int(-1, 33);
    else it.RepY = Chance(90) ? Int(1, 5) : Int(-1, 7);
    it.RepZ = Chance(90) ? Int(1, 10) : Int(-1, 12);
    it.RepStart = Day(1975, 2030);
    if (Chance(5)) it.RepStart = it.RepStart.AddSeconds(TimeOfDay());
    const int years = Int(0, 3) == 0 ? Int(0, 40) : Int(0, 2);
    it.RepEnd = it.RepStart.AddDays(Int(0, 365) + 365 * years).AddSeconds(23 * 3600 + 59 * 60);
    if (Chance(2)) it.RepEnd = DateTime::Invalid();
    if (Chance(2)) it.RepStart = DateTime::Invalid();
    const DateTime base = Day(1990, 2010);
    int ts = TimeOfDay(), te = TimeOfDay();
    if (Chance(30)) te = ts;
    if (Chance(40) && te < ts) std::swap(ts, te);
    if (Chance(15)) {
      ts = 0;
      te = 86399;
    }
    it.Start = base.AddSeconds(ts);
    it.End = base.AddDays(Chance(20) ? Int(0, 3) : 0).AddSeconds(te);
    if (Chance(1)) it.Start = DateTime::Invalid();
    return it;
  }

  // A window near the rule: a day, a half-hour slot, or anything.
  std::pair<DateTime, DateTime> Window(const ScheduleItem& it) {
    DateTime anchor;
    const DateTime rs = it.RepStart.IsValid() ? it.RepStart.DateOnly() : D(2000, 1, 1);
    const DateTime re = it.RepEnd.IsValid() ? it.RepEnd.DateOnly() : rs.AddDays(800);
    const int64_t span = std::max<int64_t>(1, re.DayNumber() - rs.DayNumber());
    switch (Int(0, 6)) {
      case 6: {
        // The rule's own day in some month or year of the range.
        const DateTime m = rs.AddDays(std::uniform_int_distribution<int64_t>(0, span)(rng_));
        const int month = it.RepType == 5 ? it.RepX : m.Month();
        anchor = DateTime::FromParts(m.Year(), month, it.RepY);
        if (!anchor.IsValid()) anchor = m;
        break;
      }
      case 0: anchor = rs.AddDays(Int(-10, 10)); break;
      case 1: anchor = re.AddDays(Int(-10, 10)); break;
      case 2: anchor = it.Start.IsValid() ? it.Start.DateOnly().AddDays(Int(-3, 3)) : rs; break;
      default: anchor = rs.AddDays(std::uniform_int_distribution<int64_t>(-30, span + 30)(rng_));
    }
    switch (Int(0, 3)) {
      case 0:
      case 1: return {anchor, anchor.AddDays(1)};
      case 2: {
        const DateTime slot = anchor.AddSeconds(1800 * Int(0, 47));
        return {slot, slot.AddSeconds(1800)};
      }
      default: {
        const DateTime from = anchor.AddSeconds(TimeOfDay());
        const int len = Chance(10) ? -Int(0, 86400) : (Chance(10) ? 0 : Int(1, 5 * 86400));
        return {from, from.AddSeconds(len)};
      }
    }
  }

 private:
  std::mt19937 rng_;
};

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

