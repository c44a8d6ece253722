// The minute tick over a real store with a fixed clock: what reaches the
// alarm program, how items are re-armed and disarmed, failures, the guard
// against a tick inside a tick, programs at their start minute and the
// hourly reload.
#include "app/shell/AlarmDispatcher.h"

#include <gtest/gtest.h>

#include "model/Text.h"
#include "store/ItemStore.h"
#include "tests/shell/ShellFakes.h"
#include "tests/support/TestSupport.h"
#include "view/StoreLoad.h"

namespace kv {
namespace {

using test::D;
using test::J;

ScheduleItem Timed(const std::string& subject, DateTime start, DateTime end, int index_offset) {
  ScheduleItem it;
  it.Index = D(2004, 1, 1).AddSeconds(index_offset);
  it.Updated = it.Index;
  it.SyncFlag = SyncClean;
  it.Subject = subject;
  it.Type = 0;
  it.Start = start;
  it.End = end;
  it.RepType = 0;
  it.RepX = it.RepY = it.RepZ = 1;
  it.RepStart = start.DateOnly();
  it.RepEnd = start.DateOnly().AddSeconds(23 * 3600 + 59 * 60);
  return it;
}

// An alarm `lead` seconds before start, armed for that instant.
ScheduleItem Alarmed(const std::string& subject, DateTime start, int lead, int index_offset) {
  ScheduleItem it = Timed(subject, start, start.AddSeconds(3600), index_offset);
  it.Alarm = lead;
  it.AlarmTime = start.AddSeconds(-lead);
  return it;
}

ScheduleItem Daily(ScheduleItem it, DateTime rep_start, DateTime rep_end) {
  it.RepType = 1;
  it.RepX = 1;
  it.RepY = it.RepZ = 0;
  it.RepStart = rep_start;
  it.RepEnd = rep_end;
  return it;
}

class Dispatcher : public ::testing::Test {
 protected:
  Dispatcher() {
    EXPECT_EQ(store.CreateStore(dir.File("user.mdb")), 1);
    state.DrawEnabled = 1;
  }

  void Add(const ScheduleItem& it) { ASSERT_EQ(store.InsertItem(it), 1); }
  void Load() { LoadVisibleItems(state, store); }
  ScheduleItem Stored(const std::string& subject) {
    ScheduleItem row;
    for (int ok = store.ReadFirstItem(row); ok; ok = store.ReadNextItem(row))
      if (row.Subject == subject) return row;
    ADD_FAILURE() << "no stored item " << subject;
    return row;
  }
  std::vector<std::string> Subjects() const {
    std::vector<std::string> out;
    for (const auto& s : starter.starts) out.push_back(s.argv.size() > 2 ? s.argv[2] : "?");
    return out;
  }

