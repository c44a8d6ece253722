#pragma once
// Plugs the group side into the calendar window: commands 159, 161 and
// 32791, the password's keeping at start-up and at each save, and the
// fetch before every repaint of the other users' week.

namespace kv::app {

class CMainFrame;

void WireGroupSide(CMainFrame& frame);

}  // namespace kv::app
