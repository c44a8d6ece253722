#include "sync/SyncClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "tests/support/TestSupport.h"
#include "tests/sync/RecordVectors.h"
#include "tests/sync/ScriptedPeer.h"
#include "tests/sync/SyncTestSupport.h"

namespace kv {
namespace {

using namespace test;

const DateTime kNow = D(2004, 8, 15, 12, 0, 0);

ScheduleItem SampleItem() {
  ScheduleItem it;
  it.Index = D(2004, 8, 1, 9, 0, 0);
  it.Updated = D(2004, 8, 15, 11, 0, 0);
  it.Subject = J("会議");
  it.Start = D(2004, 8, 16, 10);
  it.End = D(2004, 8, 16, 11);
  it.SyncFlag = SyncClean;
  return it;
}

std::string UserListAnswer() {
  return Le32(2) + Le32(7) + Line("hanako") + Line(J("花子")) + Le32(1) + Le32(9) + Line("jiro") +
         Line("") + Le32(0);
}

TEST(CheckConnection, SettingsHoldOffAndStatusChanges) {
  ScopedClock clock(kNow);
  RecordingNotifier note;
  ScriptedPeer peer({{CloseConnection()}, {CloseConnection()}});
  ConnectionState st = LocalServer(peer.Port());
  SyncClient c(st, &note);

  struct Row {
    const char* name;
    std::string server, user;
    int port;
  } unconfigured[] = {{"single blank server", " ", "taro", peer.Port()},
                      {"empty user", "127.0.0.1", "", peer.Port()},
                      {"single blank user", "127.0.0.1", " ", peer.Port()},
                      {"port 0", "127.0.0.1", "taro", 0}};
  for (const Row& r : unconfigured) {
    ConnectionState s2 = st;
    s2.ServerName = r.server, s2.UserName = r.user, s2.ServerPort = r.port;
    SyncClient c2(s2, &note);
    note.statuses.clear();
    EXPECT_EQ(c2.CheckConnection(), 0) << r.name;
    EXPECT_EQ(note.statuses, std::vector<std::string>{"1:Offline"}) << r.name;
    EXPECT_TRUE(s2.LastConnectFailure == st.LastConnectFailure) << r.name;
  }

  // Two successes in a row: "Online" once.
  note.statuses.clear();
  EXPECT_EQ(c.CheckConnection(), 1);
  EXPECT_EQ(c.CheckConnection(), 1);
  EXPECT_EQ(note.statuses, std::vector<std::string>{"1:Online"});
  peer.Join();
  EXPECT_EQ(peer.Accepted(), 2);

  // Two blanks are a host name that cannot be found: a real failure.
  st.ServerName = "  ";
  EXPECT_EQ(c.CheckConnection(), 0);
  EXPECT_EQ(st.Online, 0);
  EXPECT_TRUE(st.LastConnectFailure == kNow);
  EXPECT_EQ(note.statuses.back(), "1:Offline");

  ScriptedPeer later({{CloseConnection()}});
  st.ServerName = "127.0.0.1";
  st.ServerPort = later.Port();
  clock.Advance(299);
  EXPECT_EQ(c.CheckConnection(), 0);  // held off, no attempt
  clock.Advance(1);
  EXPECT_EQ(c.CheckConnection(), 1);
  later.Join();
  EXPECT_EQ(later.Accepted(), 1);
}

TEST(ItemRequests, ExactBytesClockOffsetAndServerFailure) {
  ScopedClock clock(kNow);
  RecordingNotifier note;
  const ScheduleItem item = SampleItem();
  ScheduleItem sent = item;
  sent.Updated = item.Updated.AddSeconds(-30);  // local clock 30 s ahead
  const DateTime server_now = kNow.AddSeconds(-30);
  auto script = [&](int32_t code, const std::string& user, int32_t result, std::size_t chunk) {
    return std::vector<PeerStep>{ExpectBytes(SignIn(user, "pw")), SendBytes(SignInAnswer(0, server_now), chunk),
                                 ExpectBytes(Le32(code) + Record(sent)), SendBytes(Le32(result), chunk)};
  };
  ScriptedPeer peer({script(1, "taro", 1, 0), script(2, "taro", 1, 1), script(3, "taro", 1, 0),
                     script(1, "hanako", 1, 0), script(2, "hanako", 0, 1), script(3, "hanako", 7, 0)});
  ConnectionState st = LocalServer(peer.Port());
  SyncClient c(st, &note);
  EXPECT_EQ(c.AddItem(item), 1);
  EXPECT_EQ(st.ClockOffset.TotalSeconds(), 30);
  EXPECT_EQ(c.UpdateItem(item), 1);
  EXPECT_EQ(c.DeleteItem(item), 1);
  EXPECT_EQ(c.AddItemFor("hanako", item), 1);
  EXPECT_TRUE(note.messages.empty());
  EXPECT_EQ(c.UpdateItemFor("hanako", item), 0);
  EXPECT_EQ(c.DeleteItemFor("hanako", item), 0);
  const std::string failed = J("サーバーでデータ処理に失敗しました。") + "127.0.0.1";
  EXPECT_EQ(note.messages, (std::vector<std::string>{failed, failed}));
  EXPECT_EQ(DescribeDifferences(SampleItem(), item), "");
  EXPECT_EQ(peer.Problems(), std::vector<std::string>{});
}

TEST(Login, OnlyMinusOneAndMinusTwoRefuse) {
  ScopedClock clock(kNow);
  RecordingNotifier note;
  struct Row {
    const char* name;
    int32_t code;
    int want;
    const char* message;
  } rows[] = {{"code 0", 0, 1, nullptr},
              {"code 1", 1, 1, nullptr},
              {"code 7", 7, 1, nullptr},
              {"unknown user", -1, 0, "指定のユーザが存在しません。"},
              {"wrong password", -2, 0, "パスワードが間違っています。"}};
  for (const Row& r : rows) {
    std::vector<PeerStep> s{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(r.code, kNow))};
    if (r.want) s.push_back(ExpectBytes(Le32(12))), s.push_back(SendBytes(Le32(0)));
    ScriptedPeer peer({s});
    ConnectionState st = LocalServer(peer.Port());
    SyncClient c(st, &note);
    note.messages.clear();
    std::vector<UserEntry> users(1);
    EXPECT_EQ(c.GetUserList(users) ? 1 : 0, r.want) << r.name;
    EXPECT_EQ(users.size(), r.want ? 0u : 1u) << r.name;
    if (r.message)
      EXPECT_EQ(note.messages, std::vector<std::string>{J(r.message)}) << r.name;
    else
      EXPECT_TRUE(note.messages.empty()) << r.name;
    EXPECT_EQ(peer.Problems(), std::vector<std::string>{}) << r.name;
  }
}

TEST(GetUserList, EntriesInOrderEvenFromOneBytePackets) {
  ScopedClock clock(kNow);
  ScriptedPeer peer({{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow), 1),
                      ExpectBytes(Le32(12)), SendBytes(UserListAnswer(), 1)}});
  ConnectionState st = LocalServer(peer.Port());
  SyncClient c(st, nullptr);
  std::vector<UserEntry> users;
  ASSERT_TRUE(c.GetUserList(users));
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[0].UserID, 7);
  EXPECT_EQ(users[0].UserName, "hanako");
  EXPECT_EQ(users[0].DisplayName, J("花子"));
  EXPECT_EQ(users[0].Writable, 1);
  EXPECT_EQ(users[1].UserName, "jiro");
  EXPECT_EQ(users[1].DisplayName, "");
  EXPECT_EQ(users[1].Writable, 0);
  EXPECT_EQ(peer.Problems(), std::vector<std::string>{});
}

