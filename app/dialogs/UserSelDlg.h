#pragma once
// "参照ユーザ選択": the chosen reference users on the left, the candidates
// on the right, and the two buttons that move a user across.
#include <QDialog>

#include "app/group/ReferenceUsersCommand.h"

class QListWidget;
class QPushButton;

namespace kv::ui {

class UserSelDlg : public QDialog {
  Q_OBJECT
 public:
  // Works on a copy of choice; choice() is the result after OK.
  explicit UserSelDlg(const ReferenceChoice& choice, QWidget* parent = nullptr);
  const ReferenceChoice& choice() const { return choice_; }

  // The line a list shows for a user: the display name cut to 255 bytes,
  // or the user name when there is no display name.
  static QString LineOf(const UserEntry& u);

 private:
  void AddSelected();
  void RemoveSelected();
  void Refresh();

  ReferenceChoice choice_;
  QListWidget* chosen_;
  QListWidget* candidates_;
};

}  // namespace kv::ui
