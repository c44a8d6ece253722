#pragma once
// The minute tick of the real program: the dispatcher with the posix_spawn
// starter and the message-box question, owned by the main window, and the
// approvals the item commands record too.
#include <functional>
#include <string>

#include "edit/ExecuteApprovals.h"
#include "store/ItemStore.h"
#include "view/ViewHost.h"
#include "view/ViewState.h"

class QWidget;

namespace kv::shell {

// The returned tick is for the window's minute timer; the parts live as
// long as `owner`, and `approvals` must outlive them. program_folder is
// read at the first tick, since start-up sets it after the wiring.
std::function<void()> MakeMinuteTick(QWidget* owner, ViewState& state, ItemStore& store,
                                     std::function<std::string()> program_folder, ViewHost& host,
                                     ExecuteApprovals& approvals);

}  // namespace kv::shell
