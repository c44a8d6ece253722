#pragma once
// The occurrence test and the next-alarm search. Rules are never
// expanded: a caller asks whether an item meets a time window.
#include "model/ScheduleItem.h"

namespace kv {

// True when the item has an occurrence meeting [from, to). Weekly,
// monthly and yearly rules look only at the day of `from`.
bool Occurs(const ScheduleItem& item, const DateTime& from, const DateTime& to);

// The next alarm instant after the current minute of `now`, or
// NoAlarmMarker() when there is none.
DateTime NextAlarmTime(const ScheduleItem& item, const DateTime& now);
// As above with the process clock.
DateTime NextAlarmTime(const ScheduleItem& item);

namespace reference {
// The literal step-by-step walk from RepStart; the oracle for Occurs.
bool Occurs(const ScheduleItem& item, const DateTime& from, const DateTime& to);
}  // namespace reference

}  // namespace kv
