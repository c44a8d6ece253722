#include "app/dialogs/MoveDateDlg.h"

#include <QDate>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs/DialogSupport.h"
#include "model/Clock.h"

namespace kv::app {

MoveDateDlg::MoveDateDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("移動"));
  setModal(true);
  auto* label = new QLabel(QStringLiteral("移動日"), this);
  edit_ = new QDateEdit(this);
  edit_->setCalendarPopup(true);
  edit_->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
  // Years before 1970 can be chosen; moving there is ignored.
  edit_->setMinimumDate(QDate(1900, 1, 1));
  edit_->setMaximumDate(QDate(9999, 12, 31));
  label->setBuddy(edit_);

  QDialogButtonBox* buttons = ui::MakeOkCancel(this, QStringLiteral("ｷｬﾝｾﾙ"), &ok_, &cancel_);

  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(edit_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  setDate(DateTime::Invalid());
}

void MoveDateDlg::setDate(const DateTime& date) {
  const DateTime d = date.IsValid() ? date : Now();
  if (d.IsValid())
    edit_->setDate(QDate(d.Year(), d.Month(), d.Day()));
  else
    edit_->setDate(QDate::currentDate());
}

DateTime MoveDateDlg::date() const {
  const QDate d = edit_->date();
  if (!d.isValid()) return DateTime::Invalid();
  return DateTime::FromDate(d.year(), d.month(), d.day());
}

}  // namespace kv::app
