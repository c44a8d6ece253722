#include "edit/ItemServer.h"

#include "sync/SyncClient.h"

namespace kv {

SyncItemServer::SyncItemServer(ConnectionState& state, UserNotifier* notifier, Runner run)
    : state_(state), notifier_(notifier), run_(std::move(run)) {}

int SyncItemServer::Run(const std::function<int()>& request) {
  return run_ ? run_(request) : request();
}

// The item is copied into the request, so the caller's record may not be
// touched while a request runs on another thread.
int SyncItemServer::AddItem(const ScheduleItem& item) {
  return Run([this, item] { return SyncClient(state_, notifier_).AddItem(item); });
}
int SyncItemServer::UpdateItem(const ScheduleItem& item) {
  return Run([this, item] { return SyncClient(state_, notifier_).UpdateItem(item); });
}
int SyncItemServer::DeleteItem(const ScheduleItem& item) {
  return Run([this, item] { return SyncClient(state_, notifier_).DeleteItem(item); });
}
int SyncItemServer::AddItemFor(const std::string& user, const ScheduleItem& item) {
  return Run([this, user, item] { return SyncClient(state_, notifier_).AddItemFor(user, item); });
}
int SyncItemServer::UpdateItemFor(const std::string& user, const ScheduleItem& item) {
  return Run([this, user, item] { return SyncClient(state_, notifier_).UpdateItemFor(user, item); });
}
int SyncItemServer::DeleteItemFor(const std::string& user, const ScheduleItem& item) {
  return Run([this, user, item] { return SyncClient(state_, notifier_).DeleteItemFor(user, item); });
}

}  // namespace kv
