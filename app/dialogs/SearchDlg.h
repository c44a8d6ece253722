#pragma once
// 予定の検索: a word, and the user's own items that hold it, listed as the
// word is typed. Enter or a double-click on a line chooses that item.
#include <QDialog>
#include <optional>

#include "edit/ItemSearch.h"

class QLabel;
class QLineEdit;
class QListWidget;

namespace kv::ui {

class SearchDlg : public QDialog {
  Q_OBJECT
 public:
  // `search` must outlive the dialog.
  explicit SearchDlg(const ItemSearch& search, QWidget* parent = nullptr);

  // The line chosen with Enter or a double-click.
  const std::optional<ItemSearch::Hit>& chosen() const { return chosen_; }

  QLineEdit* textField() const { return text_; }
  QListWidget* resultList() const { return list_; }
  QLabel* note() const { return note_; }

  // "2005/03/15(火) 10:00  定例会議（会議室Ａ）"
  static QString LineOf(const ItemSearch::Hit& hit);

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void Run();
  void Choose(int row);

  const ItemSearch& search_;
  std::vector<ItemSearch::Hit> hits_;
  std::optional<ItemSearch::Hit> chosen_;
  QLineEdit* text_;
  QListWidget* list_;
  QLabel* note_;
};

}  // namespace kv::ui
