#pragma once
// The alarm's window: subject, time, place and description, on top of
// other windows until the user closes it (閉じる, Enter or Escape) or puts
// it off (5分後, 15分後, 1時間後). Not modal: the rest of the desktop stays
// usable.
#include <QDialog>
#include <QList>

#include "alarm/AlarmArgs.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kv::alarm {

// Japanese glyph forms for the kanji shared with Chinese, where the font
// is installed; call once after the QApplication exists.
void UseJapaneseFont();

class AlarmWindow : public QDialog {
  Q_OBJECT
 public:
  explicit AlarmWindow(const AlarmRequest& request, QWidget* parent = nullptr);

  QLabel* subjectLabel() const { return subject_; }
  QLabel* spanLabel() const { return span_; }
  QLabel* placeLabel() const { return place_; }              // nullptr without a place
  QPlainTextEdit* descView() const { return desc_; }         // nullptr without a description
  QPushButton* closeButton() const { return close_; }
  // In the order of kSnoozeChoices.
  const QList<QPushButton*>& snoozeButtons() const { return snooze_; }

 signals:
  // A snooze button; the window leaves hiding and showing to its owner.
  void snoozeChosen(int minutes);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* subject_ = nullptr;
  QLabel* span_ = nullptr;
  QLabel* place_ = nullptr;
  QPlainTextEdit* desc_ = nullptr;
  QPushButton* close_ = nullptr;
  QList<QPushButton*> snooze_;
};

}  // namespace kv::alarm
