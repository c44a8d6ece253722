#pragma once
// Random rules and windows near them, odd values included, for the
// differential tests of the occurrence test and of its users.
#include <algorithm>
#include <random>
#include <utility>

#include "model/ScheduleItem.h"
#include "tests/support/TestSupport.h"

namespace kv::test {

class RuleGen {
 public:
  explicit RuleGen(uint32_t seed) : rng_(seed) {}
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

}  // namespace kv::test