  test::ScopedClock clock{D(2004, 3, 1, 9, 0, 0)};
  test::TempDir dir;
  ItemStore store;
  ViewState state = ViewState::Initial();
  test::FakeStarter starter;
  test::FakeHost host;
  test::FakeQuestion question;
  test::MemoryApprovals approvals;
  shell::AlarmDispatcher dispatcher{state, store, "/opt/kv", starter, host, question, approvals};
};

TEST_F(Dispatcher, AlarmProgramGetsOneArgumentEachInUtf8WithCutsOnCharacterBoundaries) {
  // 1 + 2 x 100 bytes: the 127-byte cut falls inside a double-byte character.
  const std::string long_subject = "a" + [] {
    std::string s;
    for (int i = 0; i < 100; ++i) s += J("会");
    return s;
  }();
  ScheduleItem a = Alarmed(long_subject, D(2004, 3, 1, 10, 0, 0), 300, 1);
  a.Place = J("第一 会議室");  // a blank stays inside its argument
  a.Desc = std::string(509, 'd') + J("議");  // exactly 511 bytes: passed whole
  ScheduleItem b = Alarmed(J("朝会"), D(2004, 3, 1, 10, 0, 0), 300, 2);
  b.Desc = std::string(510, 'x') + J("議");  // 512 bytes: the cut drops the whole character
  ScheduleItem c = Alarmed("plain", D(2004, 3, 1, 10, 0, 0), 300, 3);
  c.Desc = std::string(600, 'y');
  Add(a);
  Add(b);
  Add(c);
  Load();
  clock.Set(D(2004, 3, 1, 9, 55, 20));
  dispatcher.Tick();

  ASSERT_EQ(starter.starts.size(), 3u);
  std::map<std::string, std::vector<std::string>> by_subject;
  for (const auto& s : starter.starts) {
    EXPECT_EQ(s.path, "/opt/kv/QvxAlarm.exe");
    ASSERT_GE(s.argv.size(), 5u);
    by_subject[s.argv[2]] = s.argv;
  }
  const std::string span = "2004/03/01 10:00:00 - 2004/03/01 11:00:00";
  std::string cut_subject = "a";
  for (int i = 0; i < 63; ++i) cut_subject += "会";
  ASSERT_TRUE(by_subject.count(cut_subject));
  EXPECT_EQ(by_subject[cut_subject],
            (std::vector<std::string>{"Pelmora.exe", "-S", cut_subject, "-T", span, "-P",
                                      "第一 会議室", "-D", std::string(509, 'd') + "議"}));
  EXPECT_EQ(by_subject["朝会"], (std::vector<std::string>{"Pelmora.exe", "-S", "朝会", "-T", span,
                                                          "-D", std::string(510, 'x')}));
  EXPECT_EQ(by_subject["plain"][6], std::string(511, 'y'));
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(Dispatcher, EmptyPlaceAndDescriptionGiveFiveArgumentsAndAnAllDaySpan) {
  ScheduleItem it = Alarmed("x", D(2004, 3, 1, 0, 0, 0), 0, 1);
  it.Type = 1;
  it.End = D(2004, 3, 2, 23, 59, 59);
  it.AlarmTime = D(2004, 3, 1, 0, 0, 0);
  Add(it);
  Load();
  dispatcher.Tick();
  ASSERT_EQ(starter.starts.size(), 1u);
  EXPECT_EQ(starter.starts[0].argv,
            (std::vector<std::string>{"Pelmora.exe", "-S", "x", "-T",
                                      "2004/03/01 00:00:00 - 2004/03/02 23:59:59"}));
}

TEST_F(Dispatcher, SingleAlarmIsSpentDailyIsRearmedLastOccurrenceIsSpent) {
  Add(Alarmed("single", D(2004, 3, 1, 10, 0, 0), 300, 1));
  Add(Daily(Alarmed("daily", D(2004, 2, 1, 10, 0, 0), 300, 2), D(2004, 2, 1),
            D(2004, 12, 31, 23, 59, 0)));
  // Its range ends today: no occurrence is left after this alarm.
  Add(Daily(Alarmed("ending", D(2004, 2, 1, 10, 0, 0), 300, 3), D(2004, 2, 1),
            D(2004, 3, 1, 23, 59, 0)));
  for (const char* s : {"daily", "ending"}) {
    ScheduleItem it = Stored(s);
    it.AlarmTime = D(2004, 3, 1, 9, 55, 0);
    ASSERT_EQ(store.UpdateItemByIndex(it), 1);
  }
  Load();
  clock.Set(D(2004, 3, 1, 9, 54, 59));
  dispatcher.Tick();
  EXPECT_TRUE(starter.starts.empty()) << "not due yet";

  clock.Set(D(2004, 3, 1, 9, 55, 20));
  dispatcher.Tick();
  std::vector<std::string> fired = Subjects();
  std::sort(fired.begin(), fired.end());
  EXPECT_EQ(fired, (std::vector<std::string>{"daily", "ending", "single"}));

  EXPECT_EQ(Stored("single").Alarm, -1);
  EXPECT_EQ(Stored("daily").Alarm, 300);
  EXPECT_EQ(Stored("daily").AlarmTime, D(2004, 3, 2, 9, 55, 0));
  EXPECT_EQ(Stored("ending").Alarm, -1);
  EXPECT_EQ(Stored("ending").AlarmTime, NoAlarmMarker());
  EXPECT_GE(host.repaints, 1) << "reloaded items need a fresh paint";

  // No second alarm later today; the daily one again tomorrow.
  starter.starts.clear();
  clock.Set(D(2004, 3, 1, 23, 0, 0));
  dispatcher.Tick();
  EXPECT_TRUE(starter.starts.empty());
  clock.Set(D(2004, 3, 2, 9, 55, 5));
  dispatcher.Tick();
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"daily"}));
}

TEST_F(Dispatcher, NoAlarmForDeletedSwitchedOffOrFutureItems) {
  ScheduleItem deleted = Alarmed("deleted", D(2004, 3, 1, 9, 0, 0), 0, 1);
  deleted.SyncFlag = SyncDeleted;
  ScheduleItem off = Alarmed("off", D(2004, 3, 1, 9, 0, 0), 0, 2);
  off.Alarm = -1;
  ScheduleItem later = Alarmed("later", D(2004, 3, 1, 9, 1, 0), 0, 3);
  for (const auto& it : {deleted, off, later}) Add(it);
  Load();
  dispatcher.Tick();
  EXPECT_TRUE(starter.starts.empty());
  EXPECT_EQ(Stored("deleted").Alarm, 0) << "a tombstone is left as it is";
}

