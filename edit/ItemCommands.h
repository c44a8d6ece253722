#pragma once
// The item commands: add, edit and delete of the user's own items and, with
// permission, of reference users' items; copy, cut and paste; undo of the
// user's own changes. Each command builds an ItemCommands for one operation. The dialogs, the messages and
// the server are interfaces, so the logic runs without a window.
#include <functional>
#include <optional>
#include <string>

#include "edit/ExecuteApprovals.h"
#include "edit/ItemForm.h"
#include "edit/ItemServer.h"
#include "edit/UndoHistory.h"
#include "store/ItemStore.h"
#include "view/ViewHost.h"
#include "view/ViewState.h"

namespace kv {

// What a delete of a repeating item takes: the selected day's occurrence,
// that one and every later one, or the whole series.
enum class DeleteScope { Cancel, ThisDay, FromThisDay, All };

class ItemDialogs {
 public:
  virtual ~ItemDialogs() = default;
  // The edit dialog on `form`. True on OK with the form holding what was
  // entered; false on Cancel with the form untouched.
  virtual bool EditItem(ItemForm& form) = 0;
  // The read-only dialog.
  virtual void ViewItem(const ItemForm& form) = 0;
  // Which occurrences of the repeating `item` to delete, `day` being the
  // selected one; Cancel when the question was closed.
  virtual DeleteScope AskDeleteScope(const ScheduleItem& item, const DateTime& day) = 0;
};

struct ItemContext {
  ViewState& state;
  ItemStore& store;
  ItemDialogs& dialogs;
  MessageSink& messages;
  ItemServer& server;
  ExecuteApprovals* approvals = nullptr;  // programs saved here count as approved
  std::function<int()> reload;            // LoadVisibleItems over the store
  UndoHistory* undo = nullptr;            // own changes are recorded here
  ViewHost* status = nullptr;             // its pane 0 names the pressed item
};

class ItemCommands {
 public:
  explicit ItemCommands(const ItemContext& context) : c_(context) {}
  virtual ~ItemCommands();
  ItemCommands(const ItemCommands&) = delete;
  ItemCommands& operator=(const ItemCommands&) = delete;

  // A new own item on SelectedDate, or on `day`.
  void AddOwnItem();
  void AddOwnItem(const DateTime& day);
  // The item at OwnSelection.
  void EditOwnItem();
  // The own item at OwnSelection, else the reference item at
  // ReferenceSelection. Leaves OwnSelection alone.
  void DeleteSelectedItem();
  // The reference item at ReferenceSelection: edited with permission,
  // shown read-only without; a private one is not opened.
  void EditReferenceItem();
  // By value: the dialog's modal loop may replace the list the name came from.
  void AddReferenceItem(std::string user_name);
  void CopySelectedItem();
  void PasteItem();

  // The menu commands around them.
  void EditCommand();    // 編集: own item, else reference item, else a message
  void DeleteCommand();  // 削除: delete, then no own selection
  void CutCommand();     // 切り取り: copy, then delete; the selection stays
  void UndoCommand();    // 元に戻す: the latest recorded change to own items

 private:
  // The selected own item, whole (read from the store); a tombstone (still
  // in VisibleItems after a cut) counts as nothing selected, as does a row
  // that is gone.
  std::optional<ScheduleItem> OwnItem() const;
  std::optional<ScheduleItem> ReferenceItem() const;
  const UserEntry* WritableUser(int32_t user_id) const;
  // The first failing check's message, or empty when the input is usable.
  std::string Check(const ItemForm& form, bool order_checked) const;
  // Check, with the message shown; true when the input was refused.
  bool Refused(const ItemForm& form, bool order_checked);
  ScheduleItem Build(const ItemForm& form) const;
  // The form over `old`: its Index and reserved fields stay.
  ScheduleItem Rebuild(const ItemForm& form, const ScheduleItem& old) const;
  // A fresh Index from the store; false, with the message shown, when the
  // store cannot be read.
  bool NewIndex(ScheduleItem& rec);
  // An own item to the server, then into the store (added or changed),
  // pending when the server did not take it; false, with the message
  // shown, when the store did not keep it.
  bool SendAndStore(ScheduleItem& rec, bool added);
  void Reload();
  void Record(UndoStep step);
  // Asks about a repeating item; All for a single one, nullopt on Cancel.
  std::optional<DeleteScope> AskScope(const ScheduleItem& item);
  // The delete behind 削除 and 切り取り; `cut` copies the item once the
  // user has agreed. False only when the user cancelled the question.
  bool DeleteSelected(bool cut);
  void DeleteOwn(const ScheduleItem& item, DeleteScope scope, const DateTime& day);
  void DeleteReference(const ScheduleItem& item, const std::string& user, DeleteScope scope,
                       const DateTime& day);
  // Approves the saved Execute text when it is not the one the item held.
  void Approve(const ScheduleItem& saved, const std::string& held);

  ItemContext c_;
};

// What a double-click in the view starts, on top of ItemCommands.
class CommandItemOperations final : public ItemOperations {
 public:
  explicit CommandItemOperations(const ItemContext& context) : c_(context) {}
  void EditOwnItem(int own_index) override;
  void AddOwnItem(const DateTime& day) override;
  void OpenReferenceItem(int reference_index) override;
  void AddItemForUser(const std::string& user_name) override;

 private:
  ItemContext c_;
};

}  // namespace kv
