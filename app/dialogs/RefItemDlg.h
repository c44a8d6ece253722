#pragma once
// "予定の参照": another user's item shown read-only, for users whose items
// this user may not change.
#include <QDialog>

#include "app/dialogs/ItemControls.h"
#include "edit/ItemForm.h"

namespace kv::ui {

class RefItemDlg : public QDialog {
  Q_OBJECT
 public:
  explicit RefItemDlg(QWidget* parent = nullptr);
  void setForm(const ItemForm& form);
  const ItemControls& controls() const { return c_; }

 private:
  ItemControls c_;
  RepeatRule rule_;
};

}  // namespace kv::ui
