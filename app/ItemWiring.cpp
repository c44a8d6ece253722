#include "app/ItemWiring.h"

#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include <QGuiApplication>

#include "app/ServerCall.h"
#include "app/dialogs/SearchDlg.h"
#include "app/ui/QtText.h"
#include "edit/ItemSearch.h"
#include "model/Clock.h"
#include "sync/SyncClient.h"

namespace kv::app {

namespace {

// An own change the server did not take stays in the store as pending;
// the frame says so once. Other users' changes have their own message.
class UnsentWatch final : public ItemServer {
 public:
  UnsentWatch(ItemServer& inner, CMainFrame& frame) : inner_(inner), frame_(frame) {}
  int AddItem(const ScheduleItem& it) override { return Own(inner_.AddItem(it)); }
  int UpdateItem(const ScheduleItem& it) override { return Own(inner_.UpdateItem(it)); }
  int DeleteItem(const ScheduleItem& it) override { return Own(inner_.DeleteItem(it)); }
  int AddItemFor(const std::string& u, const ScheduleItem& it) override { return inner_.AddItemFor(u, it); }
  int UpdateItemFor(const std::string& u, const ScheduleItem& it) override {
    return inner_.UpdateItemFor(u, it);
  }
  int DeleteItemFor(const std::string& u, const ScheduleItem& it) override {
    return inner_.DeleteItemFor(u, it);
  }

 private:
  int Own(int sent) {
    if (sent != 1) frame_.noteUnsentChange();
    return sent;
  }
  ItemServer& inner_;
  CMainFrame& frame_;
};

}  // namespace

ItemEditing::ItemEditing(CMainFrame& frame, ExecuteApprovals* approvals)
    : QObject(&frame),
      frame_(frame),
      dialogs_(&frame),
      server_(GlobalConnection(), &frame.host(),
              [](const std::function<int()>& request) { return ServerCall::Run(request); }),
      watched_(std::make_unique<UnsentWatch>(server_, frame)),
      approvals_(approvals) {
  ops_ = std::make_unique<CommandItemOperations>(Context());
}

ItemEditing::~ItemEditing() = default;

ItemContext ItemEditing::Context() {
  return ItemContext{frame_.state(), frame_.store(), dialogs_,  frame_.host(),
                     *watched_,      approvals_,     [this] { return frame_.reload(); },
                     &undo_,         &frame_.host()};
}

void SearchAndShow(CMainFrame& frame) {
  ItemSearch search;
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);  // a large store takes a moment
  const bool loaded = search.Load(frame.store(), Now());
  QGuiApplication::restoreOverrideCursor();
  if (!loaded) {
    frame.showMessage(QStringLiteral("データファイルを読み込めないため、検索できません。"));
    return;
  }
  ui::SearchDlg dlg(search, &frame);
  if (dlg.exec() != QDialog::Accepted || !dlg.chosen() || !dlg.chosen()->date.IsValid()) return;
  const ItemSearch::Hit hit = *dlg.chosen();
  ViewState& st = frame.state();
  // The other users' week shows only a week of the user's own: the month.
  if (st.ViewMode == OtherUsersMode) frame.viewCommands().MonthUnit();
  if (!frame.viewCommands().MoveTo(hit.date)) return;
  for (std::size_t i = 0; i < st.VisibleItems.size(); ++i) {
    if (st.VisibleItems[i].Index == hit.index) {
      st.OwnSelection = static_cast<int>(i);
      frame.setPaneText(0, ui::FromCp932(hit.subject));
      break;
    }
  }
  frame.host().RequestRepaint(true);
}

ItemEditing* WireItemCommands(CMainFrame& frame, ExecuteApprovals* approvals) {
  auto* editing = new ItemEditing(frame, approvals);
  frame.setItemOperations(&editing->Operations());
  // Each command runs on an ItemCommands of its own, then repaints.
  auto command = [&frame, editing](void (ItemCommands::*op)(), bool repaint) {
    return [&frame, editing, op, repaint] {
      ItemCommands commands(editing->Context());
      (commands.*op)();
      if (repaint) frame.host().RequestRepaint(true);
    };
  };
  frame.setCommandHandler(Command::Undo, command(&ItemCommands::UndoCommand, true));
  frame.setCommandHandler(Command::Add, command(&ItemCommands::AddOwnItem, true));
  frame.setCommandHandler(Command::Edit, command(&ItemCommands::EditCommand, true));
  frame.setCommandHandler(Command::Delete, command(&ItemCommands::DeleteCommand, true));
  frame.setCommandHandler(Command::Cut, command(&ItemCommands::CutCommand, true));
  frame.setCommandHandler(Command::Copy, command(&ItemCommands::CopySelectedItem, false));
  frame.setCommandHandler(Command::Paste, command(&ItemCommands::PasteItem, true));
  frame.setCommandHandler(Command::Search, [&frame] { SearchAndShow(frame); });
  return editing;
}

}  // namespace kv::app
