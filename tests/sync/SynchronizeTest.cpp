#include <gtest/gtest.h>

#include "store/ItemStore.h"
#include "sync/SyncClient.h"
#include "tests/store/StoreTestRows.h"
#include "tests/support/FaultSqlite.h"
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
  if (!out.empty()) {
    EXPECT_EQ(out.back().SyncFlag, SyncEndOfList);
  }
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
  // Nothing of a download that broke off is kept, not even its whole records.
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].SyncFlag, SyncPending);
  EXPECT_EQ(all[0].Subject, "item1");
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

namespace kv {
namespace {

using namespace test;

std::vector<int32_t> Flags(const std::vector<ScheduleItem>& items) {
  std::vector<int32_t> out;
  for (const auto& it : items) out.push_back(it.SyncFlag);
  return out;
}

std::string RawRecord(const std::string& text) { return Le32(static_cast<int32_t>(text.size())) + text + '\0'; }

// The upload has no answer: only the server's orderly close, after it has
// read the whole upload, makes the sent items clean and moves LastUpdate.
TEST(Synchronize, UploadIsConfirmedOnlyByAnOrderlyClose) {
  struct Case {
    const char* name;
    std::vector<PeerStep> ending;
    bool confirmed;
  } cases[] = {
      {"closes in order", {CloseConnection()}, true},
      {"resets", {ResetConnection()}, false},
      {"never closes", {HoldUntilReleased()}, false},
      {"sends a byte", {SendBytes("x"), CloseConnection()}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedClock clock(kNow);
    Fixture f;
    f.store.InsertItem(Item(1, D(2004, 8, 15, 9), SyncPending));
    f.store.InsertItem(Item(2, D(2004, 8, 15, 9), SyncResend));
    f.store.InsertItem(Item(3, D(2004, 8, 15, 9), SyncDeleted));
    f.store.InsertItem(Item(4, D(2004, 8, 15, 9), SyncClean));
    std::vector<PeerStep> up = {ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow)), CaptureRest()};
    up.insert(up.end(), c.ending.begin(), c.ending.end());
    ScriptedPeer peer({Download(kNow, EndOfList()), up});
    ConnectionState st = LocalServer(peer.Port());
    st.IoTimeoutMs = 500;  // how long a server that never closes is waited for
    EXPECT_EQ(f.Sync(st), 1);
    peer.Release();
    // In every case the server had read all of it, end of the list included.
    EXPECT_EQ(UploadedRecords(peer.Captured().at(1)).size(), 4u);
    if (c.confirmed) {
      EXPECT_EQ(Flags(f.All()), (std::vector<int32_t>{3, 3, 4, 3}));
      EXPECT_TRUE(f.LastUpdate() == kNow);
      EXPECT_EQ(st.Online, 1);
    } else {
      EXPECT_EQ(Flags(f.All()), (std::vector<int32_t>{1, 5, 4, 3}));
      EXPECT_TRUE(f.LastUpdate() == kInitialLastUpdate);
      EXPECT_EQ(st.Online, 0);
    }
    EXPECT_EQ(f.loads, 1);
    EXPECT_EQ(peer.Problems(), std::vector<std::string>{});
  }
}

// An item the server would refuse for its size stays pending and is named;
// the rest of the upload goes up, and the immediate request never connects.
TEST(Synchronize, ItemTooLargeToSendStaysPendingAndIsNamed) {
  ScopedClock clock(kNow);
  Fixture f;
  ScheduleItem big = Item(2, D(2004, 8, 15, 9), SyncPending, J("大きな予定"));
  big.Desc = std::string(kMaxRecordLength, 'd');
  f.store.InsertItem(Item(1, D(2004, 8, 15, 9), SyncPending));
  f.store.InsertItem(Item(3, D(2004, 8, 15, 9), SyncDeleted));
  f.store.InsertItem(big);  // last: the end of the list must not copy it
  RecordingNotifier note;
  ScriptedPeer peer({Download(kNow, EndOfList()), Upload(kNow)});
  ConnectionState st = LocalServer(peer.Port());
  EXPECT_EQ(f.Sync(st, &note), 1);
  const auto up = UploadedRecords(peer.Captured().at(1));
  ASSERT_EQ(up.size(), 3u);
  EXPECT_EQ(up[0].Subject, "item1");
  EXPECT_EQ(up[1].Subject, "item3");
  EXPECT_EQ(Flags(f.All()), (std::vector<int32_t>{3, 4, 1}));
  EXPECT_TRUE(f.LastUpdate() == kNow);
  ASSERT_EQ(note.messages.size(), 1u);
  EXPECT_NE(note.messages[0].find(J("「大きな予定」")), std::string::npos);

  ScriptedPeer nobody({});
  st.ServerPort = nobody.Port();
  SyncClient c(st, &note);
  EXPECT_EQ(c.AddItem(big), 0);
  EXPECT_EQ(c.UpdateItemFor("hanako", big), 0);
  EXPECT_EQ(nobody.Accepted(), 0);
  EXPECT_EQ(note.messages.size(), 3u);
  EXPECT_EQ(note.messages[2], note.messages[0]);
}

// A server clock of 1899-12-30 would shift every downloaded Updated by a
// century; it gives no offset, and the user hears of it once.
TEST(Synchronize, AbsurdServerClockIsNotBelieved) {
  ScopedClock clock(kNow);
  Fixture f;
  RecordingNotifier note;
  const DateTime never_set;  // 1899-12-30 00:00:00
  const ScheduleItem a = Item(1, D(2004, 8, 15, 10), SyncClean);
  ScriptedPeer peer({Download(never_set, Record(a) + EndOfList()), Upload(never_set),
                     Download(never_set, EndOfList(), kNow), Upload(never_set)});
  ConnectionState st = LocalServer(peer.Port());
  st.ClockOffset = DateSpan::Seconds(77);
  EXPECT_EQ(f.Sync(st, &note), 1);
  EXPECT_EQ(st.ClockOffset.TotalSeconds(), 0);
  ASSERT_EQ(f.All().size(), 1u);
  EXPECT_TRUE(f.All()[0].Updated == a.Updated) << f.All()[0].Updated.ToString();
  EXPECT_EQ(f.Sync(st, &note), 1);
  EXPECT_EQ(note.messages,
            std::vector<std::string>{J("サーバーの時計が大きくずれています。時刻を補正せずに同期します。サーバーの時計を確認してください。")});
  EXPECT_EQ(peer.Problems(), std::vector<std::string>{});
}

// Two rows may share an Index: the download acts on the first of them, the
// upload writes each sent row back to itself, and no row takes another's
// content.
TEST(Synchronize, RowsSharingAnIndexAreEachWrittenBackToThemselves) {
  ScopedClock clock(kNow);
  Fixture f;
  f.store.InsertItem(Item(1, D(2004, 8, 15, 9), SyncPending, "first"));
  f.store.InsertItem(Item(1, D(2004, 8, 15, 9, 30), SyncPending, "second"));
  f.store.InsertItem(Item(2, D(2004, 8, 15, 11), SyncClean, "local newer"));
  f.store.InsertItem(Item(2, D(2004, 8, 15, 8), SyncClean, "twin"));
  const std::string answer = Record(Item(1, D(2004, 8, 15, 11), SyncClean, "server")) +
                             Record(Item(2, D(2004, 8, 15, 10), SyncClean, "server old")) + EndOfList();
  ScriptedPeer peer({Download(kNow, answer), Upload(kNow)});
  ConnectionState st = LocalServer(peer.Port());
  ASSERT_EQ(f.Sync(st), 1);
  const auto all = f.All();
  ASSERT_EQ(all.size(), 4u);
  std::vector<std::string> subjects;
  for (const auto& it : all) subjects.push_back(it.Subject);
  EXPECT_EQ(subjects, (std::vector<std::string>{"server", "second", "local newer", "twin"}));
  EXPECT_EQ(Flags(all), (std::vector<int32_t>{3, 3, 3, 3}));
  EXPECT_TRUE(all[1].Updated == D(2004, 8, 15, 9, 30));
  const auto up = UploadedRecords(peer.Captured().at(1));
  ASSERT_EQ(up.size(), 3u);
  EXPECT_EQ(up[0].Subject, "second");
  EXPECT_EQ(up[1].Subject, "local newer");
}

// A record that does not bring its own Index would take the previous
// record's and overwrite that item; it fails the whole download instead.
TEST(Synchronize, DownloadRecordWithoutItsOwnIndexFailsTheDownload) {
  const std::string rest = std::string("Subject=hijack\x1EUpdated=2030/01/01 00:00:00\x1ESyncFlag=3");
  const std::string bad[] = {rest, "Index=\x1E" + rest, "Index=Invalid DateTime\x1E" + rest};
  for (const std::string& text : bad) {
    SCOPED_TRACE(text);
    ScopedClock clock(kNow);
    Fixture f;
    f.store.InsertItem(Item(1, D(2004, 8, 15, 9), SyncClean, "mine"));
    f.store.InsertItem(Item(2, D(2004, 8, 15, 9), SyncPending));
    const std::string answer = Record(Item(1, D(2004, 8, 15, 11), SyncClean, "server")) + RawRecord(text) + EndOfList();
    ScriptedPeer peer({Download(kNow, answer)});
    ConnectionState st = LocalServer(peer.Port());
    EXPECT_EQ(f.Sync(st), 1);
    peer.Join();
    EXPECT_EQ(peer.Accepted(), 1);  // no upload after a failed download
    const auto all = f.All();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].Subject, "mine");  // the good first record is undone too
    EXPECT_EQ(Flags(all), (std::vector<int32_t>{3, 1}));
    EXPECT_TRUE(f.LastUpdate() == kInitialLastUpdate);
    EXPECT_EQ(st.Online, 0);
  }
}

