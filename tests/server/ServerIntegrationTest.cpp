// The real client against the real server on loopback: synchronisation
// between clients, write permissions, the user list, week items with
// private texts masked, broken connections, and the program's own stop.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "model/Recurrence.h"
#include "server/Server.h"
#include "server/ServerStore.h"
#include "store/ItemStore.h"
#include "sync/SyncClient.h"
#include "sync/WireRecord.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/sync/SyncTestSupport.h"

extern char** environ;

namespace kv::server {
namespace {

using namespace kv::test;
using namespace kv::server::test;

const DateTime kStart = D(2004, 8, 15, 12, 0, 0);

ScheduleItem Item(int n, const std::string& subject, DateTime start) {
  ScheduleItem it;
  it.Index = D(2004, 8, 1, 9, 0, n);
  it.Updated = Now();
  it.Start = start;
  it.End = start.AddSeconds(3600);
  it.Subject = subject;
  it.SyncFlag = SyncPending;
  return it;
}

struct Client {
  const Server* server = nullptr;
  ConnectionState state;
  RecordingNotifier notifier;
  TempDir dir;
  ItemStore store;
  Client(const std::string& user, const std::string& password, const Server& s) : server(&s) {
    state = LocalServer(s.Port(), user, password);
    EXPECT_EQ(store.CreateStore(dir.File("local.db")), 1);
  }
  SyncClient Sync() { return SyncClient(state, &notifier); }
  int Synchronize() {
    SyncClient c = Sync();
    const int r = c.Synchronize(store, [] {});
    if (server) {
      EXPECT_TRUE(Settle(*server)) << "the server did not finish its connections";
    }
    return r;
  }
  // Items the calendar would show: tombstones left out.
  std::map<std::string, std::string> Live() {
    std::map<std::string, std::string> m;
    ScheduleItem it;
    for (int ok = store.ReadFirstItem(it); ok; ok = store.ReadNextItem(it))
      if (it.SyncFlag != SyncDeleted) m[it.Index.ToString()] = it.Subject;
    return m;
  }
  std::optional<ScheduleItem> Find(const DateTime& index) {
    ScheduleItem it;
    for (int ok = store.ReadFirstItem(it); ok; ok = store.ReadNextItem(it))
      if (it.Index == index) return it;
    return std::nullopt;
  }
};

struct Fixture {
  ScopedClock clock{kStart};
  LoopbackServer net;
  ServerStore& store = net.store;
  std::unique_ptr<Server>& server = net.server;
  int32_t taro = 0, hanako = 0, jiro = 0;
  Fixture() {
    ServerConfig cfg;
    cfg.idle_timeout_ms = 400;
    cfg.stop_grace_ms = 1000;
    std::string err;
    EXPECT_TRUE(net.Start({Person("taro", &taro), Person("hanako", &hanako), Person("jiro", &jiro)},
                          {{"taro", "hanako"}}, cfg, &err))
        << err;
  }
  uint16_t Port() const { return net.Port(); }
  std::map<std::string, std::string> ServerLive(int32_t user) { return net.Live(user); }
};

TEST(ServerIntegration, TwoClientsOfOneUserStayInStep) {
  Fixture f;
  Client a("taro", "pw-taro", *f.server), b("taro", "pw-taro", *f.server);
  for (int i = 1; i <= 3; ++i)
    ASSERT_EQ(a.store.InsertItem(Item(i, "item" + std::to_string(i), D(2004, 8, 16, 9 + i))), 1);
  EXPECT_EQ(a.Synchronize(), 1);
  EXPECT_EQ(f.ServerLive(f.taro), a.Live());
  EXPECT_EQ(a.Find(Item(1, "", kStart).Index)->SyncFlag, SyncClean);

  f.clock.Advance(60);
  EXPECT_EQ(b.Synchronize(), 1);
  EXPECT_EQ(b.Live(), a.Live());
  ASSERT_EQ(b.Live().size(), 3u);

  // b changes one item and deletes another, a adds one: after both have
  // synchronised twice they agree with each other and with the server.
  f.clock.Advance(60);
  ScheduleItem changed = *b.Find(Item(1, "", kStart).Index);
  changed.Subject = J("変更済み");
  changed.Updated = Now();
  changed.SyncFlag = SyncPending;
  ASSERT_EQ(b.store.UpdateItemByIndex(changed), 1);
  ScheduleItem gone = *b.Find(Item(2, "", kStart).Index);
  // A deletion reaches the other clients only as a newer version.
  gone.Updated = Now();
  ASSERT_EQ(b.store.UpdateItemByIndex(gone), 1);
  ASSERT_EQ(b.store.MarkItemDeleted(gone), 1);
  ASSERT_EQ(a.store.InsertItem(Item(4, "from a", D(2004, 8, 17, 9))), 1);
  f.clock.Advance(60);
  EXPECT_EQ(b.Synchronize(), 1);
  f.clock.Advance(60);
  EXPECT_EQ(a.Synchronize(), 1);
  f.clock.Advance(60);
  EXPECT_EQ(b.Synchronize(), 1);

  const std::map<std::string, std::string> want = {
      {Item(1, "", kStart).Index.ToString(), J("変更済み")},
      {Item(3, "", kStart).Index.ToString(), "item3"},
      {Item(4, "", kStart).Index.ToString(), "from a"},
  };
  EXPECT_EQ(a.Live(), want);
  EXPECT_EQ(b.Live(), want);
  EXPECT_EQ(f.ServerLive(f.taro), want);
  EXPECT_EQ(f.store.FindItem(f.taro, Item(2, "", kStart).Index)->SyncFlag, SyncDeleted);
  EXPECT_TRUE(a.notifier.messages.empty());
  EXPECT_TRUE(b.notifier.messages.empty());
}

// A client whose clock runs ahead stamps its LastUpdate in its own time;
// changes that others make meanwhile must still come down to it.
TEST(ServerIntegration, ClientWhoseClockRunsAheadStillGetsEveryChange) {
  Fixture f;
  Client ahead("taro", "pw-taro", *f.server), other("taro", "pw-taro", *f.server);
  EXPECT_EQ(ahead.Synchronize(), 1);
  f.clock.Advance(3 * 3600);
  ASSERT_EQ(ahead.store.TouchLastUpdate(), 1);  // three hours ahead of the server
  f.clock.Advance(-3 * 3600 + 60);
  ASSERT_EQ(other.store.InsertItem(Item(1, "from the other", D(2004, 8, 16, 9))), 1);
  EXPECT_EQ(other.Synchronize(), 1);
  f.clock.Advance(60);
  EXPECT_EQ(ahead.Synchronize(), 1);
  EXPECT_EQ(ahead.Live(), other.Live());
  EXPECT_EQ(ahead.Live().size(), 1u);
}

TEST(ServerIntegration, UsersSeeOnlyTheirOwnItemsAndWriteOnlyWherePermitted) {
  Fixture f;
  Client taro("taro", "pw-taro", *f.server), hanako("hanako", "pw-hanako", *f.server),
      jiro("jiro", "pw-jiro", *f.server);
  ASSERT_EQ(taro.store.InsertItem(Item(1, "taro's", D(2004, 8, 16, 10))), 1);
  EXPECT_EQ(taro.Synchronize(), 1);
  EXPECT_EQ(hanako.Synchronize(), 1);
  EXPECT_TRUE(hanako.Live().empty());

  // taro holds write permission on hanako's items.
  SyncClient as_taro = taro.Sync();
  EXPECT_EQ(as_taro.AddItemFor("hanako", Item(2, "from taro", D(2004, 8, 16, 11))), 1);
  ScheduleItem moved = Item(2, "moved by taro", D(2004, 8, 16, 13));
  EXPECT_EQ(as_taro.UpdateItemFor("hanako", moved), 1);
  f.clock.Advance(60);
  EXPECT_EQ(hanako.Synchronize(), 1);
  EXPECT_EQ(hanako.Live(), (std::map<std::string, std::string>{{moved.Index.ToString(), "moved by taro"}}));
  EXPECT_EQ(taro.Live().count(moved.Index.ToString()), 0u) << "the change went to hanako only";

  // The others hold none.
  SyncClient as_hanako = hanako.Sync();
  EXPECT_EQ(as_hanako.AddItemFor("taro", Item(3, "intruder", D(2004, 8, 16, 12))), 0);
  ASSERT_FALSE(hanako.notifier.messages.empty());
  EXPECT_EQ(hanako.notifier.messages.back(), J("パスワードが間違っています。"));
  SyncClient as_jiro = jiro.Sync();
  EXPECT_EQ(as_jiro.DeleteItemFor("hanako", moved), 0);
  EXPECT_EQ(as_jiro.AddItemFor("nobody", Item(3, "x", kStart)), 0);
  EXPECT_EQ(jiro.notifier.messages.back(), J("指定のユーザが存在しません。"));
  EXPECT_EQ(f.ServerLive(f.hanako).size(), 1u);
  EXPECT_EQ(f.ServerLive(f.taro).size(), 1u);

  // Revoked, taro's password no longer opens hanako's items.
  std::string err;
  ASSERT_TRUE(f.store.Revoke("taro", "hanako", &err)) << err;
  SyncClient again = taro.Sync();
  EXPECT_EQ(again.DeleteItemFor("hanako", moved), 0);
  EXPECT_EQ(f.ServerLive(f.hanako).size(), 1u);
}

TEST(ServerIntegration, DelegateCannotReadTheItemsItMayWrite) {
  Fixture f;
  Client hanako("hanako", "pw-hanako", *f.server);
  ScheduleItem secret = Item(1, J("極秘"), D(2004, 8, 16, 10));
  secret.Private = 1;
  secret.Desc = J("内容");
  ASSERT_EQ(hanako.store.InsertItem(secret), 1);
  EXPECT_EQ(hanako.Synchronize(), 1);

  // Signing in under hanako's name with taro's password writes her items;
  // a synchronisation in that guise must bring nothing of hers down.
  Client spy("hanako", "pw-taro", *f.server);
  spy.Synchronize();
  EXPECT_TRUE(spy.Live().empty());
  EXPECT_EQ(f.ServerLive(f.hanako).size(), 1u);
  EXPECT_EQ(f.store.FindItem(f.hanako, secret.Index)->Desc, J("内容"));
}

TEST(ServerIntegration, UserListCarriesNamesAndWritable) {
  Fixture f;
  Client taro("taro", "pw-taro", *f.server);
  SyncClient c = taro.Sync();
  std::vector<UserEntry> users;
  ASSERT_TRUE(c.GetUserList(users));
  ASSERT_EQ(users.size(), 3u);
  struct Want {
    int32_t id;
    const char* name;
    std::string display;
    int32_t writable;
  };
  const Want want[] = {{f.taro, "taro", J("山田太郎"), 1},
                       {f.hanako, "hanako", J("佐藤花子"), 1},
                       {f.jiro, "jiro", J("鈴木次郎"), 0}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(want[i].name);
    EXPECT_EQ(users[i].UserID, want[i].id);
    EXPECT_EQ(users[i].UserName, want[i].name);
    EXPECT_EQ(users[i].DisplayName, want[i].display);
    EXPECT_EQ(users[i].Writable, want[i].writable);
  }
  Client jiro("jiro", "pw-jiro", *f.server);
  SyncClient cj = jiro.Sync();
  ASSERT_TRUE(cj.GetUserList(users));
  ASSERT_EQ(users.size(), 3u);
  EXPECT_EQ(users[0].Writable + users[1].Writable, 0);
  EXPECT_EQ(users[2].Writable, 1);
}

TEST(ServerIntegration, WeekItemsMaskPrivateTextsForOthers) {
  Fixture f;
  Client hanako("hanako", "pw-hanako", *f.server);
  ScheduleItem secret = Item(1, J("通院"), D(2004, 8, 17, 10));  // Tuesday
  secret.Private = 1;
  secret.Place = J("病院");
  secret.Desc = J("内容");
  secret.Execute = "/usr/bin/true";
  secret.Attr1 = "a1";
  secret.Color = 0x123456;
  ScheduleItem open = Item(2, J("会議"), D(2004, 8, 21, 15));  // Saturday
  open.Place = J("会議室");
  ScheduleItem next_week = Item(3, "next week", D(2004, 8, 22, 9));  // the Sunday after
  ScheduleItem weekly = MakeRule(2, 1, 1 << 1, 0, D(2004, 1, 1), D(2004, 12, 31), D(2004, 1, 5, 8),
                                 D(2004, 1, 5, 9));  // Mondays
  weekly.Index = D(2004, 8, 1, 9, 0, 4);
  weekly.Subject = "weekly";
  weekly.SyncFlag = SyncPending;
  weekly.Updated = Now();
  for (const auto& it : {secret, open, next_week, weekly}) ASSERT_EQ(hanako.store.InsertItem(it), 1);
  ASSERT_EQ(hanako.Synchronize(), 1);
  const std::vector<UserEntry> refs = {UserEntry{f.hanako, "hanako", "", 0, 0, 0}};

  auto week_of = [&](Client& who, DateTime day) {
    SyncClient c = who.Sync();
    std::vector<ScheduleItem> items;
    int refresh = 1;
    c.GetUserItems(refs, day, items, refresh);
    EXPECT_EQ(refresh, 0);
    std::map<std::string, ScheduleItem> m;
    for (auto& it : items) m[it.Subject.empty() ? "(masked)" : it.Subject] = it;
    return m;
  };
  Client taro("taro", "pw-taro", *f.server);
  // Any day of the week names the same Sunday-to-Saturday week.
  for (DateTime day : {D(2004, 8, 15), D(2004, 8, 18, 23, 59), D(2004, 8, 21, 12)}) {
    SCOPED_TRACE(day.ToString());
    const auto seen = week_of(taro, day);
    ASSERT_EQ(seen.size(), 3u);
    ASSERT_TRUE(seen.count("(masked)"));
    const ScheduleItem& m = seen.at("(masked)");
    EXPECT_EQ(m.Place + m.Desc + m.Execute + m.Attr1, "") << "no private text leaves the server";
    EXPECT_EQ(m.Start, secret.Start) << "times still show when hanako is busy";
    EXPECT_EQ(m.Color, secret.Color);
    EXPECT_EQ(m.Private, 1);
    EXPECT_EQ(m.UserID, f.hanako);
    EXPECT_EQ(seen.at(J("会議")).Place, J("会議室"));
    EXPECT_TRUE(seen.count("weekly"));
  }
  const auto own = week_of(hanako, D(2004, 8, 16));
  ASSERT_TRUE(own.count(J("通院")));
  EXPECT_EQ(own.at(J("通院")).Desc, J("内容")) << "the owner sees her own texts";
  EXPECT_EQ(week_of(taro, D(2004, 8, 22)).size(), 2u) << "next week: the Sunday item and the weekly rule";
}

// The week answer against the day-by-day walk of every rule type.
TEST(ServerIntegration, WeekItemsAgreeWithTheDayByDayWalk) {
  Fixture f;
  std::mt19937 rng(20040815);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<ScheduleItem> items;
  for (int n = 0; n < 400; ++n) {
    const DateTime start = D(2004, pick(1, 12), pick(1, 28), pick(0, 22), pick(0, 1) * 30);
    ScheduleItem it;
    if (pick(0, 2) == 0) {
      it.Start = start;
      it.End = start.AddSeconds(pick(0, 3) * 86400 + pick(1, 4) * 1800);
    } else {
      const int type = pick(1, 6);
      const DateTime rs = D(2003, pick(1, 12), pick(1, 28));
      it = MakeRule(type, pick(1, 3), type == 2 ? pick(1, 127) : pick(1, 5), pick(0, 6) == 0 ? pick(1, 12) : pick(1, 7),
                    rs, rs.AddDays(pick(30, 900)), start, start.AddSeconds(pick(1, 6) * 1800));
    }
    it.Index = D(2004, 8, 1).AddSeconds(n);
    it.Subject = "i" + std::to_string(n);
    ASSERT_EQ(f.store.AddItem(f.hanako, it), 1);
    items.push_back(it);
  }
  Client taro("taro", "pw-taro", *f.server);
  const std::vector<UserEntry> refs = {UserEntry{f.hanako, "hanako", "", 0, 0, 0}};
  for (int w = 0; w < 12; ++w) {
    const DateTime sunday = D(2004, 1, 4).AddDays(7 * pick(0, 100));
    const DateTime asked = sunday.AddDays(pick(0, 6)).AddSeconds(pick(0, 86399));
    SCOPED_TRACE(asked.ToString());
    std::set<std::string> want;
    for (const auto& it : items)
      for (int d = 0; d < 7; ++d)
        if (reference::Occurs(it, sunday.AddDays(d), sunday.AddDays(d + 1))) {
          want.insert(it.Subject);
          break;
        }
    SyncClient c = taro.Sync();
    std::vector<ScheduleItem> got_items;
    int refresh = 1;
    c.GetUserItems(refs, asked, got_items, refresh);
    std::set<std::string> got;
    for (const auto& it : got_items) got.insert(it.Subject);
    EXPECT_EQ(got, want);
    EXPECT_EQ(got_items.size(), got.size()) << "each item once";
  }
}

// True when the server closes the connection within the limit.
bool ClosedWithin(int fd, int ms) {
  char buf[256];
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) {
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return true;
    }
  }
  return false;
}

