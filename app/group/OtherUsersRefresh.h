#pragma once
// Repaint requests of the calendar view go through here: in the other
// users' week the user list (and the items when they are due) is fetched
// first, off the window thread, and only then is the view repainted. The
// paint itself never waits for the server; while the fetch runs the window
// keeps showing what it has.
#include <functional>
#include <string>
#include <vector>

#include "view/OtherUsersFetch.h"
#include "view/ViewState.h"

namespace kv {

class OtherUsersRefresh {
 public:
  // Runs the work off the window thread and returns when it is done,
  // letting paint events through meanwhile.
  using Runner = std::function<void(const std::function<void()>&)>;

  struct Deps {
    std::function<std::vector<UserEntry>()> stored_users;  // the store's list
    std::function<std::string()> user_name;                 // the signed-in user
    ReferenceSource* source = nullptr;
    Runner run;
    std::function<void()> repaint;  // the view's own repaint
  };

  OtherUsersRefresh(ViewState& state, Deps deps) : state_(state), deps_(std::move(deps)) {}

  // Outside the other users' week, or while nothing is drawn, this is the
  // plain repaint. A request that arrives while a fetch runs is served by
  // one more fetch once this one is done, so no request sees older data.
  void RequestRepaint();

  bool Fetching() const { return running_; }

 private:
  bool Due() const { return state_.ViewMode == OtherUsersMode && state_.DrawEnabled != 0; }

  ViewState& state_;
  Deps deps_;
  bool running_ = false;
  bool again_ = false;
};

}  // namespace kv
