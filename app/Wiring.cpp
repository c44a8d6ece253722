#include <QObject>
#include <memory>

#include "app/CalenderApp.h"
#include "app/ItemWiring.h"
#ifdef KALVANE_ICAL
#include "app/IcalWiring.h"
#endif
#include "app/MainFrame.h"
#include "app/group/GroupWiring.h"
#include "app/shell/AlarmWiring.h"
#include "app/shell/SettingsApprovals.h"

namespace kv::app {

namespace {

// Owns the approvals for as long as the window's children use them.
class ApprovalsHolder final : public QObject {
 public:
  ApprovalsHolder(QObject* parent, std::unique_ptr<ExecuteApprovals> approvals)
      : QObject(parent), approvals_(std::move(approvals)) {}

 private:
  std::unique_ptr<ExecuteApprovals> approvals_;
};

}  // namespace

// Each part of the program puts its commands on the frame here, before
// start-up runs.
void WireCommands(CMainFrame& frame) {
  // One set of approvals: programs entered in the item dialog count as
  // approved by this user, and the minute tick starts programs by it.
  auto approvals = std::make_unique<shell::SettingsApprovals>();
  frame.setMinuteTick(shell::MakeMinuteTick(
      &frame, frame.state(), frame.store(), [&frame] { return frame.programFolder(); },
      frame.host(), *approvals));
  WireItemCommands(frame, approvals.get());
  // Made after the tick and the item commands, so it is deleted after them.
  new ApprovalsHolder(&frame, std::move(approvals));
  WireGroupSide(frame);
#ifdef KALVANE_ICAL
  WireIcal(frame);
#endif
}

}  // namespace kv::app
