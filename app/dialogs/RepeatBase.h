#pragma once
// "繰り返しアイテムの編集": one tab per kind of recurrence; the tab showing
// when OK is pressed decides the rule.
#include <QDialog>
#include <map>

#include "edit/RepeatPages.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLineEdit;
class QTabWidget;

namespace kv::ui {

class RepeatBase : public QDialog {
  Q_OBJECT
 public:
  explicit RepeatBase(const RepeatRule& rule, QWidget* parent = nullptr);

  // The rule after OK; the one given until then.
  const RepeatRule& rule() const { return rule_; }
  QTabWidget* tabs() const { return tabs_; }

 public slots:
  void accept() override;

 private:
  struct Page {
    std::map<int, QLineEdit*> numbers;  // by control number
    QDateTimeEdit* range_start = nullptr;
    QDateTimeEdit* range_end = nullptr;
  };
  QWidget* BuildPage(int page);
  void Show(const RepeatPagesData& data);
  // Copies one page's controls into data_; false, with the message shown
  // and the refused field in *culprit, when a number is out of range.
  bool Exchange(int page, QLineEdit** culprit);
  void Focus(QLineEdit* e);
  void TabChanged(int index);

  RepeatRule rule_;
  RepeatPagesData data_;
  QTabWidget* tabs_ = nullptr;
  Page pages_[kRepeatPageCount];
  QCheckBox* weekdays_[7] = {};
  QComboBox* month_ordinal_ = nullptr;
  QComboBox* month_selector_ = nullptr;
  QComboBox* year_ordinal_ = nullptr;
  QComboBox* year_selector_ = nullptr;
  int shown_ = 0;
  bool reverting_ = false;
};

}  // namespace kv::ui
