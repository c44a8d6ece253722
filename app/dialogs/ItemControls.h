#pragma once
// The controls of the item dialogs, laid out alike for the edit dialog and
// the read-only one, and the exchange between them and an ItemForm.
#include <QPushButton>
#include <QString>

#include "app/dialogs/DialogSupport.h"
#include "edit/ItemForm.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QDialog;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;

namespace kv::ui {

// The colour button: a push-button frame with a band of the item's colour.
class ColorSwatch : public QPushButton {
  Q_OBJECT
 public:
  explicit ColorSwatch(QWidget* parent = nullptr);
  void setColorRef(uint32_t c);
  uint32_t colorRef() const { return color_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  uint32_t color_ = 0;
};

struct ItemControls {
  QLineEdit* subject = nullptr;
  QLineEdit* place = nullptr;
  QRadioButton* normal = nullptr;
  QRadioButton* allDay = nullptr;
  QCheckBox* privateBox = nullptr;  // edit dialog only
  QDateTimeEdit* startDate = nullptr;
  QDateTimeEdit* startTime = nullptr;
  QDateTimeEdit* endDate = nullptr;
  QDateTimeEdit* endTime = nullptr;
  QCheckBox* alarmOn = nullptr;
  QLineEdit* alarmNumber = nullptr;
  QComboBox* alarmUnit = nullptr;
  ColorSwatch* colour = nullptr;  // edit dialog only
  QPushButton* repeat = nullptr;
  QPlainTextEdit* desc = nullptr;
  QLineEdit* execute = nullptr;
  QPushButton* browse = nullptr;  // edit dialog only
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;  // edit dialog only

  // Creates the controls in `dlg` in tab order. The read-only form leaves
  // out the colour, the private flag and the browse button and creates
  // every data control disabled.
  void Build(QDialog* dlg, bool editable);
  // The form's values into the controls (not their enabled state).
  void Load(const ItemForm& form);
  // The controls back into `form` (its other fields untouched). On a
  // refusal: false, with the message and the control to correct.
  bool Read(ItemForm& form, QString& message, QWidget*& culprit) const;

 private:
  TextValue subject_v_, place_v_, desc_v_, execute_v_, unit_v_;
  PickerValue start_date_v_, start_time_v_, end_date_v_, end_time_v_;
};

}  // namespace kv::ui