TEST(GetUserList, AnswerCutAtEveryOffsetOrNonsenseCountFails) {
  ScopedClock clock(kNow);
  const std::string answer = SignInAnswer(0, kNow) + UserListAnswer();
  std::vector<std::string> bad_counts = {Le32(-1), Le32(1000000000)};
  std::vector<std::vector<PeerStep>> scripts;
  for (std::size_t cut = 0; cut < answer.size(); ++cut)
    scripts.push_back({ExpectBytes(SignIn("taro", "pw")), SendBytes(answer.substr(0, cut)), CloseConnection()});
  for (const auto& b : bad_counts)
    scripts.push_back({ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow) + b),
                       StallUntilClientCloses()});
  ScriptedPeer peer(scripts);
  ConnectionState st = LocalServer(peer.Port());
  RecordingNotifier note;
  SyncClient c(st, &note);
  for (std::size_t i = 0; i < scripts.size(); ++i) {
    std::vector<UserEntry> users(3);
    EXPECT_FALSE(c.GetUserList(users)) << "case " << i;
    EXPECT_EQ(users.size(), 3u) << "case " << i;
    EXPECT_EQ(st.Online, 0) << "case " << i;  // counts as a failed connection
    clock.Advance(300);
  }
  EXPECT_TRUE(note.messages.empty());
  peer.Join();
  EXPECT_EQ(peer.Accepted(), static_cast<int>(scripts.size()));
}

