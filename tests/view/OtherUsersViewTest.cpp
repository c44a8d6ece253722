// The other users' week: what the fetch before the repaint leaves in the
// state, and what the layout draws from it on the recording surface.
#include <gtest/gtest.h>

#include <map>

#include "model/Text.h"
#include "tests/view/ViewTestSupport.h"
#include "view/HitTest.h"
#include "view/Layouts.h"
#include "view/OtherUsersFetch.h"
#include "view/ReferenceUsers.h"

namespace kv {
namespace {

using test::AllDay;
using test::D;
using test::J;
using test::Timed;

// h = 16, w = 8: a name column of 80, day columns of 104.
constexpr TextMetrics kM{16, 8};

UserEntry User(int32_t id, const std::string& name, const std::string& display = {},
               int32_t writable = 0) {
  UserEntry u;
  u.UserID = id;
  u.UserName = name;
  u.DisplayName = display;
  u.Writable = writable;
  return u;
}

std::vector<std::string> Names(const std::vector<UserEntry>& users) {
  std::vector<std::string> out;
  for (const auto& u : users) out.push_back(u.UserName);
  return out;
}

// A server answering from memory; items by user name.
class FakeSource final : public ReferenceSource {
 public:
  bool list_ok = true;
  std::vector<UserEntry> users;
  std::map<std::string, std::vector<ScheduleItem>> items;
  std::vector<std::string> unreachable;  // users whose items fail
  int list_calls = 0, item_calls = 0;
  std::vector<std::string> asked;
  DateTime asked_date;

  bool GetUserList(std::vector<UserEntry>& out) override {
    ++list_calls;
    if (list_ok) out = users;
    return list_ok;
  }
  bool GetUserItems(const std::vector<UserEntry>& refs, const DateTime& date,
                    std::vector<ScheduleItem>& out) override {
    ++item_calls;
    asked_date = date;
    out.clear();
    bool all = true;
    for (const auto& r : refs) {
      asked.push_back(r.UserName);
      if (std::find(unreachable.begin(), unreachable.end(), r.UserName) != unreachable.end()) {
        all = false;
        continue;
      }
      for (ScheduleItem it : items[r.UserName]) {
        it.UserID = r.UserID;
        out.push_back(it);
      }
    }
    return all;
  }
};

struct Week {
  ViewState st;
  FakeSource server;
  std::vector<UserEntry> stored;  // the store's UserList
  RecordingSurface screen{kM};
  test::FakeHost host;

