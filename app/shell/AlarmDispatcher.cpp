#include "app/shell/AlarmDispatcher.h"

#include <cstdlib>

#include "model/Clock.h"
#include "model/Recurrence.h"
#include "model/Text.h"
#include "sync/WireRecord.h"
#include "view/StoreLoad.h"
#include "view/Texts.h"

namespace kv::shell {

std::string AlarmTimeSpan(const ScheduleItem& item) {
  return FormatWireDate(item.Start) + " - " + FormatWireDate(item.End);
}

std::vector<std::string> AlarmArguments(const ScheduleItem& item) {
  std::vector<std::string> args{kAlarmProgramName, "-S",
                                text::CutBytes(item.Subject, kMaxAlarmSubjectBytes), "-T",
                                AlarmTimeSpan(item)};
  if (!item.Place.empty()) {
    args.push_back("-P");
    args.push_back(text::CutBytes(item.Place, kMaxAlarmSubjectBytes));
  }
  if (!item.Desc.empty()) {
    args.push_back("-D");
    args.push_back(text::CutBytes(item.Desc, kMaxAlarmDescBytes));
  }
  return args;
}

std::vector<std::string> ToProcessArguments(const std::vector<std::string>& cp932) {
  std::vector<std::string> out;
  out.reserve(cp932.size());
  for (const std::string& a : cp932) out.push_back(text::ToUtf8Lossy(a));
  return out;
}

AlarmDispatcher::AlarmDispatcher(ViewState& state, ItemStore& store, std::string program_folder,
                                 ProcessStarter& starter, ViewHost& host, RunQuestion& question,
                                 ExecuteApprovals& approvals)
    : state_(state),
      store_(store),
      program_folder_(std::move(program_folder)),
      starter_(starter),
      host_(host),
      programs_(starter, host, question, approvals) {}

void AlarmDispatcher::Tick() {
  // Only this tick's own message boxes hold the next one back: an open
  // dialog elsewhere must not make an alarm late, and the commands keep
  // copies of what they work on across their dialogs.
  if (busy_) {
    pending_ = true;
    return;
  }
  struct Busy {
    bool& flag;
    explicit Busy(bool& f) : flag(f) { flag = true; }
    ~Busy() { flag = false; }
  } busy(busy_);
  do {
    pending_ = false;
    RunTick();
  } while (pending_);
}

bool AlarmDispatcher::ClockJumped(const DateTime& now) {
  const int64_t elapsed = Clock::Instance()->ElapsedSeconds();
  const int64_t wall = now.LinearSeconds();
  const bool first = !last_wall_.has_value();
  const bool jumped =
      !first && std::llabs((wall - *last_wall_) - (elapsed - last_elapsed_)) > kClockJumpSeconds;
  last_wall_ = wall;
  last_elapsed_ = elapsed;
  return jumped;
}

void AlarmDispatcher::RunTick() {
  const DateTime now = Now();
  if (!now.IsValid()) return;
  reloaded_ = false;
  // After a suspend or a clock set by hand the candidates were chosen for
  // another time: alarms that came due meanwhile are not in them.
  if (ClockJumped(now)) Reload();
  RaiseAlarms(now);
  StartPrograms(now);
  if (++minute_counter_ >= kReloadEveryTicks) {
    Reload();
    minute_counter_ = 0;
  }
  // A reload forgets where items were drawn; clicks need a fresh paint.
  if (reloaded_) host_.RequestRepaint(true);
}

AlarmDispatcher::FiredKey AlarmDispatcher::KeyOf(const ItemShape& item) {
  return {static_cast<int>(item.Index.GetStatus()), item.Index.LinearSeconds(),
          item.AlarmTime.LinearSeconds(), item.Start.LinearSeconds(), item.Subject};
}

void AlarmDispatcher::RaiseAlarms(const DateTime& now) {
  // Each reload rebuilds the list; scanning it afresh each time (instead of
  // going on at the next position) skips no item whose neighbour was
  // disarmed and dropped out.
  std::size_t budget = state_.AlarmCandidates.size();
  while (budget-- > 0) {
    const ViewItem* due = nullptr;
    for (const ViewItem& c : state_.AlarmCandidates) {
      if (c.Alarm >= 0 && c.SyncFlag != SyncDeleted && c.AlarmTime <= now &&
          !fired_.count(KeyOf(c))) {
        due = &c;
        break;
      }
    }
    if (!due) return;
    fired_.insert(KeyOf(*due));
    // Whole, and a copy: the list may be rebuilt while a message is open.
    std::optional<ScheduleItem> whole = WholeItem(*due, store_);
    if (!whole) {
      // Changed or gone since the load: the next load has it as it is now.
      Reload();
      continue;
    }
    ScheduleItem& item = *whole;
    StartAlarmProgram(item);
    if (item.RepType == 0) {
      item.Alarm = -1;
    } else {
      item.AlarmTime = NextAlarmTime(item, now);
      // The marker is a real date: on a clock before it, "none left" would
      // otherwise ring on that day.
      if (item.AlarmTime < now || item.AlarmTime == NoAlarmMarker()) item.Alarm = -1;
    }
    store_.UpdateItemByIndex(item);
    Reload();
  }
}

void AlarmDispatcher::StartAlarmProgram(const ScheduleItem& item) {
  const std::string path = program_folder_ + "/" + kAlarmProgramFile;
  const int rc = starter_.Start(path, ToProcessArguments(AlarmArguments(item)));
  // A failed start still spends the alarm, so it is not retried each minute.
  // The reminder itself is in the message, so it is not lost with the alarm.
  if (rc != 0)
    host_.ShowMessage(StartFailureText("アラームが実行できません", rc) + "\n\n" +
                      Cp932("予定: ") + text::CutBytes(item.Subject, kMaxAlarmSubjectBytes) + "\n" +
                      Cp932("開始: ") + FormatWireDate(item.Start));
}

void AlarmDispatcher::StartPrograms(const DateTime& now) {
  const DateTime minute = now.DateOnly().AddSeconds(now.Hour() * 3600 + now.Minute() * 60);
  DateTime first = minute;
  if (last_program_minute_.IsValid()) {
    if (last_program_minute_ == minute) return;  // a second tick in the same minute
    if (last_program_minute_ < minute &&
        last_program_minute_.AddSeconds(kProgramCatchUpMinutes * 60) >= minute)
      first = last_program_minute_.AddSeconds(60);
  }
  last_program_minute_ = minute;
  std::vector<ScheduleItem> due;
  for (DateTime m = first; m <= minute; m = m.AddSeconds(60)) {
    std::vector<ScheduleItem> at = ProgramsAt(m);
    due.insert(due.end(), at.begin(), at.end());
  }
  for (const ScheduleItem& item : due) programs_.Start(item);
}

namespace {

bool ProgramDueAt(const ItemShape& item, bool runs, const DateTime& minute, const DateTime& day) {
  return runs && item.Type == 0 && item.Start.Hour() == minute.Hour() &&
         item.Start.Minute() == minute.Minute() && Occurs(item, day, day.AddDays(1));
}

}  // namespace

std::vector<ScheduleItem> AlarmDispatcher::ProgramsAt(const DateTime& minute) {
  const DateTime day = minute.DateOnly();
  std::vector<ScheduleItem> out;
  const int y = state_.AnchorDate.Year();
  const int m = state_.AnchorDate.Month();
  if (PrevMonthAnchor(y, m) <= day && day < NextMonthAnchor(y, m)) {
    // The loaded period holds every item of that day.
    for (const ViewItem& item : state_.VisibleItems) {
      if (!ProgramDueAt(item, item.Runs, minute, day)) continue;
      if (std::optional<ScheduleItem> whole = WholeItem(item, store_)) out.push_back(std::move(*whole));
    }
    return out;
  }
  // The user looks at another period: today's programs still start.
  ScheduleItem row;
  for (int ok = store_.ReadFirstItem(row); ok; ok = store_.ReadNextItem(row)) {
    if (ProgramDueAt(row, !row.Execute.empty(), minute, day)) out.push_back(row);
  }
  return out;
}

void AlarmDispatcher::Reload() {
  LoadVisibleItems(state_, store_);
  reloaded_ = true;
}

}  // namespace kv::shell
