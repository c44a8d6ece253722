#include <gtest/gtest.h>

#include "store/ItemStore.h"
#include "sync/SyncClient.h"
#include "tests/support/TestSupport.h"
#include "tests/sync/RecordVectors.h"
#include "tests/sync/ScriptedPeer.h"
#include "tests/sync/SyncTestSupport.h"

namespace kv {
namespace {

using namespace test;

const DateTime kNow = D(2004, 8, 15, 12, 0, 0);
const DateTime kInitialLastUpdate = D(2000, 1, 1);

ScheduleItem Item(int n, DateTime updated, int32_t flag, const std::string& subject = "") {
  ScheduleItem it;
  it.Index = D(2004, 8, 1, 9, 0, n);
  it.Updated = updated;
  it.SyncFlag = flag;
  it.Subject = subject.empty() ? "item" + std::to_string(n) : subject;
  it.Start = D(2004, 8, 16, 10);
  it.End = D(2004, 8, 16, 11);
  return it;
}

struct Fixture {
  TempDir dir;
  ItemStore store;
  int loads = 0;
  Fixture() { EXPECT_EQ(store.CreateStore(dir.File("u.db")), 1); }
  std::vector<ScheduleItem> All() {
    std::vector<ScheduleItem> v;
    ScheduleItem it;
    for (int ok = store.ReadFirstItem(it); ok; ok = store.ReadNextItem(it)) v.push_back(it);
    return v;
  }
  DateTime LastUpdate() {
    std::string a, b, c;
    int32_t p;
    DateTime d = DateTime::Invalid();
    store.ReadSettings(a, b, p, c, d);
    return d;
  }
  int Sync(ConnectionState& st, RecordingNotifier* note = nullptr) {
    SyncClient c(st, note);
    return c.Synchronize(store, [this] { ++loads; });
  }
};

std::vector<PeerStep> Download(const DateTime& server_now, const std::string& answer, DateTime since = kInitialLastUpdate) {
  return {ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, server_now)),
          ExpectBytes(Le32(6) + Date12(since)), SendBytes(answer, 5)};
}
std::vector<PeerStep> Upload(const DateTime& server_now) {
  return {ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, server_now)), CaptureRest()};
}

// The records of a captured upload after its code and date.
std::vector<ScheduleItem> UploadedRecords(const std::string& bytes, DateTime since = kInitialLastUpdate) {
  MemoryChannel ch(bytes);
  InStream in(ch);
  int32_t code = 0;
  DateTime d;
  EXPECT_TRUE(in.ReadInt32(code) && in.ReadDate(d));
  EXPECT_EQ(code, 5);
  EXPECT_TRUE(d == since);
  std::vector<ScheduleItem> out;
  ScheduleItem r;
  while (ReadRecord(in, r)) out.push_back(r);
  EXPECT_FALSE(out.empty());
  if (!out.empty()) EXPECT_EQ(out.back().SyncFlag, SyncEndOfList);
  char extra;
  EXPECT_FALSE(in.ReadBytes(&extra, 1));
  return out;
}

TEST(Synchronize, EmptyStoreTakesServerItemsInLocalTime) {
  ScopedClock clock(kNow);
  Fixture f;
  const DateTime server_now = kNow.AddSeconds(-60);  // local clock 60 s ahead
  ScheduleItem a = Item(1, D(2004, 8, 15, 9), SyncClean), b = Item(2, D(2004, 8, 15, 9, 30), SyncPending),
               c = Item(3, D(2004, 8, 15, 10), SyncResend);
  ScriptedPeer peer({Download(server_now, Record(a) + Record(b) + Record(c) + EndOfList()), Upload(server_now)});
  ConnectionState st = LocalServer(peer.Port());
  EXPECT_EQ(f.Sync(st), 1);
  const auto all = f.All();
  ASSERT_EQ(all.size(), 3u);
  const ScheduleItem* src[] = {&a, &b, &c};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(all[i].SyncFlag, SyncClean);
    EXPECT_TRUE(all[i].Updated == src[i]->Updated.AddSeconds(60)) << all[i].Updated.ToString();
    EXPECT_EQ(all[i].Subject, src[i]->Subject);
  }
  EXPECT_EQ(UploadedRecords(peer.Captured().at(1)).size(), 1u);  // only the end of the list
  EXPECT_TRUE(f.LastUpdate() == kNow);
  EXPECT_EQ(f.loads, 1);
  EXPECT_EQ(peer.Problems(), std::vector<std::string>{});
}