TEST(Timeouts, SilentServerFailsWithinTheIoTimeout) {
  ScopedClock clock(kNow);
  ScriptedPeer peer({{ExpectBytes(SignIn("taro", "pw")), StallUntilClientCloses()}});
  ConnectionState st = LocalServer(peer.Port());
  st.IoTimeoutMs = 300;
  SyncClient c(st, nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(c.AddItem(SampleItem()), 0);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 250);
  EXPECT_LT(ms, 3000);
  EXPECT_EQ(st.Online, 0);
  EXPECT_TRUE(st.LastConnectFailure == kNow);
}

TEST(GetUserItems, RecordsCarryOverAndTakeTheEntryUserId) {
  ScopedClock clock(kNow);
  ScheduleItem a = SampleItem();
  a.UserID = 99;
  ScheduleItem b = a;
  b.Subject = "second";
  // A record that carries only Subject: the rest comes from the previous one.
  const std::string partial = Le32(9) + "Subject=z" + std::string(1, '\0');
  const std::vector<UserEntry> refs = {{7, "hanako"}, {9, "jiro"}};
  const DateTime day = D(2004, 8, 18);
  ScriptedPeer peer({{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow)),
                      ExpectBytes(Le32(13) + Line("hanako") + Date12(day)),
                      SendBytes(Record(a) + partial + EndOfList(), 7)},
                     {ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow)),
                      ExpectBytes(Le32(13) + Line("jiro") + Date12(day)), SendBytes(Record(b) + EndOfList())}});
  ConnectionState st = LocalServer(peer.Port());
  SyncClient c(st, nullptr);
  std::vector<ScheduleItem> items(1);
  int refresh = 1;
  EXPECT_FALSE(c.GetUserItems(refs, day, items, refresh));
  EXPECT_EQ(refresh, 0);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].UserID, 7);
  EXPECT_EQ(items[1].Subject, "z");
  EXPECT_TRUE(items[1].Start == a.Start);
  EXPECT_EQ(items[1].UserID, 7);
  EXPECT_EQ(items[2].Subject, "second");
  EXPECT_EQ(items[2].UserID, 9);
  EXPECT_EQ(peer.Problems(), std::vector<std::string>{});

  // Not asked to refresh: nothing happens.
  EXPECT_FALSE(c.GetUserItems(refs, day, items, refresh));
  EXPECT_EQ(items.size(), 3u);
}

TEST(GetUserItems, FirstFailureSkipsTheRestAndABrokenListIsDropped) {
  ScopedClock clock(kNow);
  const std::vector<UserEntry> refs = {{7, "hanako"}, {9, "jiro"}};
  ConnectionState st = LocalServer(1);  // nothing listens on port 1
  SyncClient c(st, nullptr);
  std::vector<ScheduleItem> items(2);
  int refresh = 1;
  c.GetUserItems(refs, kNow, items, refresh);
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(refresh, 0);

  // A list cut inside its second record keeps none of that user's records.
  clock.Advance(300);
  const std::string list = Record(SampleItem()) + Record(SampleItem());
  ScriptedPeer peer({{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow)),
                      ExpectBytes(Le32(13) + Line("hanako") + Date12(kNow)),
                      SendBytes(list.substr(0, list.size() - 3)), CloseConnection()}});
  st.ServerPort = peer.Port();
  refresh = 1;
  c.GetUserItems(refs, kNow, items, refresh);
  EXPECT_TRUE(items.empty());
  peer.Join();
  EXPECT_EQ(peer.Accepted(), 1);  // jiro held off after the broken connection
}

