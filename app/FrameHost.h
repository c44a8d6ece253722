#pragma once
// The one window-side implementation of what the view logic (ViewHost)
// and the sync client (UserNotifier) ask of the window: message boxes,
// repaints and the two status panes. Safe to call from a server-call
// worker: each call is carried out on the GUI thread, and waits for it.
#include <functional>
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

  // Where repaint requests go instead of straight to the view (the other
  // users' week fetches its data first); called on the GUI thread.
  void setRepaintRoute(std::function<void()> route) { route_ = std::move(route); }

 private:
  CMainFrame& frame_;
  std::function<void()> route_;
};

}  // namespace kv::app
