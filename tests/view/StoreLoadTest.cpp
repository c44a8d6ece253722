// Loading from the real store gives what loading the same rows from memory
// gives: same items, same order, same alarm candidates, on every reload.
#include <gtest/gtest.h>

#include <random>

#include "store/ItemStore.h"
#include "sync/WireRecord.h"
#include "tests/store/StoreTestRows.h"
#include "tests/view/ViewTestSupport.h"
#include "view/LoadSteps.h"
#include "view/StoreLoad.h"

namespace kv {
namespace {

using test::D;

// Each item whole, read again from the store where the load kept only its
// shape; the shape and the program flag the load kept must agree with it.
std::vector<std::string> Texts(const ViewItemList& v, ItemStore& store) {
  std::vector<std::string> out;
  for (const auto& it : v) {
    const std::optional<ScheduleItem> whole = WholeItem(it, store);
    if (!whole) {
      out.push_back("unreadable " + it.Subject);
      continue;
    }
    ScheduleItem shape = *whole;
    static_cast<ItemShape&>(shape) = it;
    const std::string text = EncodeRecordText(*whole);
    if (EncodeRecordText(shape) != text || it.Runs != !whole->Execute.empty())
      out.push_back("kept differs: " + EncodeRecordText(shape));
    else
      out.push_back(text);
  }
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
      EXPECT_EQ(Texts(from_store.VisibleItems, store), Texts(from_memory.VisibleItems, store));
      EXPECT_EQ(Texts(from_store.AlarmCandidates, store), Texts(from_memory.AlarmCandidates, store));
      if (anchor == D(2005, 3, 15)) {
        EXPECT_GT(from_store.VisibleItems.size(), 100u);
        EXPECT_FALSE(from_store.AlarmCandidates.empty());
      }
      // A second load walks the table again from its first row.
      const auto first = Texts(from_store.VisibleItems, store);
      ASSERT_EQ(LoadVisibleItems(from_store, store), 1);
      EXPECT_EQ(Texts(from_store.VisibleItems, store), first);
    }
  }
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

using test::D;

// Random stores, with the values other programs may leave in the file
// (text and blob dates, fractions, Nulls, 64-bit numbers, texts in number
// columns), loaded both ways for many windows: the same lists, always.
TEST(StoreLoad, IndexedLoadAgreesWithTheFullWalkOnRandomStores) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const DateTime now = D(2005, 3, 15, 12, 0, 0);
    test::ScopedClock clock(now);
    test::TempDir dir;
    const std::string path = dir.File("items.db");
    ItemStore store;
    ASSERT_EQ(store.CreateStore(path), 1);
    const int rows = 1500;
    for (int n = 1; n <= rows; ++n) {
      ScheduleItem it;
      it.Index = D(2004, 1, 1).AddSeconds(n);
      it.Subject = "item" + std::to_string(n);
      it.SyncFlag = pick(0, 9) == 0 ? SyncDeleted : SyncClean;
      it.Start = D(2003, 1, 1).AddSeconds(int64_t{pick(0, 4 * 365)} * 86400 + pick(0, 86399));
      switch (pick(0, 9)) {
        case 0: it.End = it.Start.AddSeconds(int64_t{pick(7, 400)} * 86400); break;  // long
        case 1: it.End = it.Start.AddSeconds(-pick(1, 86400 * 3)); break;           // before Start
        case 2:  // about a week, ending close to where some window starts
          it.End = D(2003 + pick(0, 3), pick(1, 12), 20).AddSeconds(pick(-86400, 2 * 86400));
          it.Start = it.End.AddSeconds(-pick(5 * 86400, 8 * 86400));
          break;
        case 3: it.End = DateTime::Invalid(); break;
        default: it.End = it.Start.AddSeconds(pick(0, 3 * 86400)); break;
      }
      if (pick(0, 30) == 0) it.Start = DateTime::Invalid();
      it.RepType = pick(0, 7) == 0 ? pick(-1, 7) : 0;
      it.RepX = pick(1, 3), it.RepY = pick(1, 127), it.RepZ = pick(1, 10);
      it.RepStart = D(2003, 1, 1), it.RepEnd = D(2007, 1, 1);
      it.Alarm = pick(0, 3) == 0 ? pick(0, 4) * 600 : -1;
      ASSERT_EQ(store.InsertItem(it), 1);
    }
    // What another program may write.
    const char* odd[] = {
        "\"Start\"='2005/03/12 10:00:00'", "\"Start\"=CAST('2005/3/2' AS BLOB)", "\"End\"='2005-04-01 09:00'",
        "\"End\"=CAST('2006/01/01' AS BLOB)", "\"Start\"='junk'", "\"Start\"=NULL", "\"End\"=NULL",
        "\"RepType\"=0.4", "\"RepType\"=4294967296", "\"RepType\"='2'", "\"RepType\"=NULL", "\"RepType\"=-0.3",
        "\"Alarm\"=NULL", "\"Alarm\"='abc'", "\"Alarm\"=' 300'", "\"Alarm\"=-0.4", "\"Alarm\"=-0.6",
        "\"Alarm\"=-1e20", "\"Alarm\"=-4294967295", "\"Alarm\"=2147483648", "\"Alarm\"=-2147483648.5",
        "\"Start\"=\"Start\"+0.3/86400", "\"Start\"=-5.25", "\"End\"=1e300", "\"Start\"=38426"};
    std::string sql;
    for (int k = 0; k < 300; ++k)
      sql += std::string("UPDATE MySelf SET ") + odd[pick(0, std::size(odd) - 1)] + " WHERE rowid=" +
             std::to_string(pick(1, rows)) + ";";
    store.CloseStore();
    std::string err;
    ASSERT_TRUE(test::RawExec(path, sql, &err)) << err;
    ASSERT_EQ(store.OpenStore(path), 1);