TEST(GetUserItems, SmallRecordsRepeatingALargeTextAreABrokenAnswer) {
  ScopedClock clock(kNow);
  ScheduleItem big = SampleItem();
  big.Subject = std::string(512 * 1024, 'x');
  // Each record names only its Place and inherits the half-megabyte
  // subject: 200 of them would hold 100 MB of text from a few kilobytes.
  std::string answer = Record(big);
  for (int i = 0; i < 200; ++i) answer += Le32(7) + "Place=p" + std::string(1, '\0');
  const std::vector<UserEntry> refs = {{7, "hanako"}};
  ScriptedPeer peer({{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow)),
                      ExpectBytes(Le32(13) + Line("hanako") + Date12(kNow)),
                      SendBytes(answer + EndOfList()), CaptureRest()}});
  ConnectionState st = LocalServer(peer.Port());
  SyncClient c(st, nullptr);
  std::vector<ScheduleItem> items;
  int refresh = 1;
  c.GetUserItems(refs, kNow, items, refresh);
  peer.Join();
  // The answer is dropped and counts as a broken connection.
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(st.Online, 0);
  EXPECT_EQ(peer.Problems(), std::vector<std::string>{});

  // The same records up to 50 MB are a real answer.
  clock.Advance(300);
  answer = Record(big);
  for (int i = 0; i < 99; ++i) answer += Le32(7) + "Place=p" + std::string(1, '\0');
  ScriptedPeer fine({{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow)),
                      ExpectBytes(Le32(13) + Line("hanako") + Date12(kNow)),
                      SendBytes(answer + EndOfList())}});
  st.ServerPort = fine.Port();
  refresh = 1;
  c.GetUserItems(refs, kNow, items, refresh);
  EXPECT_EQ(items.size(), 100u);
  EXPECT_EQ(fine.Problems(), std::vector<std::string>{});
}

TEST(GetUserItems, RefusalInBackgroundIsShownOnceUntilSettingsChange) {
  ScopedClock clock(kNow);
  RecordingNotifier note;
  const std::vector<UserEntry> refs = {{7, "hanako"}};
  auto refused = std::vector<PeerStep>{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(-2, kNow))};
  ScriptedPeer peer({refused, refused});
  ConnectionState st = LocalServer(peer.Port());
  SyncClient c(st, &note);
  std::vector<ScheduleItem> items;
  std::vector<UserEntry> users;
  int refresh = 1;
  for (int repaint = 0; repaint < 3; ++repaint) {
    c.GetUserItems(refs, kNow, items, refresh);
    EXPECT_FALSE(c.GetUserList(users, Fetch::Background));
  }
  EXPECT_EQ(refresh, 1);
  EXPECT_EQ(note.messages.size(), 1u);
  EXPECT_EQ(peer.Accepted(), 1);
  st.Password = "pw";  // unchanged settings still suppressed
  c.GetUserItems(refs, kNow, items, refresh);
  EXPECT_EQ(note.messages.size(), 1u);
  // A change of settings tries again (and is refused again, shown again).
  st.UserName = "taro";
  st.ServerName = "localhost";
  c.GetUserItems(refs, kNow, items, refresh);
  EXPECT_EQ(note.messages.size(), 2u);
  EXPECT_EQ(peer.Problems(), std::vector<std::string>{});
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

using namespace test;

