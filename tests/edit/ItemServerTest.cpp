// The item commands against the reference server on loopback, through the
// real requests: deletions reach the server and the owner's other clients
// whatever the item's age, and changes made for another user reach them.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "edit/ItemCommands.h"
#include "sync/SyncClient.h"
#include "tests/edit/EditFakes.h"
#include "tests/server/LoopbackServer.h"
#include "tests/sync/SyncTestSupport.h"

namespace kv {
namespace {

using namespace kv::test;

const DateTime kT0 = D(2004, 1, 10, 9, 0, 0);

struct World {
  ScopedClock clock{kT0};
  server::test::LoopbackServer net;
  server::ServerStore& store = net.store;
  std::unique_ptr<server::Server>& server = net.server;
  int32_t taro = 0, hanako = 0;
  World() {
    server::ServerConfig cfg;
    cfg.idle_timeout_ms = 2000;
    cfg.stop_grace_ms = 1000;
    std::string err;
    // taro may write hanako's items.
    EXPECT_TRUE(net.Start({server::test::Person("taro", &taro), server::test::Person("hanako", &hanako)},
                          {{"taro", "hanako"}}, cfg, &err))
        << err;
  }
  // An upload has no answer: wait until the server has finished every
  // connection it took.
  void Settle() {
    if (!server::test::Settle(*server, std::chrono::seconds(20)))
      ADD_FAILURE() << "the server did not finish its connections";
  }
  std::map<std::string, std::string> ServerLive(int32_t user) { return net.Live(user); }
};

// One user's calendar program: its store, view state and connection, with
// every request run on a thread of its own as the window does.
struct Calendar {
  World& world;
  ConnectionState conn;
  RecordingNotifier notifier;
  TempDir dir;
  ItemStore store;
  ViewState state;
  FakeDialogs dialogs;
  Messages messages;
  UndoHistory undo;
  int requests = 0;
  SyncItemServer server{conn, &notifier, [this](const std::function<int()>& request) {
                          ++requests;
                          int r = 0;
                          std::thread t([&] { r = request(); });
                          t.join();
                          return r;
                        }};

