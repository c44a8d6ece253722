#pragma once
// The item commands in the running program: the edit menu, its
// accelerators and the view's double-click, with the real dialogs and the
// server requests on the worker thread.
#include <QObject>
#include <memory>

#include "app/dialogs/QtItemDialogs.h"
#include "edit/ItemCommands.h"

namespace kv::app {

class CMainFrame;

class ItemEditing final : public QObject {
 public:
  // Lives as long as the frame (its child). approvals may be null: then
  // programs entered in the dialog are not marked approved.
  ItemEditing(CMainFrame& frame, ExecuteApprovals* approvals);
  ~ItemEditing() override;

  ItemContext Context();
  ItemOperations& Operations() { return *ops_; }
  UndoHistory& Undo() { return undo_; }

 private:
  CMainFrame& frame_;
  ui::QtItemDialogs dialogs_;
  SyncItemServer server_;
  std::unique_ptr<ItemServer> watched_;  // server_, telling the frame of unsent own changes
  ExecuteApprovals* approvals_;
  // Shared by every command of this window, the double-click's included.
  UndoHistory undo_;
  std::unique_ptr<CommandItemOperations> ops_;
};

// 検索: the search dialog over the user's own items, then the calendar
// moved to the chosen one's day with it selected.
void SearchAndShow(CMainFrame& frame);

// Replaces the frame's placeholders for 元に戻す, 追加, 編集, 削除, 切り取り,
// ｺﾋﾟｰ, 貼り付け and the double-click.
ItemEditing* WireItemCommands(CMainFrame& frame, ExecuteApprovals* approvals);

}  // namespace kv::app