    StoreItemRows walk(store);  // the oracle
    int compared = 0, nonempty = 0;
    for (int k = 0; k < 60; ++k) {
      DateTime anchor = D(2002, 6, 1).AddDays(pick(0, 6 * 365));
      if (k == 0) anchor = D(1900, 1, 5);  // before the indexes can answer: the walk
      if (k == 1) anchor = D(2005, 3, 15);
      const int mode = pick(0, 2);
      SCOPED_TRACE(anchor.ToString() + " mode " + std::to_string(mode));
      ViewState indexed = ViewState::Initial(), walked = ViewState::Initial();
      indexed.ViewMode = walked.ViewMode = mode;
      indexed.AnchorDate = walked.AnchorDate = anchor;
      ASSERT_EQ(LoadVisibleItems(indexed, store), 1);
      ASSERT_EQ(LoadVisibleItems(walked, walk), 1);
      ASSERT_EQ(Texts(indexed.VisibleItems, store), Texts(walked.VisibleItems, store));
      ASSERT_EQ(Texts(indexed.AlarmCandidates, store), Texts(walked.AlarmCandidates, store));
      // The selection follows its item the same way.
      if (!walked.VisibleItems.empty()) {
        indexed.OwnSelection = walked.OwnSelection = pick(0, static_cast<int>(walked.VisibleItems.size()) - 1);
        indexed.ViewMode = walked.ViewMode = (mode + 1) % 3;
        LoadVisibleItems(indexed, store);
        LoadVisibleItems(walked, walk);
        EXPECT_EQ(indexed.OwnSelection, walked.OwnSelection);
      }
      // The room made beforehand holds every row read, and not many more.
      const load::Window w = load::WindowOf(indexed);
      int64_t near = 0, alarmed = 0;
      const bool indexable = store.ReadShapesNear(w.start, w.end, [&](ItemShape&, int64_t, bool) { ++near; });
      ASSERT_EQ(store.ReadAlarmedShapes([&](ItemShape&, int64_t, bool) { ++alarmed; }), 1);
      const int64_t room = store.CountRowsNear(w.start, w.end);
      if (indexable) {
        EXPECT_GE(room, near);
        EXPECT_LE(room, 4 * near);
      } else {
        EXPECT_EQ(room, -1);
      }
      EXPECT_EQ(store.CountAlarmedRows(), alarmed);
      ++compared;
      nonempty += walked.VisibleItems.size() > 20 ? 1 : 0;
    }
    EXPECT_EQ(compared, 60);
    EXPECT_GT(nonempty, 30);
    // The comparison is of the indexed reading, not of the fallback.
    int visited = 0;
    EXPECT_EQ(store.ReadShapesNear(D(2005, 2, 20), D(2005, 4, 10), [&](ItemShape&, int64_t, bool) { ++visited; }), 1);
    EXPECT_GT(visited, 0);
    EXPECT_LT(visited, rows / 2);
    EXPECT_EQ(store.ReadShapesNear(D(1900, 1, 5), D(1900, 2, 10), [](ItemShape&, int64_t, bool) {}), 0);
  }
}

}  // namespace
}  // namespace kv
