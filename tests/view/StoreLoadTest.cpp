// Loading from the real store gives what loading the same rows from memory
// gives: same items, same order, same alarm candidates, on every reload.
#include <gtest/gtest.h>

#include <random>

#include "store/ItemStore.h"
#include "sync/WireRecord.h"
#include "tests/view/ViewTestSupport.h"
#include "view/StoreLoad.h"

namespace kv {
namespace {

using test::D;

std::vector<std::string> Texts(const std::vector<ScheduleItem>& v) {
  std::vector<std::string> out;
  for (const auto& it : v) out.push_back(EncodeRecordText(it));
  return out;
}

TEST(StoreLoad, AgreesWithTheSameRowsInMemory) {
  test::ScopedClock clock(D(2005, 3, 15, 12, 0, 0));
  test::TempDir dir;
  ItemStore store;
  ASSERT_EQ(store.CreateStore(dir.File("items.db")), 1);
  test::VectorRows rows;
  std::mt19937 rng(315);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int n = 0; n < 600; ++n) {
    const DateTime start = D(2005, pick(1, 6), pick(1, 28), pick(0, 23), pick(0, 1) * 30);
    ScheduleItem it = pick(0, 3) == 0
                          ? test::MakeRule(pick(1, 6), pick(1, 3), pick(1, 5), pick(1, 7), D(2004, 1, 1),
                                           D(2006, 1, 1), start, start.AddSeconds(3600))
                          : test::Timed("t", start, start.AddSeconds(pick(1, 80) * 1800));
    it.Index = D(2005, 1, 1).AddSeconds(n);
    it.Subject = "item" + std::to_string(n);
    it.Alarm = pick(0, 1) ? 600 : -1;
    it.AlarmTime = start.AddSeconds(-600);
    it.SyncFlag = pick(0, 9) == 0 ? SyncDeleted : SyncClean;
    ASSERT_EQ(store.InsertItem(it), 1);
    rows.rows.push_back(it);
  }
  for (int mode = 0; mode < 3; ++mode) {
    for (DateTime anchor : {D(2005, 3, 15), D(2005, 1, 2), D(2005, 6, 30), D(2007, 1, 1)}) {
      SCOPED_TRACE(anchor.ToString() + " mode " + std::to_string(mode));
      ViewState from_store = ViewState::Initial(), from_memory = ViewState::Initial();
      from_store.ViewMode = from_memory.ViewMode = mode;
      from_store.AnchorDate = from_memory.AnchorDate = anchor;
      ASSERT_EQ(LoadVisibleItems(from_store, store), 1);
      ASSERT_EQ(LoadVisibleItems(from_memory, rows), 1);
      EXPECT_EQ(Texts(from_store.VisibleItems), Texts(from_memory.VisibleItems));
      EXPECT_EQ(Texts(from_store.AlarmCandidates), Texts(from_memory.AlarmCandidates));
      if (anchor == D(2005, 3, 15)) {
        EXPECT_GT(from_store.VisibleItems.size(), 100u);
        EXPECT_FALSE(from_store.AlarmCandidates.empty());
      }
      // A second load walks the table again from its first row.
      const auto first = Texts(from_store.VisibleItems);
      ASSERT_EQ(LoadVisibleItems(from_store, store), 1);
      EXPECT_EQ(Texts(from_store.VisibleItems), first);
    }
  }
}

}  // namespace
}  // namespace kv
