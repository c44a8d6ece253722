#pragma once
// The minute tick of the real program: the dispatcher with the posix_spawn
// starter, the message-box question and the approvals in the user's
// settings, all owned by the main window.
#include <functional>
#include <string>

#include "store/ItemStore.h"
#include "view/ViewHost.h"
#include "view/ViewState.h"

class QWidget;

namespace kv::shell {

// The returned tick is for the window's minute timer; the parts live as
// long as `owner`. program_folder is read at the first tick, since start-up
// sets it after the wiring.
std::function<void()> MakeMinuteTick(QWidget* owner, ViewState& state, ItemStore& store,
                                     std::function<std::string()> program_folder, ViewHost& host);

}  // namespace kv::shell
