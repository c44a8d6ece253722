#pragma once
// An item as the calendar holds it: its shape, where the last drawing put
// it, and where to find the whole item again. The long texts stay in the
// store until a dialog, the clipboard or an alarm asks for them.
#include <cstdint>
#include <memory>
#include <vector>

#include "model/ScheduleItem.h"

namespace kv {

// The rectangles one drawing gave an item: as many as were drawn (at most
// kCellRectSlots), so an item nobody drew costs no room. A slot past the
// end reads as empty; writing one makes room up to it.
class CellRectList {
 public:
  CellRect& operator[](std::size_t i);
  const CellRect& operator[](std::size_t i) const;
  std::vector<CellRect>::const_iterator begin() const { return slots_.begin(); }
  std::vector<CellRect>::const_iterator end() const { return slots_.end(); }
  std::size_t size() const { return slots_.size(); }
  // Same rectangles in the same slots; empty slots at the end do not count.
  bool operator==(const CellRectList& o) const;
  // Into the first empty slot; false when all kCellRectSlots are used.
  bool Add(const CellRect& r);
  // Forgets the rectangles, keeping the room of an item drawn before.
  void Clear() { slots_.clear(); }

 private:
  std::vector<CellRect> slots_;
};

struct ViewItem : ItemShape {
  // Screen rectangles of the last drawing.
  CellRectList CellRects;
  // The store row it was read from (0: not from the store) and whether
  // that row names a program.
  int64_t Row = 0;
  bool Runs = false;
  // The whole item, kept only when it came whole (the other users' items
  // from the server; items put in directly).
  std::shared_ptr<const ScheduleItem> Whole;

  ViewItem() = default;
  // Keeps the whole item beside the shape.
  ViewItem(const ScheduleItem& item);  // NOLINT: a whole item is a view item
  ViewItem(ItemShape&& shape, int64_t row, bool runs)
      : ItemShape(std::move(shape)), Row(row), Runs(runs) {}

  bool AddCellRect(const CellRect& r) { return CellRects.Add(r); }
  void ClearCellRects() { CellRects.Clear(); }

  // The item as far as the view knows it: the kept whole item, else the
  // shape with no long texts. Commands that need the texts read the store
  // (WholeItem in view/StoreLoad.h).
  operator ScheduleItem() const;  // NOLINT
};

// The view's arrays; whole items can be put in as they are.
class ViewItemList : public std::vector<ViewItem> {
 public:
  using std::vector<ViewItem>::vector;
  using std::vector<ViewItem>::operator=;
  ViewItemList() = default;
  ViewItemList(const std::vector<ScheduleItem>& items) { *this = items; }  // NOLINT
  ViewItemList& operator=(const std::vector<ScheduleItem>& items);
  ViewItemList& operator=(std::vector<ScheduleItem>&& items) {
    return *this = static_cast<const std::vector<ScheduleItem>&>(items);
  }
};

}  // namespace kv
