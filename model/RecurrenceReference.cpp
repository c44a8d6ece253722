// The rule walk exactly as the behaviour is defined: one interval at a
// time from RepStart. Slow for old rules; kept as the oracle for Occurs.
#include "model/RecurrenceDetail.h"

namespace kv::reference {

bool Occurs(const ItemShape& item, const DateTime& from, const DateTime& to) {
  bool handled = true;
  const bool direct = detail::OccursDirect(item, from, to, handled);
  if (handled) return direct;
  if (item.RepX < 1) return false;
  if (!item.Start.IsValid() || !item.End.IsValid() || !item.RepStart.IsValid() ||
      !item.RepEnd.IsValid())
    return false;
  const int64_t ts = item.Start.SecondsOfDay();
  const int64_t te = item.End.SecondsOfDay();

  if (item.RepType == 1) {
    DateTime s = item.RepStart.AddSeconds(ts);
    DateTime e = item.RepStart.AddSeconds(te);
    const DateSpan step = DateSpan::Days(item.RepX);
    while (s <= item.RepEnd && s <= to) {
      if (detail::Meets(s, e, from, to)) return true;
      s += step;
      e += step;
    }
    return false;
  }

  // RepType 2
  const int w = from.DayOfWeek();
  if (w < 1 || !(item.RepY & (1 << (w - 1)))) return false;
  DateTime week = item.RepStart.DateOnly().AddDays(-(item.RepStart.DayOfWeek() - 1));
  const DateSpan step = DateSpan::Days(7LL * item.RepX);
  while (week <= item.RepEnd) {
    const DateTime d = week.AddDays(w - 1);
    const DateTime s = d.AddSeconds(ts);
    const DateTime e = d.AddSeconds(te);
    if (detail::Meets(s, e, from, to) && s > item.RepStart && s <= item.RepEnd) return true;
    week += step;
  }
  return false;
}

}  // namespace kv::reference