TEST_F(Dispatcher, EveryDueAlarmFiresInOneTickAlthoughEachDisarmedOneLeavesTheList) {
  for (int i = 0; i < 5; ++i)
    Add(Alarmed("s" + std::to_string(i), D(2004, 3, 1, 9, 0, 0).AddSeconds(i * 60), 0, i));
  Load();
  clock.Set(D(2004, 3, 1, 9, 30, 0));
  dispatcher.Tick();
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"s0", "s1", "s2", "s3", "s4"}));
  EXPECT_TRUE(state.AlarmCandidates.empty());
}

TEST_F(Dispatcher, FailedStartsAreNamedAndStillSpendTheAlarm) {
  const std::vector<std::pair<int, std::string>> cases = {
      {E2BIG, "(E2BIG)"},     {EINVAL, "(EINVAL)"}, {ENOENT, "(ENOENT)"},
      {ENOEXEC, "(ENOEXEC)"}, {ENOMEM, "(ENOMEM)"}, {EACCES, "(13)"}};
  for (const auto& [error, suffix] : cases) {
    SCOPED_TRACE(suffix);
    starter.failures["/opt/kv/QvxAlarm.exe"] = error;
    host.messages.clear();
    const std::string subject = "f" + std::to_string(error);
    Add(Alarmed(subject, D(2004, 3, 1, 9, 0, 0), 0, 100 + error));
    Load();
    dispatcher.Tick();
    ASSERT_EQ(host.messages.size(), 1u);
    // The reminder is in the message, since the alarm is spent.
    EXPECT_EQ(host.messages[0], J("アラームが実行できません ") + suffix + J("\n\n予定: ") + subject +
                                    J("\n開始: 2004/03/01 09:00:00"));
    EXPECT_EQ(Stored(subject).Alarm, -1);
    dispatcher.Tick();
    EXPECT_EQ(host.messages.size(), 1u) << "not retried";
  }
}

TEST_F(Dispatcher, AnAlarmThatCannotBeStoredIsNotRaisedAgainEachMinute) {
  // Two items with one Index: only the first can be reached by it.
  ScheduleItem first = Alarmed("first", D(2004, 3, 1, 9, 0, 0), 0, 7);
  ScheduleItem twin = Alarmed("twin", D(2004, 3, 1, 9, 0, 0), 0, 7);
  Add(first);
  Add(twin);
  Load();
  dispatcher.Tick();
  std::vector<std::string> fired = Subjects();
  std::sort(fired.begin(), fired.end());
  EXPECT_EQ(fired, (std::vector<std::string>{"first", "twin"}));
  int still_armed = 0;
  ScheduleItem row;
  for (int ok = store.ReadFirstItem(row); ok; ok = store.ReadNextItem(row)) still_armed += row.Alarm >= 0;
  EXPECT_EQ(still_armed, 1) << "the store could not disarm the second";
  starter.starts.clear();
  for (int i = 0; i < 3; ++i) {
    clock.Advance(60);
    dispatcher.Tick();
  }
  EXPECT_TRUE(starter.starts.empty());
}

TEST_F(Dispatcher, ATickAskedForWhileAMessageIsOpenWaitsForTheRunningOne) {
  starter.failures["/opt/kv/QvxAlarm.exe"] = ENOENT;
  Add(Alarmed("a", D(2004, 3, 1, 9, 0, 0), 0, 1));
  Add(Alarmed("b", D(2004, 3, 1, 9, 0, 0), 0, 2));
  Load();
  std::vector<std::string> events;
  starter.on_start = [&] { events.push_back("start"); };
  int nested = 0;
  host.on_message = [&] {
    events.push_back("box open");
    // The timer fires while the box is open, twice.
    if (nested++ == 0) {
      EXPECT_TRUE(dispatcher.InTick());
      clock.Advance(60);
      dispatcher.Tick();
      dispatcher.Tick();
      events.push_back("box closed");
    }
  };
  dispatcher.Tick();
  EXPECT_EQ(events, (std::vector<std::string>{"start", "box open", "box closed", "start", "box open"}));
  // The two held ticks ran once, after the first.
  EXPECT_EQ(dispatcher.MinuteCounter(), 2);
  EXPECT_FALSE(dispatcher.InTick());
  EXPECT_EQ(Stored("a").Alarm, -1);
  EXPECT_EQ(Stored("b").Alarm, -1);
}

