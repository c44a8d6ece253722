#include "app/group/SyncReferenceSource.h"

namespace kv {

bool SyncReferenceSource::GetUserList(std::vector<UserEntry>& users) {
  SyncClient client(conn_, notifier_);
  return client.GetUserList(users, Fetch::Background);
}

bool SyncReferenceSource::GetUserItems(const std::vector<UserEntry>& refs, const DateTime& date,
                                       std::vector<ScheduleItem>& items) {
  SyncClient client(conn_, notifier_);
  int refresh = 1;
  client.GetUserItems(refs, date, items, refresh);
  // The request clears the flag even when connections failed; failures
  // leave the client offline (and skip the users after them), so being
  // online at the end means every user's items came.
  return refresh == 0 && (refs.empty() || conn_.Online == 1);
}

}  // namespace kv