  Calendar(World& w, const std::string& user, const std::string& password) : world(w) {
    conn = LocalServer(w.server->Port(), user, password);
    EXPECT_EQ(store.CreateStore(dir.File("local.db")), 1);
    state = ViewState::Initial();
    state.DrawEnabled = 1;
  }
  ItemContext Ctx() {
    return ItemContext{state, store, dialogs, messages, server, nullptr,
                       [this] { return LoadVisibleItems(state, store); }, &undo};
  }
  ItemCommands Cmd() { return ItemCommands(Ctx()); }
  int Synchronize() {
    SyncClient c(conn, &notifier);
    const int r = c.Synchronize(store, [this] { LoadVisibleItems(state, store); });
    world.Settle();
    return r;
  }
  std::map<std::string, std::string> Live() {
    std::map<std::string, std::string> m;
    for (const auto& it : Rows(store))
      if (it.SyncFlag != SyncDeleted) m[it.Index.ToString()] = it.Subject;
    return m;
  }
  bool Select(const std::string& subject) {
    for (size_t i = 0; i < state.VisibleItems.size(); ++i)
      if (state.VisibleItems[i].Subject == subject) {
        state.OwnSelection = static_cast<int>(i);
        return true;
      }
    return false;
  }
  // Another program start on the same store: open, then the 60-day purge.
  void Restart() {
    const std::string path = dir.File("local.db");
    store.CloseStore();
    ASSERT_EQ(store.OpenStore(path), 1);
    ASSERT_EQ(store.PurgeDeletedItems(60), 1);
    state = ViewState::Initial();
    state.DrawEnabled = 1;
    LoadVisibleItems(state, store);
  }
  void Unplug() { conn.ServerPort = 1; }  // nothing listens there
  void PlugIn() {
    conn.ServerPort = world.server->Port();
    world.clock.Advance(301);  // past the hold-off after a failed attempt
  }
};

TEST(ItemCommandsOnServer, OldItemDeletedOfflineIsNotPurgedBeforeItGoesUp) {
  World w;
  Calendar a(w, "taro", "pw-taro"), b(w, "taro", "pw-taro");
  a.dialogs.Ok([](ItemForm& f) { f.subject = "old meeting"; });
  a.Cmd().AddOwnItem();
  ASSERT_EQ(Rows(a.store).size(), 1u);
  EXPECT_EQ(Rows(a.store)[0].SyncFlag, SyncClean);
  EXPECT_EQ(w.ServerLive(w.taro), a.Live());
  w.clock.Advance(60);
  EXPECT_EQ(b.Synchronize(), 1);
  EXPECT_EQ(b.Live(), a.Live());

  // Ninety days on, deleted while the server cannot be reached.
  w.clock.Advance(90 * 86400);
  a.Unplug();
  a.state.AnchorDate = a.state.SelectedDate = kT0.DateOnly();
  LoadVisibleItems(a.state, a.store);
  ASSERT_TRUE(a.Select("old meeting"));
  a.Cmd().DeleteCommand();
  EXPECT_EQ(a.requests, 2);
  ASSERT_EQ(Rows(a.store).size(), 1u);
  EXPECT_EQ(Rows(a.store)[0].SyncFlag, SyncDeleted);
  EXPECT_EQ(w.ServerLive(w.taro).size(), 1u) << "the server has not heard of it yet";

  // The next start purges old tombstones; this one is a few seconds old.
  w.clock.Advance(120);
  a.Restart();
  ASSERT_EQ(Rows(a.store).size(), 1u) << "purged before it ever went up";

  a.PlugIn();
  EXPECT_EQ(a.Synchronize(), 1);
  EXPECT_TRUE(w.ServerLive(w.taro).empty());
  w.clock.Advance(60);
  EXPECT_EQ(b.Synchronize(), 1);
  EXPECT_TRUE(b.Live().empty()) << "the user's other client lost it too";
  EXPECT_TRUE(a.notifier.messages.empty());
  EXPECT_TRUE(a.messages.texts.empty());
}

TEST(ItemCommandsOnServer, OfflineAddAndPasteGoUpWithTheNextSynchronisation) {
  World w;
  Calendar a(w, "taro", "pw-taro");
  a.Unplug();
  a.dialogs.Ok([](ItemForm& f) { f.subject = "offline"; });
  a.Cmd().AddOwnItem();
  ASSERT_TRUE(a.Select("offline"));
  a.Cmd().CopySelectedItem();
  a.state.SelectedDate = a.state.SelectedDate.AddDays(1);
  a.Cmd().PasteItem();
  a.Cmd().PasteItem();
  const auto rows = Rows(a.store);
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& r : rows) EXPECT_EQ(r.SyncFlag, SyncPending);
  EXPECT_TRUE(w.ServerLive(w.taro).empty());