TEST_F(Dispatcher, AnOpenDialogDoesNotHoldTheAlarmBack) {
  Add(Alarmed("a", D(2004, 3, 1, 9, 0, 0), 0, 1));
  Load();
  state.DrawEnabled = 0;  // an item dialog or the reference-user chooser is open
  dispatcher.Tick();
  EXPECT_EQ(Subjects(), std::vector<std::string>{"a"});
  EXPECT_EQ(dispatcher.MinuteCounter(), 1);
}

TEST_F(Dispatcher, AJumpOfTheWallClockReloadsTheCandidatesAndEachAlarmRingsOnce) {
  // Due at 14:00, more than two hours after the load: not a candidate yet.
  Add(Alarmed("after lunch", D(2004, 3, 1, 14, 10, 0), 600, 1));
  Add(Alarmed("evening", D(2004, 3, 1, 18, 0, 0), 0, 2));
  Load();
  dispatcher.Tick();
  ASSERT_TRUE(starter.starts.empty());
  // Suspended at 09:00, resumed at 14:30: the timer's clock stood still.
  clock.Set(D(2004, 3, 1, 14, 30, 0));
  clock.Advance(60);
  dispatcher.Tick();
  EXPECT_EQ(Subjects(), std::vector<std::string>{"after lunch"});
  EXPECT_EQ(Stored("after lunch").Alarm, -1);
  // Set back by hand, then forward again: nothing rings twice.
  clock.Set(D(2004, 3, 1, 13, 0, 0));
  dispatcher.Tick();
  clock.Set(D(2004, 3, 1, 14, 31, 0));
  dispatcher.Tick();
  EXPECT_EQ(starter.starts.size(), 1u);
  // Minutes that really pass, however late the timer, are no jump: no
  // reload (each would repaint) until the hourly one.
  const int repaints = host.repaints;
  for (int i = 0; i < 5; ++i) {
    clock.Advance(i == 2 ? 75 : 60);
    dispatcher.Tick();
  }
  EXPECT_EQ(host.repaints, repaints);
}

TEST_F(Dispatcher, EverySixtiethTickReloadsTheItems) {
  Load();
  ASSERT_TRUE(state.VisibleItems.empty());
  // Written behind the view's back (as another program could not, but a
  // change the view has not loaded yet).
  Add(Timed("new", D(2004, 3, 1, 15, 0, 0), D(2004, 3, 1, 16, 0, 0), 1));
  for (int i = 1; i < 60; ++i) {
    dispatcher.Tick();
    EXPECT_EQ(dispatcher.MinuteCounter(), i);
    clock.Advance(60);
  }
  EXPECT_TRUE(state.VisibleItems.empty());
  EXPECT_EQ(host.repaints, 0);
  dispatcher.Tick();
  EXPECT_EQ(dispatcher.MinuteCounter(), 0);
  ASSERT_EQ(state.VisibleItems.size(), 1u);
  EXPECT_EQ(host.repaints, 1);
}

class Programs : public Dispatcher {
 protected:
  Programs() {
    starter.long_paths["/usr/bin/prog"] = "/usr/lib/real/prog";
    starter.long_paths["/home/u/a b.txt"] = "/home/u/a b.txt";
  }
  ScheduleItem WithProgram(const std::string& subject, DateTime start, int index_offset,
                           const std::string& execute = "/usr/bin/prog@/home/u/a b.txt") {
    ScheduleItem it = Timed(subject, start, start.AddSeconds(1800), index_offset);
    it.Execute = execute;
    approvals.Remember(it.Index, it.Execute, true);
    return it;
  }
};

