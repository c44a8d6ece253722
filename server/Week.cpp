#include "server/Week.h"

#include "model/Recurrence.h"

namespace kv::server {

DateTime WeekStart(const DateTime& d) {
  if (!d.IsValid() || d.DayOfWeek() < 1) return DateTime::Invalid();
  return d.DateOnly().AddDays(-(d.DayOfWeek() - 1));
}

bool OccursInWeek(const ScheduleItem& item, const DateTime& sunday) {
  if (!sunday.IsValid()) return false;
  // Day by day: the weekly and monthly rules look only at the first day
  // of the window they are asked about.
  for (int i = 0; i < 7; ++i)
    if (Occurs(item, sunday.AddDays(i), sunday.AddDays(i + 1))) return true;
  return false;
}

}  // namespace kv::server
