// The group side against the reference server on loopback: one client
// shows other users' weeks and writes where it was granted permission;
// the owner of the items sees the change after synchronising.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/group/OtherUsersRefresh.h"
#include "app/group/PasswordKeeper.h"
#include "app/group/ServerSettings.h"
#include "app/group/SyncReferenceSource.h"
#include "server/Server.h"
#include "server/ServerStore.h"
#include "sync/SyncClient.h"
#include "edit/ItemCommands.h"
#include "tests/edit/EditFakes.h"
#include "tests/group/GroupTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/sync/SyncTestSupport.h"
#include "tests/view/ViewTestSupport.h"
#include "view/HitTest.h"
#include "view/Layouts.h"
#include "view/OtherUsersFetch.h"

namespace kv {
namespace {

using namespace kv::test;

const DateTime kNow = D(2005, 3, 9, 8, 0, 0);  // a Wednesday
constexpr TextMetrics kM{16, 8};
constexpr Rect kArea{0, 0, 808, 532};  // rows of (532 - 32) / 3 = 166

struct Client {
  Team& team;
  ConnectionState conn;
  RecordingNotifier notifier;
  TempDir dir;
  ItemStore store;
  ViewState view;
  FakeHost host;
  RecordingSurface screen{kM};
  Client(Team& t, const std::string& user, const std::string& password) : team(t) {
    conn = LocalServer(t.server->Port(), user, password);
    EXPECT_EQ(store.CreateStore(dir.File("local.db")), 1);
    view.DrawEnabled = 1;
    view.Online = 1;
    view.ViewMode = OtherUsersMode;
    view.SelectedDate = view.AnchorDate = kNow.DateOnly();
  }
  int Synchronize() {
    SyncClient c(conn, &notifier);
    const int r = c.Synchronize(store, [] {});
    team.Settle();
    return r;
  }
  SyncReferenceSource source{conn, &notifier};
  OtherUsersRefresh refresh{view, {[this] {
                                     std::vector<UserEntry> u;
                                     store.LoadUserList(u);
                                     return u;
                                   },
                                   [this] { return conn.UserName; }, &source,
                                   [](const std::function<void()>& work) {
                                     std::thread worker(work);
                                     worker.join();
                                   },
                                   [this] {
                                     screen.Clear();
                                     PaintView(view, screen, kArea, host);
                                   }}};
  // What the window does for a repaint request in the other users' week.
  void Repaint() { refresh.RequestRepaint(); }
  std::vector<std::string> TextsInRow(int u) const {
    std::vector<std::string> out;
    const int top = 32 + 166 * u, bottom = top + 166;
    for (const auto& op : screen.Find(SurfaceOp::Text))
      if (op.rect.left >= 80 && op.rect.top >= top && op.rect.bottom <= bottom)
        out.push_back(op.text);
    return out;
  }
};

ScheduleItem Item(int n, const std::string& subject, DateTime start, int priv = 0) {
  ScheduleItem it;
  it.Index = D(2005, 3, 1, 9, 0, n);
  it.Updated = Now();
  it.Start = start;
  it.End = start.AddSeconds(3600);
  it.Subject = subject;
  it.Private = priv;
  it.SyncFlag = SyncPending;
  return it;
}

TEST(GroupWeek, ASecondUserSeesMasksAndWritesWhereGranted) {
  Team team(kNow);
  Client taro(team, "taro", "pw-taro");
  ASSERT_EQ(taro.store.InsertItem(Item(1, J("健康診断"), D(2005, 3, 9, 9, 30), 1)), 1);
  ASSERT_EQ(taro.store.InsertItem(Item(2, J("定例会議"), D(2005, 3, 10, 14))), 1);
  ASSERT_EQ(taro.Synchronize(), 1);
  Client jiro(team, "jiro", "pw-jiro");
  ASSERT_EQ(jiro.store.InsertItem(Item(3, "golf", D(2005, 3, 12, 7))), 1);
  ASSERT_EQ(jiro.Synchronize(), 1);

  Client hanako(team, "hanako", "pw-hanako");
  ASSERT_EQ(hanako.store.SaveUserList({Ref(team.taro, "taro"), Ref(team.jiro, "jiro")}),
            1);
  hanako.Repaint();
  ASSERT_EQ(hanako.view.ReferenceUsers.size(), 2u);
  EXPECT_EQ(hanako.view.ReferenceUsers[0].Writable, 1);
  EXPECT_EQ(hanako.view.ReferenceUsers[1].Writable, 0);
  EXPECT_EQ(hanako.view.RefreshReferences, 0);
  EXPECT_EQ(hanako.screen.FindText(J("佐藤花子")).size(), 1u);  // the own row's name
  EXPECT_EQ(hanako.TextsInRow(1),
            (std::vector<std::string>{"09:30 " + J("非公開※"), "14:00 " + J("定例会議")}));
  EXPECT_EQ(hanako.TextsInRow(2), (std::vector<std::string>{"07:00 golf"}));
  for (const auto& op : hanako.screen.Find(SurfaceOp::Text))
    EXPECT_EQ(op.text.find(J("健康診断")), std::string::npos);

  // A double-click on taro's Friday adds for taro through the item
  // commands; on jiro's it is refused before any dialog opens.
  const UserEntry taro_row = hanako.view.ReferenceUsers[0];
  const UserEntry jiro_row = hanako.view.ReferenceUsers[1];
  const int friday = hanako.view.CellTable[5].rect.left + 20;
  RecordingSurface feedback(kM);
  FakeDialogs dialogs;
  SyncItemServer item_server(hanako.conn, &hanako.notifier);
  ItemContext context{hanako.view, hanako.store, dialogs, hanako.host, item_server, nullptr,
                      [] { return 1; }};
  CommandItemOperations ops(context);
  dialogs.Ok([](ItemForm& f) {
    f.subject = J("打ち合わせ");
    f.start_time = f.end_time = D(2005, 3, 11, 10);
  });
  OnDoubleClick(hanako.view, feedback, hanako.host, ops, friday, taro_row.RowBottom - 10);
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].start_date, D(2005, 3, 11));
  EXPECT_EQ(hanako.view.RefreshReferences, 1);
  EXPECT_TRUE(hanako.host.messages.empty());
  OnDoubleClick(hanako.view, feedback, hanako.host, ops, friday, jiro_row.RowTop + 10);
  EXPECT_EQ(dialogs.shown.size(), 1u);
  ASSERT_EQ(hanako.host.messages.size(), 1u);
  EXPECT_EQ(hanako.host.messages[0], CannotAddForUserText());

