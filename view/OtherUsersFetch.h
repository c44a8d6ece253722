#pragma once
// What the other users' week needs from the server, fetched before a
// repaint of that mode is asked for and never inside the paint:
//   window thread: BeginOtherUsersFetch (takes the stored list and the
//                  date, consumes RefreshReferences)
//   worker thread: FetchOtherUsers (the two server requests only)
//   window thread: ApplyOtherUsers, then the repaint.
// The worker touches neither the view state nor the store.
#include <string>
#include <vector>

#include "view/ViewState.h"

namespace kv {

// The two server requests of the other users' week.
class ReferenceSource {
 public:
  virtual ~ReferenceSource() = default;
  // The server's users; false when they could not be had.
  virtual bool GetUserList(std::vector<UserEntry>& users) = 0;
  // The items of every entry of refs for the week of date, each with its
  // entry's UserID. False when some user's items could not be fetched;
  // items then holds what was.
  virtual bool GetUserItems(const std::vector<UserEntry>& refs, const DateTime& date,
                            std::vector<ScheduleItem>& items) = 0;
};

struct OtherUsersQuery {
  std::vector<UserEntry> stored;  // the store's reference users
  std::string user_name;          // the signed-in user
  DateTime date;                  // SelectedDate
  bool fetch_items = false;       // RefreshReferences was 1
};

struct OtherUsersAnswer {
  bool list_ok = false;
  std::vector<UserEntry> users;  // stored users the server still lists
  std::string own_name;
  bool items_fetched = false;    // the item request ran
  bool items_complete = false;   // ... and reached every user
  std::vector<ScheduleItem> items;
};

OtherUsersQuery BeginOtherUsersFetch(ViewState& state, std::vector<UserEntry> stored,
                                     const std::string& user_name);

// Without the user list every reference row is left out, and the items
// are not asked for: they would be fetched for nobody and the refresh
// lost until the next change of week.
OtherUsersAnswer FetchOtherUsers(const OtherUsersQuery& query, ReferenceSource& source);

// Installs the answer. The reference selection follows its item (same
// user and Index) into freshly fetched items; RefreshReferences is set
// again when the items could not all be fetched, so the next repaint
// tries again.
void ApplyOtherUsers(ViewState& state, const OtherUsersQuery& query, OtherUsersAnswer&& answer);

}  // namespace kv
