#include "view/Navigation.h"

#include <algorithm>

#include "model/Clock.h"
#include "view/Texts.h"

namespace kv {

const std::string& NotConnectedText() {
  static const std::string t = Cp932("サーバーと接続されていません。");
  return t;
}

void ViewCommands::Finish(bool clear_selection) {
  state_.PressedSlot = DateTime::Invalid();
  if (reload_) reload_();
  if (clear_selection) state_.OwnSelection = -1;
  host_.RequestRepaint(true);
}

void ViewCommands::Step(int direction) {
  const DateTime sel = state_.SelectedDate;
  switch (state_.ViewMode) {
    case MonthMode: {
      int y = state_.AnchorDate.Year();
      int m = state_.AnchorDate.Month() + direction;
      if (m < 1) {
        m = 12;
        --y;
      } else if (m > 12) {
        m = 1;
        ++y;
      }
      const int d = std::min(sel.Day(), DaysInMonth(y, m));
      state_.AnchorDate = DateTime::FromDate(y, m, d);
      state_.SelectedDate = state_.AnchorDate;
      break;
    }
    case WeekMode:
    case OtherUsersMode:
      state_.SelectedDate = OffsetDayToDate(sel.Year(), sel.Month(), sel.Day(), 7 * direction);
      state_.AnchorDate = state_.SelectedDate;
      state_.RefreshReferences = 1;
      break;
    case DayMode:
      state_.SelectedDate = OffsetDayToDate(sel.Year(), sel.Month(), sel.Day(), direction);
      state_.AnchorDate = state_.SelectedDate;
      break;
    default:
      return;
  }
  Finish(true);
}

bool ViewCommands::MoveDays(int days) {
  const int mode = state_.ViewMode;
  if (mode != MonthMode && mode != WeekMode && mode != DayMode) return false;
  const DateTime sel = state_.SelectedDate;
  if (!sel.IsValid()) return false;
  const DateTime to = OffsetDayToDate(sel.Year(), sel.Month(), sel.Day(), days);
  if (!to.IsValid()) return false;
  const int dow = DayOfWeekOf(sel.Year(), sel.Month(), sel.Day());
  const bool on_page =
      mode == MonthMode ? state_.AnchorDate.IsValid() && to.Year() == state_.AnchorDate.Year() &&
                              to.Month() == state_.AnchorDate.Month()
      : mode == WeekMode ? dow + days >= 0 && dow + days <= 6
                         : false;
  const bool had_selection = state_.OwnSelection >= 0;
  state_.SelectedDate = to;
  if (on_page) {
    state_.PressedSlot = DateTime::Invalid();
    state_.OwnSelection = -1;
    host_.RequestRepaint(true);
  } else {
    state_.AnchorDate = to;
    Finish(true);
  }
  if (had_selection) host_.SetStatusText(0, "");
  return true;
}

void ViewCommands::Previous() { Step(-1); }
void ViewCommands::Next() { Step(1); }

void ViewCommands::Today() {
  const DateTime today = Now().DateOnly();
  // An unreadable clock leaves the calendar where it is.
  if (!today.IsValid()) return;
  state_.SelectedDate = today;
  state_.AnchorDate = state_.SelectedDate;
  if (state_.ViewMode == OtherUsersMode) state_.RefreshReferences = 1;
  Finish(true);
}

bool ViewCommands::MoveTo(const DateTime& chosen) {
  if (!chosen.IsValid() || chosen.Year() < 1970) return false;
  state_.SelectedDate = chosen.DateOnly();
  state_.AnchorDate = state_.SelectedDate;
  if (state_.ViewMode == OtherUsersMode) state_.RefreshReferences = 1;
  Finish(true);
  return true;
}

// Of the mode switches only the day unit keeps the selected item.
void ViewCommands::DayUnit() {
  state_.ViewMode = DayMode;
  Finish(false);
}

void ViewCommands::WeekUnit() {
  state_.ViewMode = WeekMode;
  Finish(true);
}

void ViewCommands::MonthUnit() {
  state_.ViewMode = MonthMode;
  state_.AnchorDate = state_.SelectedDate;
  Finish(true);
}

void ViewCommands::OtherUsers() {
  if (state_.Online != 1) {
    host_.ShowMessage(NotConnectedText());
    return;
  }
  state_.ViewMode = OtherUsersMode;
  state_.RefreshReferences = 1;
  Finish(true);
}

}  // namespace kv
