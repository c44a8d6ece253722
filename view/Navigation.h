#pragma once
// The navigation commands of the main frame: previous, next, today, move
// to a date and the switches between the four modes.
#include <functional>

#include "view/ViewHost.h"
#include "view/ViewState.h"

namespace kv {

class ViewCommands {
 public:
  // `reload` rebuilds the item arrays (LoadVisibleItems over the store).
  ViewCommands(ViewState& state, ViewHost& host, std::function<int()> reload)
      : state_(state), host_(host), reload_(std::move(reload)) {}

  void Previous();
  void Next();
  void Today();
  // The date chosen in the move dialog; a year before 1970 (or an invalid
  // date) changes nothing. Returns true when the view moved.
  bool MoveTo(const DateTime& chosen);
  // The selected day moved by `days` in the month, week or day view.
  // Within the page shown only the selection changes; a day off the page
  // turns the page to it. False where nothing moved (another mode, or a
  // day the calendar cannot hold).
  bool MoveDays(int days);
  void DayUnit();
  void WeekUnit();
  void MonthUnit();
  // Refused with a message while offline.
  void OtherUsers();

 private:
  void Step(int direction);
  void Finish(bool clear_selection);

  ViewState& state_;
  ViewHost& host_;
  std::function<int()> reload_;
};

// "サーバーと接続されていません。" as CP932.
const std::string& NotConnectedText();

}  // namespace kv
