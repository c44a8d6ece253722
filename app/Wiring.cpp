#include "app/CalenderApp.h"
#include "app/MainFrame.h"
#include "app/shell/AlarmWiring.h"

namespace kv::app {

// Each later part of the program replaces its commands here, for example
//   frame.setCommandHandler(Command::Add, [&frame] { ... });
//   frame.setItemOperations(...);
// Until then those commands say that they are not available yet.
void WireCommands(CMainFrame& frame) {
  frame.setMinuteTick(shell::MakeMinuteTick(
      &frame, frame.state(), frame.store(), [&frame] { return frame.programFolder(); },
      frame.host()));
}

}  // namespace kv::app