// Answers beyond their bounds are failed connections and leave the store
// as it was.
TEST(Synchronize, DownloadBeyondItsBoundsKeepsNothing) {
  for (int by_bytes = 0; by_bytes < 2; ++by_bytes) {
    SCOPED_TRACE(by_bytes ? "bytes" : "records");
    ScopedClock clock(kNow);
    Fixture f;
    f.store.InsertItem(Item(1, D(2004, 8, 15, 9), SyncPending));
    std::string answer;
    for (int n = 2; n <= 5; ++n) answer += Record(Item(n, kNow, SyncClean));
    ScriptedPeer peer({Download(kNow, answer + EndOfList())});
    ConnectionState st = LocalServer(peer.Port());
    if (by_bytes) {
      st.Limits.download_bytes = 3 * EncodeRecordText(Item(2, kNow, SyncClean)).size();
    } else {
      st.Limits.download_records = 3;
    }
    EXPECT_EQ(f.Sync(st), 1);
    peer.Join();
    EXPECT_EQ(peer.Accepted(), 1);
    EXPECT_EQ(f.All().size(), 1u);
    EXPECT_EQ(st.Online, 0);
    EXPECT_TRUE(f.LastUpdate() == kInitialLastUpdate);
  }
}

// A store that cannot be written ends the synchronisation with a message
// about the file; the server is not held off as if it had gone away.
TEST(Synchronize, StoreThatCannotBeWrittenIsNotANetworkFailure) {
  ScopedClock clock(kNow);
  FaultVfs vfs;
  Fixture f;
  f.store.InsertItem(Item(1, D(2004, 8, 15, 9), SyncPending));
  const auto before = f.All();
  RecordingNotifier note;
  ScriptedPeer peer({Download(kNow, Record(Item(2, kNow, SyncClean)) + Record(Item(3, kNow, SyncClean)) + EndOfList())});
  ConnectionState st = LocalServer(peer.Port());
  const DateTime never_failed = st.LastConnectFailure;
  vfs.FailAfterWrites(0);
  EXPECT_EQ(f.Sync(st, &note), 1);
  vfs.Clear();
  peer.Join();
  EXPECT_EQ(peer.Accepted(), 1);
  EXPECT_EQ(st.Online, 1);
  EXPECT_TRUE(st.LastConnectFailure == never_failed);
  EXPECT_EQ(note.messages,
            std::vector<std::string>{J("データファイルに書き込めないため、同期を中止しました。") + "\n" + f.dir.File("u.db")});
  EXPECT_EQ(f.loads, 1);
  f.store.CloseStore();
  ASSERT_EQ(f.store.OpenStore(f.dir.File("u.db")), 1);
  EXPECT_EQ(Flags(f.All()), Flags(before));
  EXPECT_EQ(f.All().size(), 1u);
  EXPECT_TRUE(f.LastUpdate() == kInitialLastUpdate);
}

