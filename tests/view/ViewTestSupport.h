#pragma once
// Fakes shared by the view tests.
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"
#include "view/RecordingSurface.h"
#include "view/ViewHost.h"
#include "view/ViewState.h"

namespace kv::test {

// Rows served from memory in the order given.
class VectorRows final : public ItemRows {
 public:
  std::vector<ScheduleItem> rows;
  int reads = 0;
  int ReadFirstItem(ScheduleItem& out) override {
    pos_ = 0;
    return ReadNextItem(out);
  }
  int ReadNextItem(ScheduleItem& out) override {
    if (pos_ >= rows.size()) return 0;
    ++reads;
    out = rows[pos_++];
    return 1;
  }

 private:
  size_t pos_ = 0;
};

class FakeHost final : public ViewHost {
 public:
  std::vector<std::string> messages;
  int repaints = 0;
  std::string pane[2];
  int pane0_writes = 0;
  void ShowMessage(const std::string& t) override { messages.push_back(t); }
  void RequestRepaint(bool erase) override {
    if (erase) ++repaints;
  }
  void SetStatusText(int p, const std::string& t) override {
    if (p == 0) ++pane0_writes;
    if (p == 0 || p == 1) pane[p] = t;
  }
};

struct OpCall {
  std::string what;
  int index = -1;
  DateTime day;
  std::string user;
};

class FakeOps final : public ItemOperations {
 public:
  std::vector<OpCall> calls;
  void EditOwnItem(int i) override { calls.push_back({"edit", i, {}, {}}); }
  void AddOwnItem(const DateTime& d) override { calls.push_back({"add", -1, d, {}}); }
  void OpenReferenceItem(int i) override { calls.push_back({"open", i, {}, {}}); }
  void AddItemForUser(const std::string& u) override { calls.push_back({"add_for", -1, {}, u}); }
};

inline ScheduleItem Timed(const std::string& subject, DateTime start, DateTime end,
                          uint32_t color = 0x123456) {
  ScheduleItem it;
  it.SyncFlag = SyncClean;
  it.Subject = subject;
  it.Start = start;
  it.End = end;
  it.Color = color;
  it.Index = start;
  return it;
}

inline ScheduleItem AllDay(const std::string& subject, DateTime first, DateTime last) {
  ScheduleItem it = Timed(subject, first, last.AddSeconds(86399));
  it.Type = 1;
  return it;
}

inline int UsedSlots(const ViewItem& it) {
  int n = 0;
  for (const auto& r : it.CellRects) n += r.IsEmpty() ? 0 : 1;
  return n;
}

}  // namespace kv::test
