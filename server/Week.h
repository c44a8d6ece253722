#pragma once
// The Sunday-to-Saturday week that the other users' view shows.
#include "model/ScheduleItem.h"

namespace kv::server {

// 00:00 of the Sunday on or before d; invalid when d is not valid.
DateTime WeekStart(const DateTime& d);
// True when the item occurs on any of the seven days from `sunday`.
bool OccursInWeek(const ScheduleItem& item, const DateTime& sunday);

}  // namespace kv::server
