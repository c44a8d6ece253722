#pragma once
// The reference-users command: the server's user list, the stored choice
// matched against it, the chooser, and the choice saved.
#include <functional>
#include <string>
#include <vector>

#include "store/ItemStore.h"
#include "view/ViewHost.h"
#include "view/ViewState.h"

namespace kv {

struct ReferenceChoice {
  std::vector<UserEntry> chosen;      // shown left, in display order
  std::vector<UserEntry> candidates;  // shown right, in the server's order
};

struct ReferenceUsersDeps {
  // The server's user list (a refused sign-in shows its own message);
  // false when it could not be had.
  std::function<bool(std::vector<UserEntry>&)> get_user_list;
  // The chooser: works on the choice, true on OK.
  std::function<bool(ReferenceChoice&)> choose;
};

enum class ReferenceUsersResult { NotConnected, Cancelled, Saved, SaveFailed };

// Nothing is drawn while it runs. On OK the choice is stored and its users'
// items are fetched at the next drawing; on Cancel the stored choice
// stands, also in memory.
ReferenceUsersResult RunReferenceUsersCommand(ViewState& state, ItemStore& store,
                                              const std::string& own_user_name,
                                              const ReferenceUsersDeps& deps, MessageSink& messages);

// "参照ユーザを保存できませんでした。" as CP932.
const std::string& ReferenceUsersNotSavedText();

}  // namespace kv
