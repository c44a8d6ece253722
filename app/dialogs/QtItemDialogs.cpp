#include "app/dialogs/QtItemDialogs.h"

#include "app/dialogs/ItemEditDlg.h"
#include "app/dialogs/RefItemDlg.h"

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

}  // namespace kv::ui