TEST_F(Programs, StartAtTheirStartMinuteOnceAndOnlyForTimedItemsOfToday) {
  Add(WithProgram("ten", D(2004, 3, 1, 10, 0, 0), 1));
  ScheduleItem all_day = WithProgram("allday", D(2004, 3, 1, 10, 0, 0), 2);
  all_day.Type = 1;
  Add(all_day);
  Add(WithProgram("tomorrow", D(2004, 3, 2, 10, 0, 0), 3));
  Add(WithProgram("later", D(2004, 3, 1, 10, 1, 0), 4));
  // Stored years ago, repeating daily: its occurrence is today.
  Add(Daily(WithProgram("daily", D(2001, 5, 5, 10, 0, 0), 5), D(2001, 5, 5),
            D(2009, 1, 1, 23, 59, 0)));
  ScheduleItem gone = WithProgram("gone", D(2004, 3, 1, 10, 0, 0), 6);
  gone.SyncFlag = SyncDeleted;
  Add(gone);
  Load();

  clock.Set(D(2004, 3, 1, 9, 59, 30));
  dispatcher.Tick();
  EXPECT_TRUE(starter.starts.empty());
  clock.Set(D(2004, 3, 1, 10, 0, 30));
  dispatcher.Tick();
  ASSERT_EQ(starter.starts.size(), 2u);
  for (const auto& s : starter.starts) {
    EXPECT_EQ(s.path, "/usr/lib/real/prog");
    EXPECT_EQ(s.argv, (std::vector<std::string>{"prog", "/home/u/a b.txt"}));
  }
  // A second tick in the same minute (a fast timer) starts nothing again.
  clock.Set(D(2004, 3, 1, 10, 0, 58));
  dispatcher.Tick();
  EXPECT_EQ(starter.starts.size(), 2u);
  clock.Set(D(2004, 3, 1, 10, 1, 2));
  dispatcher.Tick();
  EXPECT_EQ(starter.starts.size(), 3u);
  EXPECT_TRUE(question.asked.empty());
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(Programs, AMinuteTheTimerSkippedIsCaughtUpButNotAfterLongSleep) {
  Add(WithProgram("ten", D(2004, 3, 1, 10, 0, 0), 1));
  Add(WithProgram("eleven", D(2004, 3, 1, 11, 0, 0), 2));
  Load();
  clock.Set(D(2004, 3, 1, 9, 59, 58));
  dispatcher.Tick();
  clock.Set(D(2004, 3, 1, 10, 1, 1));  // the 10:00 tick never came
  dispatcher.Tick();
  EXPECT_EQ(starter.starts.size(), 1u);
  clock.Set(D(2004, 3, 1, 10, 40, 0));
  dispatcher.Tick();
  clock.Set(D(2004, 3, 1, 11, 30, 0));  // asleep over 11:00
  dispatcher.Tick();
  EXPECT_EQ(starter.starts.size(), 1u);
}

TEST_F(Programs, TodaysProgramsStartWhileTheCalendarShowsAnotherYear) {
  Add(WithProgram("ten", D(2004, 3, 1, 10, 0, 0), 1));
  state.AnchorDate = state.SelectedDate = D(2006, 8, 1);
  Load();
  ASSERT_TRUE(state.VisibleItems.empty());
  clock.Set(D(2004, 3, 1, 10, 0, 5));
  dispatcher.Tick();
  EXPECT_EQ(starter.starts.size(), 1u);
}

TEST_F(Programs, ADownloadedTextIsAskedAboutAndRefusedByDefault) {
  // As the server sends it: never entered on this machine.
  ScheduleItem it = Timed("from server", D(2004, 3, 1, 10, 0, 0), D(2004, 3, 1, 11, 0, 0), 1);
  it.Execute = "/usr/bin/prog";
  Add(it);
  Load();
  clock.Set(D(2004, 3, 1, 10, 0, 0));
  dispatcher.Tick();
  ASSERT_EQ(question.asked.size(), 1u);
  EXPECT_TRUE(starter.starts.empty());
  EXPECT_EQ(approvals.Lookup(it.Index, it.Execute), ExecuteApprovals::Answer::Refused);
}

TEST_F(Programs, ATickDuringTheRunQuestionWaits) {
  ScheduleItem it = Timed("q", D(2004, 3, 1, 10, 0, 0), D(2004, 3, 1, 11, 0, 0), 1);
  it.Execute = "/usr/bin/prog";
  Add(it);
  Add(Alarmed("alarm", D(2004, 3, 1, 10, 2, 0), 0, 2));
  Load();
  clock.Set(D(2004, 3, 1, 10, 0, 0));
  question.answers = {true};
  question.on_ask = [&] {
    // The user takes two minutes to answer; the alarm is due meanwhile.
    clock.Set(D(2004, 3, 1, 10, 2, 10));
    dispatcher.Tick();
    EXPECT_TRUE(starter.starts.empty()) << "nothing starts inside the question";
  };
  dispatcher.Tick();
  ASSERT_EQ(starter.starts.size(), 2u);
  EXPECT_EQ(starter.starts[0].path, "/usr/lib/real/prog");
  EXPECT_EQ(starter.starts[1].path, "/opt/kv/QvxAlarm.exe");
  EXPECT_EQ(question.asked.size(), 1u);
}

}  // namespace
}  // namespace kv
