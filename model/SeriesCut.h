#pragma once
// Taking days out of a repeating item: the occurrences of one day, or
// those from one day on. The result is expressed in rules the item already
// has, so every client and the server read it the same way.
#include <optional>

#include "model/ScheduleItem.h"

namespace kv {

struct SeriesCut {
  enum class Result {
    Unchanged,  // nothing of the item falls on the days taken out
    Removed,    // nothing of it is left: delete the item
    Changed,    // `kept` is the item's new version (same Index)
  };
  Result result = Result::Unchanged;
  ScheduleItem kept;
  // The occurrences after the day, as an item still without an Index.
  std::optional<ScheduleItem> rest;
};

// The occurrences on `day` (any time of it) taken out of a repeating item.
SeriesCut CutDay(const ScheduleItem& item, const DateTime& day);
// Every occurrence from `day` on taken out.
SeriesCut CutFromDay(const ScheduleItem& item, const DateTime& day);

}  // namespace kv