  // Not through the view either: the server refuses hanako writing for jiro.
  SyncClient hc(hanako.conn, &hanako.notifier);
  EXPECT_EQ(hc.AddItemFor("jiro", Item(5, "sneaky", D(2005, 3, 11, 11))), 0);
  team.Settle();
  EXPECT_EQ(team.store.LiveItems(team.jiro).size(), 1u);

  // A double-click on taro's private item shows its line's place but opens
  // nothing.
  const CellRect masked = hanako.view.ReferenceItems[0].CellRects[0];
  ASSERT_FALSE(masked.IsEmpty());
  OnDoubleClick(hanako.view, feedback, hanako.host, ops, masked.left + 1, masked.top + 1);
  EXPECT_EQ(dialogs.shown.size(), 1u);
  EXPECT_TRUE(dialogs.viewed.empty());

  // The next drawing after a change for another user fetches again.
  hanako.view.RefreshReferences = 1;
  hanako.Repaint();
  EXPECT_EQ(hanako.TextsInRow(1), (std::vector<std::string>{"09:30 " + J("非公開※"),
                                                          "14:00 " + J("定例会議"),
                                                          "10:00 " + J("打ち合わせ")}));

  // taro has it after synchronising.
  team.clock.Advance(60);
  ASSERT_EQ(taro.Synchronize(), 1);
  bool found = false;
  ScheduleItem it;
  for (int ok = taro.store.ReadFirstItem(it); ok; ok = taro.store.ReadNextItem(it))
    found |= it.Subject == J("打ち合わせ") && it.SyncFlag == SyncClean && it.Start == D(2005, 3, 11, 10);
  EXPECT_TRUE(found);
}

TEST(GroupWeek, ARefusedSignInIsShownOnceAndCorrectedSettingsWorkAtOnce) {
  Team team(kNow);
  Client hanako(team, "hanako", "wrong");
  ASSERT_EQ(hanako.store.SaveUserList({Ref(team.taro, "taro")}), 1);
  for (int repaint = 0; repaint < 3; ++repaint) hanako.Repaint();
  EXPECT_EQ(hanako.notifier.messages.size(), 1u);
  EXPECT_TRUE(hanako.view.ReferenceUsers.empty());
  EXPECT_EQ(hanako.view.RefreshReferences, 1);
  team.Settle();  // the refusal is counted after it was sent
  const uint64_t refused = team.server->Stats().refused;
  EXPECT_EQ(refused, 1u);

  // The settings dialog corrects the password: the next drawing signs in.
  PasswordKeeper keeper(nullptr, "k");
  ServerSettings s = CurrentServerSettings(hanako.conn);
  s.Password = "pw-hanako";
  SaveServerSettings(hanako.conn, hanako.store, keeper, s, hanako.dir.File("local.db"));
  hanako.Repaint();
  EXPECT_EQ(hanako.notifier.messages.size(), 1u);
  ASSERT_EQ(hanako.view.ReferenceUsers.size(), 1u);
  EXPECT_EQ(hanako.view.RefreshReferences, 0);

  // A mistyped port leaves the 300-second hold-off behind; correcting it
  // synchronises straight away instead of five minutes later.
  Client taro(team, "taro", "pw-taro");
  ASSERT_EQ(taro.store.InsertItem(Item(1, "memo", D(2005, 3, 9, 9))), 1);
  s = CurrentServerSettings(taro.conn);
  const int32_t right_port = s.ServerPort;
  s.ServerPort = 1;
  PasswordKeeper taro_keeper(nullptr, "t");
  SaveServerSettings(taro.conn, taro.store, taro_keeper, s, taro.dir.File("local.db"));
  EXPECT_EQ(taro.Synchronize(), 1);  // ran offline
  EXPECT_EQ(taro.conn.Online, 0);
  EXPECT_TRUE(team.store.LiveItems(team.taro).empty());
  team.clock.Advance(5);
  s.ServerPort = right_port;
  SaveServerSettings(taro.conn, taro.store, taro_keeper, s, taro.dir.File("local.db"));
  EXPECT_EQ(taro.Synchronize(), 1);
  EXPECT_EQ(taro.conn.Online, 1);
  EXPECT_EQ(team.store.LiveItems(team.taro).size(), 1u);
}

