#pragma once
// Every modal message box of the programs goes through here, so tests can
// answer a box instead of a person: queue the answer with setNextAnswer,
// or switch on test mode, where an unanswered box takes its default button
// instead of blocking. Either way the box's text is recorded.
#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;

namespace kv::ui {

class MessageBox {
 public:
  using Button = QMessageBox::StandardButton;
  using Buttons = QMessageBox::StandardButtons;

  static Button information(QWidget* parent, const QString& text, Buttons buttons = QMessageBox::Ok,
                            Button default_button = QMessageBox::Ok);
  static Button warning(QWidget* parent, const QString& text, Buttons buttons = QMessageBox::Ok,
                        Button default_button = QMessageBox::Ok);
  static Button critical(QWidget* parent, const QString& text, Buttons buttons = QMessageBox::Ok,
                         Button default_button = QMessageBox::Ok);
  static Button question(QWidget* parent, const QString& text,
                         Buttons buttons = QMessageBox::Yes | QMessageBox::No,
                         Button default_button = QMessageBox::No);

  // Test seam. Answers are used in the order queued, one per box.
  static void setNextAnswer(Button answer);
  static void setTestMode(bool on);
  // The texts of the boxes since the last call, oldest first.
  static QStringList takeShownTexts();

 private:
  static Button Show(QWidget* parent, QMessageBox::Icon icon, const QString& text, Buttons buttons,
                     Button default_button);
};

}  // namespace kv::ui
