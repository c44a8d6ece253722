// The item commands over a real store, with scripted dialogs and a
// recording server.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "edit/ItemClipboard.h"
#include "edit/ItemCommands.h"
#include "model/Recurrence.h"
#include "tests/edit/EditFakes.h"

namespace kv {
namespace {

using namespace kv::test;

const DateTime kNow = D(2004, 6, 15, 10, 20, 30);

struct Bench {
  ScopedClock clock{kNow};
  TempDir dir;
  ItemStore store;
  ViewState state;
  FakeDialogs dialogs;
  FakeServer server;
  Messages messages;
  MemoryApprovals approvals;
  UndoHistory undo;
  StatusPanes status;

  Bench() {
    EXPECT_EQ(store.CreateStore(dir.File("items.db")), 1);
    state = ViewState::Initial();
    state.DrawEnabled = 1;
    dialogs.state = &state;
    server.state = &state;
    ItemClipboard::Instance().Clear();
  }
  ItemContext Ctx() {
    return ItemContext{state,     store,
                       dialogs,   messages,
                       server,    &approvals,
                       [this] { return LoadVisibleItems(state, store); },
                       &undo,     &status};
  }
  ItemCommands Cmd() { return ItemCommands(Ctx()); }

  // Stores an item as if synchronised earlier and selects it.
  ScheduleItem Seed(ScheduleItem it) {
    if (it.Index == DateTime()) it.Index = it.Start;
    if (it.SyncFlag == 0) it.SyncFlag = SyncClean;
    EXPECT_EQ(store.InsertItem(it), 1);
    LoadVisibleItems(state, store);
    Select(it.Index);
    return it;
  }
  void Select(const DateTime& index) {
    state.OwnSelection = -1;
    for (size_t i = 0; i < state.VisibleItems.size(); ++i)
      if (state.VisibleItems[i].Index == index) state.OwnSelection = static_cast<int>(i);
  }
  std::vector<std::string> Msgs() { return std::exchange(messages.texts, {}); }
};

ScheduleItem Timed(const char* subject, DateTime start, DateTime end) {
  ScheduleItem it;
  it.Subject = J(subject);
  it.Start = start;
  it.End = end;
  it.Alarm = -1;
  it.RepX = it.RepY = it.RepZ = 1;
  it.RepStart = start.DateOnly();
  it.RepEnd = start.DateOnly().AddSeconds(86340);
  return it;
}

TEST(AddOwnItem, FillsDefaultsAndStoresWhatWasEntered) {
  Bench b;
  b.state.SelectedDate = D(2004, 6, 20);
  b.dialogs.Ok([](ItemForm& f) {
    f.subject = J("会議");
    f.place = J("第一会議室");
    f.desc = J("議題:\n予算");
    f.color = 0x00FF8000;
    f.private_flag = 1;
    f.start_time = D(1899, 12, 30, 14, 0, 15);
    f.end_time = D(1899, 12, 30, 15, 30, 45);
    f.alarm_on = 1;
    f.alarm_number = 90;
    f.alarm_unit = J("分前");
  });
  b.Cmd().AddOwnItem();

  ASSERT_EQ(b.dialogs.shown.size(), 1u);
  const ItemForm& d = b.dialogs.shown[0];
  EXPECT_EQ(d.subject, "");
  EXPECT_EQ(d.day_type, 0);
  EXPECT_EQ(d.start_date, D(2004, 6, 20));
  EXPECT_EQ(d.start_time, D(2004, 6, 20, 9, 0, 0));
  EXPECT_EQ(d.end_date, D(2004, 6, 20));
  EXPECT_EQ(d.end_time, D(2004, 6, 20, 10, 0, 0));
  EXPECT_EQ(d.alarm_on, 0);
  EXPECT_EQ(d.alarm_number, 5);
  EXPECT_EQ(d.alarm_unit, J("分前"));
  EXPECT_EQ(d.repeat, (RepeatRule{0, 1, 1, 1, D(2004, 6, 20), D(2004, 6, 20)}));

  const auto rows = Rows(b.store);
  ASSERT_EQ(rows.size(), 1u);
  const ScheduleItem& r = rows[0];
  EXPECT_EQ(r.Index, kNow);
  EXPECT_EQ(r.Updated, kNow);
  EXPECT_EQ(r.UserID, 0);
  EXPECT_EQ(r.SyncFlag, SyncClean);
  EXPECT_EQ(r.Subject, J("会議"));
  EXPECT_EQ(r.Place, J("第一会議室"));
  EXPECT_EQ(r.Desc, J("議題:\n予算"));
  EXPECT_EQ(r.Color, 0x00FF8000u);
  EXPECT_EQ(r.Private, 1);
  EXPECT_EQ(r.Type, 0);
  EXPECT_EQ(r.Start, D(2004, 6, 20, 14, 0, 15));
  EXPECT_EQ(r.End, D(2004, 6, 20, 15, 30, 45));
  EXPECT_EQ(r.Alarm, 5400);
  EXPECT_EQ(r.AlarmTime, D(2004, 6, 20, 12, 30, 0));
  // The range is normalised even when the item does not repeat.
  EXPECT_EQ(r.RepStart, D(2004, 6, 20, 0, 0, 0));
  EXPECT_EQ(r.RepEnd, D(2004, 6, 20, 23, 59, 0));

  ASSERT_EQ(b.server.calls.size(), 1u);
  EXPECT_EQ(b.server.calls[0].what, "add");
  EXPECT_EQ(b.server.calls[0].user, "");
  EXPECT_EQ(b.server.calls[0].draw_enabled, 0) << "no drawing while the request is out";
  EXPECT_EQ(b.state.DrawEnabled, 1);
  ASSERT_EQ(b.state.VisibleItems.size(), 1u) << "the view was reloaded";
  EXPECT_TRUE(b.Msgs().empty());
}

TEST(AddOwnItem, ServerAnswerDecidesTheFlag) {
  for (int answer : {1, 0}) {
    Bench b;
    b.server.answer = answer;
    b.dialogs.Ok([](ItemForm& f) { f.subject = "x"; });
    b.Cmd().AddOwnItem();
    const auto rows = Rows(b.store);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].SyncFlag, answer == 1 ? SyncClean : SyncPending);
    EXPECT_EQ(rows[0].AlarmTime, DateTime()) << "no alarm keeps the zero date";
    EXPECT_EQ(rows[0].Alarm, -1);
  }
}