TEST(ServerIntegration, BrokenClientsAreCutOffAndHurtNobody) {
  Fixture f;
  Client taro("taro", "pw-taro", *f.server);
  ASSERT_EQ(taro.store.InsertItem(Item(1, "kept", D(2004, 8, 16, 10))), 1);
  ASSERT_EQ(taro.Synchronize(), 1);
  const auto before = f.ServerLive(f.taro);

  const std::string sign_in = "taro\r\npw-taro\r\n";
  const int32_t add = RequestAddItem, upload = RequestUpload;
  const std::string half_record = std::string("\x40\x00\x00\x00", 4) + "Index=2004/08/01 09:00:01\x1eSubject=half";
  struct Row {
    const char* name;
    std::string bytes;
  };
  const Row rows[] = {
      {"silent client", ""},
      {"garbage", std::string(3000, '\xff')},
      {"sign-in then silence", sign_in},
      {"half a record", sign_in + std::string(reinterpret_cast<const char*>(&add), 4) + half_record},
      {"upload never ended", sign_in + std::string(reinterpret_cast<const char*>(&upload), 4) +
                                 std::string(12, '\0') + half_record},
  };
  // All at once, while a good client keeps working beside them.
  std::vector<int> fds;
  for (const Row& row : rows) {
    const int fd = Connect(f.Port());
    ASSERT_GE(fd, 0);
    if (!row.bytes.empty()) {
      ASSERT_EQ(send(fd, row.bytes.data(), row.bytes.size(), MSG_NOSIGNAL), (ssize_t)row.bytes.size());
    }
    fds.push_back(fd);
  }
  SyncClient good = taro.Sync();
  std::vector<UserEntry> users;
  EXPECT_TRUE(good.GetUserList(users));
  for (std::size_t i = 0; i < fds.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_TRUE(ClosedWithin(fds[i], 3000));
    close(fds[i]);
  }
  EXPECT_EQ(f.ServerLive(f.taro), before);
  const ServerStats s = f.server->Stats();
  EXPECT_GE(s.malformed + s.timed_out, fds.size());
  SyncClient after = taro.Sync();
  EXPECT_EQ(after.AddItem(Item(2, "after", D(2004, 8, 16, 12))), 1);
  EXPECT_EQ(f.ServerLive(f.taro).size(), 2u);
}

