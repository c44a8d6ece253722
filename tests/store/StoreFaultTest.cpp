// Failures of the engine underneath: a full disk at every possible write,
// a read-only file. Each must end as the failure result with the file as
// it was before the operation, never as a crash or a partial change.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "store/ItemStore.h"
#include "tests/store/StoreTestRows.h"
#include "tests/support/FaultSqlite.h"
#include "tests/support/TestSupport.h"

namespace kv {
namespace {

using test::D;
using test::MakeRow;

class StoreFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ItemStore s;
    ASSERT_EQ(s.CreateStore(base), 1);
    for (int n = 1; n <= 30; ++n) {
      ScheduleItem it = MakeRow(n, 0);
      it.Updated = D(2004, 1, 1);
      ASSERT_EQ(s.InsertItem(it), 1);
      if (n % 4 == 0) {
        ASSERT_EQ(s.MarkItemDeleted(it), 1);
      }
    }
    ASSERT_EQ(s.WriteSettings("user", "host", 1, "pw"), 1);
    std::vector<UserEntry> users(2);
    users[0].UserName = "a";
    users[1].UserName = "b";
    ASSERT_EQ(s.SaveUserList(users), 1);
  }

  test::TempDir dir;
  std::string base = dir.File("base.mdb");
  test::FaultVfs vfs;
};

struct Op {
  const char* name;
  std::function<int(ItemStore&)> run;
};

// Every operation that writes, failed at its first, second, ... write until
// it gets through: a failure leaves exactly the old content, a success
// exactly the new one.
TEST_F(StoreFaultTest, FullDiskAtEveryWriteLeavesTheOldOrTheNewStore) {
  test::ScopedClock clock(D(2004, 9, 1));
  std::vector<UserEntry> many(40);
  for (int i = 0; i < 40; ++i) {
    many[i].UserID = i;
    many[i].UserName = std::string(300, 'u') + std::to_string(i);
  }
  ScheduleItem big = MakeRow(31, 0);
  big.Desc = std::string(20000, 'd');  // spans several pages
  const Op ops[] = {
      {"insert", [&](ItemStore& s) { return s.InsertItem(big); }},
      {"update", [](ItemStore& s) { return s.UpdateItemByIndex(MakeRow(5, 3)); }},
      {"mark deleted", [](ItemStore& s) { return s.MarkItemDeleted(MakeRow(6, 0)); }},
      {"purge", [](ItemStore& s) { return s.PurgeDeletedItems(60); }},
      {"write settings", [](ItemStore& s) { return s.WriteSettings("u2", "", 9, "p2"); }},
      {"touch last update", [](ItemStore& s) { return s.TouchLastUpdate(); }},
      {"save user list", [&](ItemStore& s) { return s.SaveUserList(many); }},
  };
  for (const Op& op : ops) {
    SCOPED_TRACE(op.name);
    const std::string work = dir.File("work.mdb");
    std::string before, after;
    {
      std::filesystem::copy_file(base, work, std::filesystem::copy_options::overwrite_existing);
      ItemStore s;
      ASSERT_EQ(s.OpenStore(work), 1);
      before = test::Snapshot(s);
      ASSERT_EQ(op.run(s), 1);
      after = test::Snapshot(s);
      ASSERT_NE(before, after);
    }
    int failures = 0;
    for (int64_t allowed = 0;; ++allowed) {
      SCOPED_TRACE("writes allowed: " + std::to_string(allowed));
      std::filesystem::copy_file(base, work, std::filesystem::copy_options::overwrite_existing);
      ItemStore s;
      ASSERT_EQ(s.OpenStore(work), 1);
      const int64_t refused_before = vfs.Refused();
      vfs.FailAfterWrites(allowed);
      const int r = op.run(s);
      const bool refused = vfs.Refused() > refused_before;
      vfs.Clear();
      // What the running store shows and what a fresh open finds agree.
      const std::string live = test::Snapshot(s);
      s.CloseStore();
      ASSERT_EQ(s.OpenStore(work), 1);
      const std::string reopened = test::Snapshot(s);
      EXPECT_EQ(live, reopened);
      if (r == 0) {
        ++failures;
        EXPECT_EQ(reopened, before);
      } else {
        EXPECT_EQ(reopened, after);
      }
      if (!refused) {
        EXPECT_EQ(r, 1);
        break;
      }
      ASSERT_LT(allowed, 500) << "the operation never got through";
    }
    EXPECT_GT(failures, 0) << "no write of this operation was ever refused";
    ::testing::Test::RecordProperty(std::string("refused_runs_") + op.name, failures);
  }
}

TEST_F(StoreFaultTest, CreationOnAFullDiskLeavesNoFile) {
  const std::string path = dir.File("new.mdb");
  ItemStore s;
  vfs.FailAfterWrites(1);
  EXPECT_EQ(s.CreateStore(path), 0);
  EXPECT_FALSE(s.IsOpen());
  EXPECT_EQ(::access(path.c_str(), F_OK), -1);
  vfs.Clear();
  EXPECT_EQ(s.CreateStore(path), 1);
}