TEST(AddOwnItem, FailedCheckReopensTheDialogWithTheInput) {
  Bench b;
  // A long description typed, but no subject.
  auto typed = [](ItemForm& f) {
    f.desc = J("長い説明文。") + std::string(2000, 'x');
    f.place = J("本社");
  };
  b.dialogs.Ok(typed);
  // Subject added, but a repeat range that ends before it starts: the
  // range check comes before the subject check.
  b.dialogs.Ok([](ItemForm& f) {
    f.repeat = RepeatRule{1, 2, 0, 0, D(2004, 6, 30), D(2004, 6, 1)};
  });
  b.dialogs.Ok([](ItemForm& f) { f.subject = J("件名あり"); });
  b.dialogs.Ok([](ItemForm& f) { f.repeat.RepEnd = D(2004, 7, 31); });
  b.Cmd().AddOwnItem();

  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("件名に何も指定されていません。"),
                                                J("終了時刻が開始時刻よりも前に設定されています。"),
                                                J("終了時刻が開始時刻よりも前に設定されています。")}));
  ASSERT_EQ(b.dialogs.shown.size(), 4u);
  ItemForm want = b.dialogs.shown[0];
  typed(want);
  EXPECT_EQ(b.dialogs.shown[1], want) << "reopened with everything that was typed";
  EXPECT_EQ(b.dialogs.shown[3].subject, J("件名あり"));
  // Drawing runs while the dialog is open again.
  EXPECT_EQ(b.dialogs.draw_enabled_at_open, (std::vector<int>{1, 1, 1, 1}));
  const auto rows = Rows(b.store);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Desc, want.desc);
  EXPECT_EQ(rows[0].RepType, 1);
  EXPECT_EQ(rows[0].RepStart, D(2004, 6, 30));
  EXPECT_EQ(rows[0].RepEnd, D(2004, 7, 31, 23, 59, 0));
  EXPECT_EQ(b.server.calls.size(), 1u);
  EXPECT_EQ(b.state.DrawEnabled, 1);
}

TEST(AddOwnItem, CancelAfterAFailedCheckStoresNothing) {
  Bench b;
  b.dialogs.Ok([](ItemForm& f) { f.subject = ""; });
  b.dialogs.Cancel([](ItemForm& f) { f.subject = "typed then cancelled"; });
  b.Cmd().AddOwnItem();
  EXPECT_EQ(b.dialogs.shown.size(), 2u);
  EXPECT_TRUE(Rows(b.store).empty());
  EXPECT_TRUE(b.server.calls.empty());
  EXPECT_EQ(b.Msgs().size(), 1u);
  EXPECT_EQ(b.state.DrawEnabled, 1);
}

TEST(AddOwnItem, RangeIsTestedOnlyForRepeatingItems) {
  Bench b;
  b.dialogs.Ok([](ItemForm& f) {
    f.subject = "once";
    f.repeat = RepeatRule{0, 1, 1, 1, D(2004, 6, 30), D(2004, 6, 1)};
  });
  b.Cmd().AddOwnItem();
  EXPECT_TRUE(b.Msgs().empty());
  ASSERT_EQ(Rows(b.store).size(), 1u);
}

TEST(AddOwnItem, EndBeforeStartIsRefusedAndAllDayCoversWholeDays) {
  Bench b;
  auto backwards = [](ItemForm& f) {
    f.subject = "backwards";
    f.start_date = D(2004, 6, 16);
    f.start_time = D(2004, 6, 16, 11, 0, 0);
    f.end_date = D(2004, 6, 16);
    f.end_time = D(2004, 6, 16, 9, 0, 0);
  };
  b.dialogs.Ok(backwards);
  b.dialogs.Ok([](ItemForm& f) { f.end_time = D(2004, 6, 16, 12, 0, 0); });
  b.Cmd().AddOwnItem();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("終了時刻が開始時刻よりも前に設定されています。")}));
  ASSERT_EQ(b.dialogs.shown.size(), 2u);
  ItemForm typed = b.dialogs.shown[0];
  backwards(typed);
  EXPECT_EQ(b.dialogs.shown[1], typed) << "reopened with what was typed";
  b.dialogs.Ok([](ItemForm& f) {
    f.subject = "three days";
    f.day_type = 1;
    f.start_date = D(2004, 5, 3, 13, 14, 15);  // the picker's time of day is ignored
    f.start_time = D(2004, 5, 3, 13, 14, 15);
    f.end_date = D(2004, 5, 5, 8, 0, 0);
    f.end_time = D(2004, 5, 5, 8, 0, 0);
  });
  b.Cmd().AddOwnItem();
  b.clock.Advance(1);
  b.dialogs.Ok([](ItemForm& f) {
    f.subject = "all-day backwards";
    f.day_type = 1;
    f.start_date = D(2004, 5, 5);
    f.end_date = D(2004, 5, 3);
  });
  b.Cmd().AddOwnItem();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("終了時刻が開始時刻よりも前に設定されています。")}));

  const auto rows = Rows(b.store);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Start, D(2004, 6, 16, 11, 0, 0));
  EXPECT_EQ(rows[0].End, D(2004, 6, 16, 12, 0, 0));
  EXPECT_EQ(rows[1].Type, 1);
  EXPECT_EQ(rows[1].Start, D(2004, 5, 3, 0, 0, 0));
  EXPECT_EQ(rows[1].End, D(2004, 5, 5, 23, 59, 59));
}

TEST(AddOwnItem, AddsInOneSecondGetDistinctIndexes) {
  Bench b;
  for (int i = 0; i < 3; ++i) {
    b.dialogs.Ok([i](ItemForm& f) { f.subject = "n" + std::to_string(i); });
    b.Cmd().AddOwnItem();
  }
  const auto rows = Rows(b.store);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].Index, kNow);
  EXPECT_EQ(rows[1].Index, kNow.AddSeconds(1));
  EXPECT_EQ(rows[2].Index, kNow.AddSeconds(2));
}

TEST(AddOwnItem, RefusedFieldsKeepTheDialogInput) {
  Bench b;
  const std::vector<std::pair<std::function<void(ItemForm&)>, std::string>> cases = {
      {[](ItemForm& f) { f.subject = "a\x01" "b"; }, "件名に使用できない制御文字が含まれています。"},
      {[](ItemForm& f) { f.desc = "line\nnext\ttab\x1b"; }, "内容に使用できない制御文字が含まれています。"},
      {[](ItemForm& f) {
         f.alarm_on = 1;
         f.alarm_unit = J("秒前");
       },
       "アラームの単位は「分前」「時間前」「日前」のいずれかを選んでください。"},
      {[](ItemForm& f) {
         f.alarm_on = 1;
         f.alarm_number = 24856;
         f.alarm_unit = J("日前");
       },
       "アラームの時間が長すぎます。24855 日以内で指定してください。"},
  };
  for (const auto& [change, message] : cases) {
    b.dialogs.Ok([&change = change](ItemForm& f) {
      f.subject = "s";
      change(f);
    });
  }
  b.Cmd().AddOwnItem();
  std::vector<std::string> want;
  for (const auto& c : cases) want.push_back(J(c.second));
  EXPECT_EQ(b.Msgs(), want);
  EXPECT_EQ(b.dialogs.shown.size(), cases.size() + 1);
  EXPECT_EQ(b.dialogs.shown[2].desc, "line\nnext\ttab\x1b");
  EXPECT_TRUE(Rows(b.store).empty());
}

TEST(AddOwnItem, ProgramEnteredInTheDialogIsApproved) {
  Bench b;
  b.dialogs.Ok([](ItemForm& f) {
    f.subject = "backup";
    f.execute = "/usr/bin/backup";
  });
  b.Cmd().AddOwnItem();
  EXPECT_EQ(b.approvals.Lookup(kNow, "/usr/bin/backup"), ExecuteApprovals::Answer::Approved);
  EXPECT_EQ(b.approvals.Lookup(kNow, "/usr/bin/other"), ExecuteApprovals::Answer::Unknown);

  b.dialogs.Ok([](ItemForm& f) { f.subject = "no program"; });
  b.Cmd().AddOwnItem();
  EXPECT_EQ(b.approvals.remembered.size(), 1u);
}

