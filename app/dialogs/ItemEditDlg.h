#pragma once
// "予定の編集": the modal dialog in which one schedule item is entered or
// changed. It holds an ItemForm; the commands fill it and read it back.
#include <QDialog>

#include "app/dialogs/ItemControls.h"
#include "edit/ItemForm.h"

namespace kv::ui {

class ItemEditDlg : public QDialog {
  Q_OBJECT
 public:
  explicit ItemEditDlg(QWidget* parent = nullptr);

  // Fills the controls and gives them their initial enabled state.
  void setForm(const ItemForm& form);
  // What was entered; the loaded form until OK succeeded.
  const ItemForm& form() const { return form_; }
  const ItemControls& controls() const { return c_; }

 public slots:
  // Copies the controls into the form; a refused field keeps the dialog
  // open with a message and the focus on that field.
  void accept() override;

 private:
  void ApplyEnableRules();
  void ChooseColour();
  void EditRepetition();
  void ChooseProgram();

  ItemControls c_;
  ItemForm form_;
};

}  // namespace kv::ui
