#pragma once
// Reference users: the chosen list kept in the store, matched against the
// server's user list, and the candidates the chooser offers.
#include <string>
#include <vector>

#include "store/ItemStore.h"

namespace kv {

// Keeps each entry whose UserName the server lists (the first such server
// entry gives DisplayName and Writable; the entry keeps its own UserID) and
// drops the others. The entries left keep their order.
void ReconcileReferenceUsers(std::vector<UserEntry>& refs, const std::vector<UserEntry>& server);

// The DisplayName of the first server entry named user_name exactly; empty
// when there is none.
std::string OwnDisplayName(const std::vector<UserEntry>& server, const std::string& user_name);

// The server's users in its order, without the own user, those already
// chosen and a repeated name, all by UserName alone.
std::vector<UserEntry> CandidateUsers(const std::vector<UserEntry>& server,
                                      const std::vector<UserEntry>& chosen,
                                      const std::string& own_user_name);

// Moves entry `row` of from to the end of to; false when row is outside from.
bool MoveUser(std::vector<UserEntry>& from, std::vector<UserEntry>& to, int row);

}  // namespace kv