TEST(EditOwnItem, ShowsTheItemAndRewritesItsRow) {
  Bench b;
  ScheduleItem old = Timed("週報", D(2004, 6, 14, 9, 0, 5), D(2004, 6, 14, 9, 45, 10));
  old.Index = D(2004, 1, 2, 3, 4, 5);
  old.Place = J("自席");
  old.Desc = J("先週分");
  old.Execute = "/opt/report";
  old.Color = 0x123456;
  old.Private = 1;
  old.Alarm = 7200;
  old.Attr1 = "kept";
  old.Attr5 = "also kept";
  old.Updated = D(2004, 1, 2, 3, 4, 5);
  b.Seed(Timed("other", D(2004, 6, 14, 8, 0, 0), D(2004, 6, 14, 8, 30, 0)));
  old = b.Seed(old);

  b.server.answer = 0;
  b.dialogs.Ok([](ItemForm& f) {
    f.subject = J("週報（改）");
    f.end_time = D(2004, 6, 14, 10, 15, 0);
    f.alarm_unit = J("日前");
    f.alarm_number = 1;
  });
  b.Cmd().EditOwnItem();

  ASSERT_EQ(b.dialogs.shown.size(), 1u);
  const ItemForm& d = b.dialogs.shown[0];
  EXPECT_EQ(d.subject, old.Subject);
  EXPECT_EQ(d.place, old.Place);
  EXPECT_EQ(d.desc, old.Desc);
  EXPECT_EQ(d.execute, old.Execute);
  EXPECT_EQ(d.color, old.Color);
  EXPECT_EQ(d.private_flag, 1);
  EXPECT_EQ(d.day_type, 0);
  EXPECT_EQ(d.start_date, old.Start);
  EXPECT_EQ(d.start_time, old.Start);
  EXPECT_EQ(d.end_date, old.End);
  EXPECT_EQ(d.end_time, old.End);
  EXPECT_EQ(d.alarm_on, 1);
  EXPECT_EQ(d.alarm_number, 2);
  EXPECT_EQ(d.alarm_unit, J("時間前"));
  EXPECT_EQ(d.repeat, (RepeatRule{0, 1, 1, 1, old.Start, old.Start}));

  const auto rows = Rows(b.store);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Subject, "other");
  const ScheduleItem& r = rows[1];
  EXPECT_EQ(r.Index, old.Index);
  EXPECT_EQ(r.Subject, J("週報（改）"));
  EXPECT_EQ(r.End, D(2004, 6, 14, 10, 15, 0));
  EXPECT_EQ(r.Alarm, 86400);
  EXPECT_EQ(r.AlarmTime, NoAlarmMarker()) << "the day-before alarm of a past item is gone";
  EXPECT_EQ(r.Updated, kNow);
  EXPECT_EQ(r.SyncFlag, SyncPending) << "the server did not take it";
  EXPECT_EQ(r.Attr1, "kept");
  EXPECT_EQ(r.Attr5, "also kept");
  ASSERT_EQ(b.server.calls.size(), 1u);
  EXPECT_EQ(b.server.calls[0].what, "update");
  EXPECT_EQ(b.approvals.Lookup(old.Index, "/opt/report"), ExecuteApprovals::Answer::Unknown)
      << "an OK does not approve the program the item already held";
}

TEST(EditOwnItem, OnlyAProgramTheUserEntersHereIsApproved) {
  Bench b;
  ScheduleItem from_server = Timed("x", D(2004, 6, 14, 9, 0, 0), D(2004, 6, 14, 10, 0, 0));
  from_server.Execute = "/usr/bin/python3@-c";
  const ScheduleItem old = b.Seed(from_server);
  // Only the time changes: the server's program stays unapproved.
  b.dialogs.Ok([](ItemForm& f) { f.end_time = D(1899, 12, 30, 11, 0, 0); });
  b.Cmd().EditOwnItem();
  EXPECT_EQ(b.approvals.Lookup(old.Index, old.Execute), ExecuteApprovals::Answer::Unknown);
  // A refusal the user gave stays one.
  b.approvals.Remember(old.Index, old.Execute, false);
  b.dialogs.Ok([](ItemForm& f) { f.subject = "y"; });
  b.Cmd().EditOwnItem();
  EXPECT_EQ(b.approvals.Lookup(old.Index, old.Execute), ExecuteApprovals::Answer::Refused);
  // Longer than the starter takes: refused at OK, naming the field, and
  // the dialog opens again; what the user then types is theirs.
  const std::string too_long(kMaxExecuteBytes + 1, 'a');
  b.dialogs.Ok([&](ItemForm& f) { f.execute = too_long; });
  b.dialogs.Ok([](ItemForm& f) {
    EXPECT_EQ(f.execute.size(), kMaxExecuteBytes + 1) << "the input is kept";
    f.execute = "/usr/bin/mine";
  });
  b.Cmd().EditOwnItem();
  EXPECT_EQ(b.Msgs(), std::vector<std::string>{J("実行ファイルが長すぎます（519 バイトまで）。")});
  EXPECT_EQ(Rows(b.store)[0].Execute, "/usr/bin/mine");
  EXPECT_EQ(b.approvals.Lookup(old.Index, "/usr/bin/mine"), ExecuteApprovals::Answer::Approved);
  EXPECT_EQ(b.approvals.Lookup(old.Index, old.Execute), ExecuteApprovals::Answer::Refused);
}

TEST(EditOwnItem, EndBeforeStartIsRefusedAndTheInputKept) {
  Bench b;
  const ScheduleItem old = b.Seed(Timed("x", D(2004, 6, 14, 9, 0, 0), D(2004, 6, 14, 10, 0, 0)));
  b.dialogs.Ok([](ItemForm& f) {
    f.place = J("どこか");
    f.end_time = D(2004, 6, 14, 8, 0, 0);
  });
  b.dialogs.Cancel();
  b.Cmd().EditOwnItem();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("終了時刻が開始時刻よりも前に設定されています。")}));
  ASSERT_EQ(b.dialogs.shown.size(), 2u);
  EXPECT_EQ(b.dialogs.shown[1].place, J("どこか"));
  EXPECT_EQ(b.dialogs.shown[1].end_time, D(2004, 6, 14, 8, 0, 0));
  const auto rows = Rows(b.store);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].End, old.End);
  EXPECT_EQ(rows[0].Place, "");
  EXPECT_TRUE(b.server.calls.empty());
}

