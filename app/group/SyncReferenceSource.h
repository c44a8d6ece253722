#pragma once
// The other users' week's two server requests over SyncClient. Both are
// background fetches: a refused sign-in is shown once and not tried again
// until the settings change.
#include "sync/SyncClient.h"
#include "view/OtherUsersFetch.h"

namespace kv {

class SyncReferenceSource final : public ReferenceSource {
 public:
  SyncReferenceSource(ConnectionState& conn, UserNotifier* notifier)
      : conn_(conn), notifier_(notifier) {}
  bool GetUserList(std::vector<UserEntry>& users) override;
  bool GetUserItems(const std::vector<UserEntry>& refs, const DateTime& date,
                    std::vector<ScheduleItem>& items) override;

 private:
  ConnectionState& conn_;
  UserNotifier* notifier_;
};

}  // namespace kv
