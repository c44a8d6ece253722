#pragma once
// The one-minute tick of the main frame: raises due alarms through the
// alarm program, starts items' programs at their start minute, and
// reloads the calendar's items once an hour.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/shell/ItemProgram.h"
#include "app/shell/ProcessStarter.h"
#include "app/shell/RunQuestion.h"
#include "edit/ExecuteApprovals.h"
#include "store/ItemStore.h"
#include "view/ViewHost.h"
#include "view/ViewState.h"

namespace kv::shell {

inline constexpr const char* kAlarmProgramFile = "QvxAlarm.exe";
inline constexpr const char* kAlarmProgramName = "Pelmora.exe";
inline constexpr std::size_t kMaxAlarmSubjectBytes = 127;
inline constexpr std::size_t kMaxAlarmDescBytes = 511;
// Ticks between two reloads of the items.
inline constexpr int kReloadEveryTicks = 60;
// Start minutes missed while a tick was held (a message open, the timer
// late) are caught up this far back; older ones are let go.
inline constexpr int kProgramCatchUpMinutes = 10;
// How far the wall clock may stray from the time elapsed between two ticks
// before the alarm candidates are chosen again.
inline constexpr int64_t kClockJumpSeconds = 90;

// "start - end" in the date-time text form of the wire. Without quotes:
// the argument reaches the alarm program whole as one vector element, and
// quotes would only show up in its window.
std::string AlarmTimeSpan(const ScheduleItem& item);
// The alarm program's arguments as CP932, argv[0] first:
// Pelmora.exe -S subject -T span [-P place] [-D desc].
std::vector<std::string> AlarmArguments(const ScheduleItem& item);
// Each argument as UTF-8; bytes that are not CP932 show as U+FFFD.
std::vector<std::string> ToProcessArguments(const std::vector<std::string>& cp932);

class AlarmDispatcher {
 public:
  // program_folder: the folder of the running client (UTF-8, no trailing
  // "/"), where the alarm program lies.
  AlarmDispatcher(ViewState& state, ItemStore& store, std::string program_folder,
                  ProcessStarter& starter, ViewHost& host, RunQuestion& question,
                  ExecuteApprovals& approvals);

  // Timer 1. A tick asked for while one runs (its message box open) is
  // held and runs right after it.
  void Tick();

  int MinuteCounter() const { return minute_counter_; }
  bool InTick() const { return busy_; }

 private:
  void RunTick();
  // True when the wall clock moved otherwise than the time elapsed since
  // the last tick (a suspend, a clock set by hand or by time service).
  bool ClockJumped(const DateTime& now);
  void RaiseAlarms(const DateTime& now);
  void StartAlarmProgram(const ScheduleItem& item);
  void StartPrograms(const DateTime& now);
  std::vector<ScheduleItem> ProgramsAt(const DateTime& minute);
  void Reload();

  // Index, due time, Start and Subject: two items that share an Index
  // still raise one alarm each.
  using FiredKey = std::tuple<int, int64_t, int64_t, int64_t, std::string>;
  static FiredKey KeyOf(const ItemShape& item);

  ViewState& state_;
  ItemStore& store_;
  std::string program_folder_;
  ProcessStarter& starter_;
  ViewHost& host_;
  ItemProgramStarter programs_;

  int minute_counter_ = 0;
  bool busy_ = false;
  bool pending_ = false;
  bool reloaded_ = false;
  std::optional<int64_t> last_wall_;
  int64_t last_elapsed_ = 0;
  // The last minute whose programs were started.
  DateTime last_program_minute_ = DateTime::Invalid();
  // Alarms raised in this run: one whose item could not be stored (a
  // failing store, a duplicate Index) is not raised again every minute.
  std::set<FiredKey> fired_;
};

}  // namespace kv::shell