// A source that records which thread asked and can run a callback in the
// middle of a request (as a repaint request arriving during the wait).
class ProbeSource final : public ReferenceSource {
 public:
  std::vector<std::thread::id> threads;
  int item_calls = 0;
  std::function<void()> during_list;
  bool GetUserList(std::vector<UserEntry>& users) override {
    threads.push_back(std::this_thread::get_id());
    users = {Ref(7, "ann")};
    users[0].DisplayName = "Ann";
    if (during_list) {
      auto f = std::move(during_list);
      f();
    }
    return true;
  }
  bool GetUserItems(const std::vector<UserEntry>& refs, const DateTime&,
                    std::vector<ScheduleItem>& items) override {
    ++item_calls;
    items.clear();
    for (const auto& r : refs) {
      ScheduleItem it = Item(item_calls, "w" + std::to_string(item_calls), kNow);
      it.UserID = r.UserID;
      items.push_back(it);
    }
    return true;
  }
};

TEST(OtherUsersRefresh, FetchesOffTheWindowThreadBeforeTheRepaintAndCoalesces) {
  ScopedClock clock(kNow);
  ViewState view;
  view.DrawEnabled = 1;
  view.ViewMode = MonthMode;
  view.SelectedDate = kNow.DateOnly();
  ProbeSource source;
  int repaints = 0, stored_reads = 0;
  std::vector<std::string> seen_at_repaint;
  OtherUsersRefresh* self = nullptr;
  OtherUsersRefresh refresh(
      view, {[&] {
               ++stored_reads;
               return std::vector<UserEntry>{Ref(7, "ann")};
             },
             [] { return std::string("me"); }, &source,
             [](const std::function<void()>& work) {
               std::thread worker(work);
               worker.join();
             },
             [&] {
               ++repaints;
               seen_at_repaint.clear();
               for (const auto& u : view.ReferenceUsers) seen_at_repaint.push_back(u.DisplayName);
             }});
  self = &refresh;

  // Other modes and a disabled view: the plain repaint.
  refresh.RequestRepaint();
  view.ViewMode = OtherUsersMode;
  view.DrawEnabled = 0;
  refresh.RequestRepaint();
  EXPECT_EQ(repaints, 2);
  EXPECT_TRUE(source.threads.empty());
  EXPECT_EQ(stored_reads, 0);

  view.DrawEnabled = 1;
  refresh.RequestRepaint();
  EXPECT_EQ(repaints, 3);
  ASSERT_EQ(source.threads.size(), 1u);
  EXPECT_NE(source.threads[0], std::this_thread::get_id());
  EXPECT_EQ(seen_at_repaint, std::vector<std::string>{"Ann"});  // fetched, then drawn
  EXPECT_EQ(source.item_calls, 1);
  EXPECT_EQ(view.RefreshReferences, 0);

  // A request while the list is being fetched (the week changed): one more
  // fetch with the items, and a single repaint after both.
  source.during_list = [&] {
    view.RefreshReferences = 1;
    self->RequestRepaint();
    EXPECT_TRUE(self->Fetching());
  };
  refresh.RequestRepaint();
  EXPECT_EQ(source.threads.size(), 3u);
  EXPECT_EQ(source.item_calls, 2);
  EXPECT_EQ(repaints, 4);
  EXPECT_FALSE(refresh.Fetching());
  ASSERT_EQ(view.ReferenceItems.size(), 1u);
  EXPECT_EQ(view.ReferenceItems[0].Subject, "w2");
}

}  // namespace
}  // namespace kv
