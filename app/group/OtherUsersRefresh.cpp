#include "app/group/OtherUsersRefresh.h"

namespace kv {

void OtherUsersRefresh::RequestRepaint() {
  if (running_) {
    again_ = true;
    return;
  }
  if (Due()) {
    running_ = true;
    do {
      again_ = false;
      OtherUsersQuery q = BeginOtherUsersFetch(state_, deps_.stored_users(), deps_.user_name());
      OtherUsersAnswer a;
      deps_.run([&] { a = FetchOtherUsers(q, *deps_.source); });
      ApplyOtherUsers(state_, q, std::move(a));
    } while (again_ && Due());
    running_ = false;
  }
  deps_.repaint();
}

}  // namespace kv
