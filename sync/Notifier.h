#pragma once
// What the sync client shows the user: modal messages and the status pane.
// The GUI implements it; tests record the calls.
#include <string>

namespace kv {

class UserNotifier {
 public:
  virtual ~UserNotifier() = default;
  // A modal message box; text in CP932.
  virtual void ShowMessage(const std::string& cp932) = 0;
  // The status-bar pane (1 = connection state) text.
  virtual void SetStatus(int pane, const std::string& text) = 0;
};

}  // namespace kv
