#include "app/dialogs/QtItemDialogs.h"

#include "app/dialogs/ItemEditDlg.h"
#include "app/dialogs/RefItemDlg.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"

namespace kv::ui {

bool QtItemDialogs::EditItem(ItemForm& form) {
  ItemEditDlg dlg(parent_);
  dlg.setForm(form);
  if (dlg.exec() != QDialog::Accepted) return false;
  form = dlg.form();
  return true;
}

void QtItemDialogs::ViewItem(const ItemForm& form) {
  RefItemDlg dlg(parent_);
  dlg.setForm(form);
  dlg.exec();
}

DeleteScope QtItemDialogs::AskDeleteScope(const ScheduleItem& item, const DateTime& day) {
  // Each choice stands for a standard button, which is what the box gives
  // back and what a test queues.
  using B = QMessageBox;
  const QString date = QString::asprintf("%04d/%02d/%02d", day.Year(), day.Month(), day.Day());
  // One pass: a subject holding "%2" stays as typed.
  const QString text =
      QString::fromUtf8("「%1」は繰り返しの予定です。%2 の予定について、どれを削除しますか？")
          .arg(FromCp932(item.Subject), date);
  const auto answer = MessageBox::ask(parent_, text,
                                      {{B::Yes, QString::fromUtf8("この日の予定だけ")},
                                       {B::YesToAll, QString::fromUtf8("この日以降")},
                                       {B::Apply, QString::fromUtf8("すべて")},
                                       {B::Cancel, QString::fromUtf8("キャンセル")}},
                                      B::Yes, B::Cancel);
  switch (answer) {
    case B::Yes: return DeleteScope::ThisDay;
    case B::YesToAll: return DeleteScope::FromThisDay;
    case B::Apply: return DeleteScope::All;
    default: return DeleteScope::Cancel;
  }
}

}  // namespace kv::ui