TEST_F(StoreFaultTest, ReadOnlyFileIsRefused) {
  ItemStore s;
  vfs.SetReadOnly(true);
  EXPECT_EQ(s.OpenStore(base), 0);
  EXPECT_FALSE(s.IsOpen());
  vfs.Clear();
  // With real permissions too, where the mode bits bind (not as root).
  ASSERT_EQ(::chmod(base.c_str(), 0400), 0);
  if (::geteuid() != 0) {
    EXPECT_EQ(s.OpenStore(base), 0);
  }
  ASSERT_EQ(::chmod(base.c_str(), 0600), 0);
  ASSERT_EQ(s.OpenStore(base), 1);
  EXPECT_EQ(test::AllRows(s).size(), 30u);
}

// A walk that meets a read error says so, rather than looking like the end
// of a shorter table.
TEST_F(StoreFaultTest, ReadErrorInAWalkIsNotTheEnd) {
  const std::string big = dir.File("big.mdb");
  {
    ItemStore s;
    ASSERT_EQ(s.CreateStore(big), 1);
  }
  std::string err;
  ASSERT_TRUE(test::AddBulkRows(big, D(2004, 8, 1), 12000, 3000, &err)) << err;
  ItemStore s;
  ASSERT_EQ(s.OpenStore(big), 1);
  ScheduleItem it;
  int rows = 0;
  for (int r = s.ReadFirstItem(it); r == 1; r = s.ReadNextItem(it)) ++rows;
  EXPECT_EQ(rows, 12000);
  EXPECT_FALSE(s.ReadFailed());
  vfs.FailReadsAfter(50);
  rows = 0;
  for (int r = s.ReadFirstItem(it); r == 1; r = s.ReadNextItem(it)) ++rows;
  vfs.Clear();
  EXPECT_LT(rows, 12000);
  EXPECT_TRUE(s.ReadFailed());
  std::vector<ItemStore::ItemKey> keys;
  vfs.FailReadsAfter(50);
  EXPECT_EQ(s.ReadItemKeys(keys), 0);
  vfs.Clear();
  EXPECT_TRUE(keys.empty());
  EXPECT_EQ(s.ReadItemKeys(keys), 1);
  EXPECT_EQ(keys.size(), 12000u);
}

// A session that met a read error is not sealed at its closing: what the
// disk gave back may not be what was written, so the next opening checks
// every page.
TEST_F(StoreFaultTest, ASessionWithAReadErrorIsCheckedInFullNextTime) {
  {
    ItemStore s;
    ASSERT_EQ(s.OpenStore(base), 1);
  }
  {
    ItemStore s;
    ASSERT_EQ(s.OpenStore(base), 1);
    EXPECT_FALSE(s.CheckedInFull());
    vfs.FailReadsAfter(0);
    std::vector<ItemStore::ItemKey> keys;
    EXPECT_EQ(s.ReadItemKeys(keys), 0);
    vfs.Clear();
  }
  ItemStore s;
  ASSERT_EQ(s.OpenStore(base), 1);
  EXPECT_TRUE(s.CheckedInFull());
}

// A change that fails inside a batch undoes the whole batch, and the
// batch's later changes fail too instead of landing on their own.
TEST_F(StoreFaultTest, FailedChangeUndoesTheWholeBatch) {
  ItemStore s;
  ASSERT_EQ(s.OpenStore(base), 1);
  const std::string before = test::Snapshot(s);
  ScheduleItem big = MakeRow(31, 0);
  big.Desc = std::string(200000, 'd');
  ASSERT_EQ(s.BeginBatch(), 1);
  ASSERT_EQ(s.InsertItem(MakeRow(32, 0)), 1);
  vfs.FailAfterWrites(0);
  // Enough to overflow the page cache, so a change itself must write.
  int failed_at = -1;
  for (int i = 0; i < 200 && failed_at < 0; ++i) {
    if (!s.InsertItem(big)) failed_at = i;
  }
  vfs.Clear();
  ASSERT_GE(failed_at, 0) << "no change inside the batch had to write";
  EXPECT_EQ(s.TouchLastUpdate(), 0);
  EXPECT_EQ(s.InsertItem(MakeRow(33, 0)), 0);
  EXPECT_EQ(s.CommitBatch(), 0);
  s.CloseStore();
  ASSERT_EQ(s.OpenStore(base), 1);
  EXPECT_TRUE(test::Snapshot(s) == before) << "the batch left changes behind";
  // The store works on afterwards.
  EXPECT_EQ(s.InsertItem(MakeRow(34, 0)), 1);
}

}  // namespace
}  // namespace kv
