#pragma once
// The occurrence test and the next-alarm search. Rules are never
// expanded: a caller asks whether an item meets a time window.
#include <cstdint>

#include "model/ScheduleItem.h"

namespace kv {

// True when the item has an occurrence meeting [from, to). Weekly,
// monthly and yearly rules look only at the day of `from`.
bool Occurs(const ItemShape& item, const DateTime& from, const DateTime& to);

// The next alarm instant after the current minute of `now`, or
// NoAlarmMarker() when there is none.
DateTime NextAlarmTime(const ItemShape& item, const DateTime& now);
// As above with the process clock.
DateTime NextAlarmTime(const ItemShape& item);

// A calendar day with its parts taken once, for many occurrence tests.
struct CalendarDay {
  DateTime date;  // 00:00 of the day
  int year = 0, month = 0, day = 0;
  int weekday = 0;      // 1 = Sunday .. 7 = Saturday
  bool split = false;   // false outside years 100..9999
  static CalendarDay Of(const DateTime& date);
};

// The occurrence test of one item over many windows of a day: what depends
// only on the item is worked out once, what depends on the day once per
// day. Every answer equals Occurs() over the same window.
class OccurrenceTest {
 public:
  explicit OccurrenceTest(const ItemShape& item);

  // Occurs(item, day, day + 1 day).
  bool OnDay(const CalendarDay& day) const;
  // False only when the item meets no window inside the days from `first`
  // (00:00) to `end` (exclusive), so neither OnDay nor HalfHours can find
  // one there: lets a caller leave it out of a whole page at once.
  bool MayOccurOnDays(const DateTime& first, const DateTime& end) const;
  // Bit s (first..47) set when Occurs(item, f, f + 29:59), f = day + s *
  // 30 min; the bits below `first` stay clear.
  uint64_t HalfHours(const CalendarDay& day, int first = 0) const;

 private:
  struct Span {
    int64_t s, e;
  };
  // What is left to ask of a window inside one day.
  struct DayRule {
    int count = 0;        // occurrence intervals in `spans`, or kArithmetic
    Span spans[7];
    bool in_range = false;  // the window start must lie in RepStart..RepEnd
    int64_t base = 0;  // kArithmetic
  };
  static constexpr int kArithmetic = -1;

  DayRule ForDay(const CalendarDay& day) const;
  bool Test(const DayRule& r, int64_t from, int64_t to) const;

  int type_, x_, y_, z_;
  bool never_ = false;
  int64_t start_ = 0, end_ = 0;     // RepType 0
  int64_t ts_ = 0, delta_ = 0;      // RepType 1, 2: time of day, length
  int64_t base_ = 0, period_ = 0;   // RepType 1; RepType 2: period only
  int64_t sunday_ = 0;              // RepType 2: the week of RepStart
  int sh_ = 0, smi_ = 0, ss_ = 0, eh_ = 0, emi_ = 0, es_ = 0;  // RepType 3-6
  int rs_year_ = -1, rs_month_ = -1;
  int64_t rs_ = 0, re_ = 0;  // RepStart, RepEnd
};

namespace reference {
// The literal step-by-step walk from RepStart; the oracle for Occurs.
bool Occurs(const ItemShape& item, const DateTime& from, const DateTime& to);
}  // namespace reference

}  // namespace kv
