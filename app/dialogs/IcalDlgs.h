#pragma once
// The iCalendar import preview and the export choice. The preview shows
// what a file gives before anything is stored; every text from the file is
// shown as plain text.
#include <QDialog>
#include <functional>

#include "edit/IcalTransfer.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QRadioButton;
class QPushButton;

namespace kv::ui {

class IcalImportDlg : public QDialog {
  Q_OBJECT
 public:
  // `read` reads the file again with or without replacing the characters
  // CP932 lacks.
  IcalImportDlg(std::function<ical::ImportPreview(bool replace)> read, QWidget* parent = nullptr);

  const ical::ImportPreview& preview() const { return preview_; }
  QLabel* summary() const { return summary_; }
  QListWidget* problemList() const { return problems_; }
  QCheckBox* replaceBox() const { return replace_; }

 private:
  void Read();

  std::function<ical::ImportPreview(bool)> read_;
  ical::ImportPreview preview_;
  QLabel* summary_;
  QListWidget* problems_;
  QCheckBox* replace_;
  QPushButton* ok_ = nullptr;
};

class IcalExportDlg : public QDialog {
  Q_OBJECT
 public:
  explicit IcalExportDlg(QWidget* parent = nullptr);
  bool allItems() const;
  QRadioButton* allButton() const { return all_; }
  QRadioButton* shownButton() const { return shown_; }

 private:
  QRadioButton* all_;
  QRadioButton* shown_;
};

}  // namespace kv::ui
