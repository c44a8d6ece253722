#pragma once
// The move-to-date dialog: one date, OK or cancel.
#include <QDialog>

#include "model/DateTime.h"

class QDateEdit;
class QPushButton;

namespace kv::app {

class MoveDateDlg : public QDialog {
  Q_OBJECT
 public:
  explicit MoveDateDlg(QWidget* parent = nullptr);

  // Only the date part is used; an invalid date shows today.
  void setDate(const DateTime& date);
  DateTime date() const;

  QDateEdit* dateEdit() const { return edit_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }

 private:
  QDateEdit* edit_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace kv::app