#ifdef KALVANE_SERVER_BIN
// The program itself: administration from its command line, serving, and
// a clean stop on SIGTERM with the data kept.
TEST(ServerProgram, ServesUntilSigtermAndKeepsItsData) {
  TempDir dir;
  const std::string db = TestDatabase(dir, "team.db");
  auto run = [&](std::vector<std::string> args, int* out_fd = nullptr, const std::string& input = "") {
    std::vector<std::string> argv = {KALVANE_SERVER_BIN, "--db", db};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    int in_pipe[2], out_pipe[2];
    EXPECT_EQ(pipe(in_pipe), 0);
    EXPECT_EQ(pipe(out_pipe), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out_pipe[1], 1);
    posix_spawn_file_actions_addclose(&fa, in_pipe[1]);
    posix_spawn_file_actions_addclose(&fa, out_pipe[0]);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, cargv[0], &fa, nullptr, cargv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    close(in_pipe[0]);
    close(out_pipe[1]);
    if (!input.empty()) {
      EXPECT_EQ(write(in_pipe[1], input.data(), input.size()), (ssize_t)input.size());
    }
    close(in_pipe[1]);
    if (out_fd) {
      *out_fd = out_pipe[0];
    } else {
      close(out_pipe[0]);
    }
    return pid;
  };
  auto exit_code = [](pid_t pid) {
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  // Passwords come on standard input so they never show in a process list.
  EXPECT_EQ(exit_code(run({"add-user", "taro", "--display", "Taro"}, nullptr, "pw-taro\n")), 0);
  EXPECT_EQ(exit_code(run({"add-user", "hanako", "--display", "Hanako"}, nullptr, "pw-hanako\n")), 0);
  EXPECT_EQ(exit_code(run({"grant", "taro", "hanako"})), 0);
  EXPECT_NE(exit_code(run({"grant", "taro", "nobody"})), 0);

  int out = -1;
  const pid_t server = run({"serve", "--port", "0", "--timeout", "2"}, &out);
  std::string text;
  char buf[512];
  uint16_t port = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (port == 0 && std::chrono::steady_clock::now() < until) {
    pollfd p{out, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = read(out, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, n);
    const auto at = text.find(" port ");
    if (at != std::string::npos && text.find('\n', at) != std::string::npos) port = std::stoi(text.substr(at + 6));
  }
  ASSERT_NE(port, 0) << text;

  ConnectionState st = LocalServer(port, "hanako", "pw-taro");
  SyncClient c(st, nullptr);
  ScheduleItem it;
  it.Index = D(2004, 8, 1, 9);
  it.Updated = D(2004, 8, 1, 9);
  it.Start = D(2004, 8, 16, 10);
  it.End = D(2004, 8, 16, 11);
  it.Subject = "written by taro";
  EXPECT_EQ(c.AddItem(it), 1);

  ASSERT_EQ(kill(server, SIGTERM), 0);
  EXPECT_EQ(exit_code(server), 0);
  for (ssize_t n; (n = read(out, buf, sizeof buf)) > 0;) text.append(buf, n);
  close(out);
  EXPECT_NE(text.find("stopped"), std::string::npos) << text;

  ServerStore store;
  std::string err;
  ASSERT_TRUE(store.Open(db, &err)) << err;
  const auto hanako = store.FindUser("hanako");
  ASSERT_TRUE(hanako.has_value());
  const auto kept = store.FindItem(hanako->id, it.Index);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->Subject, "written by taro");
}
#endif

}  // namespace
}  // namespace kv::server