// The offset is believed up to two days either way (any time zone); beyond
// that, or without a usable server time, it is 0, and a clock that is
// wrong is told once.
TEST(Login, ServerClockBeyondTwoDaysOrUnusableGivesNoOffset) {
  ScopedClock clock(kNow);
  RecordingNotifier note;
  const int64_t bound = 2 * 86400;
  struct Row {
    const char* name;
    DateTime server_now;
    int64_t want;
  } rows[] = {
      {"30 s behind", kNow.AddSeconds(-30), 30},
      {"two days behind", kNow.AddSeconds(-bound), bound},
      {"two days ahead", kNow.AddSeconds(bound), -bound},
      {"a second more than two days behind", kNow.AddSeconds(-bound - 1), 0},
      {"a second more than two days ahead", kNow.AddSeconds(bound + 1), 0},
      {"never set", DateTime(), 0},
      {"invalid", DateTime::Invalid(), 0},
      {"null", DateTime::Null(), 0},
  };
  std::vector<std::vector<PeerStep>> scripts;
  for (const Row& r : rows)
    scripts.push_back({ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, r.server_now)),
                       ExpectBytes(Le32(12)), SendBytes(Le32(0))});
  ScriptedPeer peer(scripts);
  ConnectionState st = LocalServer(peer.Port());
  SyncClient c(st, &note);
  for (const Row& r : rows) {
    st.ClockOffset = DateSpan::Seconds(77);
    std::vector<UserEntry> users;
    EXPECT_TRUE(c.GetUserList(users)) << r.name;
    EXPECT_EQ(st.ClockOffset.TotalSeconds(), r.want) << r.name;
  }
  // Told once, at the first clock beyond the bound; unusable times are silent.
  EXPECT_EQ(note.messages.size(), 1u);
  EXPECT_TRUE(st.ClockWarningShown);
  EXPECT_EQ(peer.Problems(), std::vector<std::string>{});
}

// A CR or LF in a name or password would end its line and begin another
// request line; it is refused before anything is sent.
TEST(Login, LineBreaksInNamesAndPasswordsAreRefusedBeforeSending) {
  ScopedClock clock(kNow);
  RecordingNotifier note;
  ScriptedPeer peer({{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow)),
                      ExpectBytes(Le32(13) + Line("jiro") + Date12(kNow)), SendBytes(EndOfList())}});
  const std::string refused = J("ユーザ名またはパスワードに改行が含まれているため、サーバーに接続できません。");
  {
    ConnectionState st = LocalServer(peer.Port());
    st.UserName = "taro\r\n12";
    SyncClient c(st, &note);
    std::vector<UserEntry> users;
    EXPECT_FALSE(c.GetUserList(users));
    st.UserName = "taro";
    st.Password = "pw\nx";
    EXPECT_EQ(c.AddItem(SampleItem()), 0);
    st.Password = "pw";
    EXPECT_EQ(c.AddItemFor("hanako\r", SampleItem()), 0);
    EXPECT_EQ(note.messages, (std::vector<std::string>{refused, refused, refused}));
    // A reference user's name from the server's list is skipped, not sent.
    const std::vector<UserEntry> refs = {{7, "hanako\nTAIL", "", 0}, {9, "jiro", "", 0}};
    std::vector<ScheduleItem> items;
    int refresh = 1;
    c.GetUserItems(refs, kNow, items, refresh);
    EXPECT_EQ(refresh, 0);
  }
  peer.Join();
  EXPECT_EQ(peer.Accepted(), 1);
  EXPECT_EQ(peer.Problems(), std::vector<std::string>{});
}

TEST(CheckConnection, ClockSetBackDoesNotHoldAttemptsOff) {
  ScopedClock clock(kNow);
  ConnectionState st = LocalServer(1);  // nothing listens on port 1
  SyncClient c(st, nullptr);
  EXPECT_EQ(c.CheckConnection(), 0);
  EXPECT_TRUE(st.LastConnectFailure == kNow);
  ScriptedPeer peer({{CloseConnection()}});
  st.ServerPort = peer.Port();
  clock.Advance(-3600);  // the user corrects a clock that ran an hour fast
  EXPECT_EQ(c.CheckConnection(), 1);
  peer.Join();
  EXPECT_EQ(peer.Accepted(), 1);
}

// A server that sends a byte now and then never lets a per-read time-out
// fire; the request's own deadline ends it.
TEST(Deadline, TricklingServerIsCutOffAtTheRequestDeadline) {
  ScopedClock clock(kNow);
  ScriptedPeer peer({{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow)), ExpectBytes(Le32(12)),
                      SendBytes(Le32(1) + Le32(7)), TrickleForever("a", 50)}});
  ConnectionState st = LocalServer(peer.Port());
  st.IoTimeoutMs = 5000;
  st.RequestTimeoutMs = 1500;
  SyncClient c(st, nullptr);
  std::vector<UserEntry> users;
  EXPECT_FALSE(c.GetUserList(users));
  EXPECT_EQ(st.Online, 0);
  const auto notes = peer.Notes();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].rfind("hung up", 0), 0u) << notes[0];
}

