#include "model/Recurrence.h"

#include <algorithm>

#include "model/Clock.h"
#include "model/RecurrenceDetail.h"

namespace kv {
namespace detail {

namespace {

bool IsWeekend(int dow) { return dow == 0 || dow == 6; }

// The n-th (n = 5: last) day of the month whose weekday passes `want`.
template <typename Pred>
int NthMatchingDay(int y, int m, int n, Pred want) {
  const int len = DaysInMonth(y, m);
  const int first = DayOfWeekOf(y, m, 1);
  if (n == 5) {
    for (int d = len; d >= 1; --d)
      if (want((first + d - 1) % 7)) return d;
    return -1;
  }
  int count = 0;
  for (int d = 1; d <= len; ++d)
    if (want((first + d - 1) % 7) && ++count == n) return d;
  return -1;
}

// Same as NthWeekdayInMonth, by arithmetic.
int NthWeekday(int y, int m, int n, int w) {
  const int len = DaysInMonth(y, m);
  if (n == 5) {
    const int last = DayOfWeekOf(y, m, len);
    return len - ((last - w + 7) % 7);
  }
  const int first = DayOfWeekOf(y, m, 1);
  const int d = 1 + (w - first + 7) % 7 + 7 * (n - 1);
  return d <= len ? d : -1;
}

}  // namespace

int CandidateDays(int y, int m, int n, int selector, int out[7]) {
  if (n < 1 || n > 5 || m < 1 || m > 12) return 0;
  int count = 0;
  auto push = [&](int d) {
    if (d > 0) out[count++] = d;
  };
  if (selector == 1) {
    for (int w = 0; w <= 6; ++w) push(NthWeekday(y, m, n, w));
  } else if (selector == 2) {
    push(NthMatchingDay(y, m, n, [](int w) { return !IsWeekend(w); }));
  } else if (selector == 3) {
    push(NthMatchingDay(y, m, n, [](int w) { return IsWeekend(w); }));
  } else if (selector >= 4 && selector <= 10) {
    push(NthWeekday(y, m, n, selector - 4));
  }
  return count;
}

namespace {

bool MeetsOnDay(const ItemShape& item, int y, int m, int day, const DateTime& from,
                const DateTime& to) {
  int sy, sm, sd, sh, smi, ss, ey, em, ed, eh, emi, es;
  if (!item.Start.Split(sy, sm, sd, sh, smi, ss) || !item.End.Split(ey, em, ed, eh, emi, es))
    return false;
  const DateTime s = DateTime::FromParts(y, m, day, sh, smi, ss);
  const DateTime e = DateTime::FromParts(y, m, day, eh, emi, es);
  return Meets(s, e, from, to);
}

bool InRange(const ItemShape& item, const DateTime& from) {
  return item.RepStart <= from && from <= item.RepEnd;
}

bool NthRule(const ItemShape& item, int y, int m, const DateTime& from, const DateTime& to) {
  int days[7];
  const int n = CandidateDays(y, m, item.RepY, item.RepZ, days);
  for (int i = 0; i < n; ++i)
    if (MeetsOnDay(item, y, m, days[i], from, to) && InRange(item, from)) return true;
  return false;
}

}  // namespace

bool MonthDistanceFits(int rep_x, int rs_year, int rs_month, int fy, int fm) {
  if (rep_x < 1) return false;
  const int k = (fy - rs_year) * 12 + (fm - rs_month);
  return k % rep_x == 0;
}

namespace {

bool MonthDistanceFits(const ItemShape& item, int fy, int fm) {
  return item.RepX >= 1 &&
         detail::MonthDistanceFits(item.RepX, item.RepStart.Year(), item.RepStart.Month(), fy, fm);
}

}  // namespace

bool OccursDirect(const ItemShape& item, const DateTime& from, const DateTime& to,
                  bool& handled) {
  handled = true;
  if (item.SyncFlag == SyncDeleted) return false;
  switch (item.RepType) {
    case 0:
      return Meets(item.Start, item.End, from, to);
    case 1:
    case 2:
      handled = false;
      return false;
    default:
      break;
  }
  if (item.RepType < 3 || item.RepType > 6) return false;
  int fy, fm, fd, fh, fmi, fs;
  if (!from.Split(fy, fm, fd, fh, fmi, fs)) return false;
  switch (item.RepType) {
    case 3:
      if (!MonthDistanceFits(item, fy, fm)) return false;
      return MeetsOnDay(item, fy, fm, item.RepY, from, to) && InRange(item, from);
    case 4:
      if (!MonthDistanceFits(item, fy, fm) || from < item.RepStart || from > item.RepEnd)
        return false;
      return NthRule(item, fy, fm, from, to);
    case 5:
      if (item.RepX < 1 || item.RepX > 12) return false;
      return MeetsOnDay(item, fy, item.RepX, item.RepY, from, to) && InRange(item, from);
    case 6:
      if (fm != item.RepX) return false;
      return NthRule(item, fy, fm, from, to);
  }
  return false;
}

}  // namespace detail

namespace {

constexpr int64_t kDay = DateTime::kSecondsPerDay;

// Smallest k >= 0 with base + k*period > bound.
int64_t FirstAbove(int64_t base, int64_t period, int64_t bound) {
  if (base > bound) return 0;
  return DateTime::FloorDiv(bound - base, period) + 1;
}

// Is there a k >= 0 with s_k = base + k*period, e_k = s_k + delta such that
// [s_k, e_k] meets [from, to), s_k > lower (if has_lower) and s_k <= upper?
bool ArithmeticMeets(int64_t base, int64_t period, int64_t delta, int64_t from, int64_t to,
                     bool has_lower, int64_t lower, int64_t upper) {
  // Overlap: e_k > from and s_k < to, i.e. s_k > from - delta.
  int64_t bound = from - delta;
  if (has_lower) bound = std::max(bound, lower);
  const int64_t k = FirstAbove(base, period, bound);
  const int64_t s = base + k * period;
  if (s < to && s <= upper) return true;
  // Zero-length occurrence exactly at `from`.
  if (delta == 0 && from >= base && (from - base) % period == 0 && from <= upper &&
      (!has_lower || from > lower))
    return true;
  return false;
}

}  // namespace

bool Occurs(const ItemShape& item, const DateTime& from, const DateTime& to) {
  bool handled = true;
  const bool direct = detail::OccursDirect(item, from, to, handled);
  if (handled) return direct;
  if (item.RepX < 1) return false;
  if (!item.Start.IsValid() || !item.End.IsValid() || !item.RepStart.IsValid() ||
      !item.RepEnd.IsValid() || !from.IsValid() || !to.IsValid())
    return false;
  const int64_t ts = item.Start.SecondsOfDay();
  const int64_t delta = item.End.SecondsOfDay() - ts;
  const int64_t f = from.LinearSeconds();
  const int64_t t = to.LinearSeconds();
  const int64_t rep_end = item.RepEnd.LinearSeconds();

  if (item.RepType == 1) {
    // The walk visits s_k while s_k <= RepEnd and s_k <= to.
    const int64_t base = item.RepStart.LinearSeconds() + ts;
    return ArithmeticMeets(base, item.RepX * kDay, delta, f, t, false, 0, std::min(rep_end, t));
  }

  const int w = from.DayOfWeek();
  if (!(item.RepY & (1 << (w - 1)))) return false;
  const int64_t sunday = item.RepStart.DayNumber() - (item.RepStart.DayOfWeek() - 1);
  const int64_t base = (sunday + w - 1) * kDay + ts;
  // RepX comes from anyone's record: 7 * RepX overflows 32 bits.
  return ArithmeticMeets(base, int64_t{7} * item.RepX * kDay, delta, f, t, true,
                         item.RepStart.LinearSeconds(), rep_end);
}

DateTime NextAlarmTime(const ItemShape& item, const DateTime& now_in) {
  if (!now_in.IsValid()) return NoAlarmMarker();
  const DateTime now = now_in.AddSeconds(-now_in.Second());
  const bool repeats = item.RepType != 0;
  const DateTime& limit = repeats ? item.RepEnd : item.Start;
  // Without a valid end the day-by-day search would never stop.
  if (!limit.IsValid()) return NoAlarmMarker();
  int sh, smi, ss, y, m, d;
  {
    int a, b, c;
    if (!item.Start.Split(a, b, c, sh, smi, ss)) return NoAlarmMarker();
  }
  DateTime day = now.DateOnly();
  // Days before the rule's first day (or a single item's start day) never
  // occur, so the search may begin there.
  const DateTime first = repeats ? item.RepStart : item.Start;
  if (first.IsValid() && first.DateOnly() > day) day = first.DateOnly();
  while (true) {
    const DateTime next = day.AddDays(1);
    if (Occurs(item, day, next)) {
      int h, mi, s;
      if (!day.Split(y, m, d, h, mi, s)) return NoAlarmMarker();
      const DateTime cand = DateTime::FromParts(y, m, d, sh, smi, 0).AddSeconds(-int64_t{item.Alarm});
      if (cand > now) return cand;
    }
    day = next;
    if (day.Year() < 0) return NoAlarmMarker();
    if (repeats ? item.RepEnd < day : item.Start < day) return NoAlarmMarker();
  }
}

DateTime NextAlarmTime(const ItemShape& item) { return NextAlarmTime(item, Now()); }

// ---- many windows of one day ----
//
// The same steps as Occurs, split where they stop depending on the window:
// for any window inside one day the weekday, year and month are the day's,
// so the monthly and yearly rules come down to a few fixed intervals and
// the daily and weekly ones to one arithmetic series.

CalendarDay CalendarDay::Of(const DateTime& date) {
  CalendarDay d;
  d.date = date.DateOnly();
  int h, mi, s;
  d.split = d.date.Split(d.year, d.month, d.day, h, mi, s);
  d.weekday = d.date.DayOfWeek();
  return d;
}

OccurrenceTest::OccurrenceTest(const ItemShape& item)
    : type_(item.RepType), x_(item.RepX), y_(item.RepY), z_(item.RepZ) {
  if (item.SyncFlag == SyncDeleted) {
    never_ = true;
    return;
  }
  switch (type_) {
    case 0:
      never_ = !item.Start.IsValid() || !item.End.IsValid();
      start_ = item.Start.LinearSeconds();
      end_ = item.End.LinearSeconds();
      return;
    case 1:
    case 2:
      if (x_ < 1 || !item.Start.IsValid() || !item.End.IsValid() || !item.RepStart.IsValid() ||
          !item.RepEnd.IsValid()) {
        never_ = true;
        return;
      }
      ts_ = item.Start.SecondsOfDay();
      delta_ = item.End.SecondsOfDay() - ts_;
      rs_ = item.RepStart.LinearSeconds();
      re_ = item.RepEnd.LinearSeconds();
      if (type_ == 1) {
        base_ = rs_ + ts_;
        period_ = x_ * kDay;
      } else {
        sunday_ = item.RepStart.DayNumber() - (item.RepStart.DayOfWeek() - 1);
        period_ = int64_t{7} * x_ * kDay;
      }
      return;
    case 3:
    case 4:
    case 5:
    case 6: {
      int y, m, d;
      // Every one of these rules asks for an occurrence interval built from
      // the times of Start and End, and for the window inside the range.
      never_ = !item.Start.Split(y, m, d, sh_, smi_, ss_) ||
               !item.End.Split(y, m, d, eh_, emi_, es_) || !item.RepStart.IsValid() ||
               !item.RepEnd.IsValid() || (type_ == 5 && (x_ < 1 || x_ > 12));
      int h, mi, sec;
      if (!item.RepStart.Split(rs_year_, rs_month_, d, h, mi, sec)) rs_year_ = rs_month_ = -1;
      rs_ = item.RepStart.LinearSeconds();
      re_ = item.RepEnd.LinearSeconds();
      return;
    }
    default:
      never_ = true;
  }
}

OccurrenceTest::DayRule OccurrenceTest::ForDay(const CalendarDay& day) const {
  DayRule r;
  if (never_ || !day.date.IsValid()) return r;
  const int64_t day_number = day.date.DayNumber();
  auto add = [&](int y, int m, int d) {
    // Every window asked about lies inside `day`, and an interval built on
    // another date meets none of them.
    if (m < 1 || m > 12 || d < 1 || d > 31 || DaysFromCivil(y, m, 1) + (d - 1) != day_number)
      return;
    const DateTime s = DateTime::FromParts(y, m, d, sh_, smi_, ss_);
    const DateTime e = DateTime::FromParts(y, m, d, eh_, emi_, es_);
    // An interval with an invalid end meets no window.
    if (s.IsValid() && e.IsValid())
      r.spans[r.count++] = Span{s.LinearSeconds(), e.LinearSeconds()};
  };
  auto nth = [&](int y, int m) {
    int days[7];
    const int n = detail::CandidateDays(y, m, y_, z_, days);
    for (int i = 0; i < n; ++i) add(y, m, days[i]);
  };
  switch (type_) {
    case 0:
      r.spans[r.count++] = Span{start_, end_};
      return r;
    case 1:
      r.count = kArithmetic;
      r.base = base_;
      return r;
    case 2:
      if (day.weekday < 1 || !(y_ & (1 << (day.weekday - 1)))) return r;
      r.count = kArithmetic;
      r.base = (sunday_ + day.weekday - 1) * kDay + ts_;
      return r;
    default:
      break;
  }
  if (!day.split) return r;
  r.in_range = true;
  switch (type_) {
    case 3:
      if (detail::MonthDistanceFits(x_, rs_year_, rs_month_, day.year, day.month))
        add(day.year, day.month, y_);
      break;
    case 4:
      if (detail::MonthDistanceFits(x_, rs_year_, rs_month_, day.year, day.month))
        nth(day.year, day.month);
      break;
    case 5:
      add(day.year, x_, y_);
      break;
    case 6:
      if (day.month == x_) nth(day.year, day.month);
      break;
  }
  return r;
}

bool OccurrenceTest::Test(const DayRule& r, int64_t f, int64_t t) const {
  if (r.count == kArithmetic) {
    if (type_ == 1)
      return ArithmeticMeets(r.base, period_, delta_, f, t, false, 0, std::min(re_, t));
    return ArithmeticMeets(r.base, period_, delta_, f, t, true, rs_, re_);
  }
  if (r.in_range && !(rs_ <= f && f <= re_)) return false;
  for (int i = 0; i < r.count; ++i) {
    const Span& p = r.spans[i];
    if ((p.e > f && p.s < t) || (p.s == p.e && p.s == f)) return true;
  }
  return false;
}

bool OccurrenceTest::MayOccurOnDays(const DateTime& first, const DateTime& end) const {
  if (never_) return false;
  if (!first.IsValid() || !end.IsValid()) return true;
  const int64_t f = first.LinearSeconds(), e = end.LinearSeconds();
  switch (type_) {
    case 0:
      return end_ >= f && start_ < e;
    case 1:
    case 2:
      // An occurrence meeting a day starts less than a day before it (its
      // length is under a day) and before the day ends, at or after the
      // series' first start, and not after RepEnd.
      return re_ >= f - kDay && (type_ == 1 ? base_ : rs_) < e;
    default:
      // The windows' start must lie in RepStart .. RepEnd.
      return rs_ < e && re_ >= f;
  }
}

bool OccurrenceTest::OnDay(const CalendarDay& day) const {
  if (never_ || !day.date.IsValid()) return false;
  const int64_t d = day.date.LinearSeconds();
  // The one-off and the daily rules need nothing of the day but its start.
  if (type_ == 0) return (end_ > d && start_ < d + kDay) || (start_ == end_ && start_ == d);
  if (type_ == 1)
    return ArithmeticMeets(base_, period_, delta_, d, d + kDay, false, 0, std::min(re_, d + kDay));
  const DayRule r = ForDay(day);
  return r.count != 0 && Test(r, d, d + kDay);
}

uint64_t OccurrenceTest::HalfHours(const CalendarDay& day, int first) const {
  const DayRule r = ForDay(day);
  if (r.count == 0) return 0;
  uint64_t bits = 0;
  const int64_t d = day.date.LinearSeconds();
  for (int s = std::max(first, 0); s < 48; ++s) {
    const int64_t f = d + int64_t{1800} * s;
    if (Test(r, f, f + 1799)) bits |= uint64_t{1} << s;
  }
  return bits;
}

}  // namespace kv