TEST(EditOwnItem, RepeatingItemKeepsItsRuleAndNothingSelectedIsSaid) {
  Bench b;
  ScheduleItem rule =
      MakeRule(6, 11, 4, 8, D(2004, 1, 1), D(2008, 12, 31, 23, 59, 0), D(2004, 1, 1, 9, 0, 0),
               D(2004, 1, 1, 12, 0, 0));
  rule.Subject = "thanksgiving";
  rule.Alarm = -1;
  rule.Index = D(2003, 12, 1);
  b.Seed(rule);
  b.dialogs.Ok([](ItemForm& f) { f.start_time = D(1899, 12, 30, 10, 0, 0); });
  b.Cmd().EditOwnItem();
  EXPECT_EQ(b.dialogs.shown[0].repeat, (RepeatRule{6, 11, 4, 8, rule.RepStart, rule.RepEnd}));
  const auto rows = Rows(b.store);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].RepType, 6);
  EXPECT_EQ(rows[0].RepZ, 8);
  EXPECT_EQ(rows[0].Start, D(2004, 1, 1, 10, 0, 0));
  EXPECT_EQ(rows[0].RepEnd, D(2008, 12, 31, 23, 59, 0));

  b.state.OwnSelection = 5;  // outside the array
  b.Cmd().EditOwnItem();
  b.state.OwnSelection = -1;
  b.state.ReferenceSelection = -1;
  b.Cmd().EditCommand();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>(2, J("何も選択されていません。"))));
  EXPECT_EQ(b.dialogs.shown.size(), 1u);
}

TEST(DeleteSelectedItem, TombstoneCarriesTheDeletionTime) {
  Bench b;
  ScheduleItem old = Timed("old", D(2004, 3, 1, 9, 0, 0), D(2004, 3, 1, 10, 0, 0));
  old.Updated = D(2004, 3, 1);
  old.RepType = 1;  // loaded whatever its dates
  old = b.Seed(old);
  b.server.answer = 0;
  b.dialogs.scopes.push_back(DeleteScope::All);
  b.Cmd().DeleteCommand();
  EXPECT_EQ(b.dialogs.asked.size(), 1u) << "a repeating item asks what to delete";

  const auto rows = Rows(b.store);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].SyncFlag, SyncDeleted);
  EXPECT_EQ(rows[0].Updated, kNow);
  EXPECT_EQ(rows[0].Subject, "old");
  ASSERT_EQ(b.server.calls.size(), 1u);
  EXPECT_EQ(b.server.calls[0].what, "delete");
  EXPECT_EQ(b.server.calls[0].item.SyncFlag, SyncDeleted);
  EXPECT_EQ(b.server.calls[0].item.Updated, kNow);
  EXPECT_EQ(b.server.calls[0].draw_enabled, 0);
  EXPECT_EQ(b.state.OwnSelection, -1);
  EXPECT_EQ(b.state.DrawEnabled, 1);

  // 60 days later the tombstone is still there; a day after that it goes.
  b.clock.Set(kNow.AddDays(60));
  ASSERT_EQ(b.store.PurgeDeletedItems(60), 1);
  EXPECT_EQ(Rows(b.store).size(), 1u);
  b.clock.Set(kNow.AddDays(61));
  ASSERT_EQ(b.store.PurgeDeletedItems(60), 1);
  EXPECT_TRUE(Rows(b.store).empty());

  b.Cmd().DeleteSelectedItem();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("何も選択されていません。")}));
}

TEST(Clipboard, CutLeavesTheTombstoneSelectedButNothingActsOnIt) {
  Bench b;
  b.Seed(Timed("cut me", D(2004, 6, 15, 10, 0, 0), D(2004, 6, 15, 11, 30, 0)));
  b.Cmd().CutCommand();
  ASSERT_GE(b.state.OwnSelection, 0) << "cut keeps the selection";
  EXPECT_EQ(b.state.SelectedOwnItem()->SyncFlag, SyncDeleted);
  EXPECT_EQ(ItemClipboard::Instance().Item().Subject, "cut me");

  // Editing, copying or cutting the deleted item again would bring it back
  // or send it twice.
  b.Cmd().EditCommand();
  b.Cmd().CopySelectedItem();
  b.Cmd().CutCommand();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>(3, J("何も選択されていません。"))))
      << "a cut of nothing says so once";
  EXPECT_TRUE(b.dialogs.shown.empty());
  EXPECT_EQ(b.server.calls.size(), 1u);
  ASSERT_EQ(Rows(b.store).size(), 1u);
  EXPECT_EQ(Rows(b.store)[0].SyncFlag, SyncDeleted);

  b.state.SelectedDate = D(2004, 6, 16);
  b.Cmd().PasteItem();
  const auto rows = Rows(b.store);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].Start, D(2004, 6, 16, 10, 0, 0));
  EXPECT_EQ(rows[1].SyncFlag, SyncClean);
}

struct RefBench : Bench {
  RefBench() {
    state.ViewMode = OtherUsersMode;
    state.ReferenceUsers = {UserEntry{7, "hanako", J("花子"), 1}, UserEntry{8, "jiro", J("次郎"), 0}};
  }
  ScheduleItem Ref(int32_t user, const char* subject, int priv = 0) {
    ScheduleItem it = Timed(subject, D(2004, 6, 15, 13, 0, 0), D(2004, 6, 15, 14, 0, 0));
    it.Index = D(2004, 6, 1, 0, 0, static_cast<int>(state.ReferenceItems.size()));
    it.UserID = user;
    it.Private = priv;
    it.SyncFlag = SyncClean;
    it.Attr2 = "server's";
    state.ReferenceItems.push_back(it);
    state.ReferenceSelection = static_cast<int>(state.ReferenceItems.size()) - 1;
    return it;
  }
};

TEST(ReferenceItems, AddForAUserSurvivesTheListBeingReplacedMeanwhile) {
  RefBench b;
  CommandItemOperations ops(b.Ctx());
  // A repaint during the dialog loads the list again; the old one is freed
  // (the sanitizer build sees any read of it).
  b.dialogs.Ok([&](ItemForm& f) {
    b.state.ReferenceUsers = {UserEntry{9, "saburo", J("三郎"), 1}};
    b.state.ReferenceUsers.shrink_to_fit();
    f.subject = J("打合せ");
  });
  ops.AddItemForUser(b.state.ReferenceUsers[0].UserName);
  ASSERT_EQ(b.server.calls.size(), 1u);
  EXPECT_EQ(b.server.calls[0].user, "hanako");
}

TEST(ReferenceItems, EditWithPermissionGoesToTheServerOnly) {
  RefBench b;
  const ScheduleItem it = b.Ref(7, "hanako's");
  b.state.RefreshReferences = 0;
  b.dialogs.Ok([](ItemForm& f) { f.end_time = D(1899, 12, 30, 9, 0, 0); });  // before the start
  b.dialogs.Ok([](ItemForm& f) {
    f.end_time = D(1899, 12, 30, 16, 0, 0);
    f.subject = J("花子の予定");
  });
  b.Cmd().EditCommand();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("終了時刻が開始時刻よりも前に設定されています。")}));
  EXPECT_EQ(b.dialogs.draw_enabled_at_open, (std::vector<int>{0, 0}));
  ASSERT_EQ(b.server.calls.size(), 1u);
  const ServerCall& c = b.server.calls[0];
  EXPECT_EQ(c.what, "update");
  EXPECT_EQ(c.user, "hanako");
  EXPECT_EQ(c.item.Index, it.Index);
  EXPECT_EQ(c.item.UserID, 7);
  EXPECT_EQ(c.item.Subject, J("花子の予定"));
  EXPECT_EQ(c.item.End, D(2004, 6, 15, 16, 0, 0));
  EXPECT_EQ(c.item.Attr2, "server's");
  EXPECT_EQ(c.item.Updated, kNow);
  EXPECT_TRUE(Rows(b.store).empty()) << "reference items never reach the local store";
  EXPECT_EQ(b.state.RefreshReferences, 1);
  EXPECT_EQ(b.state.DrawEnabled, 1);
  EXPECT_TRUE(b.approvals.remembered.empty());

  b.server.answer = 0;
  b.dialogs.Ok([](ItemForm&) {});
  b.Cmd().EditReferenceItem();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("サーバーで処理に失敗し、データを更新できませんでした")}));
}

