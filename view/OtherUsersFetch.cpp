#include "view/OtherUsersFetch.h"

#include <optional>
#include <utility>

#include "view/ReferenceUsers.h"

namespace kv {

OtherUsersQuery BeginOtherUsersFetch(ViewState& state, std::vector<UserEntry> stored,
                                     const std::string& user_name) {
  OtherUsersQuery q;
  q.stored = std::move(stored);
  q.user_name = user_name;
  q.date = state.SelectedDate;
  q.fetch_items = state.RefreshReferences == 1;
  // Consumed now: a change that asks again while this fetch runs is not
  // lost when the answer arrives.
  state.RefreshReferences = 0;
  return q;
}

OtherUsersAnswer FetchOtherUsers(const OtherUsersQuery& query, ReferenceSource& source) {
  OtherUsersAnswer a;
  std::vector<UserEntry> server;
  a.list_ok = source.GetUserList(server);
  a.users = query.stored;
  ReconcileReferenceUsers(a.users, a.list_ok ? server : std::vector<UserEntry>{});
  a.own_name = OwnDisplayName(server, query.user_name);
  if (query.fetch_items && a.list_ok) {
    a.items_fetched = true;
    a.items_complete = source.GetUserItems(a.users, query.date, a.items);
  }
  return a;
}

void ApplyOtherUsers(ViewState& state, const OtherUsersQuery& query, OtherUsersAnswer&& answer) {
  state.ReferenceUsers = std::move(answer.users);
  state.OwnDisplayName = std::move(answer.own_name);
  state.OthersUnreachable = !answer.list_ok && !query.stored.empty();
  if (query.fetch_items && !answer.items_complete) state.RefreshReferences = 1;
  if (!answer.items_fetched) return;

  std::optional<std::pair<int32_t, DateTime>> selected;
  if (const ViewItem* it = state.SelectedReferenceItem())
    selected.emplace(it->UserID, it->Index);
  state.ReferenceItems = std::move(answer.items);
  state.ReferenceSelection = -1;
  if (!selected) return;
  for (size_t i = 0; i < state.ReferenceItems.size(); ++i) {
    const ViewItem& it = state.ReferenceItems[i];
    if (it.UserID == selected->first && it.Index == selected->second) {
      state.ReferenceSelection = static_cast<int>(i);
      break;
    }
  }
}

}  // namespace kv