TEST(Synchronize, MergeRulesToleranceTombstonesAndResend) {
  ScopedClock clock(kNow);
  Fixture f;
  const DateTime ten = D(2004, 8, 15, 10);
  f.store.InsertItem(Item(1, ten, SyncClean, "within"));        // server +8 s: unchanged
  f.store.InsertItem(Item(2, ten, SyncClean, "old"));           // server +11 s: replaced
  f.store.InsertItem(Item(3, D(2004, 8, 15, 11), SyncPending)); // server older: resend
  f.store.InsertItem(Item(4, ten, SyncDeleted));                // server newer: replaced
  f.store.InsertItem(Item(5, D(2004, 8, 15, 11), SyncDeleted)); // server older: kept
  const std::string answer = Record(Item(1, ten.AddSeconds(8), SyncClean, "server")) +
                             Record(Item(2, ten.AddSeconds(11), SyncClean, "new")) +
                             Record(Item(3, ten, SyncClean, "server")) +
                             Record(Item(4, ten.AddSeconds(1800), SyncClean, "revived")) +
                             Record(Item(5, ten, SyncClean, "server")) +
                             Record(Item(6, ten, SyncDeleted, "never had")) + EndOfList();
  ScriptedPeer peer({Download(kNow, answer), Upload(kNow)});
  ConnectionState st = LocalServer(peer.Port());
  ASSERT_EQ(f.Sync(st), 1);
  const auto all = f.All();
  ASSERT_EQ(all.size(), 5u);  // the unknown deletion is not stored
  EXPECT_EQ(all[0].Subject, "within");
  EXPECT_EQ(all[1].Subject, "new");
  EXPECT_TRUE(all[1].Updated == ten.AddSeconds(11));
  EXPECT_EQ(all[2].SyncFlag, SyncClean);  // marked 5 by the download, then sent
  EXPECT_EQ(all[3].Subject, "revived");
  EXPECT_EQ(all[3].SyncFlag, SyncClean);
  EXPECT_EQ(all[4].SyncFlag, SyncDeleted);
  const auto up = UploadedRecords(peer.Captured().at(1));
  ASSERT_EQ(up.size(), 3u);
  EXPECT_EQ(up[0].Subject, "item3");
  EXPECT_EQ(up[0].SyncFlag, SyncClean);
  EXPECT_EQ(up[1].Subject, "item5");
  EXPECT_EQ(up[1].SyncFlag, SyncDeleted);
  EXPECT_EQ(peer.Problems(), std::vector<std::string>{});
}

TEST(Synchronize, UploadSendsServerTimeAndKeepsLocalTime) {
  ScopedClock clock(kNow);
  Fixture f;
  f.store.InsertItem(Item(1, D(2004, 8, 15, 9, 1), SyncPending));
  ScriptedPeer peer({Download(kNow.AddSeconds(-60), EndOfList()), Upload(kNow.AddSeconds(-60))});
  ConnectionState st = LocalServer(peer.Port());
  ASSERT_EQ(f.Sync(st), 1);
  const auto up = UploadedRecords(peer.Captured().at(1));
  ASSERT_EQ(up.size(), 2u);
  EXPECT_TRUE(up[0].Updated == D(2004, 8, 15, 9, 0));
  const auto all = f.All();
  EXPECT_TRUE(all[0].Updated == D(2004, 8, 15, 9, 1));
  EXPECT_EQ(all[0].SyncFlag, SyncClean);
}

