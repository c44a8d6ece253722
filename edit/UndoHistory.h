#pragma once
// The user's last changes to their own items in this run, for 元に戻す.
// In memory only; window thread only.
#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

#include "model/ScheduleItem.h"

namespace kv {

// One item of a change: its row before (none for an add) and the row the
// change left (a tombstone for a delete).
struct UndoEntry {
  std::optional<ScheduleItem> before;
  ScheduleItem after;
};
// What one command did; undone as a whole.
using UndoStep = std::vector<UndoEntry>;

class UndoHistory {
 public:
  static constexpr std::size_t kSteps = 20;

  // The oldest step goes once more than kSteps are held.
  void Record(UndoStep step);
  bool Empty() const { return steps_.empty(); }
  std::size_t Size() const { return steps_.size(); }
  // The latest step, taken off the history.
  std::optional<UndoStep> Take();
  // An undo rewrote the item that `restored` was the version of: the
  // latest step that left exactly that version now expects `row`, so it
  // can still be undone. A version from elsewhere is left alone, and the
  // step below it will be refused.
  void Rewritten(const ScheduleItem& restored, const ScheduleItem& row);

 private:
  std::deque<UndoStep> steps_;
};

}  // namespace kv
