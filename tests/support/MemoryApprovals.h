#pragma once
// Approvals of item programs in memory: for the commands that record them
// and the dispatcher that looks them up.
#include <map>
#include <string>
#include <utility>

#include "edit/ExecuteApprovals.h"

namespace kv::test {

class MemoryApprovals final : public ExecuteApprovals {
 public:
  std::map<std::pair<std::string, std::string>, bool> remembered;  // {Index, Execute}
  Answer Lookup(const DateTime& index, const std::string& execute) const override {
    auto it = remembered.find({index.ToString(), execute});
    if (it == remembered.end()) return Answer::Unknown;
    return it->second ? Answer::Approved : Answer::Refused;
  }
  void Remember(const DateTime& index, const std::string& execute, bool approved) override {
    remembered[{index.ToString(), execute}] = approved;
  }
};

}  // namespace kv::test