TEST(Synchronize, DropDuringDownloadKeepsLastUpdateAndSkipsUpload) {
  ScopedClock clock(kNow);
  Fixture f;
  f.store.InsertItem(Item(1, D(2004, 8, 15, 9), SyncPending));
  const std::string second = Record(Item(3, kNow, SyncClean));
  const std::string answer = Record(Item(2, kNow, SyncClean)) + second.substr(0, second.size() / 2);
  ScriptedPeer peer({{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow)),
                      ExpectBytes(Le32(6) + Date12(kInitialLastUpdate)), SendBytes(answer), CloseConnection()}});
  ConnectionState st = LocalServer(peer.Port());
  EXPECT_EQ(f.Sync(st), 1);
  peer.Join();
  EXPECT_EQ(peer.Accepted(), 1);
  const auto all = f.All();
  ASSERT_EQ(all.size(), 2u);  // the whole first record may stay, the cut one never
  EXPECT_EQ(all[0].SyncFlag, SyncPending);
  EXPECT_EQ(all[1].Subject, "item2");
  EXPECT_TRUE(f.LastUpdate() == kInitialLastUpdate);
  EXPECT_EQ(f.loads, 1);
}

TEST(Synchronize, DropDuringUploadLeavesFlagsForTheNextRun) {
  ScopedClock clock(kNow);
  Fixture f;
  f.store.InsertItem(Item(1, D(2004, 8, 15, 9), SyncPending));
  f.store.InsertItem(Item(2, D(2004, 8, 15, 9), SyncResend));
  ScriptedPeer peer({Download(kNow, EndOfList()), {ExpectBytes(SignIn("taro", "pw")), CloseConnection()}});
  ConnectionState st = LocalServer(peer.Port());
  EXPECT_EQ(f.Sync(st), 1);
  const auto all = f.All();
  EXPECT_EQ(all[0].SyncFlag, SyncPending);
  EXPECT_EQ(all[1].SyncFlag, SyncResend);
  EXPECT_TRUE(f.LastUpdate() == kInitialLastUpdate);
  EXPECT_EQ(peer.Problems(), std::vector<std::string>{});
}

TEST(Synchronize, UnreachableServerStillLoadsAndRefusalStops) {
  ScopedClock clock(kNow);
  Fixture f;
  f.store.InsertItem(Item(1, D(2004, 8, 15, 9), SyncPending));
  ConnectionState down = LocalServer(1);
  EXPECT_EQ(f.Sync(down), 1);
  EXPECT_EQ(f.loads, 1);
  EXPECT_TRUE(f.LastUpdate() == kInitialLastUpdate);

  RecordingNotifier note;
  ScriptedPeer refuse_down({{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(-1, kNow))}});
  ConnectionState st = LocalServer(refuse_down.Port());
  EXPECT_EQ(f.Sync(st, &note), 0);
  EXPECT_EQ(f.loads, 1);
  refuse_down.Join();
  EXPECT_EQ(refuse_down.Accepted(), 1);

  ScriptedPeer refuse_up({Download(kNow, Record(Item(7, kNow, SyncClean)) + EndOfList()),
                          {ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(-2, kNow))}});
  st.ServerPort = refuse_up.Port();
  EXPECT_EQ(f.Sync(st, &note), 0);
  EXPECT_EQ(f.loads, 1);
  EXPECT_EQ(f.All().size(), 2u);  // what the download stored stays
  EXPECT_EQ(f.All()[0].SyncFlag, SyncPending);
  EXPECT_TRUE(f.LastUpdate() == kInitialLastUpdate);
  EXPECT_EQ(note.messages, (std::vector<std::string>{J("指定のユーザが存在しません。"), J("パスワードが間違っています。")}));
}

}  // namespace
}  // namespace kv