TEST(ReferenceItems, WithoutPermissionReadOnlyAndPrivateNotAtAll) {
  RefBench b;
  ScheduleItem it = b.Ref(8, "jiro's");
  it.Alarm = 172800;
  b.state.ReferenceItems.back().Alarm = 172800;
  b.Cmd().EditReferenceItem();
  EXPECT_TRUE(b.dialogs.shown.empty());
  ASSERT_EQ(b.dialogs.viewed.size(), 1u);
  EXPECT_EQ(b.dialogs.viewed[0].subject, "jiro's");
  EXPECT_EQ(b.dialogs.viewed[0].alarm_on, 1);
  EXPECT_EQ(b.dialogs.viewed[0].alarm_number, 2);
  EXPECT_EQ(b.dialogs.viewed[0].alarm_unit, J("日前"));

  b.Ref(7, "hanako's secret", 1);
  b.Cmd().EditReferenceItem();
  EXPECT_TRUE(b.dialogs.shown.empty());
  EXPECT_EQ(b.dialogs.viewed.size(), 1u);
  EXPECT_TRUE(b.server.calls.empty());
  EXPECT_TRUE(b.Msgs().empty());
  EXPECT_EQ(b.state.DrawEnabled, 1);
}

TEST(ReferenceItems, DeleteNeedsPermissionAndIsStampedNow) {
  RefBench b;
  b.Ref(8, "jiro's");
  b.state.RefreshReferences = 0;
  b.Cmd().DeleteSelectedItem();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("このユーザのデータは削除できません")}));
  EXPECT_TRUE(b.server.calls.empty());
  EXPECT_EQ(b.state.RefreshReferences, 0);

  const ScheduleItem it = b.Ref(7, "hanako's");
  b.Cmd().DeleteSelectedItem();
  ASSERT_EQ(b.server.calls.size(), 1u);
  EXPECT_EQ(b.server.calls[0].what, "delete");
  EXPECT_EQ(b.server.calls[0].user, "hanako");
  EXPECT_EQ(b.server.calls[0].item.Index, it.Index);
  EXPECT_EQ(b.server.calls[0].item.Updated, kNow);
  EXPECT_EQ(b.state.RefreshReferences, 1);
  EXPECT_TRUE(Rows(b.store).empty());
}

TEST(ReferenceItems, AddForAUser) {
  RefBench b;
  b.state.SelectedDate = D(2004, 6, 18);
  b.dialogs.Ok([](ItemForm& f) {
    f.subject = J("打合せ");
    f.start_time = D(1899, 12, 30, 15, 0, 0);
    f.execute = "/bin/true";
  });
  b.dialogs.Ok([](ItemForm& f) { f.end_time = D(1899, 12, 30, 15, 0, 0); });
  b.dialogs.Ok([](ItemForm& f) { f.subject = J("もう一件"); });
  CommandItemOperations ops(b.Ctx());
  ops.AddItemForUser("hanako");
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("終了時刻が開始時刻よりも前に設定されています。")}))
      << "the default end lies before the start typed";
  ops.AddItemForUser("hanako");
  ASSERT_EQ(b.server.calls.size(), 2u);
  const ServerCall& c = b.server.calls[0];
  EXPECT_EQ(c.what, "add");
  EXPECT_EQ(c.user, "hanako");
  EXPECT_EQ(c.item.UserID, 0);
  EXPECT_EQ(c.item.Start, D(2004, 6, 18, 15, 0, 0));
  EXPECT_EQ(c.item.End, D(2004, 6, 18, 15, 0, 0));
  EXPECT_EQ(c.draw_enabled, 0);
  EXPECT_NE(b.server.calls[1].item.Index, c.item.Index) << "two adds in one second";
  EXPECT_TRUE(Rows(b.store).empty());
  EXPECT_TRUE(b.approvals.remembered.empty()) << "nothing of another user's runs here";
  EXPECT_EQ(b.state.RefreshReferences, 1);

  b.server.answer = 0;
  b.dialogs.Ok([](ItemForm& f) { f.subject = "x"; });
  ops.AddItemForUser("hanako");
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("サーバーで処理に失敗し、データを更新できませんでした")}));
}

TEST(Clipboard, PasteKeepsTimeOfDayAndLength) {
  struct Case {
    ScheduleItem copied;
    DateTime start, end;
  };
  ScheduleItem overnight = Timed("night", D(2004, 6, 1, 22, 0, 0), D(2004, 6, 2, 2, 0, 0));
  ScheduleItem allday = Timed("holiday", D(2004, 6, 1), D(2004, 6, 1, 23, 59, 59));
  allday.Type = 1;
  ScheduleItem rule = MakeRule(2, 1, 34, 0, D(2004, 1, 1), D(2004, 12, 31, 23, 59, 0),
                               D(2004, 1, 1, 8, 0, 0), D(2004, 1, 1, 8, 30, 0));
  rule.Subject = "weekly";
  rule.Alarm = 600;
  const std::vector<Case> cases = {
      {Timed("meeting", D(2004, 6, 1, 10, 0, 0), D(2004, 6, 1, 11, 30, 0)), D(2004, 6, 20, 10, 0, 0),
       D(2004, 6, 20, 11, 30, 0)},
      {overnight, D(2004, 6, 20, 22, 0, 0), D(2004, 6, 21, 2, 0, 0)},
      {allday, D(2004, 6, 20), D(2004, 6, 20, 23, 59, 59)},
      {rule, D(2004, 6, 20, 8, 0, 0), D(2004, 6, 20, 8, 30, 0)},
  };
  for (const Case& c : cases) {
    Bench b;
    ScheduleItem src = c.copied;
    src.Place = "p";
    src.Desc = "d";
    src.Execute = "/bin/echo";
    src.Color = 0xABCDEF;
    src.Private = 1;
    src.Attr3 = "not copied";
    b.Seed(src);
    b.Cmd().CopySelectedItem();
    b.state.SelectedDate = D(2004, 6, 20);
    b.server.answer = 0;
    b.Cmd().PasteItem();
    const auto rows = Rows(b.store);
    ASSERT_EQ(rows.size(), 2u) << src.Subject;
    const ScheduleItem& p = rows[1];
    EXPECT_EQ(p.Start, c.start) << src.Subject;
    EXPECT_EQ(p.End, c.end) << src.Subject;
    EXPECT_EQ(p.Type, src.Type);
    EXPECT_EQ(p.Index, kNow);
    EXPECT_EQ(p.Updated, kNow);
    EXPECT_EQ(p.SyncFlag, SyncPending);
    EXPECT_EQ(p.UserID, 0);
    EXPECT_EQ(p.Subject, src.Subject);
    EXPECT_EQ(p.Place, "p");
    EXPECT_EQ(p.Desc, "d");
    EXPECT_EQ(p.Execute, "/bin/echo");
    EXPECT_EQ(p.Color, 0xABCDEFu);
    EXPECT_EQ(p.Private, 1);
    EXPECT_EQ(p.Attr3, "");
    EXPECT_EQ(p.RepType, src.RepType);
    EXPECT_EQ(p.RepY, src.RepY);
    EXPECT_EQ(p.RepStart, src.RepStart) << "the range is not moved";
    EXPECT_EQ(p.RepEnd, src.RepEnd);
    EXPECT_EQ(p.Alarm, src.Alarm);
    EXPECT_EQ(p.AlarmTime, src.Alarm == -1 ? DateTime() : NextAlarmTime(p));
    EXPECT_TRUE(b.approvals.remembered.empty()) << "a pasted program is not approved";
    ASSERT_EQ(b.server.calls.size(), 1u);
    EXPECT_EQ(b.server.calls[0].item.SyncFlag, SyncClean) << "sent as a clean record";
    EXPECT_EQ(b.state.DrawEnabled, 1);
  }
}