// A table that cannot be read to its end must not look shorter than it is:
// the download would take the unread rows for new items.
TEST(Synchronize, ReadErrorInTheTableIsNotItsEnd) {
  ScopedClock clock(kNow);
  FaultVfs vfs;
  TempDir dir;
  const std::string path = dir.File("big.db");
  {
    ItemStore s;
    ASSERT_EQ(s.CreateStore(path), 1);
  }
  // Larger than the store's page cache, so walking it reads the file.
  const DateTime base = D(2004, 8, 1);
  std::string err;
  ASSERT_TRUE(AddBulkRows(path, base, 12000, 3000, &err)) << err;
  ItemStore store;
  ASSERT_EQ(store.OpenStore(path), 1);
  ScheduleItem late = Item(0, kNow, SyncClean, "row 11000 from the server");
  late.Index = base.AddSeconds(11000);
  ScriptedPeer peer({Download(kNow, Record(late) + EndOfList())});
  ConnectionState st = LocalServer(peer.Port());
  RecordingNotifier note;
  vfs.FailReadsAfter(50);
  SyncClient c(st, &note);
  EXPECT_EQ(c.Synchronize(store, [] {}), 1);
  vfs.Clear();
  EXPECT_EQ(note.messages, std::vector<std::string>{J("データファイルを読み込めないため、同期を中止しました。") + "\n" + path});
  EXPECT_EQ(st.Online, 1);
  store.CloseStore();
  EXPECT_EQ(RawValue(path, "SELECT count(*) FROM MySelf"), "integer:12000");
  EXPECT_EQ(RawValue(path, "SELECT count(*) FROM MySelf WHERE SyncFlag=3"), "integer:12000");
}

}  // namespace
}  // namespace kv
