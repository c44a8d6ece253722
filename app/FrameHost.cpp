#include "app/FrameHost.h"

#include <QGuiApplication>

#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/ServerCall.h"
#include "app/ui/QtText.h"

namespace kv::app {

void FrameHost::ShowMessage(const std::string& cp932) {
  ServerCall::OnGuiThread([&] {
    // The box takes input even while a server call waits: show a pointer.
    const bool waiting = ServerCall::Running();
    if (waiting) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    frame_.showMessage(ui::FromCp932(cp932));
    if (waiting) QGuiApplication::restoreOverrideCursor();
  });
}

void FrameHost::RequestRepaint(bool) {
  ServerCall::OnGuiThread([&] { frame_.view()->invalidateLayout(); });
}

void FrameHost::SetStatusText(int pane, const std::string& cp932) {
  ServerCall::OnGuiThread([&] { frame_.setPaneText(pane, ui::FromCp932(cp932)); });
}

}  // namespace kv::app