TEST(Clipboard, PasteBeforeCopyAndTwoPastesInOneSecond) {
  Bench b;
  b.Cmd().PasteItem();
  EXPECT_TRUE(Rows(b.store).empty());
  EXPECT_TRUE(b.server.calls.empty());
  EXPECT_TRUE(b.Msgs().empty());

  b.Cmd().CopySelectedItem();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("何も選択されていません。")}));
  EXPECT_TRUE(ItemClipboard::Instance().IsEmpty());

  const ScheduleItem src = b.Seed(Timed("twice", D(2004, 6, 1, 10, 0, 0), D(2004, 6, 1, 11, 0, 0)));
  b.Cmd().CopySelectedItem();
  b.Cmd().PasteItem();
  b.Cmd().PasteItem();
  const auto rows = Rows(b.store);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].Index, kNow);
  EXPECT_EQ(rows[2].Index, kNow.AddSeconds(1));
  EXPECT_EQ(b.server.calls.size(), 2u);
  EXPECT_EQ(b.server.calls[1].item.Index, kNow.AddSeconds(1));
}

TEST(Clipboard, ReferenceItemPastesAsOwn) {
  RefBench b;
  const ScheduleItem ref = b.Ref(8, "jiro's");
  b.Cmd().CopySelectedItem();
  EXPECT_EQ(ItemClipboard::Instance().Item().UserID, 8);
  // The copy leaves the Index behind: a paste makes its own unique only in
  // the user's store, which never holds another user's item.
  EXPECT_NE(ItemClipboard::Instance().Item().Index, ref.Index);
  b.state.ReferenceSelection = -1;
  b.Cmd().PasteItem();
  const auto rows = Rows(b.store);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].UserID, 0);
  EXPECT_EQ(rows[0].Index, kNow);
  EXPECT_NE(rows[0].Index, ref.Index);
  EXPECT_EQ(b.server.calls[0].user, "") << "sent as the user's own";

  // Cut of an item the user may not delete: copied, then refused.
  ItemClipboard::Instance().Clear();
  b.state.OwnSelection = -1;
  b.state.ReferenceSelection = 0;
  b.Cmd().CutCommand();
  EXPECT_EQ(ItemClipboard::Instance().Item().Subject, "jiro's");
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("このユーザのデータは削除できません")}));
}

TEST(ItemOperations, DoubleClickEntriesReachTheCommands) {
  RefBench b;
  b.Seed(Timed("own", D(2004, 6, 15, 9, 0, 0), D(2004, 6, 15, 10, 0, 0)));
  b.Ref(8, "jiro's");
  CommandItemOperations ops(b.Ctx());
  b.dialogs.Cancel();
  ops.EditOwnItem(0);
  ASSERT_EQ(b.dialogs.shown.size(), 1u);
  EXPECT_EQ(b.dialogs.shown[0].subject, "own");
  ops.OpenReferenceItem(0);
  ASSERT_EQ(b.dialogs.viewed.size(), 1u);
  EXPECT_EQ(b.dialogs.viewed[0].subject, "jiro's");
  b.dialogs.Ok([](ItemForm& f) { f.subject = "new"; });
  ops.AddOwnItem(D(2004, 6, 22, 17, 0, 0));
  EXPECT_EQ(b.dialogs.shown[1].start_date, D(2004, 6, 22));
  ASSERT_EQ(Rows(b.store).size(), 2u);
}

// A monthly meeting on the 10th through 2004, ten minutes' alarm.
ScheduleItem Monthly() {
  ScheduleItem it = MakeRule(3, 1, 10, 0, D(2004, 1, 10), D(2004, 12, 31, 23, 59, 0),
                             D(2004, 1, 10, 10, 0, 0), D(2004, 1, 10, 11, 0, 0));
  it.Subject = J("月例会議");
  it.Alarm = 600;
  it.Index = D(2004, 1, 1, 8, 0, 0);
  it.Updated = D(2004, 1, 1, 8, 0, 0);
  return it;
}

// The months of 2004 whose 10th the live rows occur on, once per row.
std::multiset<int> TenthsOn(ItemStore& store) {
  std::multiset<int> out;
  for (const ScheduleItem& it : Rows(store))
    for (DateTime d = D(2004, 1, 1); d < D(2005, 1, 1); d = d.AddDays(1))
      if (Occurs(it, d, d.AddDays(1))) out.insert(d.Day() == 10 ? d.Month() : -d.DayNumber());
  return out;
}

std::multiset<int> Months(int from, int to, int except = 0) {
  std::multiset<int> out;
  for (int m = from; m <= to; ++m)
    if (m != except) out.insert(m);
  return out;
}

std::vector<std::string> Sent(const FakeServer& server) {
  std::vector<std::string> out;
  for (const ServerCall& c : server.calls) out.push_back(c.what + (c.user.empty() ? "" : " " + c.user));
  return out;
}

