#pragma once
// Fakes around ItemCommands: scripted dialogs, a recording server and
// message sink, approvals in memory; a real store in a temporary folder.
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "edit/ItemCommands.h"
#include "tests/support/MemoryApprovals.h"
#include "tests/support/TestSupport.h"
#include "view/StoreLoad.h"

namespace kv::test {

class FakeDialogs final : public ItemDialogs {
 public:
  using Answer = std::function<bool(ItemForm&)>;
  std::vector<ItemForm> shown;  // the form at each opening
  std::vector<ItemForm> viewed;
  std::deque<Answer> answers;  // none left: Cancel
  const ViewState* state = nullptr;
  std::vector<int> draw_enabled_at_open;

  bool EditItem(ItemForm& form) override {
    shown.push_back(form);
    if (state) draw_enabled_at_open.push_back(state->DrawEnabled);
    if (answers.empty()) return false;
    Answer a = std::move(answers.front());
    answers.pop_front();
    return a(form);
  }
  void ViewItem(const ItemForm& form) override { viewed.push_back(form); }

  // The delete question: what it was asked about, and the answers to give
  // (none left: Cancel).
  std::vector<std::pair<std::string, DateTime>> asked;  // subject, day
  std::deque<DeleteScope> scopes;
  DeleteScope AskDeleteScope(const ScheduleItem& item, const DateTime& day) override {
    asked.emplace_back(item.Subject, day);
    if (scopes.empty()) return DeleteScope::Cancel;
    const DeleteScope s = scopes.front();
    scopes.pop_front();
    return s;
  }

  // OK after `change` has been applied to the form.
  void Ok(std::function<void(ItemForm&)> change) {
    answers.push_back([change = std::move(change)](ItemForm& f) {
      change(f);
      return true;
    });
  }
  void Cancel(std::function<void(ItemForm&)> change = {}) {
    answers.push_back([change = std::move(change)](ItemForm& f) {
      ItemForm scratch = f;
      if (change) change(scratch);  // typed, then thrown away by Cancel
      return false;
    });
  }
};

struct ServerCall {
  std::string what;  // add, update, delete
  std::string user;  // empty for own requests
  ScheduleItem item;
  int draw_enabled = -1;
};

class FakeServer final : public ItemServer {
 public:
  int answer = 1;
  std::vector<ServerCall> calls;
  const ViewState* state = nullptr;

  int AddItem(const ScheduleItem& i) override { return Call("add", "", i); }
  int UpdateItem(const ScheduleItem& i) override { return Call("update", "", i); }
  int DeleteItem(const ScheduleItem& i) override { return Call("delete", "", i); }
  int AddItemFor(const std::string& u, const ScheduleItem& i) override { return Call("add", u, i); }
  int UpdateItemFor(const std::string& u, const ScheduleItem& i) override {
    return Call("update", u, i);
  }
  int DeleteItemFor(const std::string& u, const ScheduleItem& i) override {
    return Call("delete", u, i);
  }

 private:
  int Call(const char* what, const std::string& user, const ScheduleItem& i) {
    calls.push_back({what, user, i, state ? state->DrawEnabled : -1});
    return answer;
  }
};

class Messages final : public MessageSink {
 public:
  std::vector<std::string> texts;  // CP932
  void ShowMessage(const std::string& t) override { texts.push_back(t); }
};

// The status bar: the last text of each pane.
class StatusPanes final : public ViewHost {
 public:
  std::map<int, std::string> panes;
  std::vector<std::string> messages;
  void ShowMessage(const std::string& t) override { messages.push_back(t); }
  void RequestRepaint(bool) override {}
  void SetStatusText(int pane, const std::string& t) override { panes[pane] = t; }
};

inline std::vector<ScheduleItem> Rows(ItemStore& store) {
  std::vector<ScheduleItem> out;
  ScheduleItem it;
  for (int ok = store.ReadFirstItem(it); ok; ok = store.ReadNextItem(it)) out.push_back(it);
  return out;
}

}  // namespace kv::test
