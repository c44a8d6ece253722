// A short run of the load driver: many real clients at once must lose no
// accepted write, and the driver's check must notice a store that did.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "bench/server/LoadDriver.h"
#include "model/DateTime.h"
#include "server/ServerStore.h"
#include "tests/server/LoopbackServer.h"
#include "tests/support/TestSupport.h"

namespace kv::load {
namespace {

using kv::server::ServerStore;

LoadConfig Small() {
  LoadConfig cfg;
  cfg.clients = 8;
  cfg.requests_per_client = 20;
  cfg.timeout_s = 25;
  if (kv::server::test::OnPostgres()) cfg.database = kv::server::test::FreshPostgresDatabase();
  return cfg;
}

// The first stored item of any user for which pick() holds.
struct Found {
  int32_t owner = 0;
  ScheduleItem item;
};
template <typename Pred>
std::optional<Found> FindStored(ServerStore& store, Pred pick) {
  for (const auto& u : store.Users())
    for (const ScheduleItem& it : store.ChangedSince(u.id, DateTime::Invalid()))
      if (pick(it)) return Found{u.id, it};
  return std::nullopt;
}

void ExpectCleanRun(const LoadResult& r) {
  EXPECT_EQ(r.errors, 0u);
  EXPECT_EQ(r.wrong_reads, 0u);
  EXPECT_FALSE(r.timed_out);
  EXPECT_TRUE(r.server_alive);
}

TEST(ServerLoad, ManyClientsAtOnceLoseNoAcceptedWrite) {
  LoadConfig cfg;
  cfg.clients = 50;
  cfg.requests_per_client = 20;
  cfg.timeout_s = 25;
  // On PostgreSQL two servers share the database, as two processes would.
  if (kv::server::test::OnPostgres()) {
    cfg.database = kv::server::test::FreshPostgresDatabase();
    cfg.servers = 2;
  }
  const LoadResult r = RunLoad(cfg);
  ASSERT_TRUE(r.setup_ok) << r.setup_error;
  EXPECT_EQ(r.requests, 50u * 20u);
  EXPECT_EQ(r.lost_writes, 0u);
  EXPECT_EQ(r.stray_items, 0u);
  ExpectCleanRun(r);
  // Every kind of request took part, and the check had something to check.
  EXPECT_GT(r.adds, 0u);
  EXPECT_GT(r.updates, 0u);
  EXPECT_GT(r.deletes, 0u);
  EXPECT_GT(r.delegated, 0u);
  EXPECT_GT(r.user_lists, 0u);
  EXPECT_GT(r.syncs, 0u);
  EXPECT_GT(r.accepted_writes, 0u);
  EXPECT_GT(r.verified_items, 0u);
  // Each request is at least one connection; a sync is two, and the
  // closing check one more.
  EXPECT_EQ(r.stats.connections, r.requests + r.syncs + 1);
  EXPECT_EQ(r.stats.completed, r.stats.connections);
  EXPECT_EQ(r.stats.refused, 0u);
  EXPECT_EQ(r.stats.malformed, 0u);
}

TEST(ServerLoad, CheckCountsAnAcceptedItemThatVanished) {
  LoadConfig cfg = Small();
  bool planted = false;
  cfg.before_verify = [&](ServerStore& store) {
    auto f = FindStored(store, [](const ScheduleItem& it) { return it.SyncFlag != SyncDeleted; });
    if (f) planted = store.DeleteItem(f->owner, f->item) == 1;
  };
  const LoadResult r = RunLoad(cfg);
  ASSERT_TRUE(r.setup_ok) << r.setup_error;
  ASSERT_TRUE(planted);
  EXPECT_EQ(r.lost_writes, 1u);
  EXPECT_EQ(r.stray_items, 0u);
  ExpectCleanRun(r);
}

TEST(ServerLoad, CheckCountsADeletionThatCameBack) {
  LoadConfig cfg = Small();
  bool planted = false;
  cfg.before_verify = [&](ServerStore& store) {
    auto f = FindStored(store, [](const ScheduleItem& it) { return it.SyncFlag == SyncDeleted; });
    if (f) planted = store.UpdateItem(f->owner, f->item) == 1;
  };
  const LoadResult r = RunLoad(cfg);
  ASSERT_TRUE(r.setup_ok) << r.setup_error;
  ASSERT_TRUE(planted);
  EXPECT_EQ(r.lost_writes, 1u);
  ExpectCleanRun(r);
}

TEST(ServerLoad, CheckCountsAnOlderVersionOfAnItem) {
  LoadConfig cfg = Small();
  bool planted = false;
  cfg.before_verify = [&](ServerStore& store) {
    auto f = FindStored(store, [](const ScheduleItem& it) { return it.SyncFlag != SyncDeleted; });
    if (!f) return;
    f->item.Subject += " (old)";
    planted = store.UpdateItem(f->owner, f->item) == 1;
  };
  const LoadResult r = RunLoad(cfg);
  ASSERT_TRUE(r.setup_ok) << r.setup_error;
  ASSERT_TRUE(planted);
  EXPECT_EQ(r.lost_writes, 1u);
  ExpectCleanRun(r);
}

TEST(ServerLoad, CheckCountsAnItemNoClientWrote) {
  LoadConfig cfg = Small();
  bool planted = false;
  cfg.before_verify = [&](ServerStore& store) {
    const auto users = store.Users();
    if (users.empty()) return;
    ScheduleItem it;
    it.Index = DateTime::FromParts(1999, 1, 1);
    it.Updated = it.Index;
    it.Subject = "stray";
    planted = store.AddItem(users.front().id, it) == 1;
  };
  const LoadResult r = RunLoad(cfg);
  ASSERT_TRUE(r.setup_ok) << r.setup_error;
  ASSERT_TRUE(planted);
  EXPECT_EQ(r.stray_items, 1u);
  EXPECT_EQ(r.lost_writes, 0u);
  ExpectCleanRun(r);
}

TEST(ServerLoad, StopsAtTheTimeLimit) {
  LoadConfig cfg = Small();
  cfg.timeout_s = 0;
  const LoadResult r = RunLoad(cfg);
  ASSERT_TRUE(r.setup_ok) << r.setup_error;
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.requests, 0u);
  EXPECT_TRUE(r.server_alive);
}

TEST(ServerLoad, KeepsItsFilesInAGivenDirectory) {
  kv::test::TempDir dir;
  LoadConfig cfg = Small();
  cfg.clients = 2;
  cfg.dir = dir.path();
  const LoadResult r = RunLoad(cfg);
  ASSERT_TRUE(r.setup_ok) << r.setup_error;
  EXPECT_EQ(r.requests, 2u * 20u);
  EXPECT_EQ(r.lost_writes, 0u);
  ExpectCleanRun(r);
  EXPECT_EQ(std::filesystem::exists(dir.File("server.db")), !kv::server::test::OnPostgres());
  EXPECT_TRUE(std::filesystem::exists(dir.File("load000.mdb")));
}

TEST(ServerLoad, RefusesAnEmptyRun) {
  LoadConfig cfg = Small();
  cfg.clients = 0;
  const LoadResult r = RunLoad(cfg);
  EXPECT_FALSE(r.setup_ok);
  EXPECT_FALSE(r.setup_error.empty());
  EXPECT_EQ(r.requests, 0u);
}

}  // namespace
}  // namespace kv::load