TEST(DeleteRepeating, OwnSeriesAsksAndEachAnswerTakesItsPart) {
  using S = DeleteScope;
  struct Case {
    S answer;
    DateTime day;
    int server;
    std::multiset<int> months;
    std::vector<std::string> sent;
  };
  const std::vector<Case> cases = {
      {S::Cancel, D(2004, 6, 10), 1, Months(1, 12), {}},
      {S::ThisDay, D(2004, 6, 10), 1, Months(1, 12, 6), {"add", "update"}},
      {S::ThisDay, D(2004, 6, 10), 0, Months(1, 12, 6), {"add", "update"}},
      {S::ThisDay, D(2004, 1, 10), 1, Months(2, 12), {"update"}},   // the first: the start moves
      {S::ThisDay, D(2004, 12, 10), 1, Months(1, 11), {"update"}},  // the last: the end moves
      {S::FromThisDay, D(2004, 6, 10), 1, Months(1, 5), {"update"}},
      {S::FromThisDay, D(2004, 1, 10), 1, {}, {"delete"}},
      {S::All, D(2004, 6, 10), 1, {}, {"delete"}},
  };
  for (const Case& c : cases) {
    const std::string what = "answer " + std::to_string(static_cast<int>(c.answer)) + " on " +
                             c.day.ToString() + " server " + std::to_string(c.server);
    Bench b;
    const ScheduleItem meeting = b.Seed(Monthly());
    const int selected = b.state.OwnSelection;
    b.state.SelectedDate = c.day;
    b.status.panes[0] = meeting.Subject;
    b.server.answer = c.server;
    b.dialogs.scopes.push_back(c.answer);
    b.Cmd().DeleteCommand();

    ASSERT_EQ(b.dialogs.asked.size(), 1u) << what;
    EXPECT_EQ(b.dialogs.asked[0], std::make_pair(meeting.Subject, c.day)) << what;
    EXPECT_EQ(TenthsOn(b.store), c.months) << what;
    EXPECT_EQ(Sent(b.server), c.sent) << what;
    EXPECT_TRUE(b.Msgs().empty()) << what;
    const auto rows = Rows(b.store);
    ASSERT_EQ(rows.size(), c.sent.size() == 2 ? 2u : 1u) << what;
    if (c.answer == S::Cancel) {
      EXPECT_EQ(rows[0].Updated, meeting.Updated) << what;
      EXPECT_EQ(b.state.OwnSelection, selected) << what << ": the selection stays for another try";
      EXPECT_EQ(b.status.panes[0], meeting.Subject) << what;
      EXPECT_EQ(b.undo.Size(), 0u) << what;
      continue;
    }
    EXPECT_EQ(b.status.panes[0], "") << what << ": the pane no longer names a deleted item";
    EXPECT_EQ(b.state.OwnSelection, -1) << what;
    EXPECT_EQ(b.undo.Size(), 1u) << what << ": one step, whatever it wrote";
    EXPECT_EQ(rows[0].Index, meeting.Index) << what;
    EXPECT_EQ(rows[0].Updated, kNow) << what;
    for (const ScheduleItem& r : rows) {
      if (r.SyncFlag == SyncDeleted) continue;
      EXPECT_EQ(r.SyncFlag, c.server == 1 ? SyncClean : SyncPending) << what;
    }
    if (c.sent.size() == 2) {
      // The later months are an item of their own, starting on its first
      // occurrence, with its next alarm; the first half has none left.
      const ScheduleItem& rest = rows[1];
      EXPECT_NE(rest.Index, meeting.Index) << what;
      EXPECT_EQ(b.server.calls[0].item.Index, rest.Index) << what;
      EXPECT_EQ(rest.RepStart, D(2004, 7, 10)) << what;
      EXPECT_EQ(rest.RepEnd, meeting.RepEnd) << what;
      EXPECT_EQ(rest.Start, D(2004, 7, 10, 10, 0, 0)) << what;
      EXPECT_EQ(rest.End, D(2004, 7, 10, 11, 0, 0)) << what;
      EXPECT_EQ(rest.AlarmTime, D(2004, 7, 10, 9, 50, 0)) << what;
      EXPECT_EQ(rows[0].RepEnd, D(2004, 6, 9, 23, 59, 0)) << what;
      EXPECT_EQ(rows[0].AlarmTime, NoAlarmMarker()) << what;
    }
  }

  // 切り取り asks too, and copies only what the user agreed to cut.
  for (const S answer : {S::Cancel, S::ThisDay}) {
    Bench b;
    b.Seed(Monthly());
    b.state.SelectedDate = D(2004, 6, 10);
    b.dialogs.scopes.push_back(answer);
    b.Cmd().CutCommand();
    EXPECT_EQ(b.dialogs.asked.size(), 1u);
    EXPECT_EQ(ItemClipboard::Instance().IsEmpty(), answer == S::Cancel);
    EXPECT_EQ(TenthsOn(b.store), answer == S::Cancel ? Months(1, 12) : Months(1, 12, 6));
  }
}

TEST(DeleteRepeating, AnotherUsersSeriesGoesToTheServerOnly) {
  RefBench b;
  auto select = [&](int32_t user) {
    ScheduleItem it = Monthly();
    it.UserID = user;
    b.state.ReferenceItems = {it};
    b.state.ReferenceSelection = 0;
    b.state.SelectedDate = D(2004, 6, 10);
    b.state.RefreshReferences = 0;
    return it;
  };
  const ScheduleItem it = select(7);
  b.dialogs.scopes.push_back(DeleteScope::ThisDay);
  b.Cmd().DeleteCommand();
  ASSERT_EQ(Sent(b.server), (std::vector<std::string>{"add hanako", "update hanako"}));
  const ScheduleItem& rest = b.server.calls[0].item;
  const ScheduleItem& kept = b.server.calls[1].item;
  EXPECT_NE(rest.Index, it.Index);
  EXPECT_EQ(rest.RepStart, D(2004, 7, 10));
  EXPECT_EQ(kept.Index, it.Index);
  EXPECT_EQ(kept.UserID, 7);
  EXPECT_EQ(kept.RepEnd, D(2004, 6, 9, 23, 59, 0));
  EXPECT_EQ(kept.Updated, kNow);
  EXPECT_EQ(b.state.RefreshReferences, 1);
  EXPECT_TRUE(Rows(b.store).empty());
  EXPECT_EQ(b.undo.Size(), 0u) << "only the user's own items are undone";

  // The later part refused: the first part is not cut short.
  b.server.calls.clear();
  b.server.answer = 0;
  select(7);
  b.dialogs.scopes.push_back(DeleteScope::ThisDay);
  b.Cmd().DeleteCommand();
  EXPECT_EQ(Sent(b.server), (std::vector<std::string>{"add hanako"}));
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("サーバーで処理に失敗し、データを更新できませんでした")}));

  b.server.calls.clear();
  b.server.answer = 1;
  select(7);
  b.dialogs.scopes.push_back(DeleteScope::FromThisDay);
  b.Cmd().DeleteCommand();
  b.dialogs.scopes.push_back(DeleteScope::All);
  b.Cmd().DeleteCommand();
  b.Cmd().DeleteCommand();  // cancelled
  EXPECT_EQ(Sent(b.server), (std::vector<std::string>{"update hanako", "delete hanako"}));
  EXPECT_EQ(b.server.calls[0].item.RepEnd, D(2004, 6, 9, 23, 59, 0));

  // Without permission nothing is asked.
  select(8);
  const size_t asked = b.dialogs.asked.size();
  b.Cmd().DeleteCommand();
  EXPECT_EQ(b.dialogs.asked.size(), asked);
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("このユーザのデータは削除できません")}));
}

// The live rows as the user sees them.
std::map<std::string, std::string> Live(ItemStore& store) {
  std::map<std::string, std::string> m;
  for (const ScheduleItem& it : Rows(store))
    if (it.SyncFlag != SyncDeleted)
      m[it.Index.ToString()] = it.Subject + " " + it.Start.ToString() + " " + it.End.ToString() +
                               " " + it.RepStart.ToString() + " " + it.RepEnd.ToString();
  return m;
}

