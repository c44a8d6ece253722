#include "app/group/ReferenceUsersCommand.h"

#include "view/Navigation.h"
#include "view/ReferenceUsers.h"
#include "view/Texts.h"

namespace kv {

const std::string& ReferenceUsersNotSavedText() {
  static const std::string t = Cp932("参照ユーザを保存できませんでした。");
  return t;
}

ReferenceUsersResult RunReferenceUsersCommand(ViewState& state, ItemStore& store,
                                              const std::string& own_user_name,
                                              const ReferenceUsersDeps& deps,
                                              MessageSink& messages) {
  DrawPause pause(state);

  std::vector<UserEntry> server;
  // Tried even while the calendar believes it is offline: the user asked.
  if (!deps.get_user_list(server)) {
    messages.ShowMessage(NotConnectedText());
    return ReferenceUsersResult::NotConnected;
  }
  std::vector<UserEntry> stored;
  store.LoadUserList(stored);
  ReconcileReferenceUsers(stored, server);

  ReferenceChoice choice;
  choice.chosen = stored;
  choice.candidates = CandidateUsers(server, choice.chosen, own_user_name);
  state.ReferenceUsers = stored;
  if (!deps.choose(choice)) return ReferenceUsersResult::Cancelled;

  state.ReferenceUsers = choice.chosen;
  // Newly chosen users' rows would stay empty until the next change of week.
  state.RefreshReferences = 1;
  if (store.SaveUserList(choice.chosen) != 1) {
    messages.ShowMessage(ReferenceUsersNotSavedText());
    return ReferenceUsersResult::SaveFailed;
  }
  return ReferenceUsersResult::Saved;
}

}  // namespace kv
