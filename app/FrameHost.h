#pragma once
// The one window-side implementation of what the view logic (ViewHost)
// and the sync client (UserNotifier) ask of the window: message boxes,
// repaints and the two status panes. Safe to call from a server-call
// worker: each call is carried out on the GUI thread, and waits for it.
#include <string>

#include "sync/Notifier.h"
#include "view/ViewHost.h"

namespace kv::app {

class CMainFrame;

class FrameHost final : public ViewHost, public UserNotifier {
 public:
  explicit FrameHost(CMainFrame& frame) : frame_(frame) {}

  // Serves both MessageSink and UserNotifier.
  void ShowMessage(const std::string& cp932) override;
  void RequestRepaint(bool erase) override;
  // Pane 0: the message pane; pane 1: the connection pane.
  void SetStatusText(int pane, const std::string& cp932) override;
  void SetStatus(int pane, const std::string& cp932) override { SetStatusText(pane, cp932); }

 private:
  CMainFrame& frame_;
};

}  // namespace kv::app