std::map<std::string, DateTime> UpdatedOf(ItemStore& store) {
  std::map<std::string, DateTime> m;
  for (const ScheduleItem& it : Rows(store)) m[it.Index.ToString()] = it.Updated;
  return m;
}

TEST(Undo, EveryKindOfOwnChangeIsTakenBackAsAChangeOfItsOwn) {
  Bench b;
  const ScheduleItem meeting = b.Seed(Monthly());
  const ScheduleItem single = b.Seed(Timed("single", D(2004, 6, 14, 9, 0, 0), D(2004, 6, 14, 10, 0, 0)));
  auto select = [&](const std::string& subject) {
    b.state.OwnSelection = -1;
    for (size_t i = 0; i < b.state.VisibleItems.size(); ++i)
      if (b.state.VisibleItems[i].Subject == subject) b.state.OwnSelection = static_cast<int>(i);
    ASSERT_GE(b.state.OwnSelection, 0) << subject;
  };
  std::vector<std::map<std::string, std::string>> before;
  auto step = [&](const std::function<void()>& change) {
    before.push_back(Live(b.store));
    change();
    ASSERT_NE(Live(b.store), before.back());
  };
  step([&] {
    b.dialogs.Ok([](ItemForm& f) { f.subject = "added"; });
    b.Cmd().AddOwnItem();
  });
  step([&] {
    select("added");
    b.dialogs.Ok([](ItemForm& f) { f.subject = "edited"; });
    b.Cmd().EditCommand();
  });
  step([&] {
    select("single");
    b.Cmd().DeleteCommand();
  });
  step([&] {
    select("edited");
    b.Cmd().CutCommand();
  });
  step([&] {
    b.state.SelectedDate = D(2004, 6, 20);
    b.Cmd().PasteItem();
  });
  step([&] {
    select(meeting.Subject);
    b.state.SelectedDate = D(2004, 6, 10);
    b.dialogs.scopes.push_back(DeleteScope::ThisDay);
    b.Cmd().DeleteCommand();
  });
  ASSERT_EQ(b.undo.Size(), 6u);
  ASSERT_EQ(Live(b.store).size(), 3u);
  EXPECT_TRUE(b.Msgs().empty());

  // Split, paste, cut, delete, edit, add, taken back in turn.
  const std::vector<std::vector<std::string>> sent = {
      {"update", "delete"}, {"delete"}, {"update"}, {"update"}, {"update"}, {"delete"}};
  for (size_t i = 0; i < sent.size(); ++i) {
    const auto stamps = UpdatedOf(b.store);
    b.server.calls.clear();
    b.status.panes[0] = "pressed";
    b.Cmd().UndoCommand();
    EXPECT_TRUE(b.Msgs().empty()) << "undo " << i;
    EXPECT_EQ(Live(b.store), before[before.size() - 1 - i]) << "undo " << i;
    EXPECT_EQ(Sent(b.server), sent[i]) << "undo " << i;
    for (const ServerCall& c : b.server.calls) {
      // Newer than the version it replaces by more than other clients'
      // tolerance, or they would keep theirs (and the server a tombstone).
      EXPECT_GT(c.item.Updated, stamps.at(c.item.Index.ToString()).AddSeconds(10)) << "undo " << i;
    }
    for (const ScheduleItem& r : Rows(b.store)) {
      if (stamps.at(r.Index.ToString()) == r.Updated) continue;
      EXPECT_TRUE(r.SyncFlag == SyncDeleted || r.SyncFlag == SyncClean) << "undo " << i;
      // The meeting back whole, its next alarm found again.
      if (r.Index == meeting.Index) EXPECT_EQ(r.AlarmTime, D(2004, 7, 10, 9, 50, 0));
    }
  }
  EXPECT_EQ(b.undo.Size(), 0u);
  b.Cmd().UndoCommand();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("元に戻せる操作はありません。")}));
  EXPECT_EQ(Live(b.store).count(single.Index.ToString()), 1u);
}

TEST(Undo, AVersionThatCameDownMeanwhileIsNeverOverwritten) {
  Bench b;
  ScheduleItem x = Timed("x", D(2004, 6, 14, 9, 0, 0), D(2004, 6, 14, 10, 0, 0));
  x.Updated = D(2004, 6, 1);
  x = b.Seed(x);
  auto edit = [&](const char* subject) {
    b.Select(x.Index);
    b.dialogs.Ok([subject](ItemForm& f) { f.subject = subject; });
    b.Cmd().EditCommand();
  };
  edit("mine");
  // A synchronisation brings a colleague's later version down.
  ScheduleItem theirs = Rows(b.store)[0];
  theirs.Subject = "theirs";
  theirs.Updated = kNow.AddSeconds(60);
  ASSERT_EQ(b.store.UpdateItemByIndex(theirs), 1);
  LoadVisibleItems(b.state, b.store);
  edit("mine again");

  b.Cmd().UndoCommand();  // back to theirs: the version this edit replaced
  EXPECT_TRUE(b.Msgs().empty());
  EXPECT_EQ(Rows(b.store)[0].Subject, "theirs");
  b.server.calls.clear();
  b.Cmd().UndoCommand();  // the first edit would overwrite theirs
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("この予定はその後ほかで変更されているため、元に戻せません。")}));
  EXPECT_EQ(Rows(b.store)[0].Subject, "theirs");
  EXPECT_TRUE(b.server.calls.empty());
  b.Cmd().UndoCommand();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("元に戻せる操作はありません。")}))
      << "a step that can never be undone is not kept";

  // Deleted here, then changed elsewhere: the deletion stays undone-proof too.
  b.Select(x.Index);
  b.Cmd().DeleteCommand();
  ScheduleItem later = Rows(b.store)[0];
  later.SyncFlag = SyncClean;
  later.Subject = "revived elsewhere";
  later.Updated = kNow.AddSeconds(600);
  ASSERT_EQ(b.store.UpdateItemByIndex(later), 1);
  b.Cmd().UndoCommand();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("この予定はその後ほかで変更されているため、元に戻せません。")}));
  EXPECT_EQ(Rows(b.store)[0].Subject, "revived elsewhere");
}

TEST(Undo, TheLatestTwentyStepsAreKept) {
  Bench b;
  for (int i = 0; i <= 20; ++i) {
    b.dialogs.Ok([i](ItemForm& f) { f.subject = "n" + std::to_string(i); });
    b.Cmd().AddOwnItem();
  }
  ASSERT_EQ(Live(b.store).size(), 21u);
  for (int i = 0; i < 20; ++i) b.Cmd().UndoCommand();
  EXPECT_TRUE(b.Msgs().empty());
  const auto live = Live(b.store);
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(live.begin()->second.substr(0, 3), "n0 ") << "the oldest step was dropped";
  b.Cmd().UndoCommand();
  EXPECT_EQ(b.Msgs(), (std::vector<std::string>{J("元に戻せる操作はありません。")}));
}

}  // namespace
}  // namespace kv