  Week() {
    st.DrawEnabled = 1;
    st.Online = 1;
    st.ViewMode = OtherUsersMode;
    st.SelectedDate = D(2005, 3, 9);  // a Wednesday: the week of 6 to 12 March
    st.AnchorDate = D(2005, 3, 9);
  }
  void Fetch(const std::string& own = "me") {
    OtherUsersQuery q = BeginOtherUsersFetch(st, stored, own);
    ApplyOtherUsers(st, q, FetchOtherUsers(q, server));
  }
  void Paint(const Rect& area, bool printing = false) {
    screen.Clear();
    screen.SetPrinting(printing);
    PaintView(st, screen, area, host);
  }
  std::vector<std::string> TextsIn(const Rect& r) const {
    std::vector<std::string> out;
    for (const auto& op : screen.Find(SurfaceOp::Text))
      if (op.rect.left >= r.left && op.rect.right <= r.right && op.rect.top >= r.top &&
          op.rect.bottom <= r.bottom)
        out.push_back(op.text);
    return out;
  }
};

TEST(OtherUsersLayout, SizesHeadersRowsAndTheSelectedColumn) {
  Week w;
  w.server.users = {User(1, "me", J("自分")), User(7, "ann", J("安藤"), 1),
                    User(9, "bob", "Bob")};
  w.stored = {User(7, "ann"), User(9, "bob")};
  w.Fetch();
  ASSERT_EQ(Names(w.st.ReferenceUsers), (std::vector<std::string>{"ann", "bob"}));
  EXPECT_EQ(w.st.OwnDisplayName, J("自分"));
  EXPECT_EQ(w.st.ReferenceUsers[0].Writable, 1);

  // 808 x 533: cw = (808 - 80) / 7 = 104, rh = (533 - 32) / 3 = 167.
  w.Paint(Rect{0, 0, 808, 533});
  auto title = w.screen.FindText(J("2005年3月"));
  ASSERT_EQ(title.size(), 1u);
  EXPECT_EQ(title[0].rect, (Rect{0, 1, 808, 16}));
  EXPECT_EQ(title[0].color, kBlue);
  EXPECT_EQ(w.screen.FindAt(SurfaceOp::Frame, Rect{0, 1, 808, 16}).size(), 1u);

  auto header = w.screen.FindText(J("ユーザ名"));
  ASSERT_EQ(header.size(), 1u);
  EXPECT_EQ(header[0].rect, (Rect{0, 16, 80, 32}));
  EXPECT_EQ(header[0].align, TextAlign::Center);
  EXPECT_EQ(header[0].color, kWhite);
  ASSERT_EQ(w.screen.FindAt(SurfaceOp::Fill, Rect{0, 16, 80, 32}).size(), 1u);
  EXPECT_EQ(w.screen.FindAt(SurfaceOp::Fill, Rect{0, 16, 80, 32})[0].color, kBlue);

  const char* days[7] = {"6 Sun", "7 Mon", "8 Tue", "9 Wed", "10 Thu", "11 Fri", "12 Sat"};
  for (int i = 0; i < 7; ++i) {
    const Rect head{80 + 104 * i + 1, 16, 80 + 104 * (i + 1), 32};
    auto t = w.screen.FindText(days[i]);
    ASSERT_EQ(t.size(), 1u) << days[i];
    EXPECT_EQ(t[0].rect, head);
    EXPECT_EQ(t[0].color, kWhite);
    EXPECT_EQ(w.st.CellTable[i].rect, (Rect{head.left, 32, head.right, 32 + 167 * 3}));
    EXPECT_EQ(w.st.CellTable[i].date, D(2005, 3, 6 + i));
  }
  for (int i = 7; i < kDayCells; ++i) EXPECT_TRUE(w.st.CellTable[i].rect.IsEmpty()) << i;

  // Names in the rows, blue, left at the top; row bounds kept for clicks.
  const std::string names[3] = {J("自分"), J("安藤"), "Bob"};
  for (int u = 0; u < 3; ++u) {
    auto t = w.screen.FindText(names[u]);
    ASSERT_EQ(t.size(), 1u) << u;
    EXPECT_EQ(t[0].rect, (Rect{0, 32 + 167 * u, 80, 32 + 167 * (u + 1)}));
    EXPECT_EQ(t[0].color, kBlue);
    EXPECT_EQ(t[0].align, TextAlign::Left);
  }
  EXPECT_EQ(w.st.ReferenceUsers[0].RowTop, 199);
  EXPECT_EQ(w.st.ReferenceUsers[0].RowBottom, 366);
  EXPECT_EQ(w.st.ReferenceUsers[1].RowTop, 366);
  EXPECT_EQ(w.st.ReferenceUsers[1].RowBottom, 533);
  EXPECT_EQ(w.screen.FindAt(SurfaceOp::Frame, Rect{80 + 104 * 6, 366, 808, 533}).size(), 1u);

  // The Wednesday column, over every row, framed red; last of the drawing.
  const SurfaceOp& last = w.screen.ops().back();
  EXPECT_EQ(last.kind, SurfaceOp::Frame);
  EXPECT_EQ(last.rect, w.st.CellTable[3].rect);
  EXPECT_EQ(last.color, kRed);
  EXPECT_EQ(last.color2, kRed);
  // The printed page keeps it.
  w.Paint(Rect{0, 0, 808, 533}, true);
  EXPECT_EQ(w.screen.FindAt(SurfaceOp::Frame, w.st.CellTable[3].rect).back().color, kRed);
}

TEST(OtherUsersLayout, UsersTheServerNoLongerListsAreLeftOutButStayStored) {
  Week w;
  // Kept as the window keeps them: in the store, read before every fetch.
  test::TempDir dir;
  ItemStore store;
  ASSERT_EQ(store.CreateStore(dir.File("me.db")), 1);
  ASSERT_EQ(store.SaveUserList({User(1, "a"), User(2, "b"), User(3, "c"), User(4, "d"), User(5, "e")}), 1);
  auto fetch_from_store = [&] {
    store.LoadUserList(w.stored);
    w.Fetch();
  };
  // b and c, next to each other, are both gone; so is e at the end.
  w.server.users = {User(40, "d", "D"), User(10, "a", "A"), User(50, "x", "X")};
  fetch_from_store();
  EXPECT_EQ(Names(w.st.ReferenceUsers), (std::vector<std::string>{"a", "d"}));
  EXPECT_EQ(w.st.ReferenceUsers[1].UserID, 4);  // the stored id, not the server's
  EXPECT_EQ(w.st.ReferenceUsers[1].DisplayName, "D");
  std::vector<UserEntry> kept;
  store.LoadUserList(kept);
  EXPECT_EQ(Names(kept), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(w.st.OwnDisplayName, "");  // the server does not list "me"

  w.Paint(Rect{0, 0, 808, 500});
  EXPECT_EQ(w.screen.FindText("A").size(), 1u);
  EXPECT_EQ(w.screen.FindText("D").size(), 1u);
  EXPECT_EQ(w.screen.FindText("X").size(), 0u);

  // Listed again, they come back where the store has them, with its ids.
  w.server.users = {User(40, "d", "D"), User(30, "c", "C"), User(10, "a", "A"), User(50, "e", "E"),
                    User(20, "b", "B")};
  fetch_from_store();
  EXPECT_EQ(Names(w.st.ReferenceUsers), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(w.st.ReferenceUsers[1].UserID, 2);

  // Of three stored users the server knows only the second.
  w.stored = {User(1, "a"), User(2, "b"), User(3, "c")};
  w.server.users = {User(20, "b", "B")};
  w.Fetch();
  EXPECT_EQ(Names(w.st.ReferenceUsers), (std::vector<std::string>{"b"}));

  // Without the user list the own row is drawn, nameless, and where the
  // others were a notice says why they are missing: an empty week would
  // read as everyone being free. The items are not asked for and stay due.
  const std::string notice = J("サーバーに接続できないため、ほかのユーザの予定を表示できません。");
  w.st.RefreshReferences = 1;
  w.server.list_ok = false;
  w.server.item_calls = 0;
  w.Fetch();
  EXPECT_TRUE(w.st.ReferenceUsers.empty());
  EXPECT_EQ(w.server.item_calls, 0);
  EXPECT_EQ(w.st.RefreshReferences, 1);
  w.Paint(Rect{0, 0, 808, 500});
  EXPECT_EQ(w.st.CellTable[0].rect.bottom, 32 + 234) << "the days end with the own row";
  EXPECT_EQ(w.screen.FindText("B").size(), 0u);
  const auto shown = w.screen.FindText(notice);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_GE(shown[0].rect.top, 32 + 234);
  // Back again: the rows return and the notice goes.
  w.server.list_ok = true;
  w.Fetch();
  w.Paint(Rect{0, 0, 808, 500});
  EXPECT_EQ(w.screen.FindText(notice).size(), 0u);
  EXPECT_EQ(w.screen.FindText("B").size(), 1u);
}

TEST(OtherUsersLayout, OtherUsersPrivateItemsAreMaskedWithTheirTimesAndOwnOnesAreNot) {
  Week w;
  w.server.users = {User(1, "me", "Me"), User(7, "ann", "Ann")};
  w.stored = {User(7, "ann")};
  ScheduleItem secret = Timed("dentist", D(2005, 3, 9, 9, 30), D(2005, 3, 9, 10), 0x0000FF);
  secret.Private = 1;
  ScheduleItem trip = AllDay("trip", D(2005, 3, 10), D(2005, 3, 11));
  trip.Private = 1;
  trip.Index = D(2005, 1, 1, 1);
  ScheduleItem open = Timed("review", D(2005, 3, 9, 14), D(2005, 3, 9, 15));
  open.Index = D(2005, 1, 1, 2);
  w.server.items["ann"] = {secret, trip, open};
  ScheduleItem mine = Timed("my secret", D(2005, 3, 9, 8), D(2005, 3, 9, 9));
  mine.Private = 1;
  w.st.VisibleItems = {mine};
  w.Fetch();
  ASSERT_EQ(w.st.ReferenceItems.size(), 3u);
  for (const auto& it : w.st.ReferenceItems) EXPECT_EQ(test::UsedSlots(it), 0);

  w.Paint(Rect{0, 0, 808, 500});  // rh = 234
  const Rect own_wed{80 + 104 * 3, 32, 80 + 104 * 4, 266};
  const Rect ann_wed{80 + 104 * 3, 266, 80 + 104 * 4, 500};
  const Rect ann_thu{80 + 104 * 4, 266, 80 + 104 * 5, 500};
  const Rect ann_fri{80 + 104 * 5, 266, 80 + 104 * 6, 500};
  EXPECT_EQ(w.TextsIn(own_wed), (std::vector<std::string>{"08:00 my secret"}));
  EXPECT_EQ(w.TextsIn(ann_wed),
            (std::vector<std::string>{"09:30 " + J("非公開※"), "14:00 review"}));
  EXPECT_EQ(w.TextsIn(ann_thu), (std::vector<std::string>{J("非公開※")}));
  EXPECT_EQ(w.TextsIn(ann_fri), (std::vector<std::string>{"+ " + J("非公開※")}));
  for (const auto& t : w.screen.Find(SurfaceOp::Text))
    EXPECT_EQ(t.text.find("dentist"), std::string::npos);

  // Lines go down from the row top, two units in from the cell edges,
  // in the item's colour, and are recorded for hit testing.
  auto masked = w.screen.FindText("09:30 " + J("非公開※"));
  ASSERT_EQ(masked.size(), 1u);
  EXPECT_EQ(masked[0].rect, (Rect{ann_wed.left + 2, 266, ann_wed.right - 2, 282}));
  EXPECT_EQ(masked[0].color, 0x0000FFu);
  EXPECT_EQ(w.st.ReferenceItems[0].CellRects[0], masked[0].rect);
  EXPECT_EQ(w.screen.FindText("14:00 review")[0].rect.top, 282);
  EXPECT_EQ(test::UsedSlots(w.st.ReferenceItems[1]), 2);  // Thursday and Friday
}

TEST(OtherUsersLayout, RowsShowOnlyTheirOwnUsersItemsAndOverflowTurnsYellow) {
  Week w;
  w.server.users = {User(1, "me"), User(7, "ann", "Ann"), User(9, "bob", "Bob")};
  w.stored = {User(7, "ann"), User(9, "bob")};
  for (int i = 0; i < 12; ++i) {
    ScheduleItem it = Timed("a" + std::to_string(i), D(2005, 3, 7, 8, i), D(2005, 3, 7, 9));
    it.Index = D(2005, 1, 1, 0, 0, i);
    w.server.items["ann"].push_back(it);
  }
  w.server.items["bob"] = {Timed("b0", D(2005, 3, 7, 8), D(2005, 3, 7, 9))};
  w.Fetch();

  // rh = (200 - 32) / 3 = 56: three lines fit (bottom 48 <= 50), not four.
  w.Paint(Rect{0, 0, 808, 200});
  const Rect ann_mon{80 + 104, 88, 80 + 208, 144};
  const Rect bob_mon{80 + 104, 144, 80 + 208, 200};
  EXPECT_EQ(w.TextsIn(ann_mon), (std::vector<std::string>{"08:00 a0", "08:01 a1", "08:02 a2"}));
  EXPECT_EQ(w.TextsIn(bob_mon), (std::vector<std::string>{"08:00 b0"}));
  auto bar = w.screen.FindAt(SurfaceOp::Fill, Rect{ann_mon.left + 1, 138, ann_mon.right - 1, 143});
  ASSERT_EQ(bar.size(), 1u);
  EXPECT_EQ(bar[0].color, kYellow);
  EXPECT_TRUE(w.screen.FindAt(SurfaceOp::Fill, Rect{bob_mon.left + 1, 194, bob_mon.right - 1, 199})
                  .empty());
  EXPECT_EQ(test::UsedSlots(w.st.ReferenceItems[3]), 0);

  // Rows too short for one line: only the bar, and never outside its row.
  for (int rh : {12, 4, 0}) {
    w.Paint(Rect{0, 0, 808, 32 + 3 * rh});
    EXPECT_TRUE(w.TextsIn(Rect{80, 32, 808, 32 + 3 * rh}).empty()) << rh;
    int yellow = 0;
    for (const auto& f : w.screen.Find(SurfaceOp::Fill)) {
      if (f.color != kYellow) continue;
      ++yellow;
      const bool in_ann = f.rect.top >= 32 + rh && f.rect.bottom <= 32 + 2 * rh;
      const bool in_bob = f.rect.top >= 32 + 2 * rh && f.rect.bottom <= 32 + 3 * rh;
      EXPECT_TRUE(in_ann || in_bob) << rh;
      EXPECT_EQ(f.rect.left, 185);
      EXPECT_LT(f.rect.top, f.rect.bottom);
    }
    EXPECT_EQ(yellow, rh > 1 ? 2 : 0) << rh;
  }
}

TEST(OtherUsersLayout, DoubleClicksFollowTheRowsTheLayoutRecorded) {
  Week w;
  w.server.users = {User(1, "me"), User(7, "ro", "RO", 0), User(9, "rw", "RW", 1)};
  w.stored = {User(7, "ro"), User(9, "rw")};
  w.server.items["rw"] = {Timed("meet", D(2005, 3, 9, 10), D(2005, 3, 9, 11))};
  w.Fetch();
  w.Paint(Rect{0, 0, 808, 520});  // rh = 162, rows end at 518
  const UserEntry ro = w.st.ReferenceUsers[0];
  const UserEntry rw = w.st.ReferenceUsers[1];
  ASSERT_EQ(ro.RowBottom, rw.RowTop);
  const int friday_x = w.st.CellTable[5].rect.left + 10;
  RecordingSurface feedback(kM);
  test::FakeOps ops;

  OnDoubleClick(w.st, feedback, w.host, ops, friday_x, (ro.RowTop + ro.RowBottom) / 2);
  ASSERT_EQ(w.host.messages.size(), 1u);
  EXPECT_EQ(w.host.messages[0], CannotAddForUserText());
  EXPECT_TRUE(ops.calls.empty());
  EXPECT_EQ(w.st.SelectedDate, D(2005, 3, 11));  // the press picked the column

  OnDoubleClick(w.st, feedback, w.host, ops, friday_x, rw.RowBottom - 1);
  ASSERT_EQ(ops.calls.size(), 1u);
  EXPECT_EQ(ops.calls[0].what, "add_for");
  EXPECT_EQ(ops.calls[0].user, "rw");

  // The border between the rows, the own row and below the last row add
  // an own item on the clicked day.
  ASSERT_EQ(rw.RowBottom, 518);
  for (int y : {rw.RowTop, 40, rw.RowBottom + 1}) {
    ops.calls.clear();
    OnDoubleClick(w.st, feedback, w.host, ops, friday_x, y);
    ASSERT_EQ(ops.calls.size(), 1u) << y;
    EXPECT_EQ(ops.calls[0].what, "add") << y;
    EXPECT_EQ(ops.calls[0].day, D(2005, 3, 11));
  }

  ops.calls.clear();
  const Rect meet = w.st.ReferenceItems[0].CellRects[0];
  OnDoubleClick(w.st, feedback, w.host, ops, meet.left + 1, meet.top + 1);
  ASSERT_EQ(ops.calls.size(), 1u);
  EXPECT_EQ(ops.calls[0].what, "open");
  EXPECT_EQ(ops.calls[0].index, 0);
  EXPECT_EQ(w.host.messages.size(), 1u);
}

TEST(PaintFrame, RectanglesDescribeOnlyTheLastDrawing) {
  Week w;
  w.st.ViewMode = MonthMode;
  w.st.VisibleItems = {Timed("early", D(2005, 3, 2, 9), D(2005, 3, 2, 10))};
  ScheduleItem theirs = Timed("theirs", D(2005, 3, 9, 9), D(2005, 3, 9, 10));
  theirs.UserID = 7;
  w.server.users = {User(7, "ann", "Ann")};
  w.server.items["ann"] = {theirs};
  w.stored = {User(7, "ann")};
  w.Fetch();

  w.Paint(Rect{0, 0, 808, 632});
  const Rect drawn = w.st.VisibleItems[0].CellRects[0];
  ASSERT_FALSE(drawn.IsEmpty());

  // 2 March is not in the week of 9 March: nothing of it may stay hit.
  w.st.ViewMode = OtherUsersMode;
  w.Paint(Rect{0, 0, 808, 632});
  EXPECT_EQ(test::UsedSlots(w.st.VisibleItems[0]), 0);
  ASSERT_EQ(test::UsedSlots(w.st.ReferenceItems[0]), 1);
  RecordingSurface feedback(kM);
  OnPress(w.st, feedback, w.host, drawn.left + 1, drawn.top + 1);
  EXPECT_EQ(w.st.OwnSelection, -1);

  // Back to the month: the other user's line is gone from the rectangles,
  // and so is a selected item that a layout giving up left behind.
  w.st.ViewMode = MonthMode;
  w.Paint(Rect{0, 0, 808, 632});
  EXPECT_EQ(test::UsedSlots(w.st.ReferenceItems[0]), 0);
  OnPress(w.st, feedback, w.host, drawn.left + 1, drawn.top + 1);
  ASSERT_EQ(w.st.OwnSelection, 0);
  for (int mode : {WeekMode, OtherUsersMode, MonthMode}) {
    w.st.ViewMode = mode;
    w.st.SelectedDate = w.st.AnchorDate = DateTime::Invalid();
    w.Paint(Rect{0, 0, 808, 632});
    EXPECT_EQ(test::UsedSlots(w.st.VisibleItems[0]), 0) << mode;
    EXPECT_TRUE(w.screen.Find(SurfaceOp::Invert).empty()) << mode;
    for (int i = 0; i < kDayCells; ++i) EXPECT_TRUE(w.st.CellTable[i].rect.IsEmpty());
  }
}

TEST(OtherUsersFetch, ItemsOnlyWhenDueAndAgainWhenTheyCouldNotAllBeHad) {
  Week w;
  w.server.users = {User(7, "ann", "Ann"), User(9, "bob", "Bob")};
  w.stored = {User(7, "ann"), User(9, "bob")};
  ScheduleItem a = Timed("a", D(2005, 3, 9, 9), D(2005, 3, 9, 10));
  ScheduleItem b = Timed("b", D(2005, 3, 9, 11), D(2005, 3, 9, 12));
  w.server.items["ann"] = {a};
  w.server.items["bob"] = {b};

  w.Fetch();
  EXPECT_EQ(w.server.list_calls, 1);
  EXPECT_EQ(w.server.item_calls, 1);
  EXPECT_EQ(w.server.asked_date, D(2005, 3, 9));
  EXPECT_EQ(w.st.RefreshReferences, 0);
  ASSERT_EQ(w.st.ReferenceItems.size(), 2u);

  // A plain repaint asks for the user list again, not for the items.
  w.server.users[0].DisplayName = "Ann B.";
  w.Fetch();
  EXPECT_EQ(w.server.list_calls, 2);
  EXPECT_EQ(w.server.item_calls, 1);
  EXPECT_EQ(w.st.ReferenceUsers[0].DisplayName, "Ann B.");

  // Select bob's item, then refetch with ann unreachable: the selection
  // follows the item to its new place, what came is shown, and the next
  // repaint asks again.
  w.st.ReferenceSelection = 1;
  w.st.RefreshReferences = 1;
  w.server.unreachable = {"ann"};
  w.Fetch();
  ASSERT_EQ(w.st.ReferenceItems.size(), 1u);
  EXPECT_EQ(w.st.ReferenceSelection, 0);
  EXPECT_EQ(w.st.RefreshReferences, 1);
  w.server.unreachable.clear();
  w.Fetch();
  EXPECT_EQ(w.server.item_calls, 3);
  EXPECT_EQ(w.st.ReferenceItems.size(), 2u);
  EXPECT_EQ(w.st.ReferenceSelection, 1);
  EXPECT_EQ(w.st.RefreshReferences, 0);

  // An item that is gone takes the selection with it.
  w.st.RefreshReferences = 1;
  w.server.items["bob"].clear();
  w.Fetch();
  EXPECT_EQ(w.st.ReferenceSelection, -1);

  // A change that asks for the items while a fetch runs is kept.
  w.st.RefreshReferences = 1;
  OtherUsersQuery q = BeginOtherUsersFetch(w.st, w.stored, "me");
  OtherUsersAnswer ans = FetchOtherUsers(q, w.server);
  w.st.RefreshReferences = 1;
  ApplyOtherUsers(w.st, q, std::move(ans));
  EXPECT_EQ(w.st.RefreshReferences, 1);
}

TEST(ReferenceUsers, CandidatesLeaveOutTheOwnUserTheChosenAndRepeats) {
  const std::vector<UserEntry> server = {User(1, "me"),  User(2, "ann"), User(3, "bob"),
                                         User(4, "cat"), User(3, "dan"), User(5, "ann"),
                                         User(6, "eve")};
  std::vector<UserEntry> chosen = {User(20, "bob")};
  std::vector<UserEntry> cand = CandidateUsers(server, chosen, "me");
  // The second ann repeats a name. Ids count for nothing: a chosen user's
  // stored id may since belong to someone else (zed's 4 is now cat's), and
  // that user must still be offered.
  EXPECT_EQ(Names(cand), (std::vector<std::string>{"ann", "cat", "dan", "eve"}));
  chosen = {User(4, "zed")};
  EXPECT_EQ(Names(CandidateUsers(server, chosen, "me")),
            (std::vector<std::string>{"ann", "bob", "cat", "dan", "eve"}));

  // There and back again: the user ends up last among the candidates.
  std::vector<UserEntry> refs;
  cand = CandidateUsers(server, refs, "me");
  ASSERT_TRUE(MoveUser(cand, refs, 0));
  EXPECT_EQ(Names(refs), (std::vector<std::string>{"ann"}));
  ASSERT_TRUE(MoveUser(refs, cand, 0));
  EXPECT_EQ(Names(cand), (std::vector<std::string>{"bob", "cat", "dan", "eve", "ann"}));
  EXPECT_FALSE(MoveUser(refs, cand, 0));
  EXPECT_FALSE(MoveUser(cand, refs, -1));
  EXPECT_FALSE(MoveUser(cand, refs, 5));
  EXPECT_EQ(cand.size(), 5u);
}

}  // namespace
}  // namespace kv
