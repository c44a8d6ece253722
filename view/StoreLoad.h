#pragma once
// LoadVisibleItems over the user's store.
#include <optional>

#include "store/ItemStore.h"
#include "view/ViewState.h"

namespace kv {

// The item table walked row by row, from its first row each time.
class StoreItemRows final : public ItemRows {
 public:
  explicit StoreItemRows(ItemStore& store) : store_(store) {}
  int ReadFirstItem(ScheduleItem& out) override { return store_.ReadFirstItem(out); }
  int ReadNextItem(ScheduleItem& out) override { return store_.ReadNextItem(out); }

 private:
  ItemStore& store_;
};

// Reads only the rows that can be visible or alarmed; gives what walking
// every row (StoreItemRows) gives.
int LoadVisibleItems(ViewState& state, ItemStore& store);

// The whole item behind a view item: the one it kept, or its row read
// again; nullopt when the row is gone, holds another item now, or cannot
// be read.
std::optional<ScheduleItem> WholeItem(const ViewItem& item, ItemStore& store);

}  // namespace kv
