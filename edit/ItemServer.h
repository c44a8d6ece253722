#pragma once
// The six item requests the editing commands send. Each returns 1 when the
// server did the change and 0 otherwise, and shows its own messages.
#include <functional>
#include <string>

#include "model/ScheduleItem.h"

namespace kv {

struct ConnectionState;
class UserNotifier;

class ItemServer {
 public:
  virtual ~ItemServer() = default;
  virtual int AddItem(const ScheduleItem& item) = 0;
  virtual int UpdateItem(const ScheduleItem& item) = 0;
  virtual int DeleteItem(const ScheduleItem& item) = 0;
  virtual int AddItemFor(const std::string& user, const ScheduleItem& item) = 0;
  virtual int UpdateItemFor(const std::string& user, const ScheduleItem& item) = 0;
  virtual int DeleteItemFor(const std::string& user, const ScheduleItem& item) = 0;
};

// The real requests: one SyncClient per request. `run` carries each
// request out (the window runs it off its own thread and waits); without
// one the request runs on the caller's thread.
class SyncItemServer final : public ItemServer {
 public:
  using Runner = std::function<int(const std::function<int()>&)>;
  SyncItemServer(ConnectionState& state, UserNotifier* notifier, Runner run = {});

  int AddItem(const ScheduleItem& item) override;
  int UpdateItem(const ScheduleItem& item) override;
  int DeleteItem(const ScheduleItem& item) override;
  int AddItemFor(const std::string& user, const ScheduleItem& item) override;
  int UpdateItemFor(const std::string& user, const ScheduleItem& item) override;
  int DeleteItemFor(const std::string& user, const ScheduleItem& item) override;

 private:
  int Run(const std::function<int()>& request);

  ConnectionState& state_;
  UserNotifier* notifier_;
  Runner run_;
};

}  // namespace kv
