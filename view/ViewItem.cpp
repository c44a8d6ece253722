#include "view/ViewItem.h"

#include <algorithm>

namespace kv {

namespace {
const CellRect kNoRect{};
}  // namespace

CellRect& CellRectList::operator[](std::size_t i) {
  if (i >= slots_.size()) slots_.resize(std::min<std::size_t>(i + 1, kCellRectSlots));
  return slots_.at(i);
}

const CellRect& CellRectList::operator[](std::size_t i) const {
  return i < slots_.size() ? slots_[i] : kNoRect;
}

bool CellRectList::operator==(const CellRectList& o) const {
  const std::size_t n = std::max(slots_.size(), o.slots_.size());
  for (std::size_t i = 0; i < n; ++i)
    if (!((*this)[i] == o[i])) return false;
  return true;
}

bool CellRectList::Add(const CellRect& r) {
  for (auto& slot : slots_) {
    if (slot.IsEmpty()) {
      slot = r;
      return true;
    }
  }
  if (slots_.size() >= static_cast<std::size_t>(kCellRectSlots)) return false;
  slots_.push_back(r);
  return true;
}

ViewItem::ViewItem(const ScheduleItem& item)
    : ItemShape(item), Runs(!item.Execute.empty()), Whole(std::make_shared<const ScheduleItem>(item)) {}

ViewItem::operator ScheduleItem() const {
  ScheduleItem out;
  if (Whole) out = *Whole;
  static_cast<ItemShape&>(out) = *this;
  return out;
}

ViewItemList& ViewItemList::operator=(const std::vector<ScheduleItem>& items) {
  clear();
  reserve(items.size());
  for (const ScheduleItem& it : items) emplace_back(it);
  return *this;
}

}  // namespace kv
