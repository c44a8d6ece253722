#include "app/CalenderApp.h"
#include "app/ItemWiring.h"
#include "app/MainFrame.h"

namespace kv::app {

// Each later part of the program replaces its commands here, for example
//   frame.setCommandHandler(Command::Add, [&frame] { ... });
//   frame.setItemOperations(...);
//   frame.setMinuteTick([&frame] { ... });
// Until then those commands say that they are not available yet.
void WireCommands(CMainFrame& frame) {
  // Programs entered in the item dialog are approved once the approvals in
  // the user's settings are wired here.
  WireItemCommands(frame, nullptr);
}

}  // namespace kv::app
