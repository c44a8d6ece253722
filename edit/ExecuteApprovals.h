#pragma once
// Which item programs this user has allowed to start on this machine. An
// item's Execute text can arrive from the server, so a program starts only
// when this user approved that exact text for that item. Kept in the
// user's own settings, never in the store or on the wire.
#include <string>

#include "model/DateTime.h"

namespace kv {

class ExecuteApprovals {
 public:
  enum class Answer { Unknown, Approved, Refused };
  virtual ~ExecuteApprovals() = default;
  // execute is the item's Execute text as CP932 bytes.
  virtual Answer Lookup(const DateTime& index, const std::string& execute) const = 0;
  virtual void Remember(const DateTime& index, const std::string& execute, bool approved) = 0;
};

}  // namespace kv
