#pragma once
// Every modal message box of the programs goes through here, so tests can
// answer a box instead of a person: queue the answer with setNextAnswer,
// or switch on test mode, where an unanswered box takes its default button
// instead of blocking. Either way the box's text is recorded.
#include <QList>
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

  // A question whose buttons carry texts of their own ("実行", "実行しない").
  // Each stands for a standard button, which is what comes back and what a
  // queued answer gives; Escape and the close box give escape_button.
  struct LabelledButton {
    Button button;
    QString text;
  };
  static Button ask(QWidget* parent, const QString& text, const QList<LabelledButton>& buttons,
                    Button default_button, Button escape_button);

  // Test seam. Answers are used in the order queued, one per box.
  static void setNextAnswer(Button answer);
  static void setTestMode(bool on);
  // The texts of the boxes since the last call, oldest first.
  static QStringList takeShownTexts();

 private:
  static Button Show(QWidget* parent, QMessageBox::Icon icon, const QString& text, Buttons buttons,
                     Button default_button, const QList<LabelledButton>& labels = {},
                     Button escape_button = QMessageBox::NoButton);
};

}  // namespace kv::ui
