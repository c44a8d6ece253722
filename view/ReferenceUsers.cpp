#include "view/ReferenceUsers.h"

#include <algorithm>
#include <unordered_set>

namespace kv {

void ReconcileReferenceUsers(std::vector<UserEntry>& refs, const std::vector<UserEntry>& server) {
  std::vector<UserEntry> kept;
  kept.reserve(refs.size());
  for (UserEntry& r : refs) {
    auto it = std::find_if(server.begin(), server.end(),
                           [&](const UserEntry& s) { return s.UserName == r.UserName; });
    if (it == server.end()) continue;
    r.DisplayName = it->DisplayName;
    r.Writable = it->Writable;
    kept.push_back(std::move(r));
  }
  refs = std::move(kept);
}

std::string OwnDisplayName(const std::vector<UserEntry>& server, const std::string& user_name) {
  for (const UserEntry& s : server)
    if (s.UserName == user_name) return s.DisplayName;
  return {};
}

std::vector<UserEntry> CandidateUsers(const std::vector<UserEntry>& server,
                                      const std::vector<UserEntry>& chosen,
                                      const std::string& own_user_name) {
  // Names only: a chosen user keeps the UserID the store had, which the
  // server may since have given to someone else.
  std::unordered_set<std::string> names;
  for (const UserEntry& c : chosen) names.insert(c.UserName);
  std::vector<UserEntry> out;
  for (const UserEntry& s : server) {
    if (s.UserName == own_user_name || !names.insert(s.UserName).second) continue;
    out.push_back(s);
  }
  return out;
}

bool MoveUser(std::vector<UserEntry>& from, std::vector<UserEntry>& to, int row) {
  if (row < 0 || row >= static_cast<int>(from.size())) return false;
  to.push_back(from[row]);
  from.erase(from.begin() + row);
  return true;
}

}  // namespace kv
