#include "app/dialogs/ItemEditDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>

#include "app/dialogs/RepeatBase.h"
#include "app/ui/Choosers.h"
#include "app/ui/MessageBox.h"

namespace kv::ui {

ItemEditDlg::ItemEditDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8("予定の編集"));
  c_.Build(this, true);
  connect(c_.normal, &QRadioButton::clicked, this, [this] {
    c_.startTime->setEnabled(true);
    c_.endTime->setEnabled(true);
  });
  connect(c_.allDay, &QRadioButton::clicked, this, [this] {
    c_.startTime->setEnabled(false);
    c_.endTime->setEnabled(false);
  });
  connect(c_.alarmOn, &QCheckBox::toggled, this, [this](bool on) {
    c_.alarmNumber->setEnabled(on);
    c_.alarmUnit->setEnabled(on);
  });
  connect(c_.colour, &QPushButton::clicked, this, &ItemEditDlg::ChooseColour);
  connect(c_.repeat, &QPushButton::clicked, this, &ItemEditDlg::EditRepetition);
  connect(c_.browse, &QPushButton::clicked, this, &ItemEditDlg::ChooseProgram);
  connect(c_.ok, &QPushButton::clicked, this, &ItemEditDlg::accept);
  connect(c_.cancel, &QPushButton::clicked, this, &ItemEditDlg::reject);
}

void ItemEditDlg::setForm(const ItemForm& form) {
  form_ = form;
  c_.Load(form);
  ApplyEnableRules();
}

void ItemEditDlg::ApplyEnableRules() {
  const bool timed = form_.day_type != 1;
  c_.startTime->setEnabled(timed);
  c_.endTime->setEnabled(timed);
  // While the item repeats its dates stay those of the record.
  const bool once = form_.repeat.RepType == 0;
  c_.startDate->setEnabled(once);
  c_.endDate->setEnabled(once);
  c_.alarmNumber->setEnabled(form_.alarm_on == 1);
  c_.alarmUnit->setEnabled(form_.alarm_on == 1);
}

void ItemEditDlg::ChooseColour() {
  if (auto chosen = ColorDialog::getColor(ColorOf(c_.colour->colorRef()), this))
    c_.colour->setColorRef(ColorRefOf(*chosen));
}

void ItemEditDlg::EditRepetition() {
  RepeatBase sheet(form_.repeat, this);
  if (sheet.exec() != QDialog::Accepted) return;
  form_.repeat = sheet.rule();
  const bool once = form_.repeat.RepType == 0;
  c_.startDate->setEnabled(once);
  c_.endDate->setEnabled(once);
}

void ItemEditDlg::ChooseProgram() {
  const QString path = FileDialog::getOpenFileName(this, QString::fromUtf8("ファイルを開く"));
  if (!path.isEmpty()) c_.execute->setText(QDir::toNativeSeparators(path));
}

void ItemEditDlg::accept() {
  QString message;
  QWidget* culprit = nullptr;
  ItemForm read = form_;
  if (!c_.Read(read, message, culprit)) {
    MessageBox::warning(this, message);
    // A number left behind a switched-off alarm is reached through the switch.
    if (culprit && !culprit->isEnabled()) culprit = c_.alarmOn;
    if (culprit) culprit->setFocus();
    return;
  }
  form_ = std::move(read);
  QDialog::accept();
}

}  // namespace kv::ui
