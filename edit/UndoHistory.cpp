#include "edit/UndoHistory.h"

namespace kv {

void UndoHistory::Record(UndoStep step) {
  if (step.empty()) return;
  steps_.push_back(std::move(step));
  while (steps_.size() > kSteps) steps_.pop_front();
}

std::optional<UndoStep> UndoHistory::Take() {
  if (steps_.empty()) return std::nullopt;
  UndoStep step = std::move(steps_.back());
  steps_.pop_back();
  return step;
}

void UndoHistory::Rewritten(const ScheduleItem& restored, const ScheduleItem& row) {
  for (auto s = steps_.rbegin(); s != steps_.rend(); ++s) {
    for (UndoEntry& e : *s) {
      if (e.after.Index != row.Index) continue;
      if (e.after.Updated == restored.Updated) e.after = row;
      return;
    }
  }
}

}  // namespace kv
