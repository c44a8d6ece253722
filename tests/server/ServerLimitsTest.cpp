// What one client, or many, can make the server hold: connections that
// trickle, memory, items, and an upload that is confirmed only once it
// is in the store.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <set>
#include <thread>

#include "model/Recurrence.h"
#include "server/Log.h"
#include "server/Server.h"
#include "server/ServerStore.h"
#include "server/Week.h"
#include "store/ItemStore.h"
#include "sync/SyncClient.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/FaultSqlite.h"
#include "tests/support/TestSupport.h"
#include "tests/sync/SyncTestSupport.h"

namespace kv::server {
namespace {

using namespace kv::test;
using namespace kv::server::test;

const DateTime kNow = D(2004, 8, 15, 12);

ScheduleItem Item(int n, const std::string& subject = "item") {
  ScheduleItem it = TestItem(n, subject);
  it.SyncFlag = SyncPending;
  return it;
}

struct Fixture {
  ScopedClock clock{kNow};
  LoopbackServer net;
  ServerStore& store = net.store;
  std::unique_ptr<Server>& server = net.server;
  int32_t taro = 0, hanako = 0;
  explicit Fixture(ServerConfig cfg = {}) {
    std::string err;
    EXPECT_TRUE(net.Start({{"taro", "", "pw-taro", &taro}, {"hanako", "", "pw-hanako", &hanako}},
                          {{"taro", "hanako"}}, cfg, &err))
        << err;
  }
  uint16_t Port() const { return net.Port(); }
};

// A real client of its own, with the few seconds' patience of a user.
struct Client {
  TempDir dir;
  ItemStore local;
  ConnectionState state;
  RecordingNotifier notifier;
  Client(uint16_t port, const std::string& user, const std::string& password) {
    state = LocalServer(port, user, password);
    state.IoTimeoutMs = 5000;
    state.ConnectTimeoutMs = 5000;
    EXPECT_EQ(local.CreateStore(dir.File("local.db")), 1);
  }
  SyncClient Sync() { return SyncClient(state, &notifier); }
};

std::string UploadStart(const std::string& user = "taro", const std::string& password = "pw-taro") {
  return SignInLines(user, password) + Int(RequestUpload) + Date(kNow);
}

TEST(ServerLimits, TricklingConnectionsCannotKeepARealClientOut) {
  Fixture f;
  constexpr int kTricklers = 300;
  constexpr int kAddresses = 20;
  std::atomic<bool> reconnect{true}, stop{false};
  std::atomic<int> opened{0}, open_now{0}, closed_by_server{0};
  std::thread trickle([&] {
    std::vector<std::string> sources;
    for (int i = 0; i < kAddresses; ++i) sources.push_back("127.0.0." + std::to_string(10 + i));
    std::vector<int> fds(kTricklers, -1);
    auto open_one = [&](int i) {
      fds[i] = Connect(f.Port(), sources[i % kAddresses].c_str());
      if (fds[i] >= 0) {
        ++opened;
        ++open_now;
      }
    };
    for (int i = 0; i < kTricklers && !stop; ++i) open_one(i);
    auto next_byte = std::chrono::steady_clock::now();
    while (!stop) {
      std::vector<pollfd> p;
      std::vector<int> which;
      for (int i = 0; i < kTricklers; ++i)
        if (fds[i] >= 0) {
          p.push_back({fds[i], POLLIN, 0});
          which.push_back(i);
        }
      poll(p.data(), p.size(), 100);
      for (std::size_t k = 0; k < p.size(); ++k) {
        if (!p[k].revents) continue;
        char b[64];
        if (recv(fds[which[k]], b, sizeof b, MSG_DONTWAIT) > 0) continue;
        close(fds[which[k]]);
        fds[which[k]] = -1;
        --open_now;
        ++closed_by_server;
        if (reconnect) open_one(which[k]);
      }
      if (std::chrono::steady_clock::now() >= next_byte) {
        for (int fd : fds)
          if (fd >= 0) send(fd, "t", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        next_byte += std::chrono::seconds(2);
      }
    }
    for (int fd : fds)
      if (fd >= 0) close(fd);
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (opened < kTricklers && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_GE(opened.load(), kTricklers);

  Client taro(f.Port(), "taro", "pw-taro");
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(taro.local.InsertItem(Item(round)), 1);
    EXPECT_EQ(taro.Sync().Synchronize(taro.local, [] {}), 1);
    EXPECT_EQ(taro.state.Online, 1);
    std::vector<UserEntry> users;
    EXPECT_TRUE(taro.Sync().GetUserList(users));
    EXPECT_EQ(users.size(), 2u);
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  EXPECT_TRUE(taro.notifier.messages.empty());
  EXPECT_EQ(f.store.ItemCount(f.taro), 3);
  EXPECT_GT(f.server->Stats().evicted, 0u) << "the server was full and made room";

  // Left alone, no trickler lives long: the sign-in deadline is seconds.
  reconnect = false;
  const auto drained = std::chrono::steady_clock::now() + std::chrono::seconds(40);
  while (open_now > 0 && std::chrono::steady_clock::now() < drained)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(open_now.load(), 0);
  stop = true;
  trickle.join();
  EXPECT_GE(closed_by_server.load(), kTricklers);
}

TEST(ServerLimits, OneAddressCannotTakeEveryConnection) {
  ServerConfig cfg;
  cfg.max_connections = 40;
  cfg.max_connections_per_address = 8;
  Fixture f(cfg);
  std::vector<int> idle;
  for (int i = 0; i < 20; ++i) idle.push_back(Connect(f.Port(), "127.0.0.7"));
  // Each new one from that address pushed out its oldest idle one.
  int closed = 0;
  for (std::size_t i = 0; i < idle.size(); ++i)
    if (AwaitEnd(idle[i], i < 12 ? 5000 : 200) != Ending::StillOpen) ++closed;
  EXPECT_EQ(closed, 12);
  Client taro(f.Port(), "taro", "pw-taro");
  std::vector<UserEntry> users;
  EXPECT_TRUE(taro.Sync().GetUserList(users));
  for (int fd : idle) close(fd);
}

#if defined(__SANITIZE_ADDRESS__)
#define KV_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_UNDER_ASAN 1
#endif
#endif

TEST(ServerLimits, HundredThousandItemsKeepResidentMemoryBounded) {
#ifdef KV_UNDER_ASAN
  GTEST_SKIP() << "the sanitizer's quarantine and shadow memory make resident size meaningless";
#endif
  constexpr int kRecords = 100000;
  constexpr double kBoundMiB = 24;
  Fixture f;
  // A small round first, so that what every request needs already exists.
  ASSERT_EQ(SendAndHalfClose(f.Port(), UploadStart() + MinimalRecord(-1) + EndOfList()), Ending::Orderly);
  Client taro(f.Port(), "taro", "pw-taro");
  std::vector<ScheduleItem> week;
  int refresh = 1;
  taro.Sync().GetUserItems({UserEntry{f.taro, "taro", "", 0, 0, 0}}, D(2010, 1, 1), week, refresh);

  Ending ending = Ending::StillOpen;
  const double upload = ResidentGrowthMiB([&] { ending = StreamUpload(f.Port(), UploadStart(), kRecords); });
  EXPECT_EQ(ending, Ending::Orderly) << ToString(ending);
  EXPECT_EQ(f.store.ItemCount(f.taro), kRecords + 1);
  EXPECT_LT(upload, kBoundMiB) << "upload of " << kRecords << " records";

  // The week of a user with that many items, by another user, and every
  // item downloaded at once.
  Client hanako(f.Port(), "hanako", "pw-hanako");
  std::vector<UserEntry> users;
  ASSERT_TRUE(hanako.Sync().GetUserList(users)) << "signed in once, the slow hash is not measured";
  week.clear();
  refresh = 1;
  const double week_growth = ResidentGrowthMiB([&] {
    hanako.Sync().GetUserItems({UserEntry{f.taro, "taro", "", 0, 0, 0}}, D(2010, 2, 3), week, refresh);
  });
  EXPECT_EQ(refresh, 0);
  EXPECT_EQ(week.size(), 7u * 24) << "one item an hour, Sunday 00:00 to Saturday 23:00";
  EXPECT_LT(week_growth, kBoundMiB) << "week request";

  std::string received;
  const double download = ResidentGrowthMiB([&] {
    const int fd = Connect(f.Port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, SignInLines("taro", "pw-taro") + Int(RequestDownload) + Date(DateTime::Invalid())));
    uint64_t bytes = 0;
    char buf[65536];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) bytes += static_cast<uint64_t>(n);
    received = std::to_string(bytes);
    close(fd);
  });
  EXPECT_GT(std::stoull(received), static_cast<uint64_t>(kRecords) * 100);
  EXPECT_LT(download, kBoundMiB) << "download of every item";
  RecordProperty("upload_growth_mib", std::to_string(upload));
  RecordProperty("week_growth_mib", std::to_string(week_growth));
  RecordProperty("download_growth_mib", std::to_string(download));
}

TEST(ServerLimits, WeekCandidatesMissNothingAndComeInPages) {
  ScopedClock clock(kNow);
  TempDir dir;
  ServerStore store;
  ASSERT_TRUE(store.Open(TestDatabase(dir, "s.db")));
  store.SetFullSync(false);
  int32_t id = 0;
  std::string err;
  ASSERT_TRUE(store.AddUser("hanako", "", "pw", 0, &id, &err)) << err;
  std::mt19937 rng(815);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const DateTime busy_sunday = D(2004, 8, 15);
  std::vector<ScheduleItem> items;
  int64_t n = 0;
  auto add = [&](ScheduleItem it) {
    it.Index = D(2001, 1, 1).AddSeconds(n++);
    it.Subject = "i" + std::to_string(n);
    items.push_back(it);
  };
  for (int i = 0; i < 3000; ++i) {
    ScheduleItem it;
    const DateTime s = D(2004, pick(1, 12), pick(1, 28), pick(0, 23), pick(0, 3) * 15);
    it.Start = s;
    it.End = s.AddSeconds(pick(-2, 20) * 3600);  // some end before they start
    it.SyncFlag = pick(0, 9) == 0 ? SyncDeleted : SyncClean;
    add(it);
  }
  // Edges of the busy week: at its first and last instant, ending as it
  // begins, zero length on its first midnight, dates that are not valid.
  const DateTime next_sunday = busy_sunday.AddDays(7);
  const std::pair<DateTime, DateTime> edges[] = {
      {busy_sunday, busy_sunday},
      {busy_sunday.AddSeconds(-3600), busy_sunday},
      {busy_sunday.AddSeconds(-3600), busy_sunday.AddSeconds(1)},
      {next_sunday.AddSeconds(-1), next_sunday.AddSeconds(3600)},
      {next_sunday, next_sunday},
      {DateTime::Invalid(), busy_sunday.AddDays(2)},
      {busy_sunday.AddDays(1), DateTime::Null()},
      {D(2003, 1, 1), D(2005, 1, 1)},
  };
  for (const auto& [s, e] : edges) {
    ScheduleItem it;
    it.Start = s;
    it.End = e;
    add(it);
  }
  // More in one week than a page holds, and more repeating items too.
  for (int i = 0; i < 300; ++i) {
    ScheduleItem it;
    it.Start = busy_sunday.AddSeconds(pick(0, 7 * 86400 - 1));
    it.End = it.Start.AddSeconds(1800);
    add(it);
  }
  for (int i = 0; i < 600; ++i) {
    const int type = pick(-1, 7);
    const DateTime rs = D(2003, pick(1, 12), pick(1, 28));
    const DateTime s = D(2004, 1, 5, pick(0, 22));
    ScheduleItem it = MakeRule(type, pick(1, 3), type == 2 ? pick(1, 127) : pick(1, 5), pick(1, 7), rs,
                               rs.AddDays(pick(30, 900)), s, s.AddSeconds(3600));
    it.SyncFlag = pick(0, 9) == 0 ? SyncDeleted : SyncClean;
    add(it);
  }
  ASSERT_GT(store.ApplyUpload(id, items), 0);
  // Tombstones as a deletion leaves them.
  for (const ScheduleItem& it : items)
    if (it.SyncFlag == SyncDeleted) {
      ASSERT_EQ(store.DeleteItem(id, it), 1);
    }
  const std::vector<ScheduleItem> live = store.LiveItems(id);

  std::vector<DateTime> weeks = {busy_sunday, busy_sunday.AddDays(-7), next_sunday};
  for (int w = 0; w < 20; ++w) weeks.push_back(D(2003, 12, 28).AddDays(7 * pick(0, 60)));
  for (const DateTime& sunday : weeks) {
    SCOPED_TRACE(sunday.ToString());
    std::set<std::string> want, got, candidates;
    for (const ScheduleItem& it : live)
      if (OccursInWeek(it, sunday)) want.insert(it.Subject);
    PageCursor cursor;
    int pages = 0;
    for (;;) {
      ItemPage page = store.WeekCandidatesPage(id, sunday, cursor, nullptr);
      ASSERT_TRUE(page.ok);
      ASSERT_LE(page.items.size(), 256u);
      ++pages;
      for (const ScheduleItem& it : page.items) {
        EXPECT_NE(it.SyncFlag, SyncDeleted);
        EXPECT_TRUE(candidates.insert(it.Subject).second) << "each candidate once";
        if (OccursInWeek(it, sunday)) got.insert(it.Subject);
      }
      if (page.last) break;
      ASSERT_LT(pages, 100);
    }
    EXPECT_EQ(got, want);
    // Only what may meet the week: repeating items and singles around it.
    std::size_t singles = 0;
    for (const ScheduleItem& it : live)
      if (it.RepType == 0 && candidates.count(it.Subject)) ++singles;
    EXPECT_LE(singles, want.size() + 40) << "the single items read are about those in the week";
    if (sunday == busy_sunday) {
      EXPECT_GT(pages, 3);
    }
  }
}

TEST(ServerLimits, SharedMemoryBudgetRefusesWhatItCannotCover) {
  ServerConfig cfg;
  cfg.memory_budget = 3u << 19;
  Fixture f(cfg);
  // Within the record limit the client keeps to, but two exceed the budget.
  const std::string big(900u << 10, 'x');
  auto record = [&](int n) {
    return "Index=" + FormatWireDate(Item(n).Index) + kFieldSeparator + "Subject=" + big;
  };
  // Two clients each send most of a 900 KiB record; both cannot be held.
  const std::string first = record(1), second = record(2);
  const int a = Connect(f.Port());
  ASSERT_TRUE(SendAll(a, SignInLines("taro", "pw-taro") + Int(RequestAddItem) +
                             Int(static_cast<int32_t>(first.size())) + first));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int b = Connect(f.Port());
  SendAll(b, SignInLines("taro", "pw-taro") + Int(RequestAddItem) + Int(static_cast<int32_t>(second.size())) +
                 second);
  EXPECT_NE(AwaitEnd(b, 10000), Ending::StillOpen) << "the second one is refused";
  close(b);
  // The first goes on as if nothing happened.
  ASSERT_TRUE(SendAll(a, std::string(1, '\0')));
  std::string answer;
  EXPECT_EQ(AwaitEnd(a, 10000, &answer), Ending::Orderly);
  close(a);
  ASSERT_EQ(answer.size(), 20u);
  EXPECT_EQ(answer.substr(16), Int(1));
  ASSERT_TRUE(Settle(*f.server));
  EXPECT_EQ(f.server->Budget().Used(), 0u) << "all of it given back";
  // With the memory free again, the same record goes in.
  Client taro(f.Port(), "taro", "pw-taro");
  ScheduleItem it = Item(2);
  it.Subject = big;
  EXPECT_EQ(taro.Sync().AddItem(it), 1);
  EXPECT_EQ(f.store.ItemCount(f.taro), 2);
}

TEST(ServerLimits, ItemLimitRefusesNewItemsClearly) {
  Fixture f;
  f.store.SetItemLimit(3);
  std::vector<std::string> log;
  SetLogSink([&](std::string_view l) { log.emplace_back(l); });
  Client taro(f.Port(), "taro", "pw-taro");
  for (int i = 0; i < 3; ++i) ASSERT_EQ(taro.Sync().AddItem(Item(i)), 1);
  EXPECT_EQ(taro.Sync().AddItem(Item(3)), 0);
  ASSERT_EQ(taro.notifier.messages.size(), 1u);
  EXPECT_EQ(taro.notifier.messages[0], J("サーバーでデータ処理に失敗しました。") + "127.0.0.1");
  EXPECT_EQ(taro.Sync().UpdateItem(Item(3)), 0) << "an update that adds an item counts too";
  EXPECT_EQ(taro.Sync().UpdateItem(Item(1, "changed")), 1) << "changing what is there is not";
  EXPECT_EQ(taro.Sync().DeleteItem(Item(2)), 1);
  // An upload that would pass the limit is not applied, not even in part.
  ScheduleItem newer = Item(0, "newer");
  newer.Updated = D(2004, 8, 11);
  EXPECT_EQ(SendAndHalfClose(f.Port(), UploadStart() + Record(newer) + Record(Item(4)) + EndOfList()),
            Ending::Reset);
  EXPECT_EQ(f.store.FindItem(f.taro, newer.Index)->Subject, "item");
  EXPECT_EQ(SendAndHalfClose(f.Port(), UploadStart() + Record(newer) + EndOfList()), Ending::Orderly);
  EXPECT_EQ(f.store.FindItem(f.taro, newer.Index)->Subject, "newer");
  EXPECT_EQ(f.store.ItemCount(f.taro), 3);
  ASSERT_TRUE(Settle(*f.server));
  SetLogSink({});
  int limit_lines = 0;
  for (const std::string& l : log) limit_lines += l.find("limit of 3 items") != std::string::npos;
  EXPECT_EQ(limit_lines, 3);
}

TEST(ServerUpload, ConfirmedByAnOrderlyCloseOnlyOnceApplied) {
  Fixture f;
  const std::string rec1 = Record(Item(1)), rec2 = Record(Item(2)), rec3 = Record(Item(3));
  struct Row {
    const char* name;
    std::string bytes;
  };
  const Row refused[] = {
      {"a broken record", UploadStart() + rec1 + rec2.substr(0, rec2.size() - 1) + "X"},
      {"garbage after the records", UploadStart() + rec1 + Int(0x7fffffff) + "garbage"},
      {"no end-of-list before the half-close", UploadStart() + rec1 + rec2},
      {"a length over the limit", UploadStart() + rec1 + Int(64 << 20)},
      {"a delegate's upload", UploadStart("hanako", "pw-taro") + rec1 + EndOfList()},
  };
  for (const Row& row : refused) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(SendAndHalfClose(f.Port(), row.bytes), Ending::Reset);
    EXPECT_EQ(f.store.ItemCount(f.taro) + f.store.ItemCount(f.hanako), 0);
  }
  // By the time the client sees the close, the items are in the store.
  EXPECT_EQ(SendAndHalfClose(f.Port(), UploadStart() + rec1 + rec2 + rec3 + EndOfList()), Ending::Orderly);
  EXPECT_EQ(f.store.ItemCount(f.taro), 3);
  // Staged in a file when large: the same rule holds.
  std::string large = UploadStart();
  for (int i = 10; i < 3000; ++i) large += Record(Item(i));
  EXPECT_EQ(SendAndHalfClose(f.Port(), large + EndOfList()), Ending::Orderly);
  EXPECT_EQ(f.store.ItemCount(f.taro), 3 + 2990);
  EXPECT_EQ(SendAndHalfClose(f.Port(), large + Record(Item(5000)) + rec1.substr(0, 9)), Ending::Reset);
  EXPECT_EQ(f.store.ItemCount(f.taro), 3 + 2990);
}

TEST(ServerUpload, AFailingStoreResetsTheUpload) {
  FaultVfs vfs;
  Fixture f;
  // PostgreSQL fails the write through a trigger planted for the test.
  const bool pg = OnPostgres();
  if (pg)
    ASSERT_TRUE(PgExec(f.net.database,
                       "CREATE FUNCTION planted() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN RAISE EXCEPTION "
                       "'planted'; END$$; CREATE TRIGGER planted BEFORE INSERT OR UPDATE ON items "
                       "FOR EACH ROW EXECUTE FUNCTION planted()"));
  else
    vfs.FailAfterWrites(0);
  EXPECT_EQ(SendAndHalfClose(f.Port(), UploadStart() + Record(Item(1)) + EndOfList()), Ending::Reset);
  if (pg)
    ASSERT_TRUE(PgExec(f.net.database, "DROP TRIGGER planted ON items"));
  else
    vfs.Clear();
  EXPECT_EQ(f.store.ItemCount(f.taro), 0);
  EXPECT_EQ(SendAndHalfClose(f.Port(), UploadStart() + Record(Item(1)) + EndOfList()), Ending::Orderly);
  EXPECT_EQ(f.store.ItemCount(f.taro), 1);
}

TEST(ServerUpload, StoppingInTheMiddleOfAnUploadResetsIt) {
  ServerConfig cfg;
  cfg.stop_grace_ms = 300;
  Fixture f(cfg);
  const int stalled = Connect(f.Port());
  ASSERT_TRUE(SendAll(stalled, UploadStart() + Record(Item(1)) + Record(Item(2))));
  // One that finishes while the server is stopping is still confirmed.
  const int finishing = Connect(f.Port());
  ASSERT_TRUE(SendAll(finishing, UploadStart() + Record(Item(3))));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::thread stop([&] { f.server->Stop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(SendAll(finishing, EndOfList()));
  shutdown(finishing, SHUT_WR);
  const Ending done = AwaitEnd(finishing, 10000);
  const Ending cut = AwaitEnd(stalled, 10000);
  stop.join();
  EXPECT_EQ(done, Ending::Orderly) << ToString(done);
  EXPECT_EQ(cut, Ending::Reset) << ToString(cut);
  close(stalled);
  close(finishing);
  EXPECT_FALSE(f.store.FindItem(f.taro, Item(1).Index).has_value());
  EXPECT_TRUE(f.store.FindItem(f.taro, Item(3).Index).has_value());
}

}  // namespace
}  // namespace kv::server
