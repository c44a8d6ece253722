#include "view/StoreLoad.h"

namespace kv {

namespace {

class StoreRows final : public ItemRows {
 public:
  explicit StoreRows(ItemStore& store) : store_(store) {}
  int ReadFirstItem(ScheduleItem& out) override { return store_.ReadFirstItem(out); }
  int ReadNextItem(ScheduleItem& out) override { return store_.ReadNextItem(out); }

 private:
  ItemStore& store_;
};

}  // namespace

int LoadVisibleItems(ViewState& state, ItemStore& store) {
  StoreRows rows(store);
  return LoadVisibleItems(state, rows);
}

}  // namespace kv