  a.PlugIn();
  EXPECT_EQ(a.Synchronize(), 1);
  EXPECT_EQ(w.ServerLive(w.taro), a.Live());
  EXPECT_EQ(a.Live().size(), 3u) << "pastes in one second kept apart";
}

TEST(ItemCommandsOnServer, ChangesForAnotherUserReachThatUsersClient) {
  World w;
  Calendar taro(w, "taro", "pw-taro"), hanako(w, "hanako", "pw-hanako");
  hanako.state.SelectedDate = D(2004, 1, 12);  // a Monday
  hanako.dialogs.Ok([](ItemForm& f) {
    f.subject = J("花子の会議");
    f.start_time = D(1899, 12, 30, 10, 0, 0);
    f.end_time = D(1899, 12, 30, 11, 0, 0);
  });
  hanako.Cmd().AddOwnItem();
  ASSERT_EQ(hanako.Live().size(), 1u);

  // taro sees hanako's week, changes the item, adds one, deletes the first.
  w.clock.Advance(60);
  std::vector<UserEntry> users;
  ASSERT_TRUE(SyncClient(taro.conn, &taro.notifier).GetUserList(users));
  for (const UserEntry& u : users)
    if (u.UserName == "hanako") taro.state.ReferenceUsers.push_back(u);
  ASSERT_EQ(taro.state.ReferenceUsers.size(), 1u);
  ASSERT_EQ(taro.state.ReferenceUsers[0].Writable, 1);
  auto fetch = [&] {
    taro.state.RefreshReferences = 1;
    std::vector<ScheduleItem> items;
    SyncClient(taro.conn, &taro.notifier)
        .GetUserItems(taro.state.ReferenceUsers, D(2004, 1, 12), items, taro.state.RefreshReferences);
    taro.state.ReferenceItems = items;
  };
  fetch();
  ASSERT_EQ(taro.state.ReferenceItems.size(), 1u);
  taro.state.ReferenceSelection = 0;
  taro.dialogs.Ok([](ItemForm& f) { f.place = J("会議室B"); });
  taro.Cmd().EditCommand();
  EXPECT_EQ(taro.state.RefreshReferences, 1);
  taro.state.SelectedDate = D(2004, 1, 13);
  taro.dialogs.Ok([](ItemForm& f) { f.subject = J("太郎が追加"); });
  taro.Cmd().AddReferenceItem("hanako");
  EXPECT_TRUE(taro.messages.texts.empty());
  EXPECT_TRUE(Rows(taro.store).empty());

  w.clock.Advance(60);
  EXPECT_EQ(hanako.Synchronize(), 1);
  const auto after_edit = Rows(hanako.store);
  ASSERT_EQ(after_edit.size(), 2u);
  EXPECT_EQ(after_edit[0].Place, J("会議室B"));
  EXPECT_EQ(after_edit[1].Subject, J("太郎が追加"));
  EXPECT_EQ(after_edit[1].Start, D(2004, 1, 13, 9, 0, 0));

  w.clock.Advance(60);
  fetch();
  ASSERT_EQ(taro.state.ReferenceItems.size(), 2u);
  taro.state.ReferenceSelection = -1;
  for (size_t i = 0; i < taro.state.ReferenceItems.size(); ++i)
    if (taro.state.ReferenceItems[i].Subject == J("花子の会議")) taro.state.ReferenceSelection = static_cast<int>(i);
  ASSERT_GE(taro.state.ReferenceSelection, 0);
  taro.Cmd().DeleteSelectedItem();
  w.clock.Advance(60);
  EXPECT_EQ(hanako.Synchronize(), 1);
  EXPECT_EQ(hanako.Live(), w.ServerLive(w.hanako));
  EXPECT_EQ(hanako.Live().size(), 1u) << "the deletion made for hanako reached her client";
  EXPECT_TRUE(taro.notifier.messages.empty());
  EXPECT_TRUE(hanako.notifier.messages.empty());
}

TEST(ItemCommandsOnServer, AnUndoneDeletionComesBackOverTheTombstonesEverywhere) {
  World w;
  Calendar a(w, "taro", "pw-taro"), b(w, "taro", "pw-taro");
  a.dialogs.Ok([](ItemForm& f) { f.subject = "meeting"; });
  a.Cmd().AddOwnItem();
  w.clock.Advance(60);
  ASSERT_TRUE(a.Select("meeting"));
  a.Cmd().DeleteCommand();
  EXPECT_EQ(b.Synchronize(), 1);
  EXPECT_TRUE(b.Live().empty());
  // Taken back a few seconds later: the other client must still see it as
  // newer than the tombstone it holds.
  w.clock.Advance(3);
  a.Cmd().UndoCommand();
  EXPECT_EQ(a.Live().size(), 1u);
  EXPECT_EQ(w.ServerLive(w.taro), a.Live());
  EXPECT_EQ(b.Synchronize(), 1);
  EXPECT_EQ(b.Live(), a.Live());

  // Deleted online, taken back offline: the next synchronisation carries it
  // up over the server's tombstone.
  w.clock.Advance(60);
  ASSERT_TRUE(a.Select("meeting"));
  a.Cmd().DeleteCommand();
  EXPECT_TRUE(w.ServerLive(w.taro).empty());
  a.Unplug();
  a.Cmd().UndoCommand();
  ASSERT_EQ(Rows(a.store).size(), 1u);
  EXPECT_EQ(Rows(a.store)[0].SyncFlag, SyncPending);
  a.PlugIn();
  EXPECT_EQ(a.Synchronize(), 1);
  EXPECT_EQ(w.ServerLive(w.taro), a.Live());
  EXPECT_EQ(b.Synchronize(), 1);
  EXPECT_EQ(b.Live(), a.Live());
  EXPECT_EQ(a.Live().size(), 1u);
  EXPECT_TRUE(b.notifier.messages.empty());
}

}  // namespace
}  // namespace kv
