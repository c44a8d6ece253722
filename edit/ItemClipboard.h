#pragma once
// The program's own clipboard for schedule items: one item, process-wide,
// never stored and never shared with other programs. Window thread only.
#include <cstdint>

#include "model/ScheduleItem.h"

namespace kv {

class ItemClipboard {
 public:
  static ItemClipboard& Instance();

  // An empty subject means the clipboard holds nothing.
  bool IsEmpty() const { return item_.Subject.empty(); }
  // Takes the fields a paste uses from `from`, with the given owner; the
  // held item has nothing else, so a paste may start from a copy of it.
  void Put(const ScheduleItem& from, int32_t user_id);
  const ScheduleItem& Item() const { return item_; }
  // Back to the start-up state.
  void Clear() { item_ = ScheduleItem{}; }

 private:
  ScheduleItem item_;
};

}  // namespace kv