// A look-up that never returns costs the connect time-out, no more; an
// injected look-up is what the connection uses.
TEST(Deadline, NameThatNeverResolvesCostsAtMostTheConnectTimeout) {
  ScopedClock clock(kNow);
  struct Gate {
    std::mutex mu;
    std::condition_variable cv;
    bool open = false;
    bool returned = false;
  };
  auto gate = std::make_shared<Gate>();
  ConnectionState st = LocalServer(4780);
  st.ServerName = "calendar.invalid";
  st.ConnectTimeoutMs = 200;
  st.Resolve = [gate](const std::string&, int, std::vector<Endpoint>&) {
    std::unique_lock<std::mutex> lock(gate->mu);
    gate->cv.wait_for(lock, std::chrono::seconds(30), [&] { return gate->open; });
    gate->returned = true;
    return false;
  };
  SyncClient c(st, nullptr);
  EXPECT_EQ(c.CheckConnection(), 0);
  {
    std::lock_guard<std::mutex> lock(gate->mu);
    EXPECT_FALSE(gate->returned) << "the call waited for the look-up";
    gate->open = true;
  }
  gate->cv.notify_all();
  EXPECT_EQ(st.Online, 0);
  EXPECT_TRUE(st.LastConnectFailure == kNow);

  ScriptedPeer peer({{CloseConnection()}});
  st.ServerPort = peer.Port();
  st.Resolve = [](const std::string& host, int port, std::vector<Endpoint>& out) {
    return host == "calendar.invalid" && SystemResolve("127.0.0.1", port, out);
  };
  clock.Advance(300);
  EXPECT_EQ(c.CheckConnection(), 1);
  peer.Join();
  EXPECT_EQ(peer.Accepted(), 1);
}

// Answers larger than their bounds fail as broken connections and bring
// nothing.
TEST(AnswerLimits, UserListAndUserItemsBeyondTheirBoundsBringNothing) {
  ScopedClock clock(kNow);
  const std::string long_name(300, 'n');
  std::string list = Le32(3);
  for (int i = 0; i < 3; ++i) list += Le32(i) + Line(long_name) + Line("") + Le32(0);
  std::string three;
  for (int i = 0; i < 3; ++i) three += Record(SampleItem());
  auto items_script = [&](const std::string& answer) {
    return std::vector<PeerStep>{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow)),
                                 ExpectBytes(Le32(13) + Line("hanako") + Date12(kNow)), SendBytes(answer),
                                 StallUntilClientCloses()};
  };
  ScriptedPeer peer({{ExpectBytes(SignIn("taro", "pw")), SendBytes(SignInAnswer(0, kNow)), ExpectBytes(Le32(12)),
                      SendBytes(list), StallUntilClientCloses()},
                     items_script(three + EndOfList()), items_script(three + EndOfList())});
  ConnectionState st = LocalServer(peer.Port());
  st.Limits.user_list_bytes = 2 * long_name.size();
  st.Limits.user_items_records = 2;
  SyncClient c(st, nullptr);
  std::vector<UserEntry> users(1);
  EXPECT_FALSE(c.GetUserList(users));
  EXPECT_EQ(users.size(), 1u);
  const std::vector<UserEntry> refs = {{7, "hanako", "", 0}};
  std::vector<ScheduleItem> items;
  int refresh = 1;
  clock.Advance(300);
  c.GetUserItems(refs, kNow, items, refresh);
  EXPECT_TRUE(items.empty());
  st.Limits.user_items_records = 3;
  st.Limits.user_items_bytes = 2 * EncodeRecordText(SampleItem()).size();
  refresh = 1;
  clock.Advance(300);
  c.GetUserItems(refs, kNow, items, refresh);
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(st.Online, 0);
  peer.Join();
  EXPECT_EQ(peer.Accepted(), 3);
}

}  // namespace
}  // namespace kv
